"""ConfigTool.exe end to end under Wine, driven by keyboard and mouse through the X server: each
scenario seeds the registry, starts the real program, acts as a person would, and checks the exit
code and the whole settings tree afterwards.
usage: pytest e2e_test.py --exe CONFIGTOOL_EXE --probe PROBE_EXE --work DIR [--templates DIR]
"""
import subprocess

import pytest

from configtool.program import (CANCEL, CONNECT, CONNECT_BOX, CONNECT_EDIT, DISCONNECT, DISCONNECT_BOX,
                                DISCONNECT_EDIT, GUEST_BOX, GUEST_ONLY, OK, SERVICES, TAB_ORDER)
from scenarios import (GUEST_FROM_KEYBOARD, LONG, NOT_OURS, OLD, Scenario, click, press, run_scenario,
                       tree, type_into)

pytestmark = pytest.mark.dialog  # counted in the reliability line


def check_fresh_dialog(s):
    state = s.dialog()
    texts = {n: c["text"] for n, c in state["controls"].items()}
    checks = [state["controls"][n]["check"] for n in (GUEST_BOX, CONNECT_BOX, DISCONNECT_BOX)]
    assert texts[CONNECT_EDIT] == "NOTEPAD.EXE" and texts[DISCONNECT_EDIT] == "CMD.EXE", texts
    assert checks == [0, 0, 0], f"boxes {checks}"
    assert state["focus"] == GUEST_BOX, f"focus on {state['focus']}"
    assert state["tab"] == TAB_ORDER, f"tab order {state['tab']}"
    assert state["window"][:2] == (0, 0), f"window at {state['window'][:2]}"
    # The program under test is the 32-bit one, as users run it: under WOW64 in a 64-bit prefix.
    assert state["wow64"] == (s.arch == "win64"), f"WOW64 {state['wow64']} in a {s.arch} prefix"


def command_row(name, text, paste=False):
    """Types or pastes a connect command, checks its box and presses OK."""
    return Scenario(name, [], [lambda s: type_into(s, CONNECT_EDIT, text, paste), click(CONNECT_BOX, OK)],
                    tree(connect=text.upper()[:255]))


def closed_row(path, after):
    """The guest box checked and OK, with one key closed to everyone."""
    return Scenario(f"{path} closed: the other keys are still written", CLOSABLE,
                    [press("space", "Return")], after, path)


LATIN1 = "caf\xe9 \xfcber.exe"  # typed: the session gives its letters keys first
CLOSABLE = OLD[1:] + NOT_OURS
SCENARIOS = [
    Scenario("defaults and Cancel button whatever is stored", OLD + NOT_OURS,
             [check_fresh_dialog, click(CANCEL)], None),
    Scenario("Escape writes nothing", OLD + NOT_OURS, [press("Escape")], None),
    Scenario("close box writes nothing", OLD + NOT_OURS,
             [lambda s: s.click(s.window[2] - 11, s.window[1] + 11)], None),  # window: left top right
    Scenario("OK at once clears what was set", OLD + NOT_OURS, [press("Return")], tree(extra=NOT_OURS)),
    GUEST_FROM_KEYBOARD,
    Scenario("connect box alone, by mouse", [], [click(CONNECT_BOX, OK)], tree(connect="NOTEPAD.EXE")),
    Scenario("disconnect box alone, OK by mnemonic", OLD, [click(DISCONNECT_BOX), press("alt+o")],
             tree(disconnect="CMD.EXE")),
    command_row("typed lower case is stored in capitals, quotes and all",
                '"c:\\program files\\%appdata%\\sync.exe" /q'),
    command_row("one character", "x"),
    command_row("254 characters", LONG[:254]),
    command_row("only spaces", "   "),
    command_row("code page 1252 letters", LATIN1),
    command_row("pasted text is stored in capitals too", "d:\\tools\\%x%.exe", paste=True),
    command_row("a long paste stops at 255 characters", "e:\\" + "b" * 297, paste=True),
    Scenario("cleared box under a checked box keeps the stored command", OLD,
             [lambda s: type_into(s, DISCONNECT_EDIT, ""), click(DISCONNECT_BOX, OK)],
             tree(disconnect="OLDER.EXE")),
    Scenario("255 characters are stored whole", [],
             [lambda s: type_into(s, CONNECT_EDIT, LONG), click(CONNECT_BOX, OK)], tree(connect=LONG)),
    Scenario("a longer command stops at the 255 the box shows", [],
             [lambda s: type_into(s, DISCONNECT_EDIT, LONG + "XYZ"), click(DISCONNECT_BOX, OK)],
             tree(disconnect=LONG)),
    closed_row(".", tree(extra=NOT_OURS)),
    closed_row(CONNECT, tree(guest=True, connect="OLD.EXE", extra=NOT_OURS)),
    closed_row(DISCONNECT, tree(guest=True, disconnect="OLDER.EXE", extra=NOT_OURS)),
]

# On a double-byte code page the box holds up to 255 characters, more than 255 bytes: what is
# stored ends after the last whole character that fits.
JAPANESE = "日本語テキスト漢字かなカナ" * 20  # 240 characters, 480 bytes in code page 932
DOUBLE_BYTE_SCENARIOS = [
    Scenario(f"code page 932: {n} pasted double-byte characters, {stored} stored", [],
             [lambda s, n=n: type_into(s, CONNECT_EDIT, JAPANESE[:n], paste=True, encoding="cp932"),
              click(CONNECT_BOX, OK)],
             tree(connect=JAPANESE[:stored], encoding="cp932"))
    for n, stored in ((127, 127), (128, 127), (240, 127))
]
LETTERS = "".join(c for c in LATIN1 if ord(c) > 127)


@pytest.fixture
def main_session(sessions, args):
    return sessions(f"wine{args.arch[3:]}", args.arch, letters=LETTERS)


@pytest.mark.parametrize("scenario", [row.param() for row in SCENARIOS])
def test_scenario(main_session, scenario):
    run_scenario(main_session, scenario)


@pytest.mark.parametrize("arch", ["win64"], ids=["64-bit Windows: the values land in the 32-bit view"])
def test_64bit_view(sessions, arch):
    """On 64-bit Windows a 32-bit program's HKLM\\Software is Software\\Wow6432Node."""
    s = sessions("wine64", arch, letters=LETTERS)
    run_scenario(s, Scenario("", [], [press("space", "Return")], tree(guest=True)))
    # reg query: 0 found, 1 not found.
    for view, path, want in (("64", "Wow6432Node\\", 0), ("64", "", 1), ("32", "", 0)):
        key = SERVICES.replace("Software\\", f"Software\\{path}", 1)
        code, _ = s.run("reg", "query", f"HKLM\\{key}", "/v", GUEST_ONLY, f"/reg:{view}", check=False)
        assert code == want, f"{view}-bit view of Software\\{path}...: reg query gave {code}"


@pytest.mark.parametrize("scenario", [row.param() for row in DOUBLE_BYTE_SCENARIOS])
def test_double_byte(sessions, args, scenario):
    # Wine takes its ANSI code page from a Unix locale that exists.
    locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    if "ja_JP.utf8" not in locales:
        pytest.skip("this machine has no ja_JP.UTF-8 locale (tools/install-deps)")
    s = sessions(f"wine{args.arch[3:]}-ja", args.arch,
                 env={"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"})
    run_scenario(s, scenario)

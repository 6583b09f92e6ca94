"""ConfigTool.exe end to end under Wine, driven by keyboard and mouse through the X server.

usage: pytest e2e_test.py --exe CONFIGTOOL_EXE --probe PROBE_EXE --work DIR [--arch win64]
Each scenario seeds the registry, starts the real program, acts as a person would, and checks the
exit code and the whole settings tree afterwards. The Wine prefixes are made in DIR.
"""
import subprocess

import pytest

from harness.program import (BINARY, CANCEL, CONNECT, CONNECT_BOX, CONNECT_EDIT, DISCONNECT,
                             DISCONNECT_BOX, DISCONNECT_EDIT, DWORD, GUEST_BOX, GUEST_ONLY, OK,
                             SERVICES, SZ, TAB_ORDER, TEST_APP)
from harness.wine_session import wait_for

OLD = [(".", GUEST_ONLY, DWORD, b"\1\0\0\0"), (CONNECT, TEST_APP, SZ, b"OLD.EXE\0"),
       (DISCONNECT, TEST_APP, SZ, b"OLDER.EXE\0")]
NOT_OURS = [(".", "Other", SZ, b"keep\0"), (CONNECT, "Other", BINARY, b"\1\2"),
            ("Extra", TEST_APP, SZ, b"X\0")]


def tree(guest=False, connect=None, disconnect=None, extra=(), encoding="cp1252"):
    """The settings tree as the probe's dump reads (read_tree), after an OK with these results."""
    want = {(".",), (CONNECT,), (DISCONNECT,)}
    for path, name, kind, data in extra:
        want |= {(path,), (path, name, kind, data)}
    if guest:
        want.add((".", GUEST_ONLY, DWORD, b"\1\0\0\0"))
    for path, command in ((CONNECT, connect), (DISCONNECT, disconnect)):
        if command is not None:
            want.add((path, TEST_APP, SZ, command.encode(encoding) + bytes(1)))
    return want


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


def type_into(s, control, text, paste=False, encoding="cp1252"):
    """Replaces what a box holds, as a person would: click, select it all, then type or paste.
    Waits until the box shows the text in capitals and at most 255 characters."""
    if paste:
        s.probe("clip", text.encode(encoding).hex())
    s.click_control(control)
    s.xdotool("key", "End", "shift+Home")
    if paste:
        s.xdotool("key", "ctrl+v")
    elif text:
        s.xdotool("type", "--delay", "5", text)
    else:
        s.xdotool("key", "BackSpace")
    shown = text.upper()[:255].encode(encoding)
    seen = []
    wait_for(lambda: seen.append(s.dialog()["controls"][control]["bytes"]) or seen[-1] == shown,
             what=f"box {control} to show the text", last=lambda: f"it shows {seen[-1]!r}")


def command_row(name, text, paste=False):
    """Types or pastes a connect command, checks its box and presses OK."""
    return (name, [], [lambda s: type_into(s, CONNECT_EDIT, text, paste),
                       lambda s: s.click_control(CONNECT_BOX), lambda s: s.click_control(OK)],
            tree(connect=text.upper()[:255]))


def closed_row(path, after):
    """The guest box checked and OK, with one key closed to everyone."""
    return (f"{path} closed: the other keys are still written", CLOSABLE,
            [lambda s: s.xdotool("key", "space"), lambda s: s.xdotool("key", "Return")], after, path)


def close_box(s):
    left, top, right, _ = s.window
    s.click(right - 11, top + 11)


LONG = "C:\\" + "A" * 250 + ".E"  # 255 characters
LATIN1 = "caf\xe9 \xfcber.exe"  # typed: the session gives its letters keys first
CLOSABLE = OLD[1:] + NOT_OURS
# (name, registry before, actions, registry after (None: exactly as before)[, key closed during])
SCENARIOS = [
    ("defaults and Cancel button whatever is stored", OLD + NOT_OURS,
     [check_fresh_dialog, lambda s: s.click_control(CANCEL)], None),
    ("Escape writes nothing", OLD + NOT_OURS, [lambda s: s.xdotool("key", "Escape")], None),
    ("close box writes nothing", OLD + NOT_OURS, [close_box], None),
    ("OK at once clears what was set", OLD + NOT_OURS, [lambda s: s.xdotool("key", "Return")],
     tree(extra=NOT_OURS)),
    ("focused guest box counts when checked from the keyboard", OLD,
     [lambda s: s.xdotool("key", "space"), lambda s: s.xdotool("key", "Return")], tree(guest=True)),
    ("connect box alone, by mouse", [],
     [lambda s: s.click_control(CONNECT_BOX), lambda s: s.click_control(OK)],
     tree(connect="NOTEPAD.EXE")),
    ("disconnect box alone, OK by mnemonic", OLD,
     [lambda s: s.click_control(DISCONNECT_BOX), lambda s: s.xdotool("key", "alt+o")],
     tree(disconnect="CMD.EXE")),
    command_row("typed lower case is stored in capitals, quotes and all",
                '"c:\\program files\\%appdata%\\sync.exe" /q'),
    command_row("one character", "x"),
    command_row("254 characters", LONG[:254]),
    command_row("only spaces", "   "),
    command_row("code page 1252 letters", LATIN1),
    command_row("pasted text is stored in capitals too", "d:\\tools\\%x%.exe", paste=True),
    command_row("a long paste stops at 255 characters", "e:\\" + "b" * 297, paste=True),
    ("cleared box under a checked box keeps the stored command", OLD,
     [lambda s: type_into(s, DISCONNECT_EDIT, ""), lambda s: s.click_control(DISCONNECT_BOX),
      lambda s: s.click_control(OK)],
     tree(disconnect="OLDER.EXE")),
    ("255 characters are stored whole", [],
     [lambda s: type_into(s, CONNECT_EDIT, LONG), lambda s: s.click_control(CONNECT_BOX),
      lambda s: s.click_control(OK)], tree(connect=LONG)),
    ("a longer command stops at the 255 the box shows", [],
     [lambda s: type_into(s, DISCONNECT_EDIT, LONG + "XYZ"),
      lambda s: s.click_control(DISCONNECT_BOX), lambda s: s.click_control(OK)],
     tree(disconnect=LONG)),
    closed_row(".", tree(extra=NOT_OURS)),
    closed_row(CONNECT, tree(guest=True, connect="OLD.EXE", extra=NOT_OURS)),
    closed_row(DISCONNECT, tree(guest=True, disconnect="OLDER.EXE", extra=NOT_OURS)),
]

# On a double-byte code page the box holds up to 255 characters, more than 255 bytes: what is
# stored ends after the last whole character that fits.
JAPANESE = "日本語テキスト漢字かなカナ" * 20  # 240 characters, 480 bytes in code page 932
DOUBLE_BYTE_SCENARIOS = [
    (f"code page 932: {n} pasted double-byte characters, {stored} stored", [],
     [lambda s, n=n: type_into(s, CONNECT_EDIT, JAPANESE[:n], paste=True, encoding="cp932"),
      lambda s: s.click_control(CONNECT_BOX), lambda s: s.click_control(OK)],
     tree(connect=JAPANESE[:stored], encoding="cp932"))
    for n, stored in ((127, 127), (128, 127), (240, 127))
]


def run_scenario(s, name, before, actions, after, closed=None):
    s.reset(before)
    seeded = s.dump()
    if closed:
        s.probe("deny", closed)
    s.launch()
    try:
        for action in actions:
            action(s)
        code = s.wait_for_exit()
    finally:
        if closed:
            s.probe("allow", closed)
    assert code == 0, f"exit code {code:#x}"
    got = s.dump()
    want = seeded if after is None else after
    assert got == want, f"registry\n  only got  {sorted(got - want)}\n  only want {sorted(want - got)}"


def check_64bit_view(s):
    """On 64-bit Windows a 32-bit program's HKLM\\Software is Software\\Wow6432Node."""
    run_scenario(s, "", [], [lambda s: s.xdotool("key", "space"), lambda s: s.xdotool("key", "Return")],
                 tree(guest=True))
    # reg query: 0 found, 1 not found.
    for view, path, want in (("64", "Wow6432Node\\", 0), ("64", "", 1), ("32", "", 0)):
        key = SERVICES.replace("Software\\", f"Software\\{path}", 1)
        code, _ = s.run("reg", "query", f"HKLM\\{key}", "/v", GUEST_ONLY, f"/reg:{view}", check=False)
        assert code == want, f"{view}-bit view of Software\\{path}...: reg query gave {code}"


CLOSED_COUNT = sum(len(row) > 4 for row in SCENARIOS)
LETTERS = "".join(c for c in LATIN1 if ord(c) > 127)


@pytest.fixture
def main_session(sessions, args):
    """A 32-bit program in a 32-bit prefix, a 64-bit one in a 64-bit prefix."""
    return sessions(f"wine{args.arch[3:]}", args.arch, letters=LETTERS)


@pytest.mark.parametrize("row", SCENARIOS, ids=[row[0] for row in SCENARIOS])
def test_scenario(main_session, row):
    run_scenario(main_session, *row)


@pytest.mark.parametrize("arch", ["win64"], ids=["64-bit Windows: the values land in the 32-bit view"])
def test_64bit_view(sessions, arch):
    """For either build, in a 64-bit prefix."""
    check_64bit_view(sessions("wine64", arch, letters=LETTERS))


@pytest.mark.parametrize("row", DOUBLE_BYTE_SCENARIOS, ids=[row[0] for row in DOUBLE_BYTE_SCENARIOS])
def test_double_byte(sessions, args, row):
    # Wine takes its ANSI code page from a Unix locale that exists.
    locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    if "ja_JP.utf8" not in locales:
        pytest.skip("this machine has no ja_JP.UTF-8 locale (tools/install-deps)")
    s = sessions(f"wine{args.arch[3:]}-ja", args.arch,
                 env={"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"})
    run_scenario(s, *row)

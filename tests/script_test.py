"""The startup script against the program itself, under Wine: for the same choices it leaves the
settings tree that the dialog leaves, in the registry view it is told (REGISTRY_VIEW), and
nothing in the other; with its guards. In a 64-bit prefix so do the registry writes of each view's
set of policies, applied as the 64-bit Group Policy engine applies them.
usage: pytest script_test.py --source SOURCE_DIR --exe CONFIGTOOL_EXE --probe PROBE_EXE --work DIR
         [--templates DIR] [--arch win32|win64]   (the kind of prefix: 64-bit Windows by default)
"""
import re
import shutil

import pytest

from configtool.program import CONNECT, CONNECT_BOX, CONNECT_EDIT, DISCONNECT_BOX, DISCONNECT_EDIT, DWORD, GUEST_BOX, OK
from policies import CATEGORIES, NS, policy_writes, read_templates
from scenarios import LONG, NOT_OURS, OLD, tree, type_into
from wine.session import windows_path

# Commands as an administrator writes them in the script's set line (%% is one %): stored byte for
# byte, or refused with nothing written.
STORED = ["A.EXE", '"C:\\PROGRAM FILES\\X.EXE" /Q', "X (Y) Z.EXE", "!PATH!", "A=B;C,D", '"A" "B"', '""',
          LONG, "Az09 !#$'()*+,-./:;=?@[\\]_`{}~"]
REFUSED = ["C:\\A^B%%C%%PATH%%D.EXE", "A&B", "A|B", "A<B", "A>B", '"A', 'A"B"C"', LONG + "X"]
# A letter beyond ASCII, in a file saved as UTF-8 (as Notepad saves) or in code page 1252: cmd reads
# the file through the console's code page, and would pass on other letters.
NOT_ASCII = [("utf-8", "C:\\Caf\xe9\\SYNC.EXE"), ("cp1252", "C:\\Caf\xe9\\SYNC.EXE"),
             ("utf-8", "\u65e5\u672c.EXE")]

# (guest, connect command, disconnect command): None clears a box. Then what is stored before.
CHOICES = [
    ((True, "NOTEPAD.EXE", "CMD.EXE"), OLD + NOT_OURS),
    ((False, None, None), OLD + NOT_OURS),
    ((True, '"C:\\PROGRAM FILES (X86)\\SYNC\\SYNC.EXE" /Q', None), OLD + NOT_OURS),
    ((False, None, "C:\\TOOLS\\END!.EXE"), OLD + NOT_OURS),
    ((False, None, None), []),  # a computer where nothing was ever set: the keys are made
]


def on_the_dialog(s, guest, connect, disconnect):
    s.launch()
    if guest:
        s.click_control(GUEST_BOX)
    for command, edit, box in ((connect, CONNECT_EDIT, CONNECT_BOX), (disconnect, DISCONNECT_EDIT, DISCONNECT_BOX)):
        if command is not None:
            type_into(s, edit, command)
            s.click_control(box)
    s.click_control(OK)
    assert s.wait_for_exit() == 0, "the dialog's exit code"


def run_script(s, work, guest, connect, disconnect, source, cmd_options=(), cwd=None,
               encoding="ascii", view="32"):
    """The startup script with these choices in its first lines, saved in `encoding`; returns its
    exit code."""
    script = (source / "deploy" / "apply-settings.cmd").read_bytes().decode("ascii")
    for name, value in (("FORCE_GUEST_ONLY", "1" if guest else "0"),
                        ("RUN_ON_CONNECT", "0" if connect is None else "1"),
                        ("CONNECT_COMMAND", connect or ""), ("RUN_ON_DISCONNECT", "0" if disconnect is None else "1"),
                        ("DISCONNECT_COMMAND", disconnect or ""), ("REGISTRY_VIEW", view)):
        script, count = re.subn(rf'^set "{name}=.*"\r$', lambda _: f'set "{name}={value}"\r', script,
                                flags=re.M)
        assert count == 1, f"no line that sets {name}"
    path = work / "apply-settings.cmd"
    path.write_bytes(script.encode(encoding))
    return s.run("cmd", *cmd_options, "/c", windows_path(path), check=False, cwd=cwd)[0]


def apply_policies(s, work, admx, view, guest, connect, disconnect):
    """The policies of that view's set set to Enabled (with the commands) or Disabled, written as
    the 64-bit Group Policy engine writes them: each key opened or created in the 64-bit view,
    each value then set or deleted. A .reg file does exactly that. Returns reg's exit code."""
    policies = {p.get("name"): p for p in admx.iterfind(".//pd:policies/pd:policy", NS)}
    suffix = CATEGORIES[view][1]
    writes = (policy_writes(policies["ForceGuestOnly" + suffix], guest) +
              policy_writes(policies["RunOnConnect" + suffix], connect is not None, connect) +
              policy_writes(policies["RunOnDisconnect" + suffix], disconnect is not None, disconnect))
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, name, value in writes:
        if value is None:
            data = "-"
        elif value[0] == DWORD:
            data = f"dword:{int.from_bytes(value[1], 'little'):08x}"
        else:
            data = '"' + value[1][:-1].decode("cp1252").replace("\\", "\\\\").replace('"', '\\"') + '"'
        lines += [f"[HKEY_LOCAL_MACHINE\\{key}]", f'"{name}"={data}', ""]
    path = work / "policies.reg"
    path.write_bytes("\r\n".join(lines).encode("utf-16"))
    return s.run("reg", "import", windows_path(path), "/reg:64", check=False)[0]


def in_view(s, view, values=None):
    """The settings tree in that registry view, after seeding it with `values` when given."""
    s.probe("view", view)
    if values is not None:
        s.probe.reset(values)
    tree = s.probe.dump()
    s.probe("view", 32)
    return tree


def check_choices(s, work, source, choices, before, policies, view):
    """In that view, the tree the dialog leaves in its own; on 64-bit Windows the other view, seeded,
    untouched. 32-bit Windows has one registry, which both views write."""
    s.probe.reset(before)
    on_the_dialog(s, *choices)
    dialog, other, apart = s.probe.dump(), {"32": "64", "64": "32"}[view], s.arch == "win64"

    def check(what, write, seed=True):
        untouched = in_view(s, other, OLD) if apart and seed else None
        if seed:
            in_view(s, view, before)
        assert write() == 0, f"{what}: its exit code"
        got = in_view(s, view)
        assert got == dialog, f"{what} left\n  {sorted(got ^ dialog)}\n  apart from the dialog"
        assert not untouched or in_view(s, other) == untouched, f"{what} changed the {other}-bit view"
    check("the script", lambda: run_script(s, work, *choices, source, view=view))
    # Again, from a caller with delayed expansion on, where an unguarded ! would be lost.
    check("the script run again, with delayed expansion on",
          lambda: run_script(s, work, *choices, source, ["/v:on"], view=view), seed=False)
    if policies is not None:
        check("the policies", lambda: apply_policies(s, work, policies, view, *choices))


def refuses(s, work, source, commands, encoding="ascii", view="32"):
    """Commands (or a view) the script cannot pass on as written: refused, nothing written, no wait."""
    for command in commands:
        s.probe.reset(OLD)
        seeded = s.probe.dump()
        code = run_script(s, work, True, command, None, source, encoding=encoding, view=view)
        assert code == 1 and s.probe.dump() == seeded, (f"{command}: exit code {code}, tree "
                                                  f"{sorted(s.probe.dump() ^ seeded)} apart")


def table(what, values):
    """The test once for each command."""
    return pytest.mark.parametrize("command", values, ids=[
        f"the script {what} {v[:40]!r}{'...' if len(v) > 40 else ''}" for v in values])


@pytest.fixture
def s(sessions, args):
    s = sessions("wine", args.arch)
    s.probe("view", 32)  # the program's own, whatever a failed test left
    return s


@pytest.fixture
def s64(s):
    """The tables of commands, where a startup script runs on the computers that use the program: in
    a 64-bit prefix (a 64-bit cmd and reg.exe). The choices and the guards run in both kinds."""
    if s.arch != "win64":
        pytest.skip("the tables of commands run in a 64-bit prefix")
    return s


@pytest.mark.parametrize(("view", "choices", "before"), [
    pytest.param(view, choices, before, id=f"{view}-bit view, {choices}{'' if before else ' on an empty registry'}"
                 ": the tree of the dialog, from the script (and from the policies in a 64-bit prefix)")
    for view in CATEGORIES for choices, before in CHOICES])
def test_choices(s, args, view, choices, before):
    check_choices(s, args.work, args.source, choices, before,
                  read_templates(args.source)[0] if s.arch == "win64" else None, view)


@pytest.mark.parametrize("view", ["", "86", '6"4', "3&2"])
def test_script_refuses_other_views(s, args, view):
    refuses(s, args.work, args.source, ["A.EXE"], view=view)


def test_script_fails_when_a_key_is_closed(s, args):
    s.probe.reset(OLD)
    s.probe("deny", CONNECT)
    try:
        code = run_script(s, args.work, True, "A.EXE", None, args.source)
    finally:
        s.probe("allow", CONNECT)
    assert code != 0, "the script exits with 0 when a key cannot be written"


def test_script_refuses_backslash_before_quote_or_at_end(s, args):
    """Those whose \\ reg.exe would read as quoting."""
    refuses(s, args.work, args.source, ("EXPLORER.EXE C:\\USERS\\PUBLIC\\", '"C:\\TOOLS\\" /Q'))


@table("refuses", REFUSED)
def test_script_refuses_unstorable(s64, args, command):
    refuses(s64, args.work, args.source, [command])


@pytest.mark.parametrize(("encoding", "command"), NOT_ASCII, ids=[
    f"the script refuses {command!r} saved in {encoding}" for encoding, command in NOT_ASCII])
def test_script_refuses_letters_beyond_ascii(s64, args, encoding, command):
    refuses(s64, args.work, args.source, [command], encoding)


def test_script_runs_system_reg(s, args):
    """A reg.bat and a reg.exe in the folder the script runs in, which would leave a mark, never
    run: the values are written by Windows' own reg.exe."""
    planted = args.work / "planted"
    shutil.rmtree(planted, ignore_errors=True)  # no mark from an earlier run
    planted.mkdir(parents=True)
    shutil.copyfile(s.probe_exe, planted / "reg.exe")
    (planted / "reg.bat").write_bytes(b"@echo off\r\necho ran>planted-reg.bat-ran\r\n")
    s.probe.reset(OLD)
    code = run_script(s, args.work, True, "A.EXE", None, args.source, cwd=planted)
    marks = sorted(mark.name for mark in planted.glob("*-ran"))
    assert code == 0 and not marks and s.probe.dump() == tree(guest=True, connect="A.EXE"), \
        f"exit code {code}, marks {marks}, tree {sorted(s.probe.dump())}"


@table("stores", STORED)
def test_script_stores_exactly(s64, args, command):
    s64.probe.reset(OLD)
    code = run_script(s64, args.work, False, command, None, args.source)
    assert code == 0 and s64.probe.dump() == tree(connect=command), \
        f"exit code {code}, tree {sorted(s64.probe.dump() ^ tree(connect=command))} apart"

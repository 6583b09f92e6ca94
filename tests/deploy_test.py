"""What administrators deploy, against the program itself.

usage: pytest deploy_test.py --source SOURCE_DIR [--exe CONFIGTOOL_EXE --probe PROBE_EXE --work DIR
       [--templates DIR]]
test_templates: the administrative templates are well formed, every reference in them resolves,
and their keys, value names and types are the program's own. The rest, under Wine: for the same
choices the startup script leaves the settings tree that the dialog leaves, in a 32-bit and a
64-bit prefix; and in the 64-bit prefix so do the registry writes that the template's policies
describe, applied as the 64-bit Group Policy engine applies them.
"""
import re
import shutil
import xml.etree.ElementTree as ElementTree

import pytest

from harness.program import (COMMAND_BUFFER_SIZE, CONNECT, CONNECT_BOX, CONNECT_EDIT, CONNECT_KEY,
                             DISCONNECT_BOX, DISCONNECT_EDIT, DISCONNECT_KEY, DWORD, GUEST_BOX,
                             GUEST_ONLY, OK, SERVICES, SZ, TEST_APP)
from harness.processes import windows_path
from harness.scenarios import LONG, NOT_OURS, OLD, tree, type_into

NS = {"pd": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
NAME = re.compile(r"^[A-Za-z0-9_]+$")

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


def wow64(path):
    """Where 64-bit Windows keeps a 32-bit program's HKLM\\Software\\... key."""
    return path.replace("Software\\", "Software\\Wow6432Node\\", 1)


def read_templates(source):
    admx = ElementTree.parse(source / "deploy" / "ConfigTool.admx").getroot()
    adml = ElementTree.parse(source / "deploy" / "en-US" / "ConfigTool.adml").getroot()
    return admx, adml


def value_of(element):
    """A template's value: None for <delete/>, else (type, bytes)."""
    (child,) = list(element)
    kind = child.tag.split("}")[1]
    if kind == "delete":
        return None
    if kind == "decimal":
        return DWORD, int(child.get("value")).to_bytes(4, "little")
    return SZ, child.text.encode("cp1252") + b"\0"


def policy_writes(policy, enabled, text=None):
    """The registry writes of a policy set to Enabled (with the text for its text element) or
    Disabled: (key, value name, value of value_of)."""
    key, writes = policy.get("key"), []
    single = policy.find("pd:enabledValue" if enabled else "pd:disabledValue", NS)
    if single is not None:
        writes.append((key, policy.get("valueName"), value_of(single)))
    listed = policy.find("pd:enabledList" if enabled else "pd:disabledList", NS)
    for item in listed if listed is not None else ():
        writes.append((item.get("key", key), item.get("valueName"), value_of(item.find("pd:value", NS))))
    for element in policy.findall("pd:elements/pd:text", NS) if enabled else ():
        writes.append((element.get("key", key), element.get("valueName"), (SZ, text.encode("cp1252") + b"\0")))
    return writes


def check_templates(source):
    admx, adml = read_templates(source)
    assert admx.tag == f"{{{NS['pd']}}}policyDefinitions", f"ADMX root {admx.tag}"
    strings = {s.get("id") for s in adml.iterfind(".//pd:stringTable/pd:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//pd:presentationTable/pd:presentation", NS)}
    for element in admx.iter():
        for attribute, value in element.attrib.items():
            for table, ref in re.findall(r"\$\((string|presentation)\.([^)]*)\)", value):
                assert ref in (strings if table == "string" else presentations), f"{attribute}={value} does not resolve in the ADML"
        for attribute in ("name", "id"):
            if element.get(attribute) is not None:
                assert NAME.match(element.get(attribute)), f"{attribute} {element.get(attribute)!r}"
    for identifier in list(strings) + list(presentations):
        assert NAME.match(identifier), f"ADML id {identifier!r}"
    categories = {c.get("name") for c in admx.iterfind(".//pd:categories/pd:category", NS)}

    found = set()
    for policy in admx.iterfind(".//pd:policies/pd:policy", NS):
        assert policy.get("class") == "Machine", f"{policy.get('name')} is not a Computer policy"
        assert policy.find("pd:parentCategory", NS).get("ref") in categories, "parent category"
        elements = {e.get("id"): e for e in policy.findall("pd:elements/*", NS)}
        if policy.get("presentation"):
            presentation = presentations[re.search(r"\.(\w+)\)", policy.get("presentation")).group(1)]
            for control in presentation:
                assert control.get("refId") in elements, f"refId {control.get('refId')} in {policy.get('name')}"
        for element in elements.values():
            assert (element.get("required") == "true" and
                   int(element.get("maxLength")) == COMMAND_BUFFER_SIZE - 1), f"{element.get('id')}: a required command of at most 255 characters"
        for enabled in (True, False):
            for key, name, value in policy_writes(policy, enabled, "X"):
                found.add((key, name, value or "delete"))
    want = set()
    # Enabled writes what a checked box writes (the command typed being "X"), Disabled deletes.
    for key, name, value in ((SERVICES, GUEST_ONLY, (DWORD, b"\1\0\0\0")),
                             (CONNECT_KEY, TEST_APP, (SZ, b"X\0")),
                             (DISCONNECT_KEY, TEST_APP, (SZ, b"X\0"))):
        want |= {(wow64(key), name, value), (wow64(key), name, "delete")}
    assert found == want, f"the templates write\n  {sorted(found, key=str)}\n  not {sorted(want, key=str)}"
    script = (source / "deploy" / "apply-settings.cmd").read_text()
    assert f'set "KEY=HKLM\\{SERVICES}"' in script, "the script's key is not the program's"


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
               encoding="ascii"):
    """The startup script with these choices in its first lines, saved in `encoding`; returns its
    exit code."""
    script = (source / "deploy" / "apply-settings.cmd").read_bytes().decode("ascii")
    for name, value in (("FORCE_GUEST_ONLY", "1" if guest else "0"),
                        ("RUN_ON_CONNECT", "0" if connect is None else "1"),
                        ("CONNECT_COMMAND", connect or ""), ("RUN_ON_DISCONNECT", "0" if disconnect is None else "1"),
                        ("DISCONNECT_COMMAND", disconnect or "")):
        script, count = re.subn(rf'^set "{name}=.*"\r$', lambda _: f'set "{name}={value}"\r', script,
                                flags=re.M)
        assert count == 1, f"no line that sets {name}"
    path = work / "apply-settings.cmd"
    path.write_bytes(script.encode(encoding))
    return s.run("cmd", *cmd_options, "/c", windows_path(path), check=False, cwd=cwd)[0]


def apply_policies(s, work, admx, guest, connect, disconnect):
    """The template's policies set to Enabled (with the commands) or Disabled, written as the
    64-bit Group Policy engine writes them: each key opened or created in the 64-bit view, each
    value then set or deleted. A .reg file does exactly that."""
    policies = {p.get("name"): p for p in admx.iterfind(".//pd:policies/pd:policy", NS)}
    writes = (policy_writes(policies["ForceGuestOnly"], guest) +
              policy_writes(policies["RunOnConnect"], connect is not None, connect) +
              policy_writes(policies["RunOnDisconnect"], disconnect is not None, disconnect))
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
    s.run("reg", "import", windows_path(path), "/reg:64")


def check_choices(s, work, source, choices, before, policies):
    s.probe.reset(before)
    on_the_dialog(s, *choices)
    dialog = s.probe.dump()
    s.probe.reset(before)
    assert run_script(s, work, *choices, source) == 0, "the script's exit code"
    assert s.probe.dump() == dialog, f"the script left\n  {sorted(s.probe.dump() ^ dialog)}\n  apart from the dialog"
    # Again, from a caller with delayed expansion on, where an unguarded ! would be lost.
    assert run_script(s, work, *choices, source, ["/v:on"]) == 0 and s.probe.dump() == dialog, "the script run again, with delayed expansion on"
    if policies is not None:
        s.probe.reset(before)
        apply_policies(s, work, policies, *choices)
        assert s.probe.dump() == dialog, f"the policies left\n  {sorted(s.probe.dump() ^ dialog)}\n  apart from the dialog"


def refuses(s, work, source, commands, encoding="ascii"):
    """Commands the script cannot pass on as written: refused, nothing written, no wait."""
    for command in commands:
        s.probe.reset(OLD)
        seeded = s.probe.dump()
        code = run_script(s, work, True, command, None, source, encoding=encoding)
        assert code == 1 and s.probe.dump() == seeded, (f"{command}: exit code {code}, tree "
                                                  f"{sorted(s.probe.dump() ^ seeded)} apart")


def test_templates(args):
    check_templates(args.source)


def test_intune_example(args):
    """The Intune example writes the batch file into a new folder that only SYSTEM and the
    Administrators can write, under a name no one can guess: never a fixed name in a folder that
    users can write, where any user could put a file of their own first."""
    text = (args.source / "docs" / "deploying.md").read_text()
    (example,) = re.findall(r"```powershell\n(.*?)```", text, re.S)
    code = "\n".join(line.split("#")[0] for line in example.splitlines())
    user_writable = re.compile(r"\$env:(TEMP|TMP|PUBLIC|USERPROFILE)|Windows\\Temp|GetTempPath|C:\\Users",
                               re.I)
    assert not user_writable.search(code), user_writable.search(code).group(0)
    assert re.search(r"\$dir = Join-Path \$env:ProgramData \('ConfigTool-' \+ \[guid\]::NewGuid\(\)\)", code)
    assert "SetSecurityDescriptorSddlForm('D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)')" in code
    assert "[System.IO.Directory]::CreateDirectory($dir, $acl)" in code
    assert re.search(r"\$path = Join-Path \$dir '[^'\\/]+'", code), "the file is not in the new folder"


# The script's tables in a 64-bit prefix, where a startup script runs on 64-bit Windows (a 64-bit
# cmd and reg.exe); the choices and the script's guards in a 32-bit one too (32-bit Windows); the
# policies as the 64-bit Group Policy engine writes them.
ARCHS = ["win32", "win64"]


def per_prefix(what):
    """The test in each kind of prefix, under this name."""
    return pytest.mark.parametrize("arch", ARCHS, ids=[f"{arch}: {what}" for arch in ARCHS])


def table(what, values):
    """The test once for each command, in the 64-bit prefix."""
    return pytest.mark.parametrize(("arch", "command"), [("win64", v) for v in values], ids=[
        f"win64: the script {what} {v[:40]!r}{'...' if len(v) > 40 else ''}" for v in values])


@pytest.fixture
def s(sessions, arch):
    return sessions(f"{arch}/wine", arch)


@pytest.fixture
def work(args, arch):
    return args.work / arch


@pytest.mark.parametrize(("arch", "choices", "before"), [
    pytest.param(arch, choices, before, id=f"{arch}, {choices}{'' if before else ' on an empty registry'}"
                 f": the tree of the dialog, from the script{' and from the policies' if arch == 'win64' else ''}")
    for arch in ARCHS for choices, before in CHOICES])
def test_choices(s, work, args, arch, choices, before):
    check_choices(s, work, args.source, choices, before,
                  read_templates(args.source)[0] if arch == "win64" else None)


@per_prefix("the script fails when a key is closed")
def test_script_fails(s, work, args):
    s.probe.reset(OLD)
    s.probe("deny", CONNECT)
    try:
        code = run_script(s, work, True, "A.EXE", None, args.source)
    finally:
        s.probe("allow", CONNECT)
    assert code != 0, "the script exits with 0 when a key cannot be written"


@per_prefix("the script refuses a command with \\ at its end or before a quote")
def test_script_refuses(s, work, args):
    """Those whose \\ reg.exe would read as quoting."""
    refuses(s, work, args.source, ("EXPLORER.EXE C:\\USERS\\PUBLIC\\", '"C:\\TOOLS\\" /Q'))


@table("refuses", REFUSED)
def test_script_refuses_unstorable(s, work, args, command):
    refuses(s, work, args.source, [command])


@pytest.mark.parametrize(("arch", "encoding", "command"), [("win64", *row) for row in NOT_ASCII], ids=[
    f"win64: the script refuses {command!r} saved in {encoding}" for encoding, command in NOT_ASCII])
def test_script_refuses_letters_beyond_ascii(s, work, args, encoding, command):
    refuses(s, work, args.source, [command], encoding)


@per_prefix("the script runs Windows' reg.exe, not one in the current folder")
def test_script_runs_system_reg(s, work, args):
    """A reg.bat and a reg.exe in the folder the script runs in, which would leave a mark, never
    run: the values are written by Windows' own reg.exe."""
    planted = work / "planted"
    shutil.rmtree(planted, ignore_errors=True)  # no mark from an earlier run
    planted.mkdir(parents=True)
    shutil.copyfile(s.probe_exe, planted / "reg.exe")
    (planted / "reg.bat").write_bytes(b"@echo off\r\necho ran>planted-reg.bat-ran\r\n")
    s.probe.reset(OLD)
    code = run_script(s, work, True, "A.EXE", None, args.source, cwd=planted)
    marks = sorted(mark.name for mark in planted.glob("*-ran"))
    assert code == 0 and not marks and s.probe.dump() == tree(guest=True, connect="A.EXE"), \
        f"exit code {code}, marks {marks}, tree {sorted(s.probe.dump())}"


@table("stores", STORED)
def test_script_stores_exactly(s, work, args, command):
    s.probe.reset(OLD)
    code = run_script(s, work, False, command, None, args.source)
    assert code == 0 and s.probe.dump() == tree(connect=command), \
        f"exit code {code}, tree {sorted(s.probe.dump() ^ tree(connect=command))} apart"

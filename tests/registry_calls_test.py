"""The registry calls of one OK, from Wine's relay trace of the real ConfigTool.exe: exactly nine,
in order, with the arguments they must have.

usage: pytest registry_calls_test.py --exe CONFIGTOOL_EXE --probe PROBE_EXE --work DIR [--arch win64]
"""
import re

import pefile

from configtool.program import CONNECT_KEY, DISCONNECT_KEY, DWORD, GUEST_ONLY, SERVICES, SZ, TEST_APP
from wine.processes import run_command
from wine.session import windows_path


def traced(path):
    """A key path as the relay trace writes it, its backslashes escaped."""
    return path.replace("\\", "\\\\")


HKLM, ALL_ACCESS = 0x80000002, 0xF003F
# One OK with all three boxes checked and the default commands; ALL_ACCESS is the access asked for.
EXPECTED_CALLS = [
    ("RegCreateKeyExA", [HKLM, traced(SERVICES), 0, 0, 0, ALL_ACCESS, 0, "*", "*"]),
    ("RegSetValueExA", ["key", GUEST_ONLY, 0, DWORD, "*", 4]),
    ("RegCloseKey", ["key"]),
    ("RegCreateKeyExA", [HKLM, traced(CONNECT_KEY), 0, 0, 0, ALL_ACCESS, 0, "*", "*"]),
    ("RegSetValueExA", ["key", TEST_APP, 0, SZ, "*", len("NOTEPAD.EXE") + 1]),
    ("RegCloseKey", ["key"]),
    ("RegCreateKeyExA", [HKLM, traced(DISCONNECT_KEY), 0, 0, 0, ALL_ACCESS, 0, "*", "*"]),
    ("RegSetValueExA", ["key", TEST_APP, 0, SZ, "*", len("CMD.EXE") + 1]),
    ("RegCloseKey", ["key"]),
]


def registry_calls(session, exe):
    """The registry calls that the program itself makes on one OK, from Wine's relay trace."""
    code, printed, text = run_command([session.wine, session.probe_exe, "ok", windows_path(exe)],
                                      dict(session.env, WINEDEBUG="+pid,+relay,+loaddll"), 240,
                                      "the traced run")
    pid = re.search(r"pid ([0-9a-f]+)", printed)
    if code or not pid:  # the probe's own words are among the trace's
        raise RuntimeError(f"the traced run of {exe} failed ({code:#x}): {re.findall('probe: .*', text)}")
    pid = pid.group(1)
    # Where the program was loaded: Wine 10 moves a program that allows it (DYNAMIC_BASE).
    loaded = re.search(pid + r':[0-9a-f]+:trace:loaddll:\w+ Loaded L"[^"]*\\\\' + re.escape(exe.name) +
                       r'" at ([0-9a-f]+)', text)
    assert loaded, f"no line of the trace says where {exe.name} was loaded"
    low = int(loaded.group(1), 16)
    high = low + pefile.PE(exe, fast_load=True).OPTIONAL_HEADER.SizeOfImage
    calls = []
    # Calls by the program's own code: its process, from an address inside its image.
    pattern = re.compile(pid + r":[0-9a-f]+:Call advapi32\.(Reg\w+)\((.*)\) ret=([0-9a-f]+)$")
    for line in text.splitlines():
        match = pattern.search(line)
        if match and low <= int(match.group(3), 16) < high:
            args = re.findall(r'([0-9a-f]+)(?: "((?:[^"\\]|\\.)*)")?(?:,|$)', match.group(2))
            calls.append((match.group(1), [text if text else int(v, 16) for v, text in args]))
    return calls


def check_calls(calls):
    """Compares with EXPECTED_CALLS: pointers may be anything, a step's handle must be its own."""
    problems = []
    if len(calls) != len(EXPECTED_CALLS):
        problems.append(f"{len(calls)} calls, not {len(EXPECTED_CALLS)}")
    handle = None
    for i, ((name, args), (want_name, want_args)) in enumerate(zip(calls, EXPECTED_CALLS)):
        if name != want_name or len(args) != len(want_args):
            problems.append(f"call {i + 1}: {name}, not {want_name}")
            continue
        for got, want in zip(args, want_args):
            if want == "key":
                handle = got if handle is None else handle
                ok = got == handle
            else:
                ok = want == "*" or got == want
            if not ok:
                problems.append(f"call {i + 1} {name}: {got!r}, not {want!r}")
        if name == "RegCloseKey":
            handle = None
    return problems


def test_nine_calls_on_ok(sessions, args):
    calls = registry_calls(sessions("wine", args.arch), args.exe)
    problems = check_calls(calls)
    opens = sum(name == "RegCreateKeyExA" for name, _ in calls)
    closes = sum(name == "RegCloseKey" for name, _ in calls)
    print(f"registry calls on OK: {len(calls)} ({opens} opens, {len(calls) - opens - closes} writes "
          f"or deletes, {closes} closes; goal 9), order and arguments "
          f"{'as expected' if not problems else 'WRONG: ' + '; '.join(problems)}")
    assert not problems, "; ".join(problems)

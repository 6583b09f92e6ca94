"""The Wine session's teardown: a part that fails to end neither stops the others nor replaces the
error that ended the session. A failed command ends a tool in one line, with no traceback. Programs
start without address randomness. The first three run no Wine. A prefix's copies are their own."""
import contextlib
import io
import os
import subprocess

import pytest

from configtool.dialog import DialogSession
from configtool.probe import Probe
from wine.errors import without_traceback
from wine.processes import ADDR_NO_RANDOMIZE, run_command
from wine.session import WineSession


def test_teardown_ends_every_part():
    session = DialogSession("/nonexistent", "ConfigTool.exe")  # made, never started
    session.env["PATH"] = "/nonexistent"  # so "wineserver -k" fails
    session.probe = Probe(subprocess.Popen(["sleep", "60"], stdin=subprocess.PIPE, stdout=subprocess.PIPE))
    parts = {"the program": subprocess.Popen(["sleep", "60"]), "the probe": session.probe.process,
             "Xvfb": subprocess.Popen(["sleep", "60"])}
    session.program, session.screen.xvfb = parts["the program"], parts["Xvfb"]
    try:
        with pytest.raises(ValueError, match="the scenario's own failure"):
            with contextlib.closing(session):  # the teardown, without the start
                raise ValueError("the scenario's own failure")
        assert [what for what, process in parts.items() if process.poll() is None] == []
    finally:
        for process in parts.values():
            process.kill()


def test_failed_command_in_one_line():
    said = io.StringIO()
    with contextlib.redirect_stderr(said):
        code = without_traceback(lambda: subprocess.run(["sh", "-c", "exit 100"], check=True))
    lines = said.getvalue().splitlines()
    assert code == 1 and len(lines) == 1 and "sh -c exit 100 failed (exit code 100)" in lines[0], lines


def test_programs_start_without_address_randomness():
    """Debian's Wine cannot keep Windows' fixed addresses free of a randomly placed heap."""
    _, personality, _ = run_command(["cat", "/proc/self/personality"], os.environ, 10)
    assert int(personality, 16) & ADDR_NO_RANDOMIZE, f"personality {personality.strip()}"


def test_copies_of_a_template_are_their_own(args):
    """A value and a file that one copy changes are not in the template or in another copy."""
    if not (args.work and args.templates):
        pytest.skip("no --work and --templates folders")
    first, second = (WineSession(args.work / name, templates=args.templates) for name in ("first", "second"))
    template = WineSession(args.templates / "win64", owned=False)  # used as it is, never made
    with first, second:
        first.run("reg", "add", r"HKLM\Software\ConfigToolIsolation", "/v", "x", "/d", "1", "/f")
        first.run("cmd", "/c", r"echo changed>> C:\windows\win.ini")
        for other in (template, second):
            code, _ = other.run("reg", "query", r"HKLM\Software\ConfigToolIsolation", check=False)
            assert code != 0, f"{other.prefix} has the first copy's registry value"
    run_command(["wineserver", "-w"], template.env, 60)  # it writes the registry out as it ends
    for other in (template, second):
        assert b"changed" not in (other.prefix / "drive_c/windows/win.ini").read_bytes(), other.prefix
    assert b"changed" in (first.prefix / "drive_c/windows/win.ini").read_bytes()

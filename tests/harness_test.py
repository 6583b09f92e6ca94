"""The Wine session's teardown: a part that fails to end neither stops the others from ending nor
replaces the error that ended the session. Then: a failed command ends a tool in one line, with
no traceback. Programs start without address randomness. And a prefix copied from a template is
its own. The first three run no Wine: the server cannot even be started."""
import contextlib
import io
import os
import subprocess

import pytest

from harness.wine_session import (ADDR_NO_RANDOMIZE, LOADERS, QUIET, WineSession, make_prefix, run,
                                  templates_folder, without_traceback)


def test_teardown_ends_every_part():
    session = WineSession.__new__(WineSession)  # the parts of a session, without making them
    session.owned, session.env = True, {"PATH": "/nonexistent"}  # so "wineserver -k" fails
    parts = {name: subprocess.Popen(["sleep", "60"]) for name in ("the program",
                                                                   "the probe", "Xvfb")}
    session.program, session.server, session.xvfb = parts.values()
    try:
        with pytest.raises(ValueError, match="the scenario's own failure"):
            with session:
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
    _, personality, _ = run(["cat", "/proc/self/personality"], os.environ, 10)
    assert int(personality, 16) & ADDR_NO_RANDOMIZE, f"personality {personality.strip()}"


def test_copies_of_a_template_are_their_own(args):
    """A value and a file that one copy changes are not in the template or in another copy."""
    if not (args.work and templates_folder(args.work)):
        pytest.skip("no --work folder in a build tree")
    first, second = (args.work.resolve() / name for name in ("first", "second"))
    for prefix in (first, second):
        make_prefix(prefix, "win64")
    def env(prefix):
        return dict(os.environ, WINEPREFIX=str(prefix), **QUIET)
    wine = LOADERS["win64"]
    for command in (["reg", "add", r"HKLM\Software\ConfigToolIsolation", "/v", "x", "/d", "1", "/f"],
                    ["cmd", "/c", r"echo changed>> C:\windows\win.ini"]):
        assert run([wine, *command], env(first), 60)[0] == 0, command
    run(["wineserver", "-w"], env(first), 60)
    for other in (templates_folder(first) / "win64", second):
        code, _, _ = run([wine, "reg", "query", r"HKLM\Software\ConfigToolIsolation"], env(other), 60)
        assert code != 0, f"{other} has the first copy's registry value"
        assert b"changed" not in (other / "drive_c/windows/win.ini").read_bytes(), other
        run(["wineserver", "-w"], env(other), 60)
    assert b"changed" in (first / "drive_c/windows/win.ini").read_bytes()

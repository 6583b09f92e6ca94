#!/usr/bin/env python3
"""The Wine session's teardown: a part that fails to end neither stops the others from ending nor
replaces the error that ended the session. Then: a failed command ends a tool in one line, with
no traceback. Runs no Wine: the server cannot even be started."""
import contextlib
import io
import subprocess
import sys

from harness.wine_session import WineSession, without_traceback

session = WineSession.__new__(WineSession)  # the parts of a session, without making them
session.owned, session.env = True, {"PATH": "/nonexistent"}  # so "wineserver -k" fails
parts = {name: subprocess.Popen(["sleep", "60"]) for name in ("the program", "the desktop holder",
                                                               "Xvfb")}
session.program, session.holder, session.xvfb = parts.values()
try:
    with session:
        raise ValueError("the scenario's own failure")
except ValueError:
    pass
except Exception as error:
    sys.exit(f"teardown replaced the scenario's failure with: {error!r}")
problems = [what for what, process in parts.items() if process.poll() is None]
for process in parts.values():
    process.kill()
print(f"teardown: {'still running: ' + ', '.join(problems) if problems else 'everything ended'}")

said = io.StringIO()
with contextlib.redirect_stderr(said):
    code = without_traceback(lambda: subprocess.run(["sh", "-c", "exit 100"], check=True))
lines = said.getvalue().splitlines()
if code != 1 or len(lines) != 1 or "sh -c exit 100 failed (exit code 100)" not in lines[0]:
    problems.append(f"a failed command gave exit code {code} and {lines}")
print(f"a failed command: {lines}")
sys.exit(1 if problems else 0)

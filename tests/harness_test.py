#!/usr/bin/env python3
"""The Wine session's teardown: a part that fails to end neither stops the others from ending nor
replaces the error that ended the session. Runs no Wine: the server cannot even be started."""
import subprocess
import sys

from harness.wine_session import WineSession

session = WineSession.__new__(WineSession)  # the parts of a session, without making them
session.owned, session.env = True, {"PATH": "/nonexistent"}  # so "wineserver -k" fails
session.program = subprocess.Popen(["sleep", "60"])
session.xvfb = xvfb = subprocess.Popen(["sleep", "60"])
try:
    with session:
        raise ValueError("the scenario's own failure")
except ValueError:
    pass
except Exception as error:
    sys.exit(f"teardown replaced the scenario's failure with: {error!r}")
problems = [what for what, process in (("the program", session.program), ("Xvfb", xvfb))
            if process.poll() is None]
for process in (session.program, xvfb):
    process.kill()
print(f"teardown: {'still running: ' + ', '.join(problems) if problems else 'everything ended'}")
sys.exit(1 if problems else 0)

"""How a run of ours ends when something fails or is interrupted: in one line, and with every
session torn down."""
import pathlib
import signal
import subprocess
import sys


class WineError(RuntimeError):
    """Wine, or a program under it, failed; the message says what, in Wine's own words."""


def without_traceback(main):
    """Runs main() for its exit code. When Wine, a command or anything else fails or times out,
    says so in one message, not with a traceback, and returns 1."""
    name = pathlib.Path(sys.argv[0]).name
    try:
        return main()
    except (RuntimeError, TimeoutError) as error:
        print(f"{name}: {error}", file=sys.stderr)
    except subprocess.CalledProcessError as error:  # what it printed is above
        command = " ".join(pathlib.Path(str(part)).name if i == 0 else str(part)
                           for i, part in enumerate(error.cmd))
        print(f"{name}: {command} failed (exit code {error.returncode})", file=sys.stderr)
    except OSError as error:  # a tool that is not there, say
        print(f"{name}: {error.filename or ''}: {error.strerror}", file=sys.stderr)
    return 1


def stop_on_signals():
    """SIGTERM and SIGHUP end the run the way Ctrl-C does, so that sessions still tear down."""
    def stop(number, _):
        raise KeyboardInterrupt(f"signal {number}")
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop)

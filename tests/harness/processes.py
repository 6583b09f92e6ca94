"""Starting programs for the tests and tools, Wine's and Linux's alike: output in files, every wait
with a time limit, and a failure said in one line.

Output goes to files, not pipes: Wine's background processes inherit pipes and would keep a
reader waiting for their end.
"""
import ctypes
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

# winemenubuilder would copy every shortcut and file type into the Linux desktop of whoever runs
# the tests (~/.local, ~/.config): a prefix here stays to itself. Of Wine's messages only its errors
# are kept (with each command's own, in files): they say why a program ended before it began.
QUIET = {"WINEDEBUG": "-all,err+all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
ADDR_NO_RANDOMIZE = 0x0040000  # personality(2); setarch -R


class WineError(RuntimeError):
    """Wine, or a program under it, failed; the message says what, in Wine's own words."""


def windows_path(path):
    """How a Windows program names a file here: Wine maps the Unix root to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def wait_for(condition, timeout=10.0, what="condition", last=None):
    """last: says what was seen instead, for the message."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout:.0f} s waiting for {what}" +
                               (f": {last()}" if last else ""))
        time.sleep(0.05)


def child_setup():
    """For Popen: the child is killed when this process dies, even by SIGKILL, and it and every
    process it starts lay out their memory without randomness (docs/reliability.md)."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    libc.personality(libc.personality(0xffffffff) | ADDR_NO_RANDOMIZE)


def run_command(args, env, timeout, what=None, cwd=None):
    """Runs a command with its output and errors in files; returns (exit code, output, errors).
    A Windows program's current folder is cwd's drive Z: path."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(list(map(str, args)), env=env, stdout=out, stderr=err,
                                  stdin=subprocess.DEVNULL, timeout=timeout, cwd=cwd,
                                  preexec_fn=child_setup).returncode
        except subprocess.TimeoutExpired:
            raise TimeoutError(f"{what or args[0]} did not finish in {timeout} s") from None
        except OSError as error:  # Exec format error, say
            raise WineError(f"{args[0]} cannot start: {error.strerror}") from None
        texts = []
        for f in (out, err):
            f.seek(0)
            texts.append(f.read().decode("latin-1").replace("\r\n", "\n"))
        return code, texts[0], texts[1]


def last_words(errors):
    """The last lines a failed command printed, for a message."""
    lines = [line.strip() for line in errors.splitlines() if line.strip()]
    return "; ".join(lines[-3:]) if lines else "it printed nothing"


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

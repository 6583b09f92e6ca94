"""Starting programs, Wine's and Linux's alike, every wait with a time limit. Output goes to files,
not pipes: Wine's background processes inherit pipes and would keep a reader waiting for their end."""
import ctypes
import signal
import subprocess
import tempfile
import time

from wine.errors import WineError

# winemenubuilder would copy every shortcut and file type into the Linux desktop of whoever runs
# the tests (~/.local, ~/.config): a prefix here stays to itself. Of Wine's messages only its errors
# are kept (with each command's own, in files): they say why a program ended before it began.
QUIET = {"WINEDEBUG": "-all,err+all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
ADDR_NO_RANDOMIZE = 0x0040000  # personality(2); setarch -R


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

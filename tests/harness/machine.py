"""Whether this machine runs 32-bit x86 programs, found out by trying one.

On some machines the kernel gives user space no 32-bit mode (an x86_64 kernel booted with
ia32_emulation=0, some virtual machines, an ARM64 host): every 32-bit Linux program fails there
with "Exec format error", Wine's 32-bit loader among them. The kernel's configuration does not
tell; starting the loader does. CONFIGTOOL_NO_32BIT=1 gives the answer "cannot" on any machine,
to try that path.

usage: machine.py              prints the answer in one line; exits 0 when 32-bit programs run, else 3
       machine.py --run CMD...  runs CMD where 32-bit programs run; else prints "skipped: " and the
                                answer, and exits 3, which CTest counts as a skip
"""
import os
import subprocess
import sys

WINE32 = "/usr/lib/wine/wine"     # Debian's 32-bit loader; /usr/bin/wine prefers it when present
WINE64 = "/usr/lib/wine/wine64"   # the 64-bit loader, which Debian puts on no PATH
FORCE = "CONFIGTOOL_NO_32BIT"
CANNOT = 3


def why_no_32bit():
    """None when this machine runs 32-bit x86 programs, else the reason, in Wine's own words."""
    if os.environ.get(FORCE, "") not in ("", "0"):
        return f"{FORCE} is set"
    try:
        result = subprocess.run([WINE32, "--version"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=30)
    except FileNotFoundError:
        return f"there is no 32-bit Wine ({WINE32}: install wine32:i386)"
    except OSError as error:
        return f"{WINE32}: {error.strerror}"
    except subprocess.TimeoutExpired:
        return f"{WINE32} --version did not finish in 30 s"
    if result.returncode:
        said = result.stderr.decode(errors="replace").strip().splitlines()
        return f"{WINE32} --version failed ({said[-1] if said else f'exit code {result.returncode}'})"
    return None


def build_to_run(reason):
    """The preset whose ConfigTool.exe runs here, and its kind of Wine prefix: the shipped 32-bit
    build, or the 64-bit test build where 32-bit programs cannot run (`reason` from why_no_32bit)."""
    return ("windows", "win32") if reason is None else ("windows-x64", "win64")


def describe(reason):
    return ("this machine runs 32-bit x86 programs" if reason is None else
            f"this machine cannot run 32-bit x86 programs: {reason}")


if __name__ == "__main__":
    reason = why_no_32bit()
    if len(sys.argv) > 2 and sys.argv[1] == "--run":
        if reason is None:
            os.execvp(sys.argv[2], sys.argv[2:])
        print(f"skipped: {describe(reason)}")
    else:
        print(describe(reason))
    sys.exit(0 if reason is None else CANNOT)

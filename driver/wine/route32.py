"""How this machine runs 32-bit x86 programs, found out by trying: natively, or through qemu-i386
10 or later, registered in a binfmt_misc of a user and mount namespace of our own (Linux 6.7 or
later), never the machine's. CONFIGTOOL_NO_32BIT=1 makes any machine take the qemu route.

usage: route32.py              prints the route in one line; exits 0 when there is one, else 3
       route32.py --run CMD...  runs CMD where 32-bit programs run, the route in
                                $CONFIGTOOL_32BIT_ROUTE; else says "skipped: WHY" and exits 3 (CTest's skip)
"""
import os
import pathlib
import re
import subprocess
import sys

WINE32 = "/usr/lib/wine/wine"     # Debian's 32-bit loader; /usr/bin/wine prefers it when present
WINE64 = "/usr/lib/wine/wine64"   # the 64-bit loader, which Debian puts on no PATH
# Debian's qemu-user: the i386 entry as its qemu-user-binfmt would register it machine-wide.
QEMU_ENTRY = pathlib.Path("/usr/share/qemu/binfmt.d/qemu-i386.conf")
FORCE = "CONFIGTOOL_NO_32BIT"
ROUTE = "CONFIGTOOL_32BIT_ROUTE"  # set by --run for the command it runs
CANNOT = 3
BINFMT = "/proc/sys/fs/binfmt_misc"
# Run as the namespace's first command: a binfmt_misc of its own, over the machine's in this
# mount namespace alone, with the one entry.
ENTER = (f'mount -t binfmt_misc binfmt_misc {BINFMT} && cat "$0" >{BINFMT}/register && '
         'exec "$@"')


def in_namespace(command):
    return ["unshare", "--user", "--map-root-user", "--mount", "--propagation", "private", "--",
            "sh", "-c", ENTER, str(QEMU_ENTRY), *map(str, command)]


def _tried(command):
    """None when the command succeeds, else what it said."""
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, timeout=30)
    except OSError as error:
        return f"{command[0]}: {error.strerror}"
    except subprocess.TimeoutExpired:
        return f"{' '.join(command)} did not finish in 30 s"
    said = result.stderr.decode(errors="replace").strip().splitlines()
    return None if result.returncode == 0 else (said[-1] if said else f"exit code {result.returncode}")


def route():
    """("native" or "qemu", how), or (None, why neither works here)."""
    if not os.path.exists(WINE32):
        return None, f"there is no 32-bit Wine ({WINE32}: install wine32:i386)"
    if os.environ.get(FORCE, "") in ("", "0"):
        native = _tried([WINE32, "--version"])
        if native is None:
            return "native", "this machine runs 32-bit x86 programs"
        native = f"this machine cannot run 32-bit x86 programs ({WINE32}: {native})"
    else:
        native = f"{FORCE} is set"
    if not QEMU_ENTRY.exists():
        return None, f"{native}, and there is no qemu-i386 ({QEMU_ENTRY}: install qemu-user 10)"
    version = subprocess.run(["qemu-i386", "--version"], capture_output=True, text=True).stdout
    found = re.search(r"version (\d+)\.", version)
    if not found or int(found.group(1)) < 10:
        return None, f"{native}, and qemu-i386 is older than 10 ({version.splitlines()[0]})"
    failed = _tried(in_namespace([WINE32, "--version"]))
    if failed:
        return None, (f"{native}, and qemu-i386 cannot be registered in a namespace of our own "
                      f"(Linux 6.7 or later): {failed}")
    return "qemu", f"{native}: qemu-i386 runs 32-bit programs, in a namespace of our own"


if __name__ == "__main__":
    how, why = route()
    if len(sys.argv) > 2 and sys.argv[1] == "--run":
        if how:
            # Inside: the route taken, for what runs there to say; and no second namespace.
            os.environ.update({ROUTE: why, FORCE: "1" if how == "qemu" else os.environ.get(FORCE, "")})
            inside = how == "native" or os.path.exists(f"{BINFMT}/qemu-i386")
            command = sys.argv[2:] if inside else in_namespace(sys.argv[2:])
            os.execvp(command[0], command)
        print(f"skipped: {why}")
    else:
        print(why)
    sys.exit(0 if how else CANNOT)

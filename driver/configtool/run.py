"""tools/run: builds ConfigTool.exe and opens its dialog under Wine, in $WINEPREFIX or else the
project's own 64-bit prefix (build/windows/wine-run), then prints the settings it left. With no X
display (or with --screenshot) the dialog opens on a virtual screen, is photographed and closed
with Cancel. Runs where 32-bit programs run (wine/route32.py --run)."""
import argparse
import os
import pathlib
import subprocess
import sys

if not __package__:  # run as a script: its package is beside it
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from configtool.dialog import DialogSession  # noqa: E402
from configtool.program import CANCEL, CONNECT, DISCONNECT, DWORD, GUEST_ONLY, SOURCE, SZ  # noqa: E402
from configtool.program import SERVICES, TEST_APP  # noqa: E402
from wine.errors import stop_on_signals, without_traceback  # noqa: E402
from wine.route32 import ROUTE  # noqa: E402

BUILD = SOURCE / "build" / "windows"


def build():
    """ConfigTool.exe and the probe, which reads the settings back afterwards."""
    for args in (["--preset", "windows"], ["--build", "--preset", "windows", "--target", "ConfigTool", "probe"]):
        subprocess.run(["cmake", *args], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    return BUILD / "ui" / "ConfigTool.exe", BUILD / "driver" / "probe.exe"


def print_settings(session):
    """The three settings as a person reads them, from the probe's dump, under the key's name as a
    64-bit reader sees it in a 64-bit prefix."""
    values = {(key, name): (kind, data) for key, name, kind, data in
              (row for row in session.probe.dump() if len(row) == 4)}
    view = "Wow6432Node\\" if (session.prefix / "drive_c/windows/syswow64").is_dir() else ""
    print("HKEY_LOCAL_MACHINE\\" + SERVICES.replace("Software\\", "Software\\" + view, 1))
    for label, key, name in (("Force GuestOnly connections:", ".", GUEST_ONLY),
                             ("Run this app when device connects:", CONNECT, TEST_APP),
                             ("Run this app when device disconnects:", DISCONNECT, TEST_APP)):
        kind, data = values.get((key, name), (None, b""))
        number, text = int.from_bytes(data[:4], "little"), data.rstrip(b"\0").decode("latin-1")
        print(f"{label:40} " + {None: f"off (no {name} value)", SZ: f"{text} ({name} = REG_SZ)",
                                DWORD: f"{'on' if number else 'off'} ({name} = REG_DWORD {number})"}.get(
                                    kind, f"? ({name} has type {kind})"))


def display_works():
    return bool(os.environ.get("DISPLAY")) and subprocess.run(
        ["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def main():
    parser = argparse.ArgumentParser(prog="tools/run", description="Builds ConfigTool.exe and "
                                     "opens its dialog under Wine.")
    parser.add_argument("--screenshot", type=pathlib.Path, help="save a picture of the dialog here")
    args = parser.parse_args()
    print(os.environ[ROUTE])
    exe, probe = build()
    stop_on_signals()
    user_prefix = os.environ.get("WINEPREFIX")
    prefix = pathlib.Path(user_prefix or BUILD / "wine-run")
    # Someone else's prefix may be of either kind: /usr/bin/wine runs a 32-bit program in both.
    own = {"prefix": prefix, "exe": exe, "probe": probe, "owned": not user_prefix,
           "arch": "win32" if user_prefix else "win64", "templates": SOURCE / "build" / "wine-templates"}
    if display_works() and not args.screenshot:
        with DialogSession(display=os.environ["DISPLAY"], **own) as session:
            print(f"Opening the dialog on {os.environ['DISPLAY']} (Wine prefix {prefix})")
            code, _ = session.run(exe, check=False, timeout=None)  # as long as you like
            print(f"ConfigTool.exe exited with code {code}\n")
            print_settings(session)
        return 0
    if not args.screenshot:
        print("No X display: showing the dialog on a virtual screen instead.")
        args.screenshot = BUILD / "ConfigTool.png"
    with DialogSession(**own) as session:
        session.launch()
        session.screenshot(args.screenshot.resolve())
        print(f"Screenshot of the dialog: {args.screenshot}")
        session.click_control(CANCEL)
        print(f"ConfigTool.exe exited with code {session.wait_for_exit()}\n")
        print_settings(session)
    return 0


if __name__ == "__main__":
    sys.exit(without_traceback(main))

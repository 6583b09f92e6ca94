"""tools/run: builds ConfigTool.exe and opens its dialog under Wine, in a 64-bit prefix as on
64-bit Windows; afterwards prints the settings as they now stand in that prefix's registry, in the
32-bit view where the program writes them.

The prefix is $WINEPREFIX when set, else the project's own in build/windows/wine-run. With no X
display (or with --screenshot) the dialog opens on a virtual screen, is photographed and closed
with Cancel. Runs where 32-bit programs run (wine/route32.py --run).
"""
import argparse
import os
import pathlib
import subprocess
import sys

if not __package__:  # run as a script: its package is beside it
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from configtool.dialog import DialogSession  # noqa: E402
from configtool.program import CANCEL, SOURCE  # noqa: E402
from wine.errors import stop_on_signals, without_traceback  # noqa: E402
from wine.route32 import ROUTE  # noqa: E402

BUILD = SOURCE / "build" / "windows"


def build():
    """ConfigTool.exe and the probe, which reads the settings back afterwards."""
    for args in (["--preset", "windows"], ["--build", "--preset", "windows", "--target", "ConfigTool", "probe"]):
        subprocess.run(["cmake", *args], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    return BUILD / "ui" / "ConfigTool.exe", BUILD / "driver" / "probe.exe"


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
            print(session.probe("settings"), end="")
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
        print(session.probe("settings"), end="")
    return 0


if __name__ == "__main__":
    sys.exit(without_traceback(main))

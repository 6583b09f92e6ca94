"""Builds ConfigTool.exe and opens its dialog under Wine; afterwards prints the settings as they
now stand in that Wine prefix's registry. tools/run installs what is missing, then runs this.

usage: open_dialog.py [--screenshot FILE]
The prefix is $WINEPREFIX when set, else the project's own in build/windows/wine-run. With no X
display (or with --screenshot) the dialog opens on a virtual screen, is photographed and closed
with Cancel. On a machine that runs no 32-bit programs it says so, and opens the 64-bit test
build's dialog instead, in a 64-bit prefix (build/windows-x64/wine-run).
"""
import argparse
import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
# The probe, which finds the dialog and reads the settings back, is one of the tests' helpers.
sys.path.insert(0, str(ROOT / "tests"))
from harness.machine import build_to_run, describe, why_no_32bit  # noqa: E402
from harness.wine_session import WineSession, stop_on_signals, without_traceback  # noqa: E402


def build(preset):
    subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", preset, "--target", "ConfigTool", "probe"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    build_dir = ROOT / "build" / preset
    return build_dir, build_dir / "ui" / "ConfigTool.exe", build_dir / "tests" / "probe" / "probe.exe"


def display_works():
    display = os.environ.get("DISPLAY")
    return bool(display) and subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL).returncode == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--screenshot", type=pathlib.Path, help="save a picture of the dialog here")
    parser.prog = "tools/run"
    args = parser.parse_args()
    no_32bit = why_no_32bit()
    if no_32bit:
        print(f"{describe(no_32bit)}: opening the 64-bit test build in a 64-bit prefix instead.")
    preset, arch = build_to_run(no_32bit)
    build_dir, exe, probe = build(preset)
    stop_on_signals()
    user_prefix = os.environ.get("WINEPREFIX")
    prefix = pathlib.Path(user_prefix or build_dir / "wine-run")
    own = {"prefix": prefix, "exe": exe, "probe": probe, "owned": not user_prefix, "arch": arch}
    if display_works() and not args.screenshot:
        with WineSession(display=os.environ["DISPLAY"], **own) as session:
            print(f"Opening the dialog on {os.environ['DISPLAY']} (Wine prefix {prefix})")
            code, _ = session.run(exe, check=False, timeout=None)  # as long as you like
            print(f"ConfigTool.exe exited with code {code}\n")
            print(session.probe("settings"), end="")
        return
    if not args.screenshot:
        print("No X display: showing the dialog on a virtual screen instead.")
        args.screenshot = build_dir / "ConfigTool.png"
    with WineSession(**own) as session:
        session.launch()
        session.screenshot(args.screenshot.resolve())
        print(f"Screenshot of the dialog: {args.screenshot}")
        session.click_control(2)  # Cancel
        print(f"ConfigTool.exe exited with code {session.wait_for_exit()}\n")
        print(session.probe("settings"), end="")


if __name__ == "__main__":
    sys.exit(without_traceback(main))

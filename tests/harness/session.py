"""A Wine session: a private prefix on a virtual X screen, its Wine server, the probe, and
ConfigTool driven through real X input. Used by the Wine tests, tools/run and the benchmark.

start() starts it all and close() ends what was started, however a session ends; every wait has
a time limit.
"""
import os
import pathlib
import re
import select
import subprocess
import sys
import tempfile

from harness.prefixes import LOADERS, make_prefix
from harness.probe import Probe, read_dialog
from harness.processes import (QUIET, WineError, child_setup, last_words, run_command,
                               wait_for)

# Long enough to carry the server from one program to the next, short enough not to outlive us.
SERVER_LINGER_SECONDS = "20"


class WineSession:
    def __init__(self, prefix, exe, probe=None, arch="win64", display=None, owned=True, env=None,
                 letters="", templates=None):
        """arch: win64, or win32 for a 32-bit prefix. owned: the project's own prefix, made here
        if need be (a copy of the template in `templates`, when given). Someone else's
        (owned=False) is used as it is: it keeps its kind and its Wine server is left alone.
        env: more environment for every Wine process (a locale). letters: the letters beyond
        ASCII that will be typed, given keys on the virtual screen."""
        self.prefix, self.templates = pathlib.Path(prefix).resolve(), templates
        self.owned, self.arch = owned, arch
        self.wine = LOADERS[arch]
        self.exe, self.probe_exe, self.display, self.letters = exe, probe, display, letters
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), **QUIET, **(env or {}))
        if owned:
            self.env["WINEARCH"] = arch
        self.xvfb = self.program = self.probe = None
        self.desktop = self.shown_before = self.program_errors = None
        self.rects = {}

    def start(self):
        try:
            display = self.display
            if display is None:
                self.xvfb, display = self._start_xvfb()
            self.env["DISPLAY"] = display
            if self.letters:
                self._map_keys(self.letters)
            if self.owned:
                make_prefix(self.prefix, self.arch, self.templates)
                # A server left from an earlier run would still show windows on its own display.
                run_command(["wineserver", "-k"], self.env, 30, "wineserver -k")
                run_command(["wineserver", "-p" + SERVER_LINGER_SECONDS], self.env, 30, "wineserver -p")
            if self.probe_exe:
                self.probe = Probe([self.wine, self.probe_exe, "serve"], self.env)
        except BaseException:
            self.close()
            raise
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *_):
        self.close()

    def _start_xvfb(self):
        """Xvfb picks a free display itself and writes its number to us: two sessions never
        share one. -noreset: by default it starts afresh, keyboard map and all, whenever its last
        client leaves, as Wine's desktop does between programs."""
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=child_setup)
        os.close(write)
        with os.fdopen(read) as pipe:
            ready, _, _ = select.select([pipe], [], [], 30)
            number = pipe.readline().strip() if ready else ""  # empty when Xvfb died
        if not number:
            xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        return xvfb, f":{number}"

    def program_ended(self):
        """How the program ended, in Wine's words, for a message; "" while it runs."""
        if not self.program or self.program.poll() is None:
            return ""
        self.program_errors.seek(0)
        said = last_words(self.program_errors.read().decode("latin-1"))
        return f" (the program ended with {self.program.poll():#x}: {said})"

    def _map_keys(self, letters):
        """Keys for letters beyond ASCII before any Wine program starts: xdotool's own key for a
        moment can be gone when Wine reads it. The lowest free keys: Wine runs out of spare
        virtual-key codes before it reaches the high ones."""
        _, keymap, _ = run_command(["xmodmap", "-pke"], self.env, 30, "xmodmap")
        free = [int(m.group(1)) for m in re.finditer(r"^keycode +(\d+) =[ \t]*$", keymap, re.M)]
        letters = sorted(set(letters))
        if len(free) < len(letters):
            raise RuntimeError(f"the virtual screen has {len(free)} free keys, {len(letters)} wanted")
        code, _, errors = run_command(["xmodmap", *(arg for key, letter in zip(sorted(free), letters)
                                                    for arg in ("-e", f"keycode {key} = 0x{ord(letter):x}"))],
                                      self.env, 30, "xmodmap")
        if code:
            raise RuntimeError(f"xmodmap could not give the letters keys: {last_words(errors)}")

    def close(self):
        """Ends what the session started, each part on its own: one that fails to end is reported,
        the others still end, and no error here replaces the one that ended the session."""
        def program():
            if self.program and self.program.poll() is None:
                self.program.kill()
                self.program.wait()
            if self.probe:
                self.probe.close()

        def server():
            if self.owned:
                run_command(["wineserver", "-k"], self.env, 30, "wineserver -k")

        def xvfb():
            if self.xvfb:
                self.xvfb.terminate()
                try:
                    self.xvfb.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.xvfb.kill()
                self.xvfb = None

        for part in (program, server, xvfb):
            try:
                part()
            except Exception as error:  # noqa: BLE001 - reported, and the rest still ends
                print(f"session: ending the {part.__name__} failed: {error}", file=sys.stderr)

    def run(self, *args, check=True, timeout=60, env=None, cwd=None):
        """Runs a Windows program to its end; returns (exit code, stdout)."""
        code, text, errors = run_command([self.wine, *args], dict(self.env, **(env or {})), timeout,
                                         args[0], cwd)
        if check and code != 0:
            raise WineError(f"{' '.join(map(str, args))} exited with {code:#x}: {last_words(errors)}")
        return code, text

    def launch(self):
        """Starts ConfigTool.exe, waits for its dialog and gives it the keyboard."""
        if not os.path.isfile(self.exe):
            raise FileNotFoundError(f"no program {self.exe}")
        if self.program_errors:
            self.program_errors.close()
        self.program_errors = tempfile.TemporaryFile()  # what Wine says if it cannot start it
        self.program = subprocess.Popen([self.wine, str(self.exe)], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.program_errors, preexec_fn=child_setup)

        # Until this program's dialog shows, or the program has ended without one. An earlier
        # program's dialog can still be listed for a moment after that program has ended, until
        # the Wine server has cleaned up after it: the last one seen is not this one.
        def shown():
            if self.program.poll() is not None:
                return True
            code, out = self.probe.ask("dialog", 500)
            return code == 0 and out.split()[:2] != ["handle", str(self.shown_before)]
        wait_for(shown, timeout=60, what="the dialog")  # emulated, the machine loaded: seconds
        state = self.dialog()
        self.shown_before = state["handle"]
        # Where its controls are: they stay there while it is open.
        self.rects = {number: control["rect"] for number, control in state["controls"].items()}
        if self.desktop is None:
            # Our prefixes run in a Wine virtual desktop; another prefix may put the dialog
            # straight on the X screen, whose coordinates are then the same.
            found = self.xdotool("search", "--name", "Wine desktop", check=False).split()
            self.desktop = found[0] if found else ""
        if self.desktop:
            self.xdotool("windowfocus", "--sync", self.desktop)
        left, top, right, _ = self.window
        self.click((left + right) // 2, top + 10)  # the caption makes it Wine's foreground window
        # Keys go to the foreground window as Wine sees it when they arrive.
        wait_for(lambda: self.dialog()["foreground"], what="the dialog to be in the foreground")

    def wait_for_exit(self, timeout=15):
        """The program's exit code; a program still running then is killed and that is an error."""
        try:
            return self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.program.kill()
            self.program.wait()
            raise TimeoutError(f"ConfigTool.exe was still running {timeout} s later") from None

    def dialog(self):
        """The dialog as the probe sees it (read_dialog)."""
        code, out = self.probe.ask("dialog")
        if code:
            raise RuntimeError("no Configuration Tool dialog on the screen" + self.program_ended() +
                               f": probe dialog said {last_words(out)}")
        state = read_dialog(out)
        self.window = state["window"]
        return state

    def xdotool(self, *args, check=True):
        code, out, _ = run_command(["xdotool", *args], self.env, 30, f"xdotool {args[0]}")
        if check and code:
            raise RuntimeError(f"xdotool {' '.join(args)} failed")
        return out

    def click(self, x, y):
        where = ["--window", self.desktop] if self.desktop else []
        # xdotool waits its --delay (100 ms) after a click even when there is no next one.
        self.xdotool("mousemove", *where, str(x), str(y), "click", "--delay", "0", "1")

    def click_control(self, number):
        left, top, right, bottom = self.rects[number]
        self.click((left + right) // 2, (top + bottom) // 2)

    def screenshot(self, path):
        left, top, right, bottom = self.window
        code, _, _ = run_command(["import", "-window", "root", "-crop",
                                  f"{right - left}x{bottom - top}+{left}+{top}", path], self.env, 30,
                                 "import")
        if code:
            raise RuntimeError("the screenshot failed")

"""ConfigTool under Wine: its dialog on an X server, driven by real X input, and looked at from
the Windows side by the probe. start() starts it all, close() ends what was started however a
session ends, and every wait has a time limit."""
import os
import subprocess
import sys
import tempfile

from configtool.probe import Probe, read_dialog
from wine.processes import last_words, wait_for
from wine.session import WineSession
from wine.xserver import XServer


class DialogSession(WineSession):
    def __init__(self, prefix, exe, probe=None, display=None, letters="", **wine):
        """display: an X display to use, else a virtual screen of our own. letters: the letters
        beyond ASCII that will be typed, given keys on that screen. wine: as WineSession takes it."""
        super().__init__(prefix, **wine)
        self.exe, self.probe_exe, self.letters = exe, probe, letters
        self.screen = XServer(display)
        self.program = self.probe = self.desktop = self.shown_before = self.program_errors = None
        self.rects = {}

    def start(self):
        try:
            self.env["DISPLAY"] = self.screen.start().display
            if self.letters:
                self.screen.map_keys(self.letters)
            super().start()
            if self.probe_exe:
                self.probe = Probe(self.start_program(self.probe_exe, "serve", stdin=subprocess.PIPE,
                                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL))
        except BaseException:
            self.close()
            raise
        return self

    def close(self):
        """Ends what the session started, each part on its own: one that fails to end is reported,
        the others still end, and no error here replaces the one that ended the session."""
        def program():
            if self.program and self.program.poll() is None:
                self.program.kill()
                self.program.wait()
            if self.probe:
                self.probe.close()

        for name, part in (("program", program), ("server", super().close), ("X server", self.screen.close)):
            try:
                part()
            except Exception as error:  # noqa: BLE001 - reported, and the rest still ends
                print(f"session: ending the {name} failed: {error}", file=sys.stderr)

    def program_ended(self):
        """How the program ended, in Wine's words, for a message; "" while it runs."""
        if not self.program or self.program.poll() is None:
            return ""
        self.program_errors.seek(0)
        said = last_words(self.program_errors.read().decode("latin-1"))
        return f" (the program ended with {self.program.poll():#x}: {said})"

    def launch(self):
        """Starts ConfigTool.exe, waits for its dialog and gives it the keyboard."""
        if not os.path.isfile(self.exe):
            raise FileNotFoundError(f"no program {self.exe}")
        if self.program_errors:
            self.program_errors.close()
        self.program_errors = tempfile.TemporaryFile()  # what Wine says if it cannot start it
        self.program = self.start_program(self.exe, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=self.program_errors)

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
            found = self.screen.xdotool("search", "--name", "Wine desktop", check=False).split()
            self.desktop = found[0] if found else ""
        if self.desktop:
            self.screen.xdotool("windowfocus", "--sync", self.desktop)
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

    def click(self, x, y):
        self.screen.click(x, y, self.desktop)

    def click_control(self, number):
        left, top, right, bottom = self.rects[number]
        self.click((left + right) // 2, (top + bottom) // 2)

    def screenshot(self, path):
        self.screen.screenshot(self.window, path)

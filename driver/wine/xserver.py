"""The X server that Wine's windows show on: a virtual screen of our own (Xvfb), or a display we
are given, with real X input through xdotool."""
import os
import re
import select
import subprocess

from wine.processes import child_setup, last_words, run_command


class XServer:
    def __init__(self, display=None):
        """display: one to use as it is; None starts a virtual screen of our own."""
        self.display, self.xvfb = display, None

    def start(self):
        """Xvfb picks a free display and tells us its number: two never share one. -noreset: else it
        starts afresh, keyboard map and all, whenever its last client leaves, as Wine's desktop does."""
        if self.display:
            return self
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     preexec_fn=child_setup)
        os.close(write)
        with os.fdopen(read) as pipe:
            ready, _, _ = select.select([pipe], [], [], 30)
            number = pipe.readline().strip() if ready else ""  # empty when Xvfb died
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = f":{number}"
        return self

    def run(self, *args, what=None):
        return run_command(args, dict(os.environ, DISPLAY=self.display), 30, what or args[0])

    def map_keys(self, letters):
        """Keys for letters beyond ASCII, before any Wine program starts: xdotool's own key for a
        moment can be gone when Wine reads it. The lowest free keys: Wine runs out of spare
        virtual-key codes before it reaches the high ones."""
        _, keymap, _ = self.run("xmodmap", "-pke")
        free = [int(m.group(1)) for m in re.finditer(r"^keycode +(\d+) =[ \t]*$", keymap, re.M)]
        letters = sorted(set(letters))
        if len(free) < len(letters):
            raise RuntimeError(f"the virtual screen has {len(free)} free keys, {len(letters)} wanted")
        code, _, errors = self.run("xmodmap", *(arg for key, letter in zip(sorted(free), letters)
                                                for arg in ("-e", f"keycode {key} = 0x{ord(letter):x}")))
        if code:
            raise RuntimeError(f"xmodmap could not give the letters keys: {last_words(errors)}")

    def xdotool(self, *args, check=True):
        code, out, _ = self.run("xdotool", *args, what=f"xdotool {args[0]}")
        if check and code:
            raise RuntimeError(f"xdotool {' '.join(args)} failed")
        return out

    def click(self, x, y, window=None):
        """At x, y of the window (of the screen, with none)."""
        where = ["--window", window] if window else []
        # xdotool waits its --delay (100 ms) after a click even when there is no next one.
        self.xdotool("mousemove", *where, str(x), str(y), "click", "--delay", "0", "1")

    def screenshot(self, rect, path):
        left, top, right, bottom = rect
        code, _, _ = self.run("import", "-window", "root", "-crop",
                              f"{right - left}x{bottom - top}+{left}+{top}", path)
        if code:
            raise RuntimeError("the screenshot failed")

    def close(self):
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None

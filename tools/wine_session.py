"""A private Wine prefix on a virtual X screen, with ConfigTool driven through real X input.

Used by tools/run, tools/bench and the end-to-end tests. Output of Wine processes always goes to
files: Wine's background processes inherit pipes and would keep a reader waiting.
"""
import os
import pathlib
import subprocess
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def wait_for(condition, timeout=10.0, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out waiting for {what}")
        time.sleep(0.05)


class WineSession:
    def __init__(self, build_dir, prefix, arch="win32", display=None, owned=True):
        """owned: the project's own prefix, made here if need be. Someone else's (owned=False) is
        used as it is: it keeps its architecture and its Wine server is left alone."""
        self.owned = owned
        self.build = pathlib.Path(build_dir).resolve()
        prefix = pathlib.Path(prefix).resolve()
        self.exe = self.build / "ui" / "ConfigTool.exe"
        self.probe_exe = self.build / "tools" / "probe" / "probe.exe"
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        if owned:
            self.env["WINEARCH"] = arch
        self.xvfb = None
        if display is None:
            self.xvfb, display = self._start_xvfb()
        self.env["DISPLAY"] = display
        if owned:
            subprocess.run([ROOT / "tools" / "wine-prefix", prefix, arch], env=self.env, check=True)
            subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        self.desktop = None

    def _start_xvfb(self):
        for number in range(90, 140):
            if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            try:
                wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{number}") or xvfb.poll() is not None,
                         what="Xvfb")
            except TimeoutError:
                xvfb.kill()
                raise
            if xvfb.poll() is None:
                return xvfb, f":{number}"
        raise RuntimeError("no free X display")

    def close(self):
        if self.owned:
            subprocess.run(["wineserver", "-k"], env=self.env)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def run(self, *args, check=True):
        """Runs a Windows program to its end; returns (exit code, stdout)."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(["wine", *map(str, args)], env=self.env, stdout=out,
                                  stderr=subprocess.DEVNULL).returncode
            out.seek(0)
            text = out.read().decode("latin-1").replace("\r\n", "\n")
        if check and code != 0:
            raise RuntimeError(f"{args} exited with {code}")
        return code, text

    def probe(self, *args, check=True):
        return self.run(self.probe_exe, *args, check=check)[1]

    def dump(self):
        return self.probe("dump").splitlines()

    def reset(self, values=()):
        """values: (path below the settings key, name, type, bytes) tuples."""
        args = [str(part) if i % 4 != 3 else part.hex() for v in values for i, part in enumerate(v)]
        self.probe("reset", *args)

    def launch(self):
        """Starts ConfigTool.exe, waits for its dialog and gives it the keyboard."""
        proc = subprocess.Popen(["wine", str(self.exe)], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.dialog(wait_ms=15000)
        if self.desktop is None:
            # Our prefixes run in a Wine virtual desktop; another prefix may put the dialog
            # straight on the X screen, whose coordinates are then the same.
            found = subprocess.run(["xdotool", "search", "--name", "Wine desktop"], env=self.env,
                                   stdout=subprocess.PIPE, text=True).stdout.split()
            self.desktop = found[0] if found else ""
        if self.desktop:
            self.xdotool("windowfocus", "--sync", self.desktop)
        left, top, right, _ = self.window
        self.click((left + right) // 2, top + 10)  # the caption makes it Wine's foreground window
        return proc

    def dialog(self, wait_ms=0):
        """The dialog as the probe sees it: window, focus, tab order, controls by id."""
        state = {"controls": {}}
        for line in self.probe("dialog", wait_ms).splitlines():
            word, *rest = line.split(" ")
            if word == "window":
                self.window = state["window"] = tuple(map(int, rest))
            elif word == "focus":
                state["focus"] = int(rest[0])
            elif word == "tab":
                state["tab"] = [int(x) for x in rest]
            elif word == "control":
                number, left, top, right, bottom, check = map(int, rest[:6])
                text = bytes.fromhex(rest[6] if len(rest) > 6 else "").decode("latin-1")
                state["controls"][number] = {"rect": (left, top, right, bottom), "check": check,
                                             "text": text}
        return state

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, stdout=subprocess.PIPE,
                              text=True).stdout

    def click(self, x, y):
        where = ["--window", self.desktop] if self.desktop else []
        self.xdotool("mousemove", *where, str(x), str(y), "click", "1")

    def click_control(self, number):
        left, top, right, bottom = self.dialog()["controls"][number]["rect"]
        self.click((left + right) // 2, (top + bottom) // 2)

    def screenshot(self, path):
        left, top, right, bottom = self.window
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{left}+{top}", str(path)],
                       env=self.env, check=True)


"""A private Wine prefix on a virtual X screen, with ConfigTool driven through real X input.

Used by the end-to-end tests, tools/run and the benchmark. Every wait has a time limit, and a
session tears down what it started (the program, the Wine server, Xvfb) however it ends.
Output of Wine processes goes to files: Wine's background processes inherit pipes and would keep
a reader waiting for their end. The one pipe is to the session's probe, which answers in lines.

usage: wine_session.py prefix DIR [win32|win64]   makes the private prefix DIR, once
"""
import ctypes
import fcntl
import hashlib
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

if not __package__:  # run as a script: the harness package is beside it
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from harness.machine import WINE64  # noqa: E402

# winemenubuilder would copy every shortcut and file type into the Linux desktop of whoever runs
# the tests (~/.local, ~/.config): a prefix here stays to itself. Of Wine's messages only its errors
# are kept (with each command's own, in files): they say why a program ended before it began.
QUIET = {"WINEDEBUG": "-all,err+all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
# Long enough to carry the server from one program to the next, short enough not to outlive us.
SERVER_LINGER_SECONDS = "20"
# The loader for each kind of prefix. /usr/bin/wine takes the 32-bit loader whenever it is
# installed, which cannot start at all where the machine runs no 32-bit programs.
LOADERS = {"win32": "wine", "win64": WINE64}
ADDR_NO_RANDOMIZE = 0x0040000  # personality(2); setarch -R


class WineError(RuntimeError):
    """Wine, or a program under it, failed; the message says what, in Wine's own words."""


def windows_path(path):
    """How a Windows program names a file here: Wine maps the Unix root to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


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
    """For Popen: the child is killed when this process dies, even by SIGKILL (Linux), and it and
    every process it starts lay out their memory without randomness.

    Windows gives every program its shared data page at 0x7ffe0000. Wine's preloader reserves
    that address before the C library takes any memory, but Debian's Wine has none: its loader is
    linked at 0x7d000000, and the kernel puts its heap anywhere in the gigabyte above that. About
    one Wine start in some thousands found the page under its heap, said "failed to map the shared
    user data" (an error that WINEDEBUG=-all hides) and ended with exit code 1 before any of the
    program ran. Without randomness the heap starts right after the loader, every time."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    libc.personality(libc.personality(0xffffffff) | ADDR_NO_RANDOMIZE)


def run(args, env, timeout, what=None, cwd=None):
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
    """The last lines a failed Wine command printed, for a message."""
    lines = [line.strip() for line in errors.splitlines() if line.strip()]
    return "; ".join(lines[-3:]) if lines else "it printed nothing"


# What wineboot copies into a prefix and Wine never writes again: Wine's own programs, DLLs and
# resources. Prefixes share them with their template by hard links; everything else, the registry
# and the ini files among it, is their own.
SHARED_FOLDERS = ("drive_c/windows", "drive_c/Program Files", "drive_c/Program Files (x86)")
SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb", ".ax", ".ds",
                   ".com", ".vxd", ".nls", ".mui", ".msstyles"}


def wine_version(arch):
    code, version, errors = run([LOADERS[arch], "--version"], os.environ, 30, "wine --version")
    if code:
        raise WineError(f"{LOADERS[arch]} --version failed: {last_words(errors)}")
    return version.strip()


def templates_folder(prefix):
    """Where the build tree that holds `prefix` keeps one made prefix of each kind, as its CMake
    cache names it (CONFIGTOOL_WINE_TEMPLATES); None outside a build tree."""
    for tree in prefix.parents:
        cache = tree / "CMakeCache.txt"
        if cache.exists():
            found = re.search(r"^CONFIGTOOL_WINE_TEMPLATES:PATH=(.+)$",
                              cache.read_text(errors="replace"), re.M)
            return pathlib.Path(found.group(1)) if found else None
    return None


def make_prefix(prefix, arch="win32", extra_env=None):
    """Makes a private prefix once. In a build tree it is a copy of the tree's template of that
    kind, made once by wineboot: the copy shares Wine's own DLLs with it (hard links, read-only)
    and has its own registry and everything else. A template of another Wine version, or one whose
    shared files were changed after all, is made again, and so is every copy of an older one."""
    prefix = pathlib.Path(prefix).resolve()
    version = wine_version(arch)
    ready = prefix / ".configtool-prefix"
    templates = templates_folder(prefix)
    if templates is None:
        if not (ready.exists() and ready.read_text() == version):
            boot_prefix(prefix, arch, extra_env)
            ready.write_text(version)
        return
    templates.mkdir(parents=True, exist_ok=True)
    template = templates / arch
    with open(templates / f"{arch}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # another test may be making it
        made = template / ".configtool-prefix"
        if not (made.exists() and made.read_text() == f"{version}\n{shared_state(template)}"):
            # The code page is the Unix locale's when a program starts: one template serves all.
            boot_prefix(template, arch, None)
            made.write_text(f"{version}\n{shared_state(template)}")
        if not (ready.exists() and ready.read_text() == made.read_text()):
            copy_prefix(template, prefix)  # its marker too


def is_shared(relative):
    return relative.suffix.lower() in SHARED_SUFFIXES and any(
        relative.is_relative_to(folder) for folder in SHARED_FOLDERS)


def shared_files(prefix):
    """The files of a prefix that its copies share, in a fixed order."""
    for folder, _, files in sorted(os.walk(prefix)):
        for name in sorted(files):
            path = pathlib.Path(folder) / name
            if not path.is_symlink() and is_shared(path.relative_to(prefix)):
                yield path


def shared_state(prefix):
    """Names, sizes and times of the files a prefix shares: a write to any of them shows."""
    state = hashlib.sha256()
    for path in shared_files(prefix):
        info = path.stat()
        state.update(f"{path.relative_to(prefix)} {info.st_size} {info.st_mtime_ns}\n".encode())
    return state.hexdigest()


def copy_prefix(template, prefix):
    subprocess.run(["rm", "-rf", str(prefix)], check=True)
    for folder, subfolders, files in os.walk(template):
        here = pathlib.Path(folder)
        there = prefix / here.relative_to(template)
        there.mkdir(parents=True, exist_ok=True)
        for name in subfolders + files:
            source, target = here / name, there / name
            if source.is_symlink():
                target.symlink_to(os.readlink(source))
            elif source.is_file() and is_shared(source.relative_to(template)):
                try:
                    os.link(source, target)
                except OSError:  # another file system
                    shutil.copy2(source, target)
            elif source.is_file():
                shutil.copy2(source, target)
    # followlinks is off: a link to a folder (dosdevices) is made above, never walked.


def boot_prefix(prefix, arch, extra_env):
    """Makes a prefix with wineboot: Wine's own fonts, a virtual desktop (which keeps keyboard
    focus to itself on an X server with no window manager), no crash dialog (which would wait
    for a click that never comes) and no winemenubuilder."""
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH=arch, **QUIET, **(extra_env or {}))
    subprocess.run(["rm", "-rf", str(prefix)], check=True)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    wine = LOADERS[arch]
    code, _, boot_errors = run([wine, "wineboot", "-i"], env, 180, "wineboot")
    if code:
        raise WineError(f"{wine} wineboot could not make a {arch} prefix in {prefix} (exit code "
                        f"{code}): {last_words(boot_errors)}")
    # Debian's Wine does not find its own fonts (fonts-wine) by itself; without them the dialog's
    # Tahoma and the caption buttons' Marlett fall back to other fonts and every size changes.
    fonts = prefix / "drive_c" / "windows" / "Fonts"
    for font in pathlib.Path("/usr/share/wine/fonts").glob("*.ttf"):
        if not (fonts / font.name).exists():
            (fonts / font.name).write_bytes(font.read_bytes())
    for key, name, kind, data in ((r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Default"),
                                  (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ",
                                   "1024x768"),
                                  (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
                                  # for programs started without QUIET's environment too
                                  (r"HKCU\Software\Wine\DllOverrides", "winemenubuilder.exe",
                                   "REG_SZ", "")):
        code, _, errors = run([wine, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                              env, 60)
        if code:
            raise WineError(f"{wine} reg add could not set {key}\\{name} in {prefix}: "
                            f"{last_words(errors)}")
    run(["wineserver", "-w"], env, 60, "wineserver -w")
    # The server writes the registry out when it ends: a prefix without it was never made.
    if not (prefix / "system.reg").exists():
        raise WineError(f"{wine} wineboot made no registry in {prefix}: {last_words(boot_errors)}")
    # Wine's own files are shared by every copy: none of them may change one.
    for path in shared_files(prefix):
        path.chmod(path.stat().st_mode & ~0o222)


def read_tree(lines):
    """The probe's dump as a set: ("KEY",) for a key, (KEY, NAME, TYPE, bytes) for a value."""
    def unescape(text):
        return re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]),
                      text.encode("latin-1"))
    tree = set()
    for line in lines:
        parts = line.split("|")
        tree.add((line,) if len(parts) == 1 else
                 (parts[0], unescape(parts[1]).decode("latin-1"), int(parts[2]), unescape(parts[3])))
    return tree


class WineSession:
    def __init__(self, prefix, exe, probe=None, arch="win32", display=None, owned=True, env=None,
                 letters=""):
        """arch: win32, or win64 for a 64-bit prefix. owned: the project's own prefix, made here
        if need be. Someone else's (owned=False) is used as it is: it keeps its architecture and
        its Wine server is left alone. env: more environment for every Wine process (a locale).
        letters: the letters beyond ASCII that will be typed, given keys on the virtual screen."""
        self.owned, self.arch = owned, arch
        self.wine = LOADERS[arch]
        self.exe, self.probe_exe = exe, probe
        prefix = pathlib.Path(prefix).resolve()
        self.env = dict(os.environ, WINEPREFIX=str(prefix), **QUIET, **(env or {}))
        if owned:
            self.env["WINEARCH"] = arch
        self.xvfb = self.program = self.server = None
        self.answers = b""
        self.desktop = self.shown_before = self.program_errors = None
        self.rects = {}
        try:
            if display is None:
                self.xvfb, display = self._start_xvfb()
            self.env["DISPLAY"] = display
            if letters:
                self._map_keys(letters)
            if owned:
                make_prefix(prefix, arch, env)
                # A server left from an earlier run would still show windows on its own display.
                run(["wineserver", "-k"], self.env, 30, "wineserver -k")
                run(["wineserver", "-p" + SERVER_LINGER_SECONDS], self.env, 30, "wineserver -p")
            if probe:
                self.server = subprocess.Popen([self.wine, probe, "serve"], env=self.env,
                                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                               stderr=subprocess.DEVNULL, preexec_fn=child_setup)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

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

    def _start(self, *args, errors=subprocess.DEVNULL):
        return subprocess.Popen([self.wine, *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=errors, preexec_fn=child_setup)

    def program_ended(self):
        """How the program ended, in Wine's words, for a message; "" while it runs."""
        if not self.program or self.program.poll() is None:
            return ""
        self.program_errors.seek(0)
        said = last_words(self.program_errors.read().decode("latin-1"))
        return f" (the program ended with {self.program.poll():#x}: {said})"

    def _map_keys(self, letters):
        """xdotool types a letter that has no key by giving one a key for a moment: Wine may read
        the keyboard after the key is taken back, and the letter is lost. Keys given before any
        Wine program starts are there from its first look at the keyboard. The lowest free keys:
        Wine runs out of spare virtual-key codes before it reaches the high ones."""
        _, keymap, _ = run(["xmodmap", "-pke"], self.env, 30, "xmodmap")
        free = [int(m.group(1)) for m in re.finditer(r"^keycode +(\d+) =[ \t]*$", keymap, re.M)]
        letters = sorted(set(letters))
        if len(free) < len(letters):
            raise RuntimeError(f"the virtual screen has {len(free)} free keys, {len(letters)} wanted")
        code, _, errors = run(["xmodmap", *(arg for key, letter in zip(sorted(free), letters)
                                            for arg in ("-e", f"keycode {key} = 0x{ord(letter):x}"))],
                              self.env, 30, "xmodmap")
        if code:
            raise RuntimeError(f"xmodmap could not give the letters keys: {last_words(errors)}")

    def close(self):
        """Ends what the session started, each part on its own: a part that fails to end is
        reported and the others still end, and no error here replaces the one that ended the
        session."""
        def program():
            for process in (self.program, self.server):
                if process and process.poll() is None:
                    process.kill()
                    process.wait()

        def server():
            if self.owned:
                run(["wineserver", "-k"], self.env, 30, "wineserver -k")

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
                print(f"wine_session: ending the {part.__name__} failed: {error}", file=sys.stderr)

    def run(self, *args, check=True, timeout=60, env=None, cwd=None):
        """Runs a Windows program to its end; returns (exit code, stdout)."""
        code, text, errors = run([self.wine, *args], dict(self.env, **(env or {})), timeout, args[0],
                                 cwd)
        if check and code != 0:
            raise WineError(f"{' '.join(map(str, args))} exited with {code:#x}: {last_words(errors)}")
        return code, text

    def ask(self, *args, timeout=60):
        """The session's probe's answer to one command: (status, what it printed)."""
        command = " ".join(map(str, args))
        assert " " not in "".join(map(str, args)), f"a probe argument with a space: {command}"
        end = re.compile(rb"(?:^|\n)end (-?\d+)\r?\n")
        deadline = time.monotonic() + timeout
        if self.server.poll() is None:  # an ended one is reported below
            self.server.stdin.write(command.encode("latin-1") + b"\n")
            self.server.stdin.flush()
        while not end.search(self.answers):
            # Wine's background processes may hold the pipe open after the probe has ended.
            if self.server.poll() is not None:
                if select.select([self.server.stdout], [], [], 0)[0]:  # its last words
                    self.answers += os.read(self.server.stdout.fileno(), 65536)
                raise WineError(f"probe {command}: the probe ended with {self.server.poll():#x}: "
                                f"{last_words(self.answers.decode('latin-1'))}")
            if time.monotonic() > deadline:
                raise TimeoutError(f"probe {command}: no answer in {timeout} s")
            ready, _, _ = select.select([self.server.stdout], [], [], 0.5)
            if ready:
                self.answers += os.read(self.server.stdout.fileno(), 65536)
        found = end.search(self.answers)
        text, self.answers = self.answers[:found.start(1) - 4], self.answers[found.end():]
        return int(found.group(1)), text.decode("latin-1").replace("\r\n", "\n")

    def probe(self, *args, check=True):
        code, text = self.ask(*args)
        if check and code:
            raise WineError(f"probe {' '.join(map(str, args))} failed ({code}): {last_words(text)}")
        return text

    def dump(self):
        return read_tree(self.probe("dump").splitlines())

    def reset(self, values=()):
        """values: (path below the settings key, name, type, bytes) tuples."""
        args = [str(part) if i % 4 != 3 else part.hex() for v in values for i, part in enumerate(v)]
        self.probe("reset", *args)

    def launch(self):
        """Starts ConfigTool.exe, waits for its dialog and gives it the keyboard."""
        if not os.path.isfile(self.exe):
            raise FileNotFoundError(f"no program {self.exe}")
        if self.program_errors:
            self.program_errors.close()
        self.program_errors = tempfile.TemporaryFile()  # what Wine says if it cannot start it
        self.program = self._start(self.exe, errors=self.program_errors)

        # Until this program's dialog shows, or the program has ended without one. An earlier
        # program's dialog can still be listed for a moment after that program has ended, until
        # the Wine server has cleaned up after it: the last one seen is not this one.
        def shown():
            if self.program.poll() is not None:
                return True
            code, out = self.ask("dialog", 500)
            return code == 0 and out.split()[:2] != ["handle", str(self.shown_before)]
        wait_for(shown, timeout=20, what="the dialog")
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
        """The dialog as the probe sees it: window, focus, tab order, controls by id."""
        code, out = self.ask("dialog")
        if code:
            raise RuntimeError("no Configuration Tool dialog on the screen" + self.program_ended() +
                               f": probe dialog said {last_words(out)}")
        state = {"controls": {}}
        for line in out.splitlines():
            word, *rest = line.split(" ")
            if word == "handle":
                state["handle"] = int(rest[0])
            elif word == "window":
                self.window = state["window"] = tuple(map(int, rest))
            elif word in ("foreground", "wow64"):
                state[word] = rest == ["1"]
            elif word == "focus":
                state["focus"] = int(rest[0])
            elif word == "tab":
                state["tab"] = [int(x) for x in rest]
            elif word == "control":
                number, left, top, right, bottom, check = map(int, rest[:6])
                text = bytes.fromhex(rest[6] if len(rest) > 6 else "")
                state["controls"][number] = {"rect": (left, top, right, bottom), "check": check,
                                             "bytes": text, "text": text.decode("latin-1")}
        return state

    def xdotool(self, *args, check=True):
        code, out, _ = run(["xdotool", *args], self.env, 30, f"xdotool {args[0]}")
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
        code, _, _ = run(["import", "-window", "root", "-crop",
                       f"{right - left}x{bottom - top}+{left}+{top}", path], self.env, 30, "import")
        if code:
            raise RuntimeError("the screenshot failed")


def without_traceback(main):
    """Runs main() for its exit code. When Wine, a command or anything else the session drives
    fails or times out, says so in one message, not with a traceback, and returns 1."""
    name = pathlib.Path(sys.argv[0]).name
    try:
        return main()
    except (RuntimeError, TimeoutError) as error:
        print(f"{name}: {error}", file=sys.stderr)
    except subprocess.CalledProcessError as error:  # what it printed is above
        command = " ".join(pathlib.Path(str(part)).name if i == 0 else str(part)
                           for i, part in enumerate(error.cmd))
        print(f"{name}: {command} failed (exit code {error.returncode})", file=sys.stderr)
    except OSError as error:  # a tool that is not there, say
        print(f"{name}: {error.filename or ''}: {error.strerror}", file=sys.stderr)
    return 1


def stop_on_signals():
    """SIGTERM and SIGHUP end the run the way Ctrl-C does, so that sessions still tear down."""
    def stop(number, _):
        raise KeyboardInterrupt(f"signal {number}")
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop)


if __name__ == "__main__":
    if len(sys.argv) in (3, 4) and sys.argv[1] == "prefix":
        sys.exit(without_traceback(lambda: make_prefix(*sys.argv[2:])))
    else:
        sys.exit(__doc__.split("usage: ")[1])

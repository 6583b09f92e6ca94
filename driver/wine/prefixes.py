"""Private Wine prefixes: made once by wineboot as a template of each kind, and copied for each
test. A copy shares Wine's own files with its template (hard links, read-only) and has its own
registry and everything else, so no test can change another's prefix.
usage: prefixes.py DIR [win64|win32 [TEMPLATES]]   the prefix DIR, once (a copy from TEMPLATES)
"""
import fcntl
import hashlib
import os
import pathlib
import shutil
import sys

if not __package__:  # run as a script: its package is beside it
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from wine.errors import WineError, without_traceback  # noqa: E402
from wine.processes import QUIET, last_words, run_command  # noqa: E402
from wine.route32 import WINE64  # noqa: E402

# The loader for each kind of prefix. /usr/bin/wine takes the 32-bit loader whenever it is
# installed, and a 64-bit prefix is made by the 64-bit one.
LOADERS = {"win32": "wine", "win64": WINE64}
# What wineboot copies into a prefix and Wine never writes again: Wine's own programs, DLLs and
# resources. Copies share them; everything else, the registry and the ini files among it, is theirs.
SHARED_FOLDERS = ("drive_c/windows", "drive_c/Program Files", "drive_c/Program Files (x86)")
SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb", ".ax", ".ds",
                   ".com", ".vxd", ".nls", ".mui", ".msstyles"}
MARKER = ".configtool-prefix"


def wine_version(arch):
    code, version, errors = run_command([LOADERS[arch], "--version"], os.environ, 30, "wine --version")
    if code:
        raise WineError(f"{LOADERS[arch]} --version failed: {last_words(errors)}")
    return version.strip()


def make_prefix(prefix, arch="win64", templates=None):
    """Makes a private prefix once. With a templates folder it is a copy of the template of that
    kind there, made once by wineboot. A template of another Wine version, or one whose shared
    files were changed after all, is made again, and so is every copy of an older one."""
    prefix = pathlib.Path(prefix).resolve()
    version = wine_version(arch)
    ready = prefix / MARKER
    if templates is None:
        if not (ready.exists() and ready.read_text() == version):
            boot_prefix(prefix, arch)
            ready.write_text(version)
        return
    templates = pathlib.Path(templates)
    templates.mkdir(parents=True, exist_ok=True)
    template = templates / arch
    with open(templates / f"{arch}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # another test may be making it
        made = template / MARKER
        if not (made.exists() and made.read_text() == f"{version}\n{shared_state(template)}"):
            # The code page is the Unix locale's when a program starts: one template serves all.
            boot_prefix(template, arch)
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
    def link_or_copy(source, target):
        if is_shared(pathlib.Path(source).relative_to(template)):
            try:
                return os.link(source, target)
            except OSError:  # another file system
                pass
        return shutil.copy2(source, target)
    shutil.rmtree(prefix, ignore_errors=True)
    # Links stay links: dosdevices holds links to folders, which are never walked.
    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


def boot_prefix(prefix, arch):
    """Makes a prefix with wineboot: Wine's own fonts, a virtual desktop (which keeps keyboard
    focus to itself on an X server with no window manager), no crash dialog (which would wait
    for a click that never comes) and no winemenubuilder."""
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH=arch, **QUIET)
    shutil.rmtree(prefix, ignore_errors=True)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    wine = LOADERS[arch]
    code, _, boot_errors = run_command([wine, "wineboot", "-i"], env, 180, "wineboot")
    if code:
        raise WineError(f"{wine} wineboot could not make a {arch} prefix in {prefix} (exit code "
                        f"{code}): {last_words(boot_errors)}")
    # Debian's Wine does not find its own fonts (fonts-wine) by itself; without them the dialog's
    # Tahoma and the caption buttons' Marlett fall back to other fonts and every size changes.
    fonts = prefix / "drive_c" / "windows" / "Fonts"
    for font in pathlib.Path("/usr/share/wine/fonts").glob("*.ttf"):
        if not (fonts / font.name).exists():
            shutil.copyfile(font, fonts / font.name)
    for key, name, kind, data in ((r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Default"),
                                  (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ",
                                   "1024x768"),
                                  (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
                                  # for programs started without QUIET's environment too
                                  (r"HKCU\Software\Wine\DllOverrides", "winemenubuilder.exe",
                                   "REG_SZ", "")):
        code, _, errors = run_command([wine, "reg", "add", key, "/v", name, "/t", kind, "/d", data,
                                       "/f"], env, 60)
        if code:
            raise WineError(f"{wine} reg add could not set {key}\\{name} in {prefix}: "
                            f"{last_words(errors)}")
    run_command(["wineserver", "-w"], env, 60, "wineserver -w")
    # The server writes the registry out when it ends: a prefix without it was never made.
    if not (prefix / "system.reg").exists():
        raise WineError(f"{wine} wineboot made no registry in {prefix}: {last_words(boot_errors)}")
    # Wine's own files are shared by every copy: none of them may change one.
    for path in shared_files(prefix):
        path.chmod(path.stat().st_mode & ~0o222)


if __name__ == "__main__":
    if not 2 <= len(sys.argv) <= 4:
        sys.exit(__doc__.split("usage: ")[1])
    sys.exit(without_traceback(lambda: make_prefix(*sys.argv[1:])))

"""Wine in one prefix: the prefix made if it is ours, its Wine server started and ended, and
Windows programs run in it."""
import os
import pathlib
import subprocess

from wine.errors import WineError
from wine.prefixes import LOADERS, make_prefix
from wine.processes import QUIET, child_setup, last_words, run_command

# Long enough to carry the server from one program to the next, short enough not to outlive us.
SERVER_LINGER_SECONDS = "20"


def windows_path(path):
    """How a Windows program names a file here: Wine maps the Unix root to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


class WineSession:
    def __init__(self, prefix, arch="win64", owned=True, env=None, templates=None):
        """arch: win64, or win32. owned: the project's own prefix, made here if need be (a copy of
        the template in `templates`, when given); someone else's is used as it is, its Wine server
        left alone. env: more environment for every Wine process (a display, a locale)."""
        self.prefix, self.templates = pathlib.Path(prefix).resolve(), templates
        self.owned, self.arch, self.wine = owned, arch, LOADERS[arch]
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), **QUIET, **(env or {}))
        if owned:
            self.env["WINEARCH"] = arch

    def start(self):
        if self.owned:
            make_prefix(self.prefix, self.arch, self.templates)
            # A server left from an earlier run would still show windows on its own display.
            run_command(["wineserver", "-k"], self.env, 30, "wineserver -k")
            run_command(["wineserver", "-p" + SERVER_LINGER_SECONDS], self.env, 30, "wineserver -p")
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *_):
        self.close()

    def close(self):
        if self.owned:
            run_command(["wineserver", "-k"], self.env, 30, "wineserver -k")

    def run(self, *args, check=True, timeout=60, env=None, cwd=None):
        """Runs a Windows program to its end; returns (exit code, stdout)."""
        code, text, errors = run_command([self.wine, *args], dict(self.env, **(env or {})), timeout,
                                         args[0], cwd)
        if check and code != 0:
            raise WineError(f"{' '.join(map(str, args))} exited with {code:#x}: {last_words(errors)}")
        return code, text

    def start_program(self, *args, **popen):
        """Starts a Windows program and leaves it running."""
        return subprocess.Popen([self.wine, *map(str, args)], env=self.env, preexec_fn=child_setup,
                                **popen)

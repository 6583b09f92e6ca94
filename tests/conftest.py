"""What the Wine scenarios share: the programs under test, and Wine sessions (a private prefix on
a virtual screen), each started once for every test that asks for it and ended after the last.
A run whose every test is skipped (this machine cannot run them) exits with 3: CTest's skip."""
import contextlib
import pathlib
import sys

import pytest

from configtool.dialog import DialogSession
from wine.errors import stop_on_signals
from wine.route32 import CANNOT, route


PATHS = {"exe": "ConfigTool.exe under test", "probe": "the probe's .exe",
         "work": "a folder for the prefixes and logs", "source": "the source tree",
         "msi": "the package under test", "config": "the release's CPackConfig.cmake",
         "templates": "a folder of template prefixes that prefixes are copied from"}


def pytest_addoption(parser):
    for option, what in PATHS.items():  # absolute: Windows programs get them in other folders
        parser.addoption("--" + option, type=lambda path: pathlib.Path(path).resolve(), help=what)
    parser.addoption("--arch", choices=("win32", "win64"), default="win64",
                     help="the kind of Wine prefix: 64-bit Windows, as users have, or 32-bit")


@pytest.fixture(scope="session")
def args(request):
    return request.config.option


@pytest.fixture(scope="session")
def sessions(args):
    """sessions(name, arch, **more): the session in the prefix WORK/name, started at the first
    call; `more` as DialogSession takes it (env, letters)."""
    how, why = route()
    if how is None:
        pytest.skip(why)
    stop_on_signals()  # interrupting signals tear the sessions down too
    started = {}
    with contextlib.ExitStack() as stack:
        def get(name, arch, **more):
            if name not in started:
                started[name] = stack.enter_context(
                    DialogSession(args.work / name, args.exe, args.probe, arch=arch,
                                  templates=args.templates, **more))
            return started[name]
        yield get


def pytest_sessionfinish(session):
    stats = session.config.pluginmanager.get_plugin("terminalreporter").stats
    if stats.get("skipped") and not any(stats.get(k) for k in ("passed", "failed", "error")):
        session.exitstatus = CANNOT
        # The reason, once, where tools/test looks for it.
        reasons = {report.longrepr[2].removeprefix("Skipped: ") for report in stats["skipped"]}
        print("".join(f"\nskipped: {reason}" for reason in sorted(reasons)), file=sys.stdout)


def pytest_terminal_summary(terminalreporter):
    """How many scenarios went through the real dialog (marked dialog), for the reliability lines."""
    ran = {key: {r.nodeid: r.keywords for r in terminalreporter.stats.get(key, [])
                 if "dialog" in r.keywords} for key in ("passed", "failed", "error")}
    failed = {**ran["failed"], **ran["error"]}
    scenarios = {**ran["passed"], **failed}
    if scenarios:
        terminalreporter.write_line(
            f"reliability: {len(scenarios)} scenarios through the real dialog, "
            f"{sum('closed_key' in keywords for keywords in scenarios.values())} with a key closed, "
            f"exit code 0 and the registry as expected in each but: {len(failed)}")

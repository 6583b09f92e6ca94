"""The Windows Installer package, read with msitools and installed by Wine's msiexec.
usage: pytest msi_test.py --msi PACKAGE --source SOURCE_DIR --exe CONFIGTOOL_EXE --probe PROBE_EXE
                          --work DIR [--arch win32|win64]
PACKAGE must hold CONFIGTOOL_EXE. In a private prefix of the kind --arch names: a silent install
puts the program, its shortcut and its Programs and Features entry in place; an older version
will not go over it; the installed program runs; a silent uninstall takes all of it away; an
older version is upgraded in place. The settings stay as they were through every step. The tests
run in file order, in one prefix made anew for each run.
"""
import pathlib
import re
import subprocess

import pytest

from wine.prefixes import MARKER
from wine.session import windows_path
from scenarios import GUEST_FROM_KEYBOARD, NOT_OURS, OLD, run_scenario

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UPGRADE_CODE = "{6F7BC255-4640-4CCB-AE7F-1C6693516479}"
REFUSED = "A newer version of ConfigTool is already installed."
OLDER = "0.9"


def msi_table(msi, table):
    """A table's rows, each a tuple of its columns, as msiinfo exports them."""
    text = subprocess.run(["msiinfo", "export", str(msi), table], check=True, capture_output=True,
                          text=True).stdout
    return {tuple(line.split("\t")) for line in text.splitlines()[3:]}


def test_tables(args):
    """The package's tables: per machine, one file, one shortcut, no downgrade, no registry values."""
    msi = args.msi
    summary = subprocess.run(["msiinfo", "suminfo", str(msi)], check=True, capture_output=True,
                             text=True).stdout
    assert "Template: Intel;1033\n" in summary, f"summary information:\n{summary}"
    properties = dict(msi_table(msi, "Property"))
    for name, value in (("ALLUSERS", "1"), ("UpgradeCode", UPGRADE_CODE), ("ARPNOMODIFY", "1"),
                        ("ARPPRODUCTICON", "ConfigTool.ico"), ("ProductName", "ConfigTool"),
                        ("Manufacturer", "ConfigTool")):
        assert properties.get(name) == value, f"property {name} is {properties.get(name)!r}"
    files = msi_table(msi, "File")
    # A versioned file, which Windows Installer replaces by version: the program's own, in four parts.
    version = ".".join((properties["ProductVersion"].split(".") + ["0"] * 4)[:4])
    assert [row[1:3] + row[4:5] for row in files] == [("ConfigTool.exe", "ConfigTool.exe", version)], \
        f"files {files}"
    conditions = msi_table(msi, "LaunchCondition")
    assert conditions == {("NOT WIX_DOWNGRADE_DETECTED", REFUSED)}, f"launch conditions {conditions}"
    shortcuts = msi_table(msi, "Shortcut")
    assert ([row[1:5] for row in shortcuts] ==
           [("ProgramMenuFolder", "Configuration Tool", "ConfigTool.exe", "[#ConfigTool.exe]")]), f"shortcuts {shortcuts}"
    # It installs the program and nothing else: no registry value of its own, no action of its own.
    present = subprocess.run(["msiinfo", "tables", str(msi)], check=True, capture_output=True,
                             text=True).stdout.split()
    for table in ("Registry", "RemoveRegistry", "CustomAction", "ServiceInstall"):
        rows = msi_table(msi, table) if table in present else set()
        assert not rows, f"{table}: {rows}"


class Installed:
    """Where the package puts things in this prefix, and what msiexec says."""
    runs = 0

    def __init__(self, s, work):
        self.s, self.work, self.drive = s, work, s.prefix / "drive_c"
        # A 32-bit package goes to the 32-bit Program Files, which has its own name on 64 bits.
        self.windows_dir = f"C:\\Program Files{' (x86)' if s.arch == 'win64' else ''}\\ConfigTool"
        self.folder = self.drive / self.windows_dir[3:].replace("\\", "/")
        self.exe = self.folder / "ConfigTool.exe"

    def msiexec(self, action, msi):
        """Its exit code (Wine passes on its low 8 bits) and its log, which stays for a look."""
        Installed.runs += 1
        log = self.work / f"msiexec-{Installed.runs}{action.replace('/', '-')}-{pathlib.Path(msi).stem}.log"
        code, _ = self.s.run("msiexec", action, windows_path(msi), "/qn", "/l*v", windows_path(log),
                             check=False, timeout=180)
        text = log.read_bytes() if log.exists() else b""
        return code, text.decode("utf-16" if text.startswith(b"\xff\xfe") else "latin-1")

    def entries(self):
        """Programs and Features: {product code: {value name: data}} of the entries named
        ConfigTool (Windows keeps a 32-bit package's in the 32-bit view)."""
        _, text = self.s.run("reg", "query", UNINSTALL, "/s", "/reg:32", check=False)
        found, key = {}, None
        for line in text.splitlines():
            if line.startswith("HKEY_"):
                key = found.setdefault(line.rsplit("\\", 1)[1], {})
            elif key is not None and (m := re.match(r"^\s+(\S+)\s+REG_\w+\s+(.*)$", line)):
                key[m.group(1)] = m.group(2)
        return {code: values for code, values in found.items() if values.get("DisplayName") == "ConfigTool"}

    def shortcuts(self):
        # Wine makes a per-machine shortcut in the user's own Start menu; Windows, in all users'.
        return list(self.drive.glob("users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/"
                                    "Configuration Tool.lnk"))


def settings_kept(s, step):
    """Runs step(); the settings tree must be as it was before."""
    s.probe.reset(OLD + NOT_OURS)
    before, _, after = s.probe.dump(), step(), s.probe.dump()  # in that order
    assert after == before, f"the settings changed: {sorted(after ^ before)}"


def install(at, msi, exe, version):
    code, log = at.msiexec("/i", msi)
    assert code == 0, f"msiexec /i exited with {code}: {log[-400:]}"
    assert at.exe.read_bytes() == exe.read_bytes(), f"{at.exe} is not the program that was packaged"
    links = at.shortcuts()
    assert len(links) == 1 and f"\0{at.windows_dir}\\ConfigTool.exe\0".encode() in links[0].read_bytes(), f"shortcuts {links}, not one to {at.exe}"
    entries = list(at.entries().values())
    assert len(entries) == 1, f"{len(entries)} entries in Programs and Features"
    got = {name: entries[0].get(name) for name in ("Publisher", "DisplayVersion", "NoModify")}
    assert got == {"Publisher": "ConfigTool", "DisplayVersion": version, "NoModify": "0x1"}, got


@pytest.fixture(scope="module")
def package(args):
    """The package's version, and a package of an older version around the same program."""
    assert args.msi.exists(), f"no package {args.msi}: the package test of its build makes it"
    args.work.mkdir(parents=True, exist_ok=True)
    version = dict(msi_table(args.msi, "Property"))["ProductVersion"]
    older = args.work / f"ConfigTool-{OLDER}-win32.msi"
    subprocess.run(["cmake", f"-Dversion={OLDER}", f"-Dexe={args.exe}", f"-Dout={older}", "-P",
                    args.source / "cmake" / "MakeMsi.cmake"], check=True)
    # A new prefix each run: nothing an earlier run installed can stand in for what this one does.
    (args.work / "wine" / MARKER).unlink(missing_ok=True)
    return version, older


@pytest.fixture(scope="module")
def at(sessions, args, package):  # after the package fixture has asked for a new prefix
    return Installed(sessions("wine", args.arch), args.work)


# In file order: each test finds the prefix as the one before it left it.
def test_install(at, args, package):
    """Install: program, shortcut and entry in place, settings kept."""
    settings_kept(at.s, lambda: install(at, args.msi, args.exe, package[0]))


def test_older_refused(at, package):
    """The older version will not go over this one."""
    # 1603, a fatal error, cut to its low 8 bits by Wine. Wine's log has no room for the launch
    # condition's text (the tables test reads it), but names the newer version it found.
    version, older = package
    code, log = at.msiexec("/i", older)
    assert code == 1603 % 256 and "WIX_DOWNGRADE_DETECTED = {" in log, f"msiexec /i of {OLDER} over {version} exited with {code}"
    versions = [e["DisplayVersion"] for e in at.entries().values()]
    assert versions == [version], f"Programs and Features holds {versions}"


def test_installed_program(at):
    """The installed program: the guest box checked from the keyboard counts."""
    at.s.exe = at.exe
    run_scenario(at.s, GUEST_FROM_KEYBOARD)


def test_uninstall(at, args):
    """Uninstall: program, folder, shortcut and entry gone, settings kept."""
    def uninstall():
        code, log = at.msiexec("/x", args.msi)
        assert code == 0, f"msiexec /x exited with {code}: {log[-400:]}"
    settings_kept(at.s, uninstall)
    left = [str(p) for p in (at.folder, *at.shortcuts()) if p.exists()] + list(at.entries())
    assert not left, f"still there after the uninstall: {left}"


def test_upgrade(at, args, package):
    """Upgrade the older version to this one: one entry, settings kept."""
    version, older = package
    def upgrade():
        code, log = at.msiexec("/i", older)
        assert code == 0, f"msiexec /i of {OLDER} exited with {code}: {log[-400:]}"
        install(at, args.msi, args.exe, version)
    settings_kept(at.s, upgrade)

"""What the scenarios under Wine share: registry contents to seed, the tree an OK leaves, typing
as a person types, and one scenario run through the real dialog."""
from typing import NamedTuple, Optional

import pytest

from configtool.program import BINARY, CONNECT, DISCONNECT, DWORD, GUEST_ONLY, SZ, TEST_APP
from wine.processes import wait_for

OLD = [(".", GUEST_ONLY, DWORD, b"\1\0\0\0"), (CONNECT, TEST_APP, SZ, b"OLD.EXE\0"),
       (DISCONNECT, TEST_APP, SZ, b"OLDER.EXE\0")]
NOT_OURS = [(".", "Other", SZ, b"keep\0"), (CONNECT, "Other", BINARY, b"\1\2"),
            ("Extra", TEST_APP, SZ, b"X\0")]
LONG = "C:\\" + "A" * 250 + ".E"  # 255 characters


def tree(guest=False, connect=None, disconnect=None, extra=(), encoding="cp1252"):
    """The settings tree as the probe's dump reads (read_tree), after an OK with these results."""
    want = {(".",), (CONNECT,), (DISCONNECT,)}
    for path, name, kind, data in extra:
        want |= {(path,), (path, name, kind, data)}
    if guest:
        want.add((".", GUEST_ONLY, DWORD, b"\1\0\0\0"))
    for path, command in ((CONNECT, connect), (DISCONNECT, disconnect)):
        if command is not None:
            want.add((path, TEST_APP, SZ, command.encode(encoding) + bytes(1)))
    return want


def type_into(s, control, text, paste=False, encoding="cp1252"):
    """Replaces what a box holds, as a person would: click, select it all, then type or paste.
    Waits until the box shows the text in capitals and at most 255 characters."""
    if paste:
        s.probe("clip", text.encode(encoding).hex())
    s.click_control(control)
    s.screen.xdotool("key", "End", "shift+Home")
    s.screen.xdotool(*(["key", "ctrl+v"] if paste else ["type", "--delay", "5", text] if text else
                       ["key", "BackSpace"]))
    shown = text.upper()[:255].encode(encoding)
    seen = []
    wait_for(lambda: seen.append(s.dialog()["controls"][control]["bytes"]) or seen[-1] == shown,
             what=f"box {control} to show the text", last=lambda: f"it shows {seen[-1]!r}")


def press(*keys):
    """An action: these keys, one after the other."""
    return lambda s: [s.screen.xdotool("key", key) for key in keys]


def click(*controls):
    """An action: clicks on these controls, one after the other."""
    return lambda s: [s.click_control(control) for control in controls]


class Scenario(NamedTuple):
    name: str
    before: list  # the values seeded: (path below the settings key, name, type, bytes)
    actions: list  # each takes the session
    after: Optional[set]  # the tree afterwards; None: exactly as before
    closed: Optional[str] = None  # a key closed to everyone while the dialog is open

    def param(self):
        """The scenario as a pytest case, under its name; the closed ones marked closed_key."""
        return pytest.param(self, id=self.name, marks=[pytest.mark.closed_key] if self.closed else [])


GUEST_FROM_KEYBOARD = Scenario("focused guest box counts when checked from the keyboard", OLD,
                               [press("space", "Return")], tree(guest=True))


def run_scenario(s, scenario):
    name, before, actions, after, closed = scenario
    s.probe.reset(before)
    seeded = s.probe.dump()
    if closed:
        s.probe("deny", closed)
    s.launch()
    try:
        for action in actions:
            action(s)
        code = s.wait_for_exit()
    finally:
        if closed:
            s.probe("allow", closed)
    assert code == 0, f"{name}: exit code {code:#x}"
    got = s.probe.dump()
    want = seeded if after is None else after
    assert got == want, f"registry\n  only got  {sorted(got - want)}\n  only want {sorted(want - got)}"

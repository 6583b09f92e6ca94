"""The probe (driver/windows/probe.cpp) looks at ConfigTool from the Windows side. One serves a whole session
(a Wine start per look took most of the scenarios' time): it answers each command read on its
input with what it printed and a line "end STATUS"."""
import os
import re
import select
import time

from wine.errors import WineError
from wine.processes import last_words

END = re.compile(rb"(?:^|\n)end (-?\d+)\r?\n")


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


def read_dialog(out):
    """The probe's look at the dialog: window, foreground, WOW64, focus, tab order, controls by id."""
    state = {"controls": {}}
    for line in out.splitlines():
        word, *rest = line.split(" ")
        if word in ("handle", "focus"):
            state[word] = int(rest[0])
        elif word == "window":
            state["window"] = tuple(map(int, rest))
        elif word in ("foreground", "wow64"):
            state[word] = rest == ["1"]
        elif word == "tab":
            state["tab"] = [int(x) for x in rest]
        elif word == "control":
            number, left, top, right, bottom, check = map(int, rest[:6])
            text = bytes.fromhex(rest[6] if len(rest) > 6 else "")
            state["controls"][number] = {"rect": (left, top, right, bottom), "check": check,
                                         "bytes": text, "text": text.decode("latin-1")}
    return state


class Probe:
    def __init__(self, process):
        """process: the probe serving ("probe serve"), with pipes to its input and output."""
        self.process, self.answers = process, b""

    def ask(self, *args, timeout=60):
        """The answer to one command: (status, what it printed)."""
        command = " ".join(map(str, args))
        assert " " not in "".join(map(str, args)), f"a probe argument with a space: {command}"
        deadline = time.monotonic() + timeout
        if self.process.poll() is None:  # an ended one is reported below
            self.process.stdin.write(command.encode("latin-1") + b"\n")
            self.process.stdin.flush()
        while not END.search(self.answers):
            # Wine's background processes may hold the pipe open after the probe has ended.
            if self.process.poll() is not None:
                if select.select([self.process.stdout], [], [], 0)[0]:  # its last words
                    self.answers += os.read(self.process.stdout.fileno(), 65536)
                raise WineError(f"probe {command}: the probe ended with {self.process.poll():#x}: "
                                f"{last_words(self.answers.decode('latin-1'))}")
            if time.monotonic() > deadline:
                raise TimeoutError(f"probe {command}: no answer in {timeout} s")
            if select.select([self.process.stdout], [], [], 0.5)[0]:
                self.answers += os.read(self.process.stdout.fileno(), 65536)
        found = END.search(self.answers)
        text, self.answers = self.answers[:found.start(1) - 4], self.answers[found.end():]
        return int(found.group(1)), text.decode("latin-1").replace("\r\n", "\n")

    def __call__(self, *args, check=True):
        """What the command printed; a failed command is an error, unless check is off."""
        code, text = self.ask(*args)
        if check and code:
            raise WineError(f"probe {' '.join(map(str, args))} failed ({code}): {last_words(text)}")
        return text

    def dump(self):
        return read_tree(self("dump").splitlines())

    def reset(self, values=()):
        """values: (path below the settings key, name, type, bytes) tuples."""
        self("reset", *(str(part) if i % 4 != 3 else part.hex()
                        for value in values for i, part in enumerate(value)))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

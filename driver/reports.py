"""tools/test's closing line, from CTest's JUnit reports (build/PRESET-junit.xml): each report's
tests passed, failed or skipped (with the reason it said, "skipped: ..."), what they measured
("reliability: ..."), and a preset whose tests never finished, counted failed.
usage: reports.py LINT_STATUS PRESET...    in the source tree; exits 1 when anything failed"""
import collections
import pathlib
import sys
import xml.etree.ElementTree as ElementTree


def main(lint_status, presets):
    linted = int(lint_status) == 0
    counts = collections.Counter(passed=int(linted), failed=int(not linted))
    measured = set()
    for preset in presets:
        report = pathlib.Path(f"build/{preset}-junit.xml")
        if not report.exists():
            print(f"no report of {preset}'s tests: they did not finish")
            counts["failed"] += 1
            continue
        why = collections.defaultdict(list)
        for case in ElementTree.parse(report).getroot().iter("testcase"):
            status = {"run": "passed", "fail": "failed"}.get(case.get("status"), "skipped")
            counts[status] += 1
            lines = (case.findtext("system-out") or "").splitlines()
            measured |= {line[line.index("reliability: "):] for line in lines if "reliability: " in line}
            if status == "skipped":
                said = [line[len("skipped: "):] for line in lines if line.startswith("skipped: ")]
                why[said[0] if said else case.get("status")].append(case.get("name"))
        for reason, names in why.items():
            print(f"skipped in {preset}: {' '.join(names)} ({reason})")
    print("\n== reliability", *sorted(measured), "", sep="\n")
    print(f"tests: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))

#!/usr/bin/env python3
"""The closing count of `./dev test`: adds up the JUnit files that each
CTest run wrote, and the tests that were not run at all (the 32-bit Windows
suites on a machine that cannot start them), which count as skipped.

    test_summary.py RESULTS_DIR [NOT_RUN]

Prints one line per run and then `tests: P passed, F failed, S skipped`.
"""
import os
import sys
import xml.etree.ElementTree as ET


def count(path):
    passed = failed = skipped = 0
    for case in ET.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main():
    results = sys.argv[1]
    not_run = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else 0
    totals = [0, 0, not_run]
    for name in sorted(os.listdir(results)):
        if not name.endswith(".xml"):
            continue
        counts = count(os.path.join(results, name))
        print(f"  {name[:-4]:<32} {counts[0]:4} passed {counts[1]:4} failed {counts[2]:4} skipped")
        totals = [t + c for t, c in zip(totals, counts)]
    if not_run:
        print(f"  {'win32 (not run)':<32} {0:4} passed {0:4} failed {not_run:4} skipped")
    print(f"tests: {totals[0]} passed, {totals[1]} failed, {totals[2]} skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Adds up the test results of both tiers and prints the closing line "N passed, N failed".

Each gtest executable writes its XML into <build>/test-results; ctest writes its own junit file.
A test case counts once. An executable that ctest saw fail without a failing case in its XML
(a crash, a sanitizer report at exit, a time-out) counts as one failure of its own.
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    passed = failed = 0
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        return None
    for case in root.iter("testcase"):
        if case.find("failure") is not None:
            failed += 1
        elif case.get("status") == "notrun" or case.get("result") == "skipped":
            continue
        else:
            passed += 1
    return passed, failed


def tier(build):
    passed = failed = 0
    broken = []
    results = os.path.join(build, "test-results")
    junit = os.path.join(build, "ctest-junit.xml")
    outcomes = {}
    try:
        for case in ET.parse(junit).getroot().iter("testcase"):
            bad = case.get("status") not in ("run", "passed") or case.find("failure") is not None
            outcomes[case.get("name")] = not bad
    except (OSError, ET.ParseError):
        pass
    for name, ok in sorted(outcomes.items()):
        counts = gtest_counts(os.path.join(results, name + ".xml"))
        if counts is None:
            counts = (0, 0)
        passed += counts[0]
        failed += counts[1]
        if not ok and counts[1] == 0:
            failed += 1
            broken.append(name)
    return passed, failed, broken


def main():
    total_p = total_f = 0
    for build in sys.argv[1:]:
        p, f, broken = tier(build)
        print(f"{os.path.basename(build)}: {p} passed, {f} failed")
        for name in broken:
            print(f"  {name}: the executable failed (crash, time-out or sanitizer report)")
        total_p += p
        total_f += f
    print(f"{total_p} passed, {total_f} failed")
    return 1 if total_f else 0


if __name__ == "__main__":
    sys.exit(main())

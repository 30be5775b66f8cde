#!/usr/bin/env python3
"""Counts passed and failed test cases in JUnit/GoogleTest XML reports.

Usage: count_results.py LABEL REPORT.xml [REPORT.xml ...]
Prints "LABEL: N passed, N failed" and writes "N M 0" to stdout's last line
for the caller to add up. A missing or unreadable report counts as one
failure, so that a level that never ran cannot pass.

       count_results.py --wine-unit-tests HOST_UNIT_TESTS TESTS_HOST_DIR
Prints how many tests the Wine unit-test level holds: the host unit-test
program's tests (--gtest_list_tests) but those of the suites that
TESTS_HOST_DIR defines (they need the in-memory platform and are left out of
the Windows builds). Used to count a lane's tests as skipped.
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

SUITE = re.compile(r"^\s*(?:TEST|TEST_F|TEST_P)\(\s*(\w+)", re.M)


def wine_unit_tests(host_program, host_dir):
    host_only = set()
    for source in Path(host_dir).glob("*.cpp"):
        host_only.update(SUITE.findall(source.read_text(encoding="utf-8", errors="replace")))
    listing = subprocess.run([host_program, "--gtest_list_tests"], capture_output=True, text=True, check=True).stdout
    count = 0
    suite = None
    for line in listing.splitlines():
        if not line.startswith(" "):
            # "Suite." or "Instantiation/Suite." (parameterised)
            suite = line.split("#")[0].strip().rstrip(".").split("/")[-1]
        elif line.strip() and suite not in host_only:
            count += 1
    return count


def count(path):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as error:
        print(f"  cannot read {path}: {error}", file=sys.stderr)
        return 0, 1
    passed = failed = 0
    for case in root.iter("testcase"):
        status = case.get("status", "run")
        result = case.get("result", "completed")
        if status == "notrun" or result == "skipped" or case.find("skipped") is not None:
            continue
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        else:
            passed += 1
    if passed + failed == 0:
        print(f"  {path} holds no test case", file=sys.stderr)
        return 0, 1
    return passed, failed


def main():
    if sys.argv[1] == "--wine-unit-tests":
        print(wine_unit_tests(sys.argv[2], sys.argv[3]))
        return
    label, reports = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for report in reports:
        p, f = count(report)
        passed += p
        failed += f
    print(f"{label}: {passed} passed, {failed} failed")
    print(passed, failed, 0)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Counts passed and failed test cases in JUnit/GoogleTest XML reports.

Usage: count_results.py LABEL REPORT.xml [REPORT.xml ...]
Prints "LABEL: N passed, N failed" and writes "N M" to stdout's last line
for the caller to add up. A missing or unreadable report counts as one
failure, so that a level that never ran cannot pass.
"""
import sys
import xml.etree.ElementTree as ET


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
    label, reports = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for report in reports:
        p, f = count(report)
        passed += p
        failed += f
    print(f"{label}: {passed} passed, {failed} failed")
    print(passed, failed)


if __name__ == "__main__":
    main()

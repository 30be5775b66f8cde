#!/usr/bin/env python3
"""Runs the bootstrap's tests (test_*.py beside this file) and writes their
results as JUnit XML for scripts/lib/count_results.py.

    python3 tests/bootstrap/run.py --junit build/reports/bootstrap.xml [-k TEXT]

Prints one line per test, PASS or FAIL (with the traceback), and exits 0 only
when none failed.
"""

from __future__ import annotations

import argparse
import sys
import time
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

HERE = Path(__file__).resolve().parent


class Recorder(unittest.TestResult):
    def __init__(self) -> None:
        super().__init__()
        self.cases: list[tuple[str, float, str | None]] = []  # name, seconds, failure text
        self.started = 0.0

    def startTest(self, test) -> None:
        super().startTest(test)
        self.started = time.monotonic()

    def record(self, test, failure: str | None) -> None:
        name = test.id().split(".", 1)[-1]
        self.cases.append((name, time.monotonic() - self.started, failure))
        print(f"{'FAIL' if failure else 'PASS'} {name}" + (f"\n{failure}" if failure else ""), flush=True)

    def addSuccess(self, test) -> None:
        super().addSuccess(test)
        self.record(test, None)

    def addFailure(self, test, err) -> None:
        super().addFailure(test, err)
        self.record(test, self._exc_info_to_string(err, test))

    def addError(self, test, err) -> None:
        super().addError(test, err)
        self.record(test, self._exc_info_to_string(err, test))

    def addSubTest(self, test, subtest, err) -> None:
        super().addSubTest(test, subtest, err)
        if err is not None:
            self.record(subtest, self._exc_info_to_string(err, test))

def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--junit", required=True)
    parser.add_argument("-k", dest="pattern", help="only tests whose name holds this text")
    options = parser.parse_args()

    loader = unittest.TestLoader()
    if options.pattern:
        loader.testNamePatterns = [f"*{options.pattern}*"]
    sys.path.insert(0, str(HERE))
    suite = loader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
    result = Recorder()
    started = time.monotonic()
    suite.run(result)

    suite_element = ET.Element("testsuite", name="bootstrap", tests=str(len(result.cases)),
                               failures=str(sum(1 for case in result.cases if case[2])))
    for name, seconds, failure in result.cases:
        case = ET.SubElement(suite_element, "testcase", name=name, time=f"{seconds:.3f}")
        if failure:
            ET.SubElement(case, "failure", message=failure.strip().splitlines()[-1]).text = failure
    Path(options.junit).parent.mkdir(parents=True, exist_ok=True)
    ET.ElementTree(suite_element).write(options.junit, encoding="utf-8", xml_declaration=True)
    failed = sum(1 for case in result.cases if case[2])
    print(f"bootstrap: {len(result.cases) - failed} passed, {failed} failed in {time.monotonic() - started:.1f} s")
    return 1 if failed or not result.cases else 0


if __name__ == "__main__":
    sys.exit(main())

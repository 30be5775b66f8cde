#!/usr/bin/env python3
"""The sealed deployment figure's arithmetic and its report, on made-up runs
(no Wine): the floor is the sum of two medians, its interval resamples whole
rounds, and results.md says what the runs say.

    python3 bench/test_sealed_figure.py
"""

from __future__ import annotations

import argparse
import datetime
import math
import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import run_bench  # noqa: E402
from benchlib import report  # noqa: E402
from benchlib.stats import Series, ratio_interval  # noqa: E402


def series(*values: float) -> Series:
    return Series(list(values))


def sealed_results(subject, unsealed, hashing, native, files=1003, size=200_000_000):
    """A lane's results holding the sealed figure only, as a partial run leaves them."""
    args = argparse.Namespace(main_files=1000, file_bytes=200_000)
    results = run_bench.Results(started=datetime.datetime.now(datetime.timezone.utc), args=args,
                                lane=run_bench.LANES["64"], build=Path("build/bench-win64"))
    figure = run_bench.Figure(subject=series(*subject),
                              floor=series(*(u + h for u, h in zip(unsealed, hashing))))
    figure.extra = {"unsealed": series(*unsealed), "hash": series(*hashing), "native": series(*native),
                    "sealed copy": series(*(s * 0.8 for s in subject)),
                    "unsealed copy": series(*(u * 0.9 for u in unsealed))}
    results.sealed = figure
    results.sealed_files = files
    results.sealed_bytes = size
    results.native_tool = "sha256sum (GNU coreutils) 9.1"
    return results, args


class RatioInterval(unittest.TestCase):
    def test_drift_that_falls_on_both_sides_leaves_the_ratio_alone(self):
        # Each round runs 1x to 3x slower than the first, on both sides alike:
        # resampling whole rounds keeps every resampled ratio at 1.02, where
        # resampling the sides apart would spread it from about 0.4 to 2.5.
        drift = [1.0, 3.0, 1.5, 2.5, 2.0, 1.2, 2.8]
        cases = [  # (subject, parts)
            ([1.02 * d for d in drift], [[d for d in drift]]),
            ([1.02 * 1.5 * d for d in drift], [[d for d in drift], [0.5 * d for d in drift]]),
        ]
        for subject, parts in cases:
            with self.subTest(parts=len(parts)):
                low, high = ratio_interval(series(*subject), [series(*p) for p in parts])
                self.assertAlmostEqual(low, 1.02)
                self.assertAlmostEqual(high, 1.02)

    def test_noisy_rounds_give_an_interval_around_the_ratio_of_medians(self):
        subject = series(4.3, 4.0, 4.6, 4.1, 4.4, 3.9, 4.5, 4.2)
        unsealed = series(3.1, 2.9, 3.3, 3.0, 3.4, 2.8, 3.2, 3.0)
        hashing = series(1.0, 1.1, 0.9, 1.2, 1.0, 1.05, 0.95, 1.0)
        point = subject.median / (unsealed.median + hashing.median)
        low, high = ratio_interval(subject, [unsealed, hashing])
        self.assertLess(low, point)
        self.assertGreater(high, point)
        self.assertLess(high - low, 0.2)
        self.assertEqual((low, high), ratio_interval(subject, [unsealed, hashing]), "a fixed seed: the same runs, "
                         "the same interval")

    def test_runs_that_are_not_one_per_round_are_refused(self):
        cases = [
            (series(), [series()]),
            (series(1.0, 2.0), []),
            (series(1.0, 2.0), [series(1.0, 2.0), series(1.0)]),
            (series(1.0, 2.0), [series(1.0, 2.0, 3.0)]),
        ]
        for subject, parts in cases:
            with self.subTest(subject=len(subject), parts=[len(p) for p in parts]):
                with self.assertRaises(ValueError):
                    ratio_interval(subject, parts)


class SealedReport(unittest.TestCase):
    # The floor's medians fall in different rounds: the sum of the medians
    # (2 + 2 = 4) is not the median of the sums (11).
    UNSEALED = (1.0, 2.0, 10.0)
    HASHING = (10.0, 2.0, 1.0)

    def test_the_floor_is_the_sum_of_the_medians_and_the_goal_is_judged_on_it(self):
        cases = [  # (sealed runs, ratio, met?)
            ((4.2, 4.2, 4.2), 1.05, "yes"),
            ((4.0, 4.4, 4.8), 1.10, "**no**"),
            ((3.0, 3.6, 9.0), 0.90, "yes"),
        ]
        for subject, expected, met in cases:
            with self.subTest(subject=subject):
                results, args = sealed_results(subject, self.UNSEALED, self.HASHING, (0.5, 0.5, 0.5))
                self.assertAlmostEqual(report.sealed_floor(results.sealed), 4.0)
                self.assertAlmostEqual(report.sealed_ratio(results.sealed), expected)
                text = "\n".join(report.sealed_section([results], args))
                self.assertIn(f"| 64 | 3 | {subject[1]:.3f} s | 4.000 s (2.000 s + 2.000 s) | {expected:.3f} |", text)
                self.assertIn(f"| ≤ 1.05 | {met} |", text)

    def test_throughput_of_the_provider_beside_the_native_tool(self):
        results, args = sealed_results((3.0,) * 5, (2.0,) * 5, (1.0, 0.9, 1.0, 1.1, 1.0), (0.25, 0.3, 0.2, 0.25, 0.25))
        text = "\n".join(report.sealed_section([results], args))
        self.assertIn("| 1.000 s | 200 MB/s | 4.00 times as long |", text)
        self.assertIn("| native: sha256sum (GNU coreutils) 9.1, on Linux", text)
        self.assertIn("| 0.250 s | 800 MB/s | 1 |", text)
        self.assertIn("the 1,003 sealed files (200,000,000 bytes)", text)
        self.assertIn("sealed − unsealed, whole process: what the seal costs the run | 1.000 s |", text)

    def test_a_lane_without_the_figure_gets_no_section(self):
        results, args = sealed_results((3.0,) * 5, (2.0,) * 5, (1.0,) * 5, (0.25,) * 5)
        results.sealed = None
        self.assertEqual(report.sealed_section([results], args), [])
        self.assertNotIn("sealed", report.raw(results))

    def test_a_partial_run_prints_the_figure(self):
        results, _args = sealed_results((4.2, 4.2, 4.2), self.UNSEALED, self.HASHING, (0.5, 0.4, 0.6))
        text = report.raw(results)
        self.assertIn("sealed subject: median 4.2 over 3", text)
        self.assertIn("sealed ratio to unsealed + hashing (medians) 1.050", text)
        self.assertIn("bcrypt.dll under Wine 100 MB/s, sha256sum 400 MB/s", text)


class LoggedCheck(unittest.TestCase):
    FIRST, LAST = "copy finished: ", "the install folder matches the seal: "

    def test_the_span_between_two_lines_of_the_run_log(self):
        log = [
            "2026-12-09 23:59:58.100 setup.exe 1.1.0.0 (64-bit) started: C:\\Bench\\Sealed\\setup.exe",
            "2026-12-09 23:59:58.200 the install folder matches the seal: stray, before the copy",
            "2026-12-09 23:59:59.250 copy finished: 1004 copied, 0 passed over, 0 failed, 0 not sealed",
            "2026-12-09 23:59:59.300 in the install folder but not sealed, left as it is: x",
            "2026-12-10 00:00:01.050 the install folder matches the seal: 1003 sealed files",
            "2026-12-10 00:00:02.000 copy finished: a second one is not a start",
        ]
        cases = [  # (lines, seconds; None: NaN)
            (log, 1.8),
            (["\ufeff" + log[0], "a line the log's format does not have", *log[1:]], 1.8),
            (log[:4], None),
            ([log[0], log[4]], None),
            ([], None),
        ]
        for lines, expected in cases:
            with self.subTest(lines=len(lines)):
                span = run_bench.logged_span("\n".join(lines), self.FIRST, self.LAST)
                if expected is None:
                    self.assertTrue(math.isnan(span), span)
                else:
                    self.assertAlmostEqual(span, expected)


class Parts(unittest.TestCase):
    def test_a_part_that_does_not_exist_is_refused(self):
        for parts in ("sealde", "deploy,seal", "sealed,"):
            with self.subTest(parts=parts):
                done = subprocess.run([sys.executable, str(HERE / "run_bench.py"), "--parts", parts],
                                      capture_output=True, text=True)
                self.assertEqual(done.returncode, 2)
                self.assertIn("no such part", done.stderr)


if __name__ == "__main__":
    unittest.main()

"""Helpers of the benchmarks (scripts/bench): timing schedules and medians,
an inotify watch for timing a copy from outside, and the link-map reading."""

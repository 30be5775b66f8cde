#!/usr/bin/env python3
"""What the run log costs: a fresh deployment of 1,000 files by setup.exe,
with and without `/LOG="path"`, in each Wine lane the host can run.

    xvfb-run -a python3 bench/log_cost.py --build build/bench-win32 --build build/bench-win64 [--runs 40]

Runs alternate (plain, logged, logged, plain, ...) in one fresh prefix per
lane and placement; each run deploys into an emptied install folder (the
service is never registered, so every run installs), timed by
launch_timer.exe from CreateProcess to the end of the process.

Two placements of the prefix (`--places`): on the disk, as an installation
runs, and in memory (a tmpfs under /dev/shm). On the disk the copy waits on
the device and the runs spread widely; in memory the copy costs least, so
the log's share of the run is largest there and its ratio is the tighter
bound on what the log costs.

Writes its table into bench/results.md between the markers of its section
(added at the end when missing; `scripts/bench` runs this after
run_bench.py, which keeps the section). A measurement, not a test: the goal
(at most 3% more with the log) is stated, not enforced.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))  # the harness, used as a library
sys.path.insert(0, str(HERE))

from benchlib.stats import Series, alternating, median_interval, paired_ratios, ratio  # noqa: E402
from harness.context import Context, Tools, win_join, write_ini  # noqa: E402
from harness.firmware import simple_package  # noqa: E402
from harness.lanes import lane_of_build, why_not  # noqa: E402
from harness.wine import Template  # noqa: E402

BEGIN = "<!-- log-cost: written by bench/log_cost.py -->"
END = "<!-- /log-cost -->"
SETUP_DIR = r"C:\Bench\LogCost"
TIMER = r"C:\Bench\Tools\launch_timer.exe"
LOG_LINES = r"C:\Bench\Tools\log_lines.exe"
LOG_LINES_FILE = r"C:\Bench\loglines.log"
LOG = r"C:\Bench\logcost.log"
SETTINGS = {
    "ServiceName": "FanCtlBenchLogCost",
    "InstallPath": r"Fan\BenchLogCost",
    "RegistryKey": r"Software\FanCtlBench\LogCost",
    "Execution": "standin_service.exe",
    "version": "1.0",
}
GOAL = 1.03
MEMORY = Path("/dev/shm")
PLACES = ("disk", "memory")


def measure(build: Path, files: int, file_bytes: int, runs: int, place: str) -> dict:
    lane = lane_of_build(build)
    if place == "memory":
        # The prefix is copied with hard links, so the template must be on the
        # same file system: booted afresh in memory, and removed with the run.
        scratch = Path(tempfile.mkdtemp(prefix="fansetup-logcost-", dir=MEMORY))
        template = Template(scratch / "template", lane)
        work = scratch / "run"
    else:
        scratch = None
        template = Template(build / "bench-log" / "template", lane)
        work = build / "bench-log" / f"run-{os.getpid()}"
    template.ensure(log=lambda text: print(text, flush=True))
    prefix = template.copy_to(work)
    tools = Tools(setup=build / "setup/setup.exe", runner=build / "tools/runner.exe",
                  regdump=build / "tools/regdump.exe", standin_service=build / "tools/standin_service.exe",
                  standin_component=build / "tools/standin_component.exe")
    ctx = Context(name="log-cost", prefix=prefix, tools=tools)
    try:
        ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
        folder = ctx.host_path(SETUP_DIR)
        folder.mkdir(parents=True)
        shutil.copy2(tools.setup, folder / "setup.exe")
        shutil.copy2(tools.standin_service, folder / "standin_service.exe")
        write_ini(folder / "setup.ini", {"Common": SETTINGS})
        # The stand-in service registers no service, so every run installs again.
        write_ini(folder / "standin_service.ini", {"Service": {"Register": "0"}})
        block = os.urandom(file_bytes)
        for i in range(files):
            (folder / f"payload{i:05d}.bin").write_bytes(block)
        timer = ctx.host_path(TIMER)
        timer.parent.mkdir(parents=True)
        shutil.copy2(build / "tools/launch_timer.exe", timer)
        shutil.copy2(build / "tools/log_lines.exe", ctx.host_path(LOG_LINES))
        target = ctx.host_path(win_join(lane.program_files, SETTINGS["InstallPath"], SETTINGS["version"]))
        programs = {"plain": [], "logged": [f"/LOG={LOG}"]}
        times = {"plain": Series(), "logged": Series()}
        lines = 0
        # The first two runs warm the caches and are not counted.
        for round_number, name in enumerate(["plain", "logged"] + alternating(["plain", "logged"], runs)):
            if target.exists():
                shutil.rmtree(target)
            os.sync()
            command = prefix.command([TIMER, "--timeout-ms", "120000", win_join(SETUP_DIR, "setup.exe"),
                                      *programs[name]])
            with tempfile.TemporaryFile() as out:
                subprocess.run(command, env=prefix.env(), stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.DEVNULL, timeout=300, check=False)
                out.seek(0)
                last = [line for line in out.read().decode("latin-1").splitlines() if line.startswith("{")][-1]
            result = json.loads(last)
            copied = sum(1 for _ in target.iterdir()) if target.exists() else 0
            if result["exitCode"] != 0 or result["timedOut"] or copied < files + 3:
                raise RuntimeError(f"{name} run ended with {result}, {copied} files deployed")
            if name == "logged":
                lines = len(ctx.host_path(LOG).read_bytes().splitlines())
            print(f"log cost, lane {lane.name}, prefix {place}: run {round_number + 1}, {name}: "
                  f"{result['us'] / 1e6:.3f} s{'' if round_number >= 2 else ' (warming, not counted)'}", flush=True)
            if round_number >= 2:
                times[name].add(result["us"] / 1e6)
        writes = own_writes(prefix, lines)
        plain, logged = times["plain"], times["logged"]
        # Each round ran one of each, next to each other: the ratio within a
        # round leaves out what drifts slowly (the device, the page cache).
        paired = paired_ratios(logged, plain)
        return {"lane": lane.name, "place": place, "plain": plain.median, "logged": logged.median,
                "ratio": ratio(logged, plain), "runs": runs, "lines": lines,
                "spread_plain": (plain.low, plain.high), "spread_logged": (logged.low, logged.high),
                "paired": (statistics.median(paired), min(paired), max(paired)),
                "paired_interval": median_interval(paired), "writes": writes}
    finally:
        prefix.stop()
        shutil.rmtree(work, ignore_errors=True)
        if scratch is not None:
            shutil.rmtree(scratch, ignore_errors=True)


def own_writes(prefix, lines: int, runs: int = 5) -> float:
    """Seconds that the log's own work takes for `lines` lines (median of
    `runs`): log_lines.exe opens a log beside the measured one and writes as
    many lines of the same shape through the product's RunLog, timed inside
    the process, so neither Wine's start-up nor the copy's spread is in it."""
    spent = []
    for _ in range(runs):
        done = subprocess.run(prefix.command([LOG_LINES, LOG_LINES_FILE, str(lines)]), env=prefix.env(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=False)
        out = [line for line in done.stdout.decode("latin-1").splitlines() if line.startswith("{")]
        if done.returncode != 0 or not out:
            raise RuntimeError(f"log_lines.exe ended with {done.returncode}: {done.stderr.decode('latin-1')}")
        spent.append(json.loads(out[-1])["us"] / 1e6)
    return statistics.median(spent)


def section(rows: list[dict], skipped: list[str], files: int, file_bytes: int, note: str) -> str:
    out = [BEGIN, "", "## The run log's cost (`setup.exe /LOG`)", "",
           f"A fresh deployment of {files:,} files of {file_bytes:,} bytes, whole process timed by "
           f"`launch_timer.exe`, median of alternating runs, each into an emptied install folder; measured "
           f"{datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')} by "
           f"`bench/log_cost.py`. Goal: with the log at most {GOAL:.2f} times the run without it "
           "(ratio of the medians). The prefix was placed on the disk, as an installation runs, and in "
           "memory, where the copy costs least and the log's share of the run is largest. Paired: each "
           "logged run over the plain run of its round (median, lowest to highest). The log's own writes: "
           "`log_lines.exe` writes as many lines of the same shape through the product's run log, timed "
           "inside its process (median of 5), against the run without /LOG.", "",
           "| Lane | prefix | runs per side | without /LOG (s) | with /LOG (s) | ratio | paired | goal met "
           "| log lines | the log's own writes |",
           "|---|---|---|---|---|---|---|---|---|---|"]
    for row in rows:
        paired = row["paired"]
        out.append(f"| {row['lane']} | {row['place']} | {row['runs']} | {row['plain']:.3f} "
                   f"({row['spread_plain'][0]:.3f} to {row['spread_plain'][1]:.3f}) | {row['logged']:.3f} "
                   f"({row['spread_logged'][0]:.3f} to {row['spread_logged'][1]:.3f}) | {row['ratio']:.3f} | "
                   f"{paired[0]:.3f} ({paired[1]:.3f} to {paired[2]:.3f}) | "
                   f"{'yes' if row['ratio'] <= GOAL else 'no'} | {row['lines']} | "
                   f"{row['writes'] * 1e3:.1f} ms ({row['writes'] / row['plain'] * 100:.2f} %) |")
    for reason in skipped:
        out.append(f"| {reason} | | | | | | | | | |")
    if rows:
        out.append("")
    for row in rows:
        share = row["writes"] / row["plain"]
        low, high = row["paired_interval"]
        out.append(f"- lane {row['lane']}, prefix {row['place']}: the log's own writes are {share * 100:.2f} % "
                   f"of the run without it (a ratio of {1 + share:.3f}). The median of the paired ratios lies "
                   f"between {low:.3f} and {high:.3f} (90 %, by resampling the rounds): whole runs resolve the "
                   "log's cost no finer than that, and what they show beyond the log's own writes is the spread "
                   "of the runs.")
    if note:
        out += ["", note]
    out += ["", END]
    return "\n".join(out) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, action="append", required=True)
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--file-bytes", type=int, default=200_000)
    parser.add_argument("--runs", type=int, default=40, help="runs per side and placement (default 40)")
    parser.add_argument("--places", default="disk,memory",
                        help="where the prefix goes: disk, memory or both (default disk,memory)")
    parser.add_argument("--skipped", action="append", default=[], metavar="LANE=REASON",
                        help="a lane not run, for the table")
    parser.add_argument("--out", type=Path, default=HERE / "results.md")
    parser.add_argument("--note", default="", help="a remark printed below the table (what else ran, say)")
    args = parser.parse_args()
    if args.runs < 3 or args.files < 1:
        parser.error("--runs must be at least 3 and --files at least 1")
    places = [place for place in args.places.split(",") if place]
    unknown = [place for place in places if place not in PLACES]
    if unknown or not places:
        parser.error(f"--places takes {', '.join(PLACES)}; not {', '.join(unknown) or 'nothing'}")
    if "memory" in places and not MEMORY.is_dir():
        print(f"log cost: no {MEMORY} on this host: measured on the disk only", flush=True)
        places = [place for place in places if place != "memory"] or ["disk"]
    rows = []
    skipped = [f"{lane}: skipped ({reason})" for lane, _, reason in
               (entry.partition("=") for entry in args.skipped)]
    for build in args.build:
        lane = lane_of_build(build.resolve())
        reason = why_not(lane.name)
        if reason:
            print(f"log cost: lane {lane.name} skipped: {reason}", flush=True)
            skipped.append(f"{lane.name}: skipped ({reason})")
            continue
        for place in places:
            row = measure(build.resolve(), args.files, args.file_bytes, args.runs, place)
            print(f"log cost, lane {row['lane']}, prefix {place}: {row['plain']:.3f} s without /LOG, "
                  f"{row['logged']:.3f} s with (ratio {row['ratio']:.3f}, paired {row['paired'][0]:.3f}, "
                  f"goal {GOAL}); the log's own writes {row['writes'] * 1e3:.1f} ms", flush=True)
            rows.append(row)
    text = args.out.read_text() if args.out.exists() else ""
    new = section(rows, skipped, args.files, args.file_bytes, args.note)
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + new + text[text.index(END) + len(END) + 1:]
    else:
        text = text.rstrip("\n") + "\n\n" + new
    args.out.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())

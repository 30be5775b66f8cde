#!/usr/bin/env python3
"""What the run log costs: a fresh deployment of 1,000 files by setup.exe,
with and without `/LOG="path"`, in each Wine lane the host can run.

    xvfb-run -a python3 bench/log_cost.py --build build/bench-win32 --build build/bench-win64 [--runs 8]

Runs alternate (plain, logged, logged, plain, ...) in one fresh prefix per
lane; each run deploys into an emptied install folder (the service is never
registered, so every run installs), timed by launch_timer.exe from
CreateProcess to the end of the process. Writes its table into
bench/results.md between the markers of its section (added at the end when
missing). A measurement, not a test: the goal (at most 3% more with the log)
is stated, not enforced.
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
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))

from harness.context import Context, Tools, win_join, write_ini  # noqa: E402
from harness.firmware import simple_package  # noqa: E402
from harness.lanes import lane_of_build, why_not  # noqa: E402
from harness.wine import Template  # noqa: E402

BEGIN = "<!-- log-cost: written by bench/log_cost.py -->"
END = "<!-- /log-cost -->"
SETUP_DIR = r"C:\Bench\LogCost"
TIMER = r"C:\Bench\Tools\launch_timer.exe"
LOG = r"C:\Bench\logcost.log"
SETTINGS = {
    "ServiceName": "FanCtlBenchLogCost",
    "InstallPath": r"Fan\BenchLogCost",
    "RegistryKey": r"Software\FanCtlBench\LogCost",
    "Execution": "standin_service.exe",
    "version": "1.0",
}
GOAL = 1.03


def alternating(rounds: int) -> list[str]:
    order = []
    for r in range(rounds):
        order.extend(["plain", "logged"] if r % 2 == 0 else ["logged", "plain"])
    return order


def measure(build: Path, files: int, file_bytes: int, runs: int) -> dict:
    lane = lane_of_build(build)
    template = Template(build / "bench-log" / "template", lane)
    template.ensure(log=lambda text: print(text, flush=True))
    work = build / "bench-log" / f"run-{os.getpid()}"
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
        target = ctx.host_path(win_join(lane.program_files, SETTINGS["InstallPath"], SETTINGS["version"]))
        programs = {"plain": [], "logged": [f"/LOG={LOG}"]}
        times: dict[str, list[float]] = {"plain": [], "logged": []}
        lines = 0
        for round_number, name in enumerate(["plain", "logged"] + alternating(runs)):
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
            if round_number >= 2:  # the first two warm the caches
                times[name].append(result["us"] / 1e6)
        plain, logged = statistics.median(times["plain"]), statistics.median(times["logged"])
        return {"lane": lane.name, "plain": plain, "logged": logged, "ratio": logged / plain, "runs": runs,
                "lines": lines, "spread_plain": (min(times["plain"]), max(times["plain"])),
                "spread_logged": (min(times["logged"]), max(times["logged"]))}
    finally:
        prefix.stop()
        shutil.rmtree(work, ignore_errors=True)


def section(rows: list[dict], skipped: list[str], files: int, file_bytes: int, note: str) -> str:
    out = [BEGIN, "", "## The run log's cost (`setup.exe /LOG`)", "",
           f"A fresh deployment of {files:,} files of {file_bytes:,} bytes, whole process timed by "
           f"`launch_timer.exe`, median of alternating runs, each into an emptied install folder; measured "
           f"{datetime.date.today().isoformat()} by `bench/log_cost.py`. "
           f"Goal: with the log at most {GOAL:.2f} times the run without it.", "",
           "| Lane | runs per side | without /LOG (s) | with /LOG (s) | ratio | goal met | log lines |",
           "|---|---|---|---|---|---|---|"]
    for row in rows:
        out.append(f"| {row['lane']} | {row['runs']} | {row['plain']:.3f} ({row['spread_plain'][0]:.3f} to "
                   f"{row['spread_plain'][1]:.3f}) | {row['logged']:.3f} ({row['spread_logged'][0]:.3f} to "
                   f"{row['spread_logged'][1]:.3f}) | {row['ratio']:.3f} | "
                   f"{'yes' if row['ratio'] <= GOAL else 'no'} | {row['lines']} |")
    for reason in skipped:
        out.append(f"| {reason} | | | | | | |")
    if note:
        out += ["", note]
    out += ["", END]
    return "\n".join(out) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, action="append", required=True)
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--file-bytes", type=int, default=200_000)
    parser.add_argument("--runs", type=int, default=8)
    parser.add_argument("--out", type=Path, default=HERE / "results.md")
    parser.add_argument("--note", default="", help="a remark printed below the table (what else ran, say)")
    args = parser.parse_args()
    rows, skipped = [], []
    for build in args.build:
        lane = lane_of_build(build.resolve())
        reason = why_not(lane.name)
        if reason:
            print(f"log cost: lane {lane.name} skipped: {reason}", flush=True)
            skipped.append(f"{lane.name}: skipped ({reason})")
            continue
        row = measure(build.resolve(), args.files, args.file_bytes, args.runs)
        print(f"log cost, lane {row['lane']}: {row['plain']:.3f} s without /LOG, {row['logged']:.3f} s with "
              f"(ratio {row['ratio']:.3f}, goal {GOAL})", flush=True)
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

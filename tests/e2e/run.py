#!/usr/bin/env python3
"""Runs the end-to-end cases: the real setup.exe under Wine, one fresh prefix per case.

    xvfb-run -a python3 tests/e2e/run.py --build build/win32 [-j N] [-k substring ...] [--keep]
                                         [--setup-exe PATH]
    xvfb-run -a python3 tests/e2e/run.py --build build/win64 ...

The build folder's preset names the lane (32 or 64, harness/lanes.py), or
--lane does. Prints one line per case and ends with "e2e: N passed, N
failed, N skipped"; the exit code is 0 only when no case failed. A lane that
this host cannot run skips every case, with the reason. See README.md
beside this file.
"""

from __future__ import annotations

import argparse
import importlib
import os
import shutil
import sys
import threading
import time
import traceback
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pefile

HERE = Path(__file__).resolve().parent
SOURCE_ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE))

from harness.cases import REGISTRY, CaseEntry  # noqa: E402
from harness.context import CaseFailure, CaseSkip, Context, Tools  # noqa: E402
from harness.lanes import LANES, Lane, lane_of_build, layout_note, why_not  # noqa: E402
from harness.wine import Template, WineError  # noqa: E402


def discover() -> list[CaseEntry]:
    for path in sorted((HERE / "cases").glob("*.py")):
        if not path.name.startswith("_"):
            importlib.import_module(f"cases.{path.stem}")
    return list(REGISTRY)


def find_tools(build: Path, setup_exe: Path | None = None) -> tuple[Tools | None, list[str]]:
    def exe(relative: str) -> Path:
        return build / relative

    required = {
        "setup": setup_exe or exe("setup/setup.exe"),
        "runner": exe("tools/runner.exe"),
        "regdump": exe("tools/regdump.exe"),
        "standin_service": exe("tools/standin_service.exe"),
    }
    missing = [str(p) for p in required.values() if not p.is_file()]
    # A tool that exists in the source tree must be built: a missing build is
    # an error of the build. One that does not exist yet skips its cases.
    optional = {}
    for name in ("standin_component", "export_client", "file_holder", "header_caller", "object_holder"):
        optional[name] = exe(f"tools/{name}.exe") if (SOURCE_ROOT / "tools" / name).is_dir() else None
    if missing:
        return None, missing
    return Tools(**optional, **required), []


def pe_machine(path: Path) -> str | None:
    """i386 or amd64, after the machine field of a PE image's file header."""
    try:
        machine = pefile.PE(data=path.read_bytes(), fast_load=True).FILE_HEADER.Machine
    except pefile.PEFormatError:
        return None
    return {pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: "i386",
            pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: "amd64"}.get(machine)


class Outcome:
    def __init__(self, name: str, status: str, detail: str, seconds: float):
        self.name, self.status, self.detail, self.seconds = name, status, detail, seconds


def run_case(entry: CaseEntry, tools: Tools, template: Template, runs_dir: Path, keep: bool) -> Outcome:
    started = time.monotonic()
    lane_skip = entry.skip_reason(template.lane.name)
    if lane_skip:
        return Outcome(entry.name, "SKIP", lane_skip, 0.0)
    if entry.needs_component and tools.standin_component is None:
        return Outcome(entry.name, "SKIP", "needs the stand-in component; tools/standin_component/ does not exist yet",
                       0.0)
    if entry.needs_component and not tools.standin_component.is_file():
        return Outcome(entry.name, "FAIL", f"{tools.standin_component} is not built", 0.0)
    safe = "".join(c if c.isalnum() or c in "._-" else "_" for c in entry.name)
    prefix = template.copy_to(runs_dir / safe)
    ctx = Context(name=entry.name, prefix=prefix, tools=tools)
    status, detail = "PASS", ""
    try:
        entry.func(ctx, **entry.kwargs)
        if ctx.notes:
            detail = "; ".join(ctx.notes)
    except CaseSkip as skip:
        status, detail = "SKIP", str(skip)
    except CaseFailure as failure:
        status, detail = "FAIL", str(failure)
    except WineError as error:
        status, detail = "FAIL", f"harness: {error}"
    except Exception:  # a fault of the case itself is a failure too
        status, detail = "FAIL", "error in the case:\n" + traceback.format_exc()
    finally:
        try:
            prefix.stop()
        except Exception as error:  # noqa: BLE001
            status, detail = "FAIL", f"{detail}; could not stop the prefix: {error}"
        if keep:
            detail = (detail + "; " if detail else "") + f"prefix kept at {prefix.path}"
        else:
            shutil.rmtree(prefix.path, ignore_errors=True)
    return Outcome(entry.name, status, detail, time.monotonic() - started)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, type=Path, help="the win32 or win64 build tree")
    parser.add_argument("--lane", choices=sorted(LANES), help="the Wine lane (default: the build's)")
    parser.add_argument("-j", type=int, default=os.cpu_count() or 2, help="cases run at once")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="run only cases whose name holds this text (given more than once: any of them)")
    parser.add_argument("--keep", action="store_true", help="keep each case's prefix")
    parser.add_argument("--setup-exe", type=Path,
                        help="test this setup.exe (e.g. a signed release image) instead of the build's; "
                             "it must be of the build's architecture")
    args = parser.parse_args()

    build = args.build.resolve()
    lane: Lane = LANES[args.lane] if args.lane else lane_of_build(build)
    patterns = args.patterns or [""]
    cases = [c for c in discover() if any(p in c.name for p in patterns)]
    if not cases:
        print(f"e2e: no case matches {' or '.join(map(repr, patterns))}", file=sys.stderr)
        return 2
    reason = why_not(lane.name)
    if reason:
        # Counted, never silently left out.
        print(f"SKIP lane {lane.name}: all {len(cases)} cases: {reason}")
        print(f"e2e: 0 passed, 0 failed, {len(cases)} skipped in 0.0 s (lane {lane.name})")
        return 0
    if not os.environ.get("DISPLAY"):
        print("e2e: no X display (DISPLAY is not set). setup.exe's message boxes need one: "
              "run under `xvfb-run -a python3 tests/e2e/run.py ...`", file=sys.stderr)
        return 2
    missing = [program for program in (lane.command[0], lane.server[0]) if shutil.which(program) is None]
    if missing:
        print(f"e2e: lane {lane.name} needs {' and '.join(missing)}", file=sys.stderr)
        return 2
    setup_exe = args.setup_exe.resolve() if args.setup_exe else None
    if setup_exe and setup_exe.is_file() and pe_machine(setup_exe) != lane.machine:
        print(f"e2e: {setup_exe} is not an {lane.machine} image, which lane {lane.name} runs", file=sys.stderr)
        return 2
    tools, missing = find_tools(build, setup_exe)
    if tools is None:
        print("e2e: not built: " + ", ".join(missing) + f" (build {build} first)", file=sys.stderr)
        return 2

    print(f"e2e: {layout_note()}", flush=True)
    if setup_exe:
        print(f"e2e: setup.exe under test: {setup_exe}", flush=True)
    started = time.monotonic()
    template = Template(build / "e2e" / "template", lane)
    try:
        template.ensure()
    except WineError as error:
        print(f"e2e: cannot make the template prefix: {error}", file=sys.stderr)
        return 2
    runs_dir = build / "e2e" / "runs" / f"{os.getpid()}"
    runs_dir.mkdir(parents=True)

    lock = threading.Lock()
    outcomes: list[Outcome] = []

    def one(entry: CaseEntry) -> None:
        outcome = run_case(entry, tools, template, runs_dir, args.keep)
        with lock:
            outcomes.append(outcome)
            line = f"{outcome.status} {outcome.name} ({outcome.seconds:.1f} s)"
            if outcome.detail:
                line += ": " + outcome.detail
            print(line, flush=True)

    with ThreadPoolExecutor(max_workers=max(1, args.j)) as pool:
        list(pool.map(one, cases))

    if not args.keep:
        shutil.rmtree(runs_dir, ignore_errors=True)
    # A case that wrote into the template through a hard link shows here.
    damaged = template.problem()
    counts = {s: sum(o.status == s for o in outcomes) for s in ("PASS", "FAIL", "SKIP")}
    if damaged:
        print(f"FAIL harness: the template prefix was changed by this run ({damaged})")
        counts["FAIL"] += 1
    print(f"e2e: {counts['PASS']} passed, {counts['FAIL']} failed, {counts['SKIP']} skipped "
          f"in {time.monotonic() - started:.1f} s (lane {lane.name})")
    return 0 if counts["FAIL"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

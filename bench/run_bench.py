#!/usr/bin/env python3
"""Benchmarks of setup.exe under Wine, each against a floor program that makes
only the platform calls the same work must make (tools/bench_baseline).

    xvfb-run -a python3 bench/run_bench.py --build build/bench-win32 [--build build/bench-win64]
                                           [--skipped LANE=REASON] [--out bench/results.md]

One release tree per Wine lane (tests/e2e/harness/lanes.py): the lane of
each comes from --lane (in the order of the --build options) or is judged
from the tree. scripts/bench builds the trees of the lanes this machine can
run and runs this. The lanes are measured one after the other, each in one
fresh Wine prefix of its own, run by the lane's loader, and written to one
report; within a lane, subject and floor runs alternate (A B, B A, ...) so
that drift of the machine's speed falls on both alike:

  bridge      one AcpiGetItem call through setup.exe's export
              (tools/export_client) against bridge_floor.exe; many calls per
              process, per-call medians, the component kept warm
  no-op run   setup.exe with the version installed and the service present,
              against noop_floor.exe; whole processes timed by
              launch_timer.exe from CreateProcess to their end
  deployment  a fresh install run of setup.exe against copy_floor.exe (one
              CopyFileA per file); the copy is timed from outside by inotify
              on the target folder, first file created to last file closed;
              the whole processes are timed too
  sealed      at the main payload only: the same fresh install by a
              setup.exe sealed over its program folder (scripts/seal), which
              checks every listed file in the install folder before the
              launch, against the unsealed run plus hash_floor.exe hashing
              the same files there; whole processes; beside it, the
              provider's throughput under Wine against sha256sum's natively
  size        setup.exe as built, with a link map of what takes the space

and the no-op run and the deployment again for each payload size, to show
how they grow. Writes the results as Markdown. These are measurements, not
tests: nothing here passes or fails on a time.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE_ROOT = HERE.parent
sys.path.insert(0, str(SOURCE_ROOT / "tests" / "e2e"))  # the harness, used as a library
sys.path.insert(0, str(HERE))

from benchlib import linkmap, report  # noqa: E402
from benchlib.inotify import FolderWatch, copy_profile  # noqa: E402
from benchlib.logwatch import LogWatch  # noqa: E402
from benchlib.stats import Series, alternating  # noqa: E402
from harness.context import COMPONENT_DIR, Context, Tools, win_join, write_ini  # noqa: E402
from harness.firmware import simple_package  # noqa: E402
from harness.lanes import LANES, Lane, lane_of_build, why_not  # noqa: E402
from harness.wine import Prefix, Template, WineError  # noqa: E402

TOOLS_DIR = r"C:\Bench\Tools"
NOOP_DIR = r"C:\Bench\NoOp"
DEPLOY_DIR = r"C:\Bench\Deploy"
# The deployment program folder's files again (hard links), with setup.exe
# sealed over them: the same fresh install into the same install folder.
SEALED_DIR = r"C:\Bench\Sealed"
SEALED_LOG = r"C:\Bench\sealed.log"
POOL_DIR = r"C:\Bench\Pool"
# The no-op floor once more, in a folder of its own that holds nothing else
# but setup.ini: shows what the size of the program folder costs.
NOOP_CLEAN_DIR = r"C:\Bench\NoOpClean"

NOOP_SETTINGS = {
    "ServiceName": "FanCtlBenchNoOp",
    "InstallPath": r"Fan\BenchNoOp",
    "RegistryKey": r"Software\FanCtlBench\NoOp",
    "Execution": "standin_service.exe",
    "version": "1.0",
}
# The service is never registered, so every run of setup.exe here finds it
# missing and deploys again, the same way each time.
DEPLOY_SETTINGS = {
    "ServiceName": "FanCtlBenchDeploy",
    "InstallPath": r"Fan\BenchDeploy",
    "RegistryKey": r"Software\FanCtlBench\Deploy",
    "Execution": "standin_service.exe",
    "version": "1.0",
}


def deploy_target(lane: Lane) -> str:
    """The install folder of the deployment runs: below the program-files
    folder that a program of the lane's bitness is given."""
    return win_join(lane.program_files, DEPLOY_SETTINGS["InstallPath"], DEPLOY_SETTINGS["version"])


GET_ITEM = 7
GET_ITEM_VALUE = 0x1234
FIRMWARE_WORD = 0x0300

# How long one timed run may take before the launcher ends it as hung.
BRIDGE_TIMEOUT = 90
NOOP_TIMEOUT = 30
# A component log that stands still this long in the middle of a call (between
# the creation of an instance and its release, normally milliseconds) is
# taken as a hung client.
WEDGE_SECONDS = 5
# How often one timed run is made before a hang ends the benchmark. Hangs
# come in bursts (one after a few dozen client processes, the next within
# seconds of the restart), seen three in a row on a quiet machine.
LAUNCH_ATTEMPTS = 5
DEPLOY_TIMEOUT_BASE = 60
DEPLOY_TIMEOUT_PER_FILE = 0.02

BENCH_TOOLS = ("launch_timer", "bridge_floor", "noop_floor", "noop_floor_linked", "noop_floor_admin", "copy_floor",
               "copy_floor_admin", "hash_floor")
PARTS = ("size", "bridge", "noop", "deploy", "sealed")
HASH_TIMEOUT = 120
# The SHA-256 of the same files on the Linux side, for the provider's throughput.
NATIVE_SHA256 = "sha256sum"


class BenchError(RuntimeError):
    pass


STARTED = time.monotonic()
LANE_TAG = ""  # "lane 32: " while a lane is measured


def log(text: str) -> None:
    print(f"bench [{time.monotonic() - STARTED:5.0f} s]: {LANE_TAG}{text}", flush=True)


@dataclass
class Figure:
    """Subject and floor values of one figure at one payload size."""

    subject: Series = field(default_factory=Series)
    floor: Series = field(default_factory=Series)
    extra: dict[str, Series] = field(default_factory=dict)


@dataclass
class Results:
    """The measurements of one lane."""

    started: datetime.datetime
    args: argparse.Namespace
    lane: Lane
    build: Path
    bridge: Figure = field(default_factory=Figure)
    bridge_steps: dict[str, float] = field(default_factory=dict)
    bridge_calls: int = 0
    bridge_item: int = GET_ITEM
    noop: dict[int, Figure] = field(default_factory=dict)
    noop_steps: dict[str, float] = field(default_factory=dict)
    copy: dict[int, Figure] = field(default_factory=dict)
    whole: dict[int, Figure] = field(default_factory=dict)
    # The sealed deployment at the main payload: subject = the sealed run,
    # floor = per round the unsealed run + hash_floor.exe's time; extra:
    # "unsealed", "hash", "native" (sha256sum), "sealed copy", "unsealed copy"
    # (inotify spans). None when not measured.
    sealed: Figure | None = None
    sealed_files: int = 0  # files the seal lists
    sealed_bytes: int = 0  # their bytes: what each hashing reads
    native_tool: str = ""  # the version line of NATIVE_SHA256
    # The check of the install folder inside the untimed sealed run with
    # /LOG: from its line "copy finished" to "the install folder matches".
    sealed_check_logged: float = float("nan")
    payload_bytes: dict[int, int] = field(default_factory=dict)
    copied_files: dict[int, int] = field(default_factory=dict)
    size: dict = field(default_factory=dict)
    hung: list[str] = field(default_factory=list)
    load_before: tuple = ()
    load_after: tuple = ()
    seconds: float = 0.0
    wine: str = ""  # the version line of the lane's loader
    compiler: str = ""  # the version line of the tree's compiler


@dataclass
class Session:
    """What results.md is written from: every lane measured, the lanes this
    machine cannot run (lane name -> reason), the machine."""

    started: datetime.datetime
    args: argparse.Namespace
    runs: list[Results]
    skipped: dict[str, str]
    machine: dict
    seconds: float = 0.0


class Bench:
    def __init__(self, args: argparse.Namespace, build: Path, lane: Lane, work: Path):
        self.args = args
        self.build = build
        self.lane = lane
        self.work = work
        self.deploy_target = deploy_target(lane)
        self.tools_host = build / "tools"
        self.prefix: Prefix | None = None
        self.ctx: Context | None = None
        self.hung: list[str] = []  # runs that had to be ended and made again

    # -- the prefix --------------------------------------------------------

    def host(self, windows_path: str) -> Path:
        return self.ctx.host_path(windows_path)

    def make_prefix(self) -> None:
        work = self.work.resolve()
        template = Template(work / "template", self.lane)
        template.ensure(log=lambda text: log(text.removeprefix("e2e: ")))
        run = work / "run"
        if run.exists():  # left by an interrupted run
            Prefix(run, self.lane).stop()
            shutil.rmtree(run)
        self.prefix = template.copy_to(run)
        tools = Tools(setup=self.build / "setup" / "setup.exe", runner=self.tools_host / "runner.exe",
                      regdump=self.tools_host / "regdump.exe",
                      standin_service=self.tools_host / "standin_service.exe",
                      standin_component=self.tools_host / "standin_component.exe")
        self.ctx = Context(name="bench", prefix=self.prefix, tools=tools)

    def lay_out(self) -> None:
        """The stand-in component, the programs and both program folders."""
        scenario = {
            # Kept warm for the whole run: a cold activation costs about a second.
            "Server": {"IdleTimeoutMs": "3600000", "OrphanTimeoutMs": "0"},
            "iAcpiGetItem": {"Value": hex(GET_ITEM_VALUE)},
            "iAcpiMbif": {"Data": simple_package(FIRMWARE_WORD).hex()},
        }
        self.ctx.install_component(scenario)
        tools = self.host(TOOLS_DIR)
        tools.mkdir(parents=True)
        shutil.copy2(self.build / "setup" / "setup.exe", tools / "setup.exe")
        for name in ("export_client", *BENCH_TOOLS):
            shutil.copy2(self.tools_host / f"{name}.exe", tools / f"{name}.exe")

        noop = self.host(NOOP_DIR)
        noop.mkdir(parents=True)
        shutil.copy2(self.build / "setup" / "setup.exe", noop / "setup.exe")
        shutil.copy2(self.tools_host / "standin_service.exe", noop / "standin_service.exe")
        for name in ("noop_floor", "noop_floor_linked", "noop_floor_admin"):  # they read setup.ini beside themselves
            shutil.copy2(self.tools_host / f"{name}.exe", noop / f"{name}.exe")
        write_ini(noop / "setup.ini", {"Common": NOOP_SETTINGS})
        clean = self.host(NOOP_CLEAN_DIR)
        clean.mkdir(parents=True)
        shutil.copy2(self.tools_host / "noop_floor.exe", clean / "noop_floor.exe")
        write_ini(clean / "setup.ini", {"Common": NOOP_SETTINGS})
        self.ctx.reg_add(NOOP_SETTINGS["RegistryKey"], "Version", NOOP_SETTINGS["version"])
        self.ctx.register_service(NOOP_SETTINGS["ServiceName"])

        deploy = self.host(DEPLOY_DIR)
        deploy.mkdir(parents=True)
        shutil.copy2(self.build / "setup" / "setup.exe", deploy / "setup.exe")
        shutil.copy2(self.tools_host / "standin_service.exe", deploy / "standin_service.exe")
        write_ini(deploy / "setup.ini", {"Common": DEPLOY_SETTINGS})
        write_ini(deploy / "standin_service.ini", {"Service": {"Register": "0"}})
        self.host(self.deploy_target).mkdir(parents=True, exist_ok=True)

    def make_pool(self, count: int, file_bytes: int) -> None:
        """`count` payload files of `file_bytes` each, different content per
        file, in a folder of their own; the program folders get hard links."""
        pool = self.host(POOL_DIR)
        pool.mkdir(parents=True)
        block = os.urandom(file_bytes + 4096)
        for i in range(count):
            shift = (i * 7) % 4096
            (pool / f"payload{i:05d}.bin").write_bytes(block[shift:shift + file_bytes])
        os.sync()

    def set_payload(self, count: int) -> int:
        """Both program folders hold the first `count` pool files; returns
        the payload's size in bytes. The deployment's folder gets copies of
        its own: setup.exe copies no file that has a second name (a hard
        link could lead it to a file its user cannot read). The no-op run
        never lists its folder, which gets hard links."""
        pool = self.host(POOL_DIR)
        names = [f"payload{i:05d}.bin" for i in range(count)]
        total = 0
        for folder in (self.host(NOOP_DIR), self.host(DEPLOY_DIR)):
            for old in folder.glob("payload*.bin"):
                old.unlink()
            for name in names:
                if folder == self.host(DEPLOY_DIR):
                    shutil.copyfile(pool / name, folder / name)
                else:
                    os.link(pool / name, folder / name)
        for name in names:
            total += (pool / name).stat().st_size
        return total

    def stop(self) -> None:
        if self.prefix is not None:
            self.prefix.stop()
            if not self.args.keep:
                shutil.rmtree(self.prefix.path, ignore_errors=True)
            else:
                log(f"prefix kept at {self.prefix.path}")

    # -- timed runs -----------------------------------------------------------

    def launch(self, program: str, args: list[str] | None = None, timeout_s: float = 60,
               prepare=None) -> tuple[float, int, str]:
        """Runs a program through launch_timer.exe: (seconds, exit code, what
        it printed). `prepare`, when given, is called before every attempt.

        Under Wine a client of the component now and then hangs in the middle
        of a call (seen: after the component made the instance, and after the
        method had returned): the call never completes, and from then on
        every new client hangs the same way. Ending the component's process does not
        help (Wine's COM keeps its stale class registration and new clients
        fail at once); ending every process of the prefix does. Such a run is
        seen by the component's log standing still mid-call (or, as a last
        resort, ended by the launcher after `timeout_s`); the prefix's
        processes are then ended, the component started again and the run
        made again (at most LAUNCH_ATTEMPTS times in all). Each such run is recorded in
        self.hung, for the results."""
        command = self.prefix.command([rf"{TOOLS_DIR}\launch_timer.exe", "--timeout-ms", str(int(timeout_s * 1000)),
                                       program, *(args or [])])
        for _attempt in range(LAUNCH_ATTEMPTS):
            if prepare:
                prepare()
            wedged = False
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                process = subprocess.Popen(command, env=self.prefix.env(), stdin=subprocess.DEVNULL, stdout=out,
                                           stderr=err)
                watch = LogWatch(self.host(COMPONENT_DIR) / "calls.log")
                deadline = time.monotonic() + timeout_s + 120
                while process.poll() is None:
                    time.sleep(0.2)
                    if watch.stuck_mid_call(WEDGE_SECONDS):
                        wedged = True
                        log(f"{program}: the component stopped answering; ending the prefix's processes")
                        self.prefix.stop()
                        process.wait()
                        break
                    if time.monotonic() > deadline:
                        process.kill()
                        process.wait()
                        raise BenchError(f"{program}: the launcher did not end")
                out.seek(0)
                err.seek(0)
                stdout = out.read().decode("latin-1")
                stderr = err.read().decode("latin-1")
            if not wedged:
                if process.returncode != 0:
                    raise BenchError(f"{program}: launch_timer exited with {process.returncode}: {stderr[-800:]}")
                lines = stdout.strip().splitlines()
                result = json.loads(lines[-1])
                if not result["timedOut"]:
                    return result["us"] / 1e6, result["exitCode"], "\n".join(lines[:-1])
                log(f"{program} did not end within {timeout_s:.0f} s; ending the prefix's processes")
                self.prefix.stop()
            self.hung.append(program.rsplit("\\", 1)[-1])
            self.warm_component()
        raise BenchError(f"{program} hung {LAUNCH_ATTEMPTS} times in a row")

    def warm_component(self) -> None:
        """One call, so that the component's server runs before anything is
        timed (a cold activation costs about a second). A new server process
        that gets the ids of an earlier one cannot be reached under Wine:
        then every process of the prefix is ended and it is tried again."""
        for _attempt in range(5):
            try:
                completed = self.prefix.wine([rf"{TOOLS_DIR}\bridge_floor.exe", "1", str(GET_ITEM), "0"],
                                             timeout=60)
                if completed.returncode == 0 and f'"value":{GET_ITEM_VALUE}' in completed.stdout:
                    return
            except WineError:
                pass
            self.prefix.stop()
        raise BenchError("the component does not start")

    def bridge(self, results: Results) -> None:
        calls = self.args.bridge_calls
        subject_args = [rf"{TOOLS_DIR}\export_client.exe", rf"{TOOLS_DIR}\setup.exe",
                        *[f"GetItem:{GET_ITEM}:0"] * calls]
        floor_args = [rf"{TOOLS_DIR}\bridge_floor.exe", str(calls), str(GET_ITEM), "0"]

        def per_call(args: list[str], expected: int = calls) -> list[float]:
            _seconds, code, out = self.launch(args[0], args[1:], timeout_s=BRIDGE_TIMEOUT)
            rows = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
            if code != 0 or len(rows) != expected or any(r["ret"] != 1 or r["value"] != GET_ITEM_VALUE for r in rows):
                raise BenchError(f"{args[0]}: unexpected results: {out[-500:]}")
            return [r["us"] for r in rows]

        self.warm_component()
        for side in alternating(["subject", "floor"], self.args.bridge_runs):
            times = per_call(subject_args if side == "subject" else floor_args)
            getattr(results.bridge, side).add(statistics.median(times))
            log(f"bridge {side}: median {statistics.median(times):.0f} us per call over {calls} calls")
        results.bridge_calls = calls
        _seconds, _code, out = self.launch(rf"{TOOLS_DIR}\bridge_floor.exe",
                                           ["--steps", str(self.args.breakdown_calls), str(GET_ITEM), "0"],
                                           timeout_s=BRIDGE_TIMEOUT)
        rows = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
        for key in ("progIdUs", "createUs", "lookupUs", "invokeUs", "releaseUs", "us"):
            results.bridge_steps[key] = statistics.median(r[key] for r in rows)

    def noop(self, results: Results, count: int) -> None:
        programs = {
            "subject": rf"{NOOP_DIR}\setup.exe",
            "floor": rf"{NOOP_DIR}\noop_floor.exe",
            "clean": rf"{NOOP_CLEAN_DIR}\noop_floor.exe",
        }
        if count == self.args.main_files:  # the layers between the floor and setup.exe
            programs["linked"] = rf"{NOOP_DIR}\noop_floor_linked.exe"
            programs["admin"] = rf"{NOOP_DIR}\noop_floor_admin.exe"
        figure = Figure(extra={name: Series() for name in programs if name not in ("subject", "floor")})
        for name, program in programs.items():  # one untimed run each
            self.checked_launch(program, name)
        runs = self.args.noop_runs_main if count == self.args.main_files else self.args.noop_runs
        for name in alternating(list(programs), runs):
            seconds = self.checked_launch(programs[name], name)
            series = figure.extra[name] if name in figure.extra else getattr(figure, name)
            series.add(seconds)
        results.noop[count] = figure
        log(f"no-op run, {count} files: setup.exe {figure.subject.median * 1e3:.1f} ms, "
            f"floor {figure.floor.median * 1e3:.1f} ms")
        if count == self.args.main_files:
            steps: dict[str, list[float]] = {}
            for _ in range(self.args.noop_runs):
                seconds, code, out = self.launch(programs["floor"], ["--steps"], timeout_s=NOOP_TIMEOUT)
                row = json.loads(out.strip().splitlines()[-1])
                row["totalUs"] = seconds * 1e6
                row["restUs"] = row["totalUs"] - sum(v for k, v in row.items() if k.endswith("Us") and k != "totalUs")
                for key, value in row.items():
                    if key.endswith("Us"):
                        steps.setdefault(key, []).append(value)
            results.noop_steps = {k: statistics.median(v) for k, v in steps.items()}

    def checked_launch(self, program: str, name: str) -> float:
        seconds, code, _ = self.launch(program, timeout_s=NOOP_TIMEOUT)
        if code != 0:
            raise BenchError(f"no-op run: {name} ({program}) exited with {code:#x}, not 0: "
                             "the run was not one with nothing to do")
        return seconds

    def deployment(self, results: Results, count: int, first: bool) -> None:
        target = self.host(self.deploy_target)
        source = self.host(DEPLOY_DIR)
        copied = {p.name for p in source.iterdir() if p.is_file()}
        programs = {
            "subject": (rf"{DEPLOY_DIR}\setup.exe", []),
            "floor": (rf"{TOOLS_DIR}\copy_floor.exe", [DEPLOY_DIR, self.deploy_target]),
        }
        if count == self.args.main_files:  # the floor elevated like setup.exe
            programs["admin"] = (rf"{TOOLS_DIR}\copy_floor_admin.exe", [DEPLOY_DIR, self.deploy_target])
        copy = Figure()
        whole = Figure()
        watch = FolderWatch(target)
        try:
            def one(name: str):
                program, args = programs[name]
                seconds, code, _ = self.launch(program, args, prepare=watch.empty,
                                               timeout_s=DEPLOY_TIMEOUT_BASE + DEPLOY_TIMEOUT_PER_FILE * count)
                profile = copy_profile(watch.take(), copied)
                if code != 0 or profile.files != len(copied):
                    raise BenchError(f"deployment: {name} exited with {code:#x} after writing "
                                     f"{profile.files} of {len(copied)} files")
                return profile, seconds

            # Untimed first, at the first payload size only: one run of each
            # (the registry record setup.exe leaves, the install folder).
            # The payload is in the page cache from making it.
            if first:
                for name in programs:
                    one(name)
            runs = self.args.copy_runs if count <= self.args.main_files else self.args.copy_runs_large
            for name in alternating(list(programs), runs):
                profile, seconds = one(name)
                if name == "admin":
                    copy.extra.setdefault("admin", Series()).add(profile.span)
                    whole.extra.setdefault("admin", Series()).add(seconds)
                else:
                    getattr(copy, name).add(profile.span)
                    getattr(whole, name).add(seconds)
                copy.extra.setdefault(f"{name} first tenth", Series()).add(profile.first_tenth)
                copy.extra.setdefault(f"{name} last tenth", Series()).add(profile.last_tenth)
        finally:
            watch.close()
            for old in target.iterdir():
                old.unlink()
        results.copy[count] = copy
        results.whole[count] = whole
        results.copied_files[count] = len(copied)
        log(f"deployment, {count} files: copy {copy.subject.median:.3f} s vs {copy.floor.median:.3f} s; "
            f"whole run {whole.subject.median:.3f} s vs {whole.floor.median:.3f} s")

    def lay_out_sealed(self) -> list[str]:
        """SEALED_DIR: every file of the deployment program folder but
        setup.exe (copies: setup.exe copies no file with a second name), and
        setup.exe sealed over them by scripts/seal. Returns the names the
        seal lists."""
        source = self.host(DEPLOY_DIR)
        folder = self.host(SEALED_DIR)
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        for path in source.iterdir():
            if path.is_file() and path.name.lower() != "setup.exe":
                shutil.copyfile(path, folder / path.name)
        completed = subprocess.run([sys.executable, str(SOURCE_ROOT / "scripts" / "seal"), str(folder),
                                    str(self.build / "setup" / "setup.exe"), str(folder / "setup.exe")],
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if completed.returncode != 0:
            raise BenchError(f"scripts/seal exited with {completed.returncode}: {completed.stderr.strip()}")
        return sorted(p.name for p in folder.iterdir() if p.is_file() and p.name.lower() != "setup.exe")

    def sealed(self, results: Results, count: int) -> None:
        """The sealed deployment against the unsealed one plus the hashing
        of the same files, alternating round by round; the native SHA-256
        of the same files after each hashing."""
        target = self.host(self.deploy_target)
        listed = self.lay_out_sealed()
        sealed_dir = self.host(SEALED_DIR)
        listed_bytes = sum((sealed_dir / name).stat().st_size for name in listed)
        listed_names = set(listed)
        copied = listed_names | {"setup.exe"}
        timeout = DEPLOY_TIMEOUT_BASE + DEPLOY_TIMEOUT_PER_FILE * count
        figure = Figure(extra={name: Series() for name in ("unsealed", "hash", "native", "sealed copy",
                                                           "unsealed copy")})
        watch = FolderWatch(target)
        try:
            def deploy(folder: str, args: list[str] | None = None) -> tuple[float, float]:
                seconds, code, _ = self.launch(rf"{folder}\setup.exe", args, prepare=watch.empty, timeout_s=timeout)
                profile = copy_profile(watch.take(), copied)
                if code != 0 or profile.files != len(copied):
                    raise BenchError(f"sealed deployment: {folder}\\setup.exe exited with {code:#x} after writing "
                                     f"{profile.files} of {len(copied)} files")
                return seconds, profile.span

            def hash_floor() -> float:
                # The sealed run checks the listed files only: not its own
                # image, nor the stand-in service's log of its launch.
                for path in target.iterdir():
                    if path.name not in listed_names:
                        path.unlink()
                _seconds, code, out = self.launch(rf"{TOOLS_DIR}\hash_floor.exe", [self.deploy_target],
                                                  timeout_s=HASH_TIMEOUT)
                lines = out.strip().splitlines()
                row = json.loads(lines[-1]) if code == 0 and lines else {}
                if row.get("files") != len(listed) or row.get("bytes") != listed_bytes:
                    raise BenchError(f"hash_floor.exe exited with {code:#x} after {row or out[-300:]!r}; expected "
                                     f"{len(listed)} files, {listed_bytes} bytes")
                return row["us"] / 1e6

            def native() -> float:
                command = [NATIVE_SHA256, "--", *(str(target / name) for name in listed)]
                began = time.perf_counter()
                completed = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
                took = time.perf_counter() - began
                if completed.returncode != 0 or len(completed.stdout.splitlines()) != len(listed):
                    raise BenchError(f"{NATIVE_SHA256} exited with {completed.returncode}: "
                                     f"{completed.stderr.decode(errors='replace')[-300:]}")
                return took

            # Untimed first, one of each side; the sealed one with a log
            # that must show the seal in force: setup.ini checked at the
            # start and every listed file in the install folder before the
            # launch.
            log_file = self.host(SEALED_LOG)
            log_file.unlink(missing_ok=True)
            deploy(SEALED_DIR, [f"/LOG={SEALED_LOG}"])
            text = log_file.read_text(encoding="utf-8-sig", errors="replace") if log_file.exists() else ""
            for line in (f"sealed: {len(listed)} files; setup.ini matches the seal",
                         f"the install folder matches the seal: {len(listed)} sealed files"):
                if line not in text:
                    raise BenchError(f"sealed deployment: the sealed run's log ({log_file}) lacks {line!r}: the "
                                     "run did not check what the seal lists")
            results.sealed_check_logged = logged_span(text, "copy finished: ", "the install folder matches the seal: ")
            deploy(DEPLOY_DIR)
            hash_floor()
            native()
            for name in alternating(["sealed", "floor"], self.args.sealed_runs):
                if name == "sealed":
                    seconds, span = deploy(SEALED_DIR)
                    figure.subject.add(seconds)
                    figure.extra["sealed copy"].add(span)
                else:
                    seconds, span = deploy(DEPLOY_DIR)
                    hashing = hash_floor()
                    figure.floor.add(seconds + hashing)
                    figure.extra["unsealed"].add(seconds)
                    figure.extra["unsealed copy"].add(span)
                    figure.extra["hash"].add(hashing)
                    figure.extra["native"].add(native())
        finally:
            watch.close()
            for old in target.iterdir():
                old.unlink()
            shutil.rmtree(sealed_dir, ignore_errors=True)  # the other figures' prefix as it was
        results.sealed = figure
        results.sealed_files = len(listed)
        results.sealed_bytes = listed_bytes
        results.native_tool = first_line([NATIVE_SHA256, "--version"])
        hashing = figure.extra["hash"].median
        log(f"sealed deployment, {count} files: sealed {figure.subject.median:.3f} s vs unsealed "
            f"{figure.extra['unsealed'].median:.3f} s + hashing {hashing:.3f} s "
            f"({listed_bytes / hashing / 1e6:.0f} MB/s; {NATIVE_SHA256} "
            f"{listed_bytes / figure.extra['native'].median / 1e6:.0f} MB/s)")

    def size(self, results: Results) -> None:
        built = self.build / "setup" / "setup.exe"
        exe, map_path = linkmap.relink_with_map(self.build, self.build / "bench-size")
        if exe.stat().st_size != built.stat().st_size:
            raise BenchError(f"the relinked setup.exe ({exe.stat().st_size} bytes) differs in size from the "
                             f"built one ({built.stat().st_size} bytes)")
        contributions = linkmap.read(map_path)
        sections = linkmap.section_table(built)
        in_file = {name for name, _virtual, raw in sections if raw}
        # Map section names are whole, PE names are cut to 8 characters.
        file_sections = {c.section for c in contributions if c.section[:8] in in_file}
        results.size = {
            "bytes": built.stat().st_size,
            "sections": sections,
            "groups": linkmap.by_group(contributions, file_sections),
            "owners": linkmap.by_owner(contributions, file_sections),
            "map_sections": linkmap.by_section(contributions),
            "map": map_path,
        }


def logged_span(text: str, first: str, last: str) -> float:
    """Seconds between the run log's first line holding `first` and the
    next line after it holding `last` (each line begins with its local time,
    "YYYY-MM-DD hh:mm:ss.mmm "); NaN when either is missing."""
    began = None
    for line in text.splitlines():
        try:
            stamp = datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f")
        except ValueError:
            continue
        if began is None and first in line[24:]:
            began = stamp
        elif began is not None and last in line[24:]:
            return (stamp - began).total_seconds()
    return float("nan")


def first_line(command: list[str], env: dict[str, str] | None = None) -> str:
    try:
        return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True).stdout.strip().splitlines()[0]
    except (OSError, IndexError):
        return "unknown"


def machine_facts() -> dict:
    model = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {
        "nproc": os.cpu_count(),
        "cpu": model,
        "kernel": platform.release(),
        "memory_gib": os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30,
    }


def compiler_of(build: Path) -> str:
    """The version line of the C++ compiler a build tree was configured with
    (the toolchain file sets it, so CMake records it below CMakeFiles)."""
    for recorded in sorted(build.glob("CMakeFiles/*/CMakeCXXCompiler.cmake")):
        for line in recorded.read_text(errors="replace").splitlines():
            if line.startswith("set(CMAKE_CXX_COMPILER "):
                return first_line([line.split('"')[1], "--version"])
    return "unknown"


def measure(args: argparse.Namespace, build: Path, lane: Lane, work: Path, payloads: list[int]) -> Results:
    """Every figure of one lane, in a fresh prefix of its own."""
    global LANE_TAG
    LANE_TAG = f"lane {lane.name}: "
    started = time.monotonic()
    results = Results(started=datetime.datetime.now(datetime.timezone.utc), args=args, lane=lane, build=build)
    results.wine = first_line(lane.wine("--version"), lane.apply(dict(os.environ)))
    results.compiler = compiler_of(build)
    results.load_before = os.getloadavg()
    log(f"{build} ({lane.preset}), {results.wine}")
    bench = Bench(args, build, lane, work)
    parts = set(args.parts.split(","))
    try:
        if "size" in parts:
            log("size of setup.exe")
            bench.size(results)
        log("fresh prefix")
        bench.make_prefix()
        bench.lay_out()
        log(f"payload pool: {max(payloads)} files of {args.file_bytes} bytes")
        bench.make_pool(max(payloads), args.file_bytes)
        if "bridge" in parts:
            log("bridge")
            bench.bridge(results)
        for count in payloads:
            results.payload_bytes[count] = bench.set_payload(count)
            if "noop" in parts:
                bench.noop(results, count)
            if "deploy" in parts:
                bench.deployment(results, count, first=count == payloads[0])
            if "sealed" in parts and count == args.main_files:
                log("sealed deployment")
                bench.sealed(results, count)
    finally:
        bench.stop()
        LANE_TAG = ""
    results.hung = bench.hung
    results.load_after = os.getloadavg()
    results.seconds = time.monotonic() - started
    return results


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, action="append", default=None,
                        help="a release build tree, once per lane (default build/bench-win32)")
    parser.add_argument("--lane", action="append", choices=sorted(LANES), default=None,
                        help="the lane of each --build, in the same order (default: judged from the tree)")
    parser.add_argument("--skipped", action="append", default=[], metavar="LANE=REASON",
                        help="a lane this machine cannot run and why, named in the results")
    parser.add_argument("--out", type=Path, default=HERE / "results.md")
    parser.add_argument("--work", type=Path, default=None,
                        help="where the prefixes go: <work>/lane<N> (default <build>/bench-wine for each tree)")
    parser.add_argument("--payloads", default="100,1000,10000", help="payload sizes in files, for the growth table")
    parser.add_argument("--main-files", type=int, default=1000, help="the payload of the main table, in files")
    parser.add_argument("--file-bytes", type=int, default=200_000, help="bytes per payload file")
    parser.add_argument("--bridge-calls", type=int, default=200, help="AcpiGetItem calls per process")
    parser.add_argument("--bridge-runs", type=int, default=6, help="processes per side")
    parser.add_argument("--breakdown-calls", type=int, default=50, help="calls of the per-step breakdown")
    parser.add_argument("--noop-runs", type=int, default=12, help="no-op runs per program, growth payloads")
    parser.add_argument("--noop-runs-main", type=int, default=48,
                        help="no-op runs per program at the main payload (with the layered floors)")
    parser.add_argument("--copy-runs", type=int, default=12,
                        help="deployment runs per side, payloads up to the main one")
    parser.add_argument("--copy-runs-large", type=int, default=3,
                        help="deployment runs per side, payloads above the main one (growth rows only)")
    parser.add_argument("--sealed-runs", type=int, default=12,
                        help="rounds of the sealed deployment (a sealed run, an unsealed run and the hashing each)")
    parser.add_argument("--parts", default=",".join(PARTS),
                        help="what to measure, of " + ", ".join(PARTS) + "; results.md is written only when all are")
    parser.add_argument("--keep", action="store_true", help="keep the prefixes")
    parser.add_argument("--command", default="scripts/bench", help="the command to name in the results")
    parser.add_argument("--build-seconds", type=float, default=None, help="how long bootstrap and build took")
    args = parser.parse_args()
    payloads = sorted({int(p) for p in args.payloads.split(",")} | {args.main_files})
    unknown = set(args.parts.split(",")) - set(PARTS)
    if unknown:
        parser.error(f"--parts: no such part {', '.join(sorted(unknown))} (parts: {', '.join(PARTS)})")
    if min(args.bridge_runs, args.noop_runs, args.noop_runs_main, args.copy_runs, args.sealed_runs) < 5:
        parser.error("at least 5 runs per side")
    if args.copy_runs_large < 3:
        parser.error("at least 3 runs per side for the large payloads")

    builds = [b.resolve() for b in (args.build or [SOURCE_ROOT / "build" / "bench-win32"])]
    if args.lane and len(args.lane) != len(builds):
        parser.error(f"{len(args.lane)} --lane for {len(builds)} --build: give one per tree, or none")
    lanes = [LANES[name] for name in args.lane] if args.lane else [lane_of_build(b) for b in builds]
    if len({lane.name for lane in lanes}) != len(lanes):
        parser.error("two trees of the same lane: " + ", ".join(f"{b} (lane {lane.name})" for b, lane in zip(builds, lanes)))
    skipped: dict[str, str] = {}
    for entry in args.skipped:
        name, sep, reason = entry.partition("=")
        if not sep or name not in LANES or not reason:
            parser.error(f"--skipped {entry!r}: expected LANE=REASON with LANE one of {', '.join(LANES)}")
        if name in {lane.name for lane in lanes}:
            parser.error(f"lane {name} is both measured and skipped")
        skipped[name] = reason

    if not os.environ.get("DISPLAY"):
        print("bench: no X display; run under xvfb-run -a", file=sys.stderr)
        return 2
    for build, lane in zip(builds, lanes):
        reason = why_not(lane.name)
        if reason:
            print(f"bench: lane {lane.name} ({build}) cannot run here: {reason}", file=sys.stderr)
            return 2
        missing = [p for p in [build / "setup" / "setup.exe"] + [build / "tools" / f"{t}.exe" for t in
                   ("export_client", "standin_component", "standin_service", "runner", "regdump", *BENCH_TOOLS)]
                   if not p.is_file()]
        if missing:
            print("bench: not built: " + ", ".join(map(str, missing)), file=sys.stderr)
            return 2

    if "sealed" in args.parts.split(",") and not shutil.which(NATIVE_SHA256):
        print(f"bench: {NATIVE_SHA256} not found: the sealed deployment compares its throughput", file=sys.stderr)
        return 2

    started = time.monotonic()
    session = Session(started=datetime.datetime.now(datetime.timezone.utc), args=args, runs=[], skipped=skipped,
                      machine=machine_facts())
    for name, reason in skipped.items():
        log(f"lane {name} skipped: {reason}")
    for build, lane in zip(builds, lanes):
        work = args.work.resolve() / f"lane{lane.name}" if args.work else build / "bench-wine"
        try:
            session.runs.append(measure(args, build, lane, work, payloads))
        except (BenchError, WineError) as error:
            print(f"bench: lane {lane.name}: {error}", file=sys.stderr)
            return 1
    session.seconds = time.monotonic() - started
    if set(args.parts.split(",")) != set(PARTS):
        log(f"only {args.parts} measured ({session.seconds:.0f} s); {args.out} left as it was")
        print("\n".join(report.raw(results) for results in session.runs), flush=True)
        return 0
    text = report.render(session, payloads)
    for section in (report.fuzz_section(SOURCE_ROOT), report.kept_sections(args.out)):
        if section:
            text += "\n" + section
    args.out.write_text(text)
    log(f"results in {args.out} ({session.seconds:.0f} s)")
    print("\n".join(report.summary(results) for results in session.runs), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

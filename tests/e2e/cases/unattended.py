"""Unattended runs, as deployment tools make them: no message box where nobody
can see one (an invisible window station, or /QUIET), the usage on /?, no
incomplete fresh folder recorded as installed, and one run at a time, under
a guard that no program of the user's own can hold or take away.

Wine 8 has no private namespaces: there the guard is the mutex
Global\FanControlServiceSetup.Guard, made with a DACL for Administrators and
the local system account, and a name that a run did not make ends the run
at once (-1) instead of keeping it waiting. Wine runs every program as one
user and lets any of them name Administrators as an object's owner, so a
program that imitates the guard exactly is taken for another run; on
Windows the guard lies in a namespace no user's program can reach (the host
tests show that side)."""

import time

from harness import (CaseFailure, DEFAULT_SETTINGS, add_case, check, check_equal, registry_diff, simple_package,
                     write_ini)
from harness.runlog import LOG, log_lines

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]
EXECUTION_BOX = "Can not read executable file name from setup.ini"
PAYLOAD = {"a.dll": b"library a", "b.dat": bytes(range(256))}


def open_gate(ctx):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)


def outcome(ctx, result) -> dict:
    """What a run did: its exit code, the install folder, launches, the record."""
    install = ctx.install_dir()
    copied = {n: d for n, d in ctx.listing(install).items() if n != "service_runs.log"} \
        if ctx.host_path(install).exists() else {}
    return {
        "exit code": result.exit_code,
        "timed out": result.timed_out,
        "install folder": sorted(copied),
        "launches": len(ctx.service_runs(install)),
        "record": ctx.regdump(RECORD_KEY) is not None,
    }


# -- no box where nobody can see one ------------------------------------------

def invisible_station(ctx):
    """setup.ini without "Execution": the message comes after the copy. First
    on the ordinary desktop, its box dismissed; then, in a fresh install
    folder, in a window station that is not visible: no box, the run ends in
    the usual time with the same outcome, the message on standard error and
    in the log as not shown."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": None})
    interactive = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal(interactive.texts(), [EXECUTION_BOX], "boxes of the interactive run")
    expected = outcome(ctx, interactive)
    check_equal(expected, {"exit code": 0, "timed out": False, "install folder": sorted([*PAYLOAD, "setup.exe",
                "setup.ini", "standin_service.exe"]), "launches": 0, "record": False}, "interactive outcome")

    ctx.write_setup_ini(Execution=None, InstallPath="Fan\\Unattended")
    started = time.monotonic()
    result = ctx.run_setup(args=[f"/LOG={LOG}"], invisible=True, output=True, timeout_ms=20000)
    seconds = time.monotonic() - started
    ctx.note(f"run in the invisible window station: {seconds:.1f} s")
    install = ctx.install_dir(install_path="Fan\\Unattended")
    copied = {n for n in ctx.listing(install)} if ctx.host_path(install).exists() else set()
    check_equal({"exit code": result.exit_code, "timed out": result.timed_out, "install folder": sorted(copied),
                 "launches": len(ctx.service_runs(install)), "record": ctx.regdump(RECORD_KEY) is not None},
                expected, "outcome in the invisible window station against the interactive one")
    check_equal(result.stderr, f"setup.exe: {EXECUTION_BOX}\r\n", "standard error")
    lines = log_lines(ctx)
    wanted = ('setting "Execution" missing from C:\\Fan\\Setup\\setup.ini: message not shown (the window station '
              f'is not visible), written to standard error: {EXECUTION_BOX}')
    check(wanted in lines, f"no line {wanted!r} in the log:\n  " + "\n  ".join(lines))


def invisible_station_without_the_check(ctx):
    """The same run by a build without the window-station check
    (unguarded_setup.exe): its box waits for a click that never comes, until
    the harness kills it. So the case above can fail."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": None})
    (ctx.setup_dir / "setup.exe").write_bytes(ctx.built_tool("unguarded_setup.exe").read_bytes())
    result = ctx.run_setup(invisible=True, timeout_ms=10000)
    check_equal((result.timed_out, result.exit_code), (True, 0xDEAD), "(timed out, exit code) without the check")
    check_equal(ctx.service_runs(ctx.install_dir()), [], "service executable runs")


def quiet_switch(ctx):
    """/QUIET on the ordinary desktop (any case, beside /LOG in any order): no
    window at all (runner.exe watches for one), the message on standard error
    and in the log, the outcome of a run whose box was dismissed."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": None, "ServiceName": None})
    result = ctx.run_setup(args=["-quiet", f"/LOG={LOG}"], output=True)
    check_equal(result.boxes, [], "message boxes")
    check_equal(outcome(ctx, result), {"exit code": 0, "timed out": False, "install folder": sorted([
        *PAYLOAD, "setup.exe", "setup.ini", "standin_service.exe"]), "launches": 0, "record": False}, "outcome")
    service_box = "Can not read service name from setup.ini"
    # The reads as ever: a fresh install asks for no service before the copy;
    # "Execution" at the launch, then "ServiceName" after it.
    check_equal(result.stderr, "".join(f"setup.exe: {t}\r\n" for t in (EXECUTION_BOX, service_box)),
                "standard error")
    not_shown = [line for line in log_lines(ctx) if "message not shown (/QUIET)" in line]
    check_equal(len(not_shown), 2, f"log lines of messages not shown: {not_shown}")


def usage(ctx):
    """/? prints the usage and exits 0: no component created, nothing read,
    nothing written."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    registry_before = ctx.registry()
    drive_before = ctx.drive_files()
    calls_before = ctx.component_calls()
    for switch in ("/?", "-?", "/help"):
        result = ctx.run_setup(args=[switch, f"/LOG={LOG}"], output=True)
        check_equal((result.exit_code, result.boxes), (0, []), f"{switch}: (exit code, boxes)")
        check("setup.exe [/LOG[=path]] [/QUIET] [/?]" in result.stdout and "Exit codes" in result.stdout,
              f"{switch}: no usage on standard output: {result.stdout!r}")
    check_equal(ctx.component_calls(), calls_before, "the component's calls")
    check_equal(ctx.drive_files(), drive_before, "drive C: (no log, no install folder)")
    check_equal(registry_diff(registry_before, ctx.registry()), [], "registry")


# -- no incomplete fresh folder recorded as installed ---------------------------

def source_held_without_read_sharing(ctx):
    """A first install whose source file another program holds open without
    sharing: the fresh folder would lack it, so -1, no launch, no record.
    Once it is let go, the next run completes."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    with ctx.file_held(r"C:\Fan\Setup\a.dll"):
        held = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal((held.exit_code, held.boxes), (0xFFFFFFFF, []), "(exit code, boxes) while a.dll is held")
    install = ctx.install_dir()
    check_equal(ctx.service_runs(install), [], "service executable runs")
    check_equal(ctx.regdump(RECORD_KEY), None, "registry record")
    check("a.dll" not in ctx.listing(install), "a.dll in the install folder")
    lines = log_lines(ctx)
    check(any(line.startswith("could not copy a.dll: 32 ") for line in lines), "no line for a.dll:\n  "
          + "\n  ".join(lines))

    again = ctx.run_setup()
    check_equal(outcome(ctx, again), {"exit code": 0, "timed out": False, "install folder": sorted([
        *PAYLOAD, "setup.exe", "setup.ini", "standin_service.exe"]), "launches": 1, "record": True},
                "the next run")


# -- one run at a time ----------------------------------------------------------

def two_runs_together(ctx):
    """Two runs started together: one copy, one launch, one record; the
    second waited (its log says so) and found nothing to do."""
    open_gate(ctx)
    ctx.put_setup(files={**PAYLOAD, "standin_service.ini": b"[Service]\r\nSleepMs=4000\r\n"}, settings={})
    logs = (r"C:\Logs\first.log", r"C:\Logs\second.log")
    first = ctx.start(r"C:\Fan\Setup\setup.exe", [f"/LOG={logs[0]}"])
    time.sleep(1.5)
    second = ctx.start(r"C:\Fan\Setup\setup.exe", [f"/LOG={logs[1]}"])
    results = (first.wait(), second.wait())
    check_equal([(r.exit_code, r.timed_out) for r in results], [(0, False), (0, False)], "(exit code, timed out)")
    check_equal(len(ctx.service_runs(ctx.install_dir())), 1, "service executable runs")
    check(ctx.regdump(RECORD_KEY) is not None, "no registry record")
    texts = [log_lines(ctx, log) for log in logs]
    copies = [sum(1 for line in lines if line.startswith("copy finished")) for lines in texts]
    check_equal(sorted(copies), [0, 1], "runs that copied")
    waited = [lines for lines in texts if any(line.startswith("the other setup run ended: waited ") for line in lines)]
    check_equal(len(waited), 1, "runs whose log says they waited")
    check(any("service present: nothing to do" in line for line in waited[0]),
          "the run that waited did not find the version installed:\n  " + "\n  ".join(waited[0]))


def killed_run_guard_taken_over(ctx):
    """A first run killed while it holds the guard (its service executable
    hangs) and a second run waits for it: the second takes the guard over
    (abandoned, in Windows' words) and completes. (Killed with no run
    waiting, the guard goes with the first run's last handle, and the next
    run simply makes a new one.)"""
    open_gate(ctx)
    ctx.put_setup(files={**PAYLOAD, "standin_service.ini": b"[Service]\r\nHang=1\r\n"}, settings={})
    install = ctx.install_dir()
    first = ctx.start(r"C:\Fan\Setup\setup.exe", timeout_ms=60000)
    deadline = time.monotonic() + 30
    while not ctx.service_runs(install):
        if time.monotonic() > deadline or not first.running():
            raise CaseFailure("the first run's service executable did not start")
        time.sleep(0.2)
    write_ini(ctx.setup_dir / "standin_service.ini", {"Service": {"Hang": "0"}})
    second = ctx.start(r"C:\Fan\Setup\setup.exe", [f"/LOG={LOG}"], timeout_ms=60000)
    waiting = "another setup run is in progress: waiting for it to end (at most 600 s)"
    deadline = time.monotonic() + 30
    while waiting not in log_lines(ctx, running=True):
        if time.monotonic() > deadline or not second.running():
            raise CaseFailure("the second run did not wait for the first")
        time.sleep(0.2)
    first.kill()
    check(first.wait().killed, "the first run was not killed")
    result = second.wait()
    check_equal((result.exit_code, result.timed_out), (0, False), "the second run (exit code, timed out)")
    check(ctx.regdump(RECORD_KEY) is not None, "no registry record after the second run")
    lines = log_lines(ctx)
    check(any(line.startswith("took over the run guard of a setup run that ended without letting go of it")
              for line in lines), "the second run did not take the guard over:\n  " + "\n  ".join(lines))


GUARD = r"Global\FanControlServiceSetup.Guard"
ADMIN_ONLY = "O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)"


def guard_of_earlier_versions(ctx, sddl):
    """Another program holds Global\FanControlServiceSetup.Run, the guard of
    earlier versions, which any program could make: made plainly, it kept
    every run waiting 10 minutes; made with a DACL that grants SYNCHRONIZE
    alone, it sent every run on without a guard. Now the run neither waits
    nor goes unguarded: it deploys in the usual time under its own guard."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    started = time.monotonic()
    with ctx.object_held("mutex", r"Global\FanControlServiceSetup.Run", sddl):
        result = ctx.run_setup(args=[f"/LOG={LOG}"], timeout_ms=60000)
    ctx.note(f"run: {time.monotonic() - started:.1f} s")
    check_equal(outcome(ctx, result), {"exit code": 0, "timed out": False, "install folder": sorted([
        *PAYLOAD, "setup.exe", "setup.ini", "standin_service.exe"]), "launches": 1, "record": True}, "outcome")
    lines = log_lines(ctx)
    check(f"run guard: the mutex {GUARD} for administrators alone (this system has no private namespaces)" in lines,
          "the run did not take its own guard:\n  " + "\n  ".join(lines))
    check(not any("waiting for it to end" in line for line in lines), "the run waited:\n  " + "\n  ".join(lines))


# Names that a program of the user's own makes first under the guard's name:
# kind, security descriptor, and the reason the run gives (an error code's
# text is Wine's own, and left out).
SQUATTED = {
    "synchronize_only": ("mutex", "D:P(A;;0x100000;;;WD)", "CreateMutexW failed: 5 "),
    "no_descriptor": ("mutex", None, "made by another program, not by a setup run (no owner)"),
    "users_own": ("mutex", "D:(A;;GA;;;WD)",
                  "made by another program, not by a setup run (owner S-1-5-21-0-0-0-513)"),
    "open_to_everybody": ("mutex", "O:BAD:(A;;GA;;;WD)",
                          "made by another program, not by a setup run (its DACL lets S-1-1-0 in)"),
    "admins_own_free": ("free-mutex", "O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x100000;;;WD)",
                        "made by another program, not by a setup run (its DACL lets S-1-1-0 in)"),
    "event": ("event", None, "CreateMutexW failed: 6 "),
    "semaphore": ("semaphore", ADMIN_ONLY, "CreateMutexW failed: 6 "),
}


def guard_name_squatted(ctx):
    """The guard's name made first by a program of the user's own, held or
    not, in each way above: the run ends at once with -1, says why on
    standard error and in the log, and does nothing (no component call, no
    install folder, no launch, no record); never waits, never goes on
    without the guard."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    calls_before = ctx.component_calls()
    for row, (kind, sddl, reason) in SQUATTED.items():
        with ctx.object_held(kind, GUARD, sddl) as made:
            started = time.monotonic()
            result = ctx.run_setup(args=[f"/LOG={LOG}"], output=True, timeout_ms=60000)
            seconds = time.monotonic() - started
        why = f"the run guard could not be taken: {GUARD}: {reason}"
        check_equal((result.exit_code, result.timed_out), (0xFFFFFFFF, False), f"{row} ({made}): (exit code, timed out)")
        check(seconds < 20, f"{row}: the run took {seconds:.1f} s")
        check(result.stderr.startswith(f"setup.exe: {why}") and result.stderr.endswith("; nothing was done\r\n"),
              f"{row}: standard error {result.stderr!r}")
        lines = log_lines(ctx)
        check(any(line.startswith(why) and line.endswith("; nothing done") for line in lines),
              f"{row}: no reason in the log:\n  " + "\n  ".join(lines))
        check_equal(outcome(ctx, result), {"exit code": 0xFFFFFFFF, "timed out": False, "install folder": [],
                                           "launches": 0, "record": False}, f"{row}: outcome")
    check_equal(ctx.component_calls(), calls_before, "the component's calls")


def guard_imitated(ctx):
    """What the guard cannot tell under Wine: a program of the user's own
    that makes the guard exactly as a run does (owner Administrators, the
    same DACL; Wine lets any program name that owner) and holds it is taken
    for another run. The run waits for it, and goes on once it lets go."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    waiting = "another setup run is in progress: waiting for it to end (at most 600 s)"
    with ctx.object_held("mutex", GUARD, ADMIN_ONLY):
        run = ctx.start(r"C:\Fan\Setup\setup.exe", [f"/LOG={LOG}"], timeout_ms=60000)
        deadline = time.monotonic() + 30
        while waiting not in log_lines(ctx, running=True):
            if time.monotonic() > deadline or not run.running():
                raise CaseFailure("the run did not wait for the imitation")
            time.sleep(0.2)
    result = run.wait()
    check_equal(outcome(ctx, result), {"exit code": 0, "timed out": False, "install folder": sorted([
        *PAYLOAD, "setup.exe", "setup.ini", "standin_service.exe"]), "launches": 1, "record": True}, "outcome")
    check(any(line.startswith("took over the run guard") or line.startswith("the other setup run ended")
              for line in log_lines(ctx)), "the run did not say it waited")


add_case("invisible_station", invisible_station, needs_component=True)
add_case("invisible_station_without_the_check", invisible_station_without_the_check, needs_component=True)
add_case("quiet_switch", quiet_switch, needs_component=True)
add_case("usage", usage, needs_component=True)
add_case("source_held_without_read_sharing", source_held_without_read_sharing, needs_component=True)
add_case("two_runs_together", two_runs_together, needs_component=True)
add_case("killed_run_guard_taken_over", killed_run_guard_taken_over, needs_component=True)
add_case("guard_of_earlier_versions[held]", guard_of_earlier_versions, needs_component=True, sddl=None)
add_case("guard_of_earlier_versions[synchronize_only]", guard_of_earlier_versions, needs_component=True,
         sddl="D:P(A;;0x100000;;;WD)")
add_case("guard_name_squatted", guard_name_squatted, needs_component=True)
add_case("guard_imitated", guard_imitated, needs_component=True)

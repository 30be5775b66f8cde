"""Deployment that cannot go wrong quietly: no deploy without a usable
version, a full disk ends the run with -1 and a later run repairs it, an
install killed in the middle of its copy is completed by the next run, and
two runs started together both end with a complete install."""

import subprocess
import time

from harness import (CAPTION, DEFAULT_SETTINGS, CaseFailure, CaseSkip, add_case, check, check_equal, registry_diff,
                     simple_package)

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]
MESSAGES = {
    "version": "Can not read version from setup.ini",
    "RegistryKey": "Can not read registry key from setup.ini",
    "ServiceName": "Can not read service name from setup.ini",
}


def open_gate(ctx):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})


def record(ctx) -> dict | None:
    key = ctx.regdump(RECORD_KEY)
    return None if key is None else {v["name"]: bytes.fromhex(v["data"]) for v in key["values"]}


def check_matches_payload(ctx, install: str) -> None:
    """The install folder holds exactly the files directly in the program
    folder, byte for byte (and the stand-in service's own log)."""
    expected = {n: d for n, d in ctx.listing(r"C:\Fan\Setup").items() if d is not None}
    copied = {n: d for n, d in ctx.listing(install).items() if n != "service_runs.log"}
    check_equal(sorted(copied), sorted(expected), f"files in {install}")
    wrong = [n for n, d in expected.items() if copied[n] != d]
    check(not wrong, f"{len(wrong)} files in {install} differ from the payload, e.g. {wrong[:5]}")


def check_recorded(ctx, install: str, version: str = "1.0") -> None:
    check_equal(record(ctx), {"Version": version.encode() + b"\0", "Path": install.encode() + b"\0"},
                "registry record")


# -- no usable version: nothing below the program-files folder -----------------

VERSION_ROWS = {
    # No setup.ini: every reader misses. The empty version is not older than
    # the empty record, so the presence check runs (and misses too).
    "setup_ini_missing": dict(settings=None, boxes=["version", "RegistryKey", "ServiceName"]),
    "version_missing": dict(settings={"version": None}, boxes=["version"]),
    "version_dot_dot": dict(settings={"version": ".."}, boxes=[]),
    "version_dot": dict(settings={"version": "."}, boxes=[]),
    "version_three_dots": dict(settings={"version": "..."}, boxes=[]),
    "version_backslash": dict(settings={"version": "a\\b"}, boxes=[]),
    "version_slash": dict(settings={"version": "a/b"}, boxes=[]),
    "version_colon": dict(settings={"version": "C:x"}, boxes=[]),
}


def no_usable_version(ctx, settings: dict | None, boxes: list[str]):
    """Exit -1 after the readers' own message boxes; the program-files
    folders and the registry are exactly as before, nothing was launched."""
    open_gate(ctx)
    ctx.put_setup(files={"a.dll": b"payload"}, settings=settings)
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out), (0xFFFFFFFF, False), "(exit code, timed out)")
    check_equal(result.texts(), [MESSAGES[k] for k in boxes], "message boxes, in order")
    check(all(box.caption == CAPTION for box in result.boxes), "caption of every box")
    check_equal(ctx.files(), files_before, "program-files folders")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))
    check_equal(ctx.service_runs(r"C:\Fan\Setup"), [], "service executable runs in the program folder")


# -- a full disk -----------------------------------------------------------------

def full_disk(ctx):
    """A small tmpfs holds the install path: the payload does not fit, the
    run ends with -1 without launching or recording; once there is room,
    the next run completes the install."""
    open_gate(ctx)
    payload = {f"data{i}.bin": bytes([i]) * (256 * 1024) for i in range(8)}  # 2 MiB in all
    ctx.put_setup(files=payload, settings={})
    install = ctx.install_dir()
    # The tmpfs sits on the first level of InstallPath, so that the rest of
    # the program-files folder stays as Wine made it.
    mount_point = ctx.host_path(ctx.program_files + "\\" + DEFAULT_SETTINGS["InstallPath"].split("\\")[0])
    mount_point.mkdir(parents=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "fansetup-e2e", str(mount_point)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        raise CaseSkip(f"cannot mount a small tmpfs (needs root): {mounted.stderr.strip()}")
    try:
        # Wine's server opens the files for its programs, and lane 32's runs
        # in a mount namespace of its own, a copy of the host's made when it
        # started (scripts/lib/lane32): one started before the mount would
        # not see the tmpfs. The next program starts a server that does.
        ctx.prefix.stop()
        result = ctx.run_setup()
        check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                    "full disk: (exit code, timed out, boxes)")
        check_equal(ctx.service_runs(install), [], "full disk: service executable runs")
        check_equal(record(ctx), None, "full disk: registry record")

        remount = subprocess.run(["mount", "-o", "remount,size=64m", str(mount_point)], capture_output=True,
                                 text=True)
        check(remount.returncode == 0, f"could not make room: {remount.stderr.strip()}")
        result = ctx.run_setup()
        check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []),
                    "after freeing space: (exit code, timed out, boxes)")
        check_matches_payload(ctx, install)
        check_equal(len(ctx.service_runs(install)), 1, "after freeing space: service executable runs")
        check_recorded(ctx, install)
    finally:
        ctx.prefix.stop()  # nothing of the prefix may hold the mount busy
        subprocess.run(["umount", str(mount_point)], capture_output=True)


# -- killed in the middle of the copy -------------------------------------------

BIG_PAYLOAD = {f"part{i:05d}.dat": f"part {i}\r\n".encode() for i in range(3000)}


def wait_for_files(ctx, folder: str, count: int, run, seconds: float = 60) -> int:
    deadline = time.monotonic() + seconds
    host = ctx.host_path(folder)
    while time.monotonic() < deadline and run.running():
        present = sum(1 for _ in host.iterdir()) if host.exists() else 0
        if present >= count:
            return present
        time.sleep(0.02)
    raise CaseFailure(f"{folder} did not reach {count} files while setup.exe ran")


def killed_and_rerun(ctx):
    """setup.exe killed while it copies thousands of files leaves no record;
    the next run deploys again and completes the install."""
    open_gate(ctx)
    ctx.put_setup(files=BIG_PAYLOAD, settings={})
    install = ctx.install_dir()

    run = ctx.start(r"C:\Fan\Setup\setup.exe", timeout_ms=120000)
    present = wait_for_files(ctx, install, 200, run)
    run.kill()
    result = run.wait()
    check(result.killed, f"setup.exe was not killed: it ended with {result.exit_code:#x}")
    copied = sum(1 for _ in ctx.host_path(install).iterdir())
    check(copied < len(BIG_PAYLOAD), f"the copy had finished before the kill ({copied} files)")
    ctx.note(f"killed with {present} to {copied} of {len(ctx.payload_names())} files copied")
    check_equal(record(ctx), None, "registry record after the kill")
    check_equal(ctx.service_runs(install), [], "service executable runs after the kill")

    result = ctx.run_setup(timeout_ms=120000)
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []),
                "second run: (exit code, timed out, boxes)")
    check_matches_payload(ctx, install)
    check_recorded(ctx, install)


def two_at_once(ctx):
    """Two runs started together both end; afterwards the install folder
    matches the payload and the record is present. One of them may find a
    file in use by the other; what it then reports is its own business, but
    neither may hang and one must succeed."""
    open_gate(ctx)
    payload = {name: data for name, data in list(BIG_PAYLOAD.items())[:500]}
    ctx.put_setup(files=payload, settings={})
    install = ctx.install_dir()
    first = ctx.start(r"C:\Fan\Setup\setup.exe", timeout_ms=120000)
    second = ctx.start(r"C:\Fan\Setup\setup.exe", timeout_ms=120000)
    results = [first.wait(), second.wait()]
    for number, result in enumerate(results, 1):
        check(not result.timed_out, f"run {number} did not end")
        check_equal(result.boxes, [], f"run {number}: message boxes")
        check(result.exit_code in (0, 0xFFFFFFFF), f"run {number} ended with {result.exit_code:#x}")
    check(0 in [r.exit_code for r in results], f"neither run succeeded: {[hex(r.exit_code) for r in results]}")
    ctx.note("exit codes " + ", ".join(hex(r.exit_code) for r in results))
    check_matches_payload(ctx, install)
    check_recorded(ctx, install)


for _name, _row in VERSION_ROWS.items():
    add_case(f"no_usable_version[{_name}]", no_usable_version, needs_component=True, **_row)
add_case("full_disk", full_disk, needs_component=True)
add_case("killed_and_rerun", killed_and_rerun, needs_component=True)
add_case("two_at_once", two_at_once, needs_component=True)

"""What setup.exe does once the gate is open: the install decision, the
deploy into the versioned install folder, the launch of the service
executable and the registry record."""

import shutil

from harness import (DEFAULT_SETTINGS, add_case, check, check_equal, registry_diff,
                     simple_package, win_join)

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]
SERVICE = DEFAULT_SETTINGS["ServiceName"]
SERVICE_KEY_SAVED = "System\\CurrentControlSet\\Services\\" + SERVICE

PAYLOAD = {
    "a.dll": bytes(range(256)) * 8,
    "notes.txt": b"fan curves\r\n",
    "lang\\de.txt": b"in a sub-folder: never copied",
}


def open_gate(ctx):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})


def reg_sz(text: str) -> dict:
    """What regdump shows for a REG_SZ written with its zero byte counted."""
    data = text.encode("latin-1") + b"\0"
    return {"type": 1, "size": len(data), "data": data.hex()}


def record_values(ctx) -> dict[str, dict] | None:
    key = ctx.regdump(RECORD_KEY)
    if key is None:
        return None
    return {v["name"]: {k: v[k] for k in ("type", "size", "data")} for v in key["values"]}


def check_record(ctx, version: str, path: str) -> None:
    check_equal(record_values(ctx), {"Version": reg_sz(version), "Path": reg_sz(path)}, "registry record")


def check_deployed(ctx, install: str) -> None:
    """The install folder holds a copy of every file of the program folder, and nothing of its sub-folders."""
    listing = ctx.listing(install)
    source = ctx.listing(r"C:\Fan\Setup")
    expected = {name: data for name, data in source.items() if data is not None}
    copied = {name: data for name, data in listing.items() if name != "service_runs.log"}
    check_equal(sorted(copied), sorted(expected), f"files in {install}")
    for name, data in expected.items():
        check(copied[name] == data, f"{install}{name} differs from the program folder's copy")


def check_one_launch(ctx, install: str) -> None:
    exe = install + "standin_service.exe"
    runs = ctx.service_runs(install)
    check_equal(len(runs), 1, "service executable runs")
    check_equal(runs[0]["commandLine"], f'"{exe}" /Service', "service executable command line")
    check_equal(runs[0]["exePath"], exe, "service executable path")


def check_registry_changes_only_below(ctx, before, allowed: tuple[str, ...]) -> None:
    changes = registry_diff(before, ctx.registry())
    stray = [c for c in changes if not any(c.split(": ", 1)[1].startswith(key) for key in allowed)]
    check(not stray, "unexpected registry changes:\n  " + "\n  ".join(stray))


def fresh_install(ctx):
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    # An unquoted path below "C:\Program Files" (either one) would start this one.
    shutil.copy2(ctx.tools.standin_service, ctx.host_path(r"C:\Program.exe"))
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_equal(install, win_join(ctx.program_files, "Fan", "Service", "1.0") + "\\", "install folder")
    check_deployed(ctx, install)
    check("lang" not in ctx.listing(install), "the sub-folder lang was copied")
    check_equal(ctx.service_runs("C:\\"), [], "runs of C:\\Program.exe (service path not quoted)")
    check_one_launch(ctx, install)
    check(ctx.service_exists(SERVICE), "service not present after the deploy")
    check_record(ctx, "1.0", install)
    # Nothing else below HKLM: only the record and the service's own key.
    check_registry_changes_only_below(ctx, registry_before, (ctx.saved_key(RECORD_KEY), SERVICE_KEY_SAVED))
    new_files = sorted(set(ctx.files()) - set(files_before))
    outside = [f for f in new_files if not install.startswith(f + "\\") and not f.startswith(install)]
    check(not outside, f"files made outside the install folder: {outside}")


def waits_for_service_executable(ctx):
    """The run blocks until the service executable ends: with one that never
    ends, setup.exe is still running (and has recorded nothing) at the time-out."""
    open_gate(ctx)
    ctx.put_setup(files={"standin_service.ini": b"[Service]\r\nHang=1\r\n"}, settings={})
    result = ctx.run_setup(timeout_ms=5000)
    check(result.timed_out, f"setup.exe ended ({result.exit_code:#x}) while the service executable still ran")
    check_equal(len(ctx.service_runs(ctx.install_dir())), 1, "service executable runs")
    check_equal(record_values(ctx), None, "registry record while the service executable runs")


# installed version, offered version, service present -> install due
DECISION_ROWS = {
    "equal_service_present": ("1.0", "1.0", True, False),
    "text_order_1.0.9_not_older_than_1.0.10": ("1.0.9", "1.0.10", True, False),
    "installed_1.2.1_offered_1.2": ("1.2.1", "1.2", True, False),
    "installed_1.2_offered_1.2.1": ("1.2", "1.2.1", True, True),
    "equal_service_missing": ("1.0", "1.0", False, True),
    # Bytes compare as signed: 0xE9 sorts below "1".
    "installed_0xE9_offered_1": ("\u00e9", "1", True, True),
}


def decision_row(ctx, installed: str, offered: str, service_present: bool, install_due: bool):
    open_gate(ctx)
    if service_present:
        ctx.register_service(SERVICE)
    ctx.reg_add(RECORD_KEY, "Version", installed)
    ctx.reg_add(RECORD_KEY, "Path", "C:\\Old\\")
    check_equal(record_values(ctx)["Version"], reg_sz(installed), "installed Version as setup.exe will read it")
    ctx.put_setup(files=PAYLOAD, settings={"version": offered})
    # The install folder of the offered version exists with an older file.
    install = ctx.install_dir(offered)
    ctx.host_path(install).mkdir(parents=True)
    (ctx.host_path(install) / "a.dll").write_bytes(b"older a.dll")
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    check_equal(ctx.invoked_methods(), ["iAcpiInit", "iAcpiMbif"], "component methods called")
    if install_due:
        check_deployed(ctx, install)
        check_one_launch(ctx, install)
        check(ctx.service_exists(SERVICE), "service not present after the deploy")
        check_record(ctx, offered, install)
        check_registry_changes_only_below(ctx, registry_before, (ctx.saved_key(RECORD_KEY), SERVICE_KEY_SAVED))
    else:
        check_equal(ctx.files(), files_before, "program-files folders (nothing to do)")
        changes = registry_diff(registry_before, ctx.registry())
        check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def copy_failure(ctx):
    """A folder where the install folder needs a file: both copies fail (error 5), the run ends with -1."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    install = ctx.install_dir()
    (ctx.host_path(install) / "a.dll").mkdir(parents=True)
    registry_before = ctx.registry()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    check_equal(ctx.service_runs(install), [], "service executable runs")
    check(not ctx.service_exists(SERVICE), "service present although nothing was launched")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))
    # Every other file was still copied; the folder stays.
    listing = ctx.listing(install)
    check(listing.get("a.dll", b"") is None, "a.dll is no longer the folder it was")
    source = ctx.listing(r"C:\Fan\Setup")
    for name, data in source.items():
        if data is not None and name != "a.dll":
            check(listing.get(name) == data, f"{name} was not copied past the failing file")


def launch_failure(ctx):
    """Execution names a file that is not there: deployed, not recorded, exit 0."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": "missing.exe"})
    registry_before = ctx.registry()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_deployed(ctx, install)
    check_equal(ctx.service_runs(install), [], "service executable runs")
    check_equal(record_values(ctx), None, "registry record")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def record_whatever_the_service_executable_did(ctx):
    """The service executable's exit code is not read and the presence check
    after the launch changes nothing: a run that exits with 3 and registers
    no service still gets its record."""
    open_gate(ctx)
    ctx.put_setup(files={"standin_service.ini": b"[Service]\r\nExitCode=3\r\nRegister=0\r\n"}, settings={})
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_one_launch(ctx, install)
    check(not ctx.service_exists(SERVICE), "service present although the service executable registered none")
    check_record(ctx, "1.0", install)


def second_run_reads_the_record(ctx):
    """A record written by a deploy is read back: the next run has nothing to do."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    first = ctx.run_setup()
    check_equal((first.exit_code, first.boxes), (0, []), "first run (exit code, boxes)")
    install = ctx.install_dir()
    check_one_launch(ctx, install)
    registry_before = ctx.registry()
    files_before = ctx.files()
    calls_before = len(ctx.invoked_methods())

    second = ctx.run_setup()

    check_equal((second.exit_code, second.timed_out, second.boxes), (0, False, []),
                "second run (exit code, timed out, boxes)")
    check_equal(ctx.invoked_methods()[calls_before:], ["iAcpiInit", "iAcpiMbif"], "second run's component calls")
    check_equal(len(ctx.service_runs(install)), 1, "service executable runs after two runs")
    check_equal(ctx.files(), files_before, "program-files folders after the second run")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed by the second run:\n  " + "\n  ".join(changes))


add_case("fresh_install", fresh_install, needs_component=True)
add_case("waits_for_service_executable", waits_for_service_executable, needs_component=True)
for _name, (_installed, _offered, _present, _due) in DECISION_ROWS.items():
    add_case(f"decision[{_name}]", decision_row, needs_component=True, installed=_installed, offered=_offered,
             service_present=_present, install_due=_due)
add_case("copy_failure", copy_failure, needs_component=True)
add_case("launch_failure", launch_failure, needs_component=True)
add_case("record_whatever_the_service_executable_did", record_whatever_the_service_executable_did,
         needs_component=True)
add_case("second_run_reads_the_record", second_run_reads_the_record, needs_component=True)

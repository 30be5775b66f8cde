"""Unreadable settings: each reader shows its message box (caption "Fan Contrl
Service Setup", one OK button, no icon) every time it is called, in the
order the run reads the settings, and the run goes on with empty text."""

from harness import (CAPTION, DEFAULT_SETTINGS, add_case, check, check_equal, registry_diff,
                     simple_package, win_join)

MESSAGES = {
    "version": "Can not read version from setup.ini",
    "RegistryKey": "Can not read registry key from setup.ini",
    "ServiceName": "Can not read service name from setup.ini",
    "InstallPath": "Can not read install path from setup.ini",
    "Execution": "Can not read executable file name from setup.ini",
}


def open_gate(ctx):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})


def check_boxes(result, keys: list[str]) -> None:
    check_equal(result.texts(), [MESSAGES[k] for k in keys], "message box texts, in order")
    for box in result.boxes:
        check_equal((box.caption, box.buttons, box.icon), (CAPTION, ["OK"], False),
                    f"box {box.text!r} (caption, buttons, icon)")


def record(ctx) -> dict | None:
    key = ctx.regdump(DEFAULT_SETTINGS["RegistryKey"])
    return None if key is None else {v["name"]: bytes.fromhex(v["data"]) for v in key["values"]}


def missing_setup_ini(ctx):
    """Every setting the run reads before it deploys misses: version,
    registry key (installed version), service name (presence check: both
    versions empty). With no version there is nothing to deploy: exit -1,
    nothing below the program-files folders, no record."""
    open_gate(ctx)
    ctx.put_setup(settings=None)
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check_equal((result.exit_code, result.timed_out), (0xFFFFFFFF, False), "(exit code, timed out)")
    check_boxes(result, ["version", "RegistryKey", "ServiceName"])
    check_equal(ctx.files(), files_before, "program-files folders")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def missing_service_name(ctx):
    """No record, so an install is due without asking for the service: the
    only message is the one of the presence check after the launch."""
    open_gate(ctx)
    ctx.put_setup(files={"standin_service.ini": b"[Service]\r\nName=FanCtlTest\r\n"},
                  settings={"ServiceName": None})
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out), (0, False), "(exit code, timed out)")
    check_boxes(result, ["ServiceName"])
    install = ctx.install_dir()
    check_equal(len(ctx.service_runs(install)), 1, "service executable runs")
    check_equal(record(ctx), {"Version": b"1.0\0", "Path": install.encode() + b"\0"}, "registry record")


def missing_install_path(ctx):
    """The install folder is the version folder right below the program-files folder."""
    open_gate(ctx)
    ctx.put_setup(settings={"InstallPath": None})
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out), (0, False), "(exit code, timed out)")
    check_boxes(result, ["InstallPath"])
    install = win_join(ctx.program_files, "1.0") + "\\"
    check_equal(len(ctx.service_runs(install)), 1, f"service executable runs in {install}")
    check_equal(record(ctx), {"Version": b"1.0\0", "Path": install.encode() + b"\0"}, "registry record")


def missing_execution(ctx):
    """The launch fails: deployed, one message, no record."""
    open_gate(ctx)
    ctx.put_setup(settings={"Execution": None})
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out), (0, False), "(exit code, timed out)")
    check_boxes(result, ["Execution"])
    check("setup.ini" in ctx.listing(ctx.install_dir()), "the payload was not deployed")
    check_equal(record(ctx), None, "registry record")


def version_spelled_as_miss_marker(ctx):
    """A value equal to the miss marker counts as missing: message, then an
    empty offered version, which deploys nothing: exit -1, no record."""
    open_gate(ctx)
    ctx.put_setup(settings={"version": "error737"})
    files_before = ctx.files()
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out), (0xFFFFFFFF, False), "(exit code, timed out)")
    check_boxes(result, ["version"])
    check_equal(record(ctx), None, "registry record")
    check_equal(ctx.files(), files_before, "program-files folders")


def version_with_capital_e_is_ordinary(ctx):
    """The miss marker is matched case-sensitively: "Error737" is a version."""
    open_gate(ctx)
    ctx.put_setup(settings={"version": "Error737"})
    result = ctx.run_setup()
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir("Error737")
    check_equal(record(ctx), {"Version": b"Error737\0", "Path": install.encode() + b"\0"}, "registry record")


add_case("missing_setup_ini", missing_setup_ini, needs_component=True)
add_case("missing[ServiceName]", missing_service_name, needs_component=True)
add_case("missing[InstallPath]", missing_install_path, needs_component=True)
add_case("missing[Execution]", missing_execution, needs_component=True)
add_case("miss_marker[error737]", version_spelled_as_miss_marker, needs_component=True)
add_case("miss_marker[Error737]", version_with_capital_e_is_ordinary, needs_component=True)

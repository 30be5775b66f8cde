"""setup.exe on a machine without the automation component: the firmware
gate stays closed, so the run ends with -1 before it reads any setting."""

from harness import add_case, check, check_equal, registry_diff

NO_COMPONENT_ROWS = {
    # A complete setup.ini with an install due: a gate that wrongly opened
    # would deploy, launch and record.
    "complete_settings": dict(settings={}),
    # No setup.ini at all: a gate that wrongly opened would show message boxes.
    "no_setup_ini": dict(settings=None),
}


def gate_closed_without_component(ctx, settings):
    ctx.put_setup(files={"a.dll": b"payload a"}, settings=settings)
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check(not result.timed_out, "setup.exe did not end")
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
    check_equal(result.boxes, [], "message boxes")
    check_equal(ctx.files(), files_before, "program-files folders")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


for _name, _row in NO_COMPONENT_ROWS.items():
    add_case(f"gate_closed[{_name}]", gate_closed_without_component, **_row)

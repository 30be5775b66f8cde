"""The firmware gate with the real bridge: the stand-in component answers
"iAcpiMbif" with a package, and setup.exe goes on only when bits 8 to 15 of
element 3's value reach 2.

Every row has a complete setup.ini and an install due, so an open gate is
seen as a deploy (service executable run, record written) and a closed one
as exit -1 with nothing changed."""

from harness import (DEFAULT_SETTINGS, Element, add_case, check, check_equal, gate_passes, package,
                     read_word, registry_diff, simple_package)

GATE_ROWS = {
    "third_0x1FF_closed": dict(data=simple_package(0x1FF), opens=False),
    "third_0x200_open": dict(data=simple_package(0x200), opens=True),
    "third_0xFF00_open": dict(data=simple_package(0xFF00), opens=True),
    # Only bits 8 to 15 count: the high bits cannot open the gate.
    "third_0xFFFF01FF_closed": dict(data=simple_package(0xFFFF01FF), opens=False),
    "third_0x1200_open": dict(data=simple_package(0x00001200), opens=True),
    # N = 2: element 3 is in the bytes but must not be read.
    "count_2_closed": dict(data=simple_package(0xFF00, count=2), opens=False),
    # Element 1 with L = 5 takes 13 bytes. The data is chosen so that a walk
    # that rounds element sizes, or takes every element as 12 bytes, decides
    # the other way (checked below before setup.exe runs).
    "first_L5_open": dict(
        data=package([Element(0x11111111, length=5), Element(0x00004000), Element(0x200)]), opens=True,
        rules_out=("round4", "fixed12")),
    "first_L5_closed": dict(
        data=package([Element(0x11111111, length=5), Element(0x11000011), Element(0x1FF)]), opens=False,
        rules_out=("round4", "fixed12")),
    # Element 2 with L = 16: element 3 begins at offset 44, not 32.
    "second_L16_open": dict(
        data=package([Element(0x11111111), Element(0x22222222, length=16, fill=0), Element(0x300)]), opens=True,
        rules_out=("fixed12",)),
    "six_elements_open": dict(
        data=package([Element(1), Element(2), Element(0x0200), Element(0), Element(0), Element(0)]), opens=True),
}


def gate_row(ctx, data: bytes, opens: bool):
    # The row's data must decide the way the row says, by the exact walk.
    check_equal(gate_passes(read_word(data)), opens, "row data: gate by the exact walk")
    ctx.install_component({"iAcpiMbif": {"Data": data.hex()}})
    ctx.put_setup(files={"a.dll": b"payload a"}, settings={})
    registry_before = ctx.registry()
    files_before = ctx.files()

    result = ctx.run_setup()

    check(not result.timed_out, "setup.exe did not end")
    check_equal(result.boxes, [], "message boxes")
    check_equal(ctx.invoked_methods(), ["iAcpiInit", "iAcpiMbif"], "component methods called, in order")
    install = ctx.install_dir()
    if opens:
        check_equal(result.exit_code, 0, "exit code (gate open)")
        check_equal(len(ctx.service_runs(install)), 1, "service executable runs in the install folder")
        record = ctx.regdump(DEFAULT_SETTINGS["RegistryKey"])
        check(record is not None, "no registry record after a deploy")
    else:
        check_equal(result.exit_code, 0xFFFFFFFF, "exit code (gate closed)")
        check_equal(ctx.files(), files_before, "program-files folders")
        changes = registry_diff(registry_before, ctx.registry())
        check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def element_sizes_by_length(ctx, data: bytes, opens: bool, rules_out: tuple[str, ...]):
    faulty = [w for w in rules_out if gate_passes(read_word(data, w)) == opens]
    check(not faulty, f"row data does not tell the exact walk from {faulty}")
    gate_row(ctx, data, opens)


def probe_asks_with_4096_bytes(ctx):
    """One call of "iAcpiMbif": a 4096-element VT_I1 array by reference, length 4096 by reference."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x100).hex()}})
    ctx.put_setup(settings={})
    result = ctx.run_setup()
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
    calls = [e for e in ctx.component_calls() if e.get("event") == "invoke" and e.get("method") == "iAcpiMbif"]
    check_equal(len(calls), 1, "iAcpiMbif calls")
    args = calls[0].get("args", [])
    check_equal(len(args), 2, "iAcpiMbif argument count")
    # Index 0 is the last parameter: the length by reference.
    check_equal((args[0].get("vt"), args[0].get("ui4")), (0x4013, 4096), "length argument (vt, value)")
    array = args[1].get("ref", {})
    check_equal(args[1].get("vt"), 0x400C, "array argument vt")
    check_equal((array.get("vt"), array.get("elemVt"), array.get("lbound"), array.get("count")),
                (0x2010, 16, 0, 4096), "array (vt, element vt, lower bound, count)")


for _name, _row in GATE_ROWS.items():
    if _name.startswith(("first_L", "second_L")):
        add_case(f"gate[{_name}]", element_sizes_by_length, needs_component=True, **_row)
    else:
        add_case(f"gate[{_name}]", gate_row, needs_component=True, **_row)
add_case("probe_asks_with_4096_bytes", probe_asks_with_4096_bytes, needs_component=True)

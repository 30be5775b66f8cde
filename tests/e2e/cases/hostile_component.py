"""A component that misbehaves: it lies about lengths, leaves something other
than a byte array, fails, does not know its names, or dies in the middle of
a call. Through the exports (export_client.exe) the caller's memory past
the length it gave stays intact, exactly min(length on entry, array size,
length left) bytes of the array left come back, and nothing crashes.
Through setup.exe's firmware gate every such answer that leaves no readable
word ends the run with -1 before anything is changed."""

from harness import (COMPONENT_DIR, DEFAULT_SETTINGS, add_case, check, check_equal, gate_passes, read_word,
                     registry_diff, simple_package)
from harness.bridge import (ARRAY_REF, BUFFER, BYTE_ARRAY, VT_BSTR, VT_I4, VT_UI1, Call, call,
                            check_no_crash, check_untouched, expected_buffer, split_calls)

SENT = bytes(range(0x10, 0x18))  # 8 bytes


def buffer_calls() -> list[Call]:
    """The five buffer exports, 8 bytes each. SetItemBuffer's buffer is 12
    bytes long: the 4 past the length on entry are not the export's."""
    return [
        call("GetItemBuffer", 1, 2, data=SENT),
        call("SetItemBuffer", 3, 4, data=SENT, capacity=12, length=8),
        call("Mbif", data=SENT),
        call("GGrp", 9, data=SENT),
        call("CallMethod", selector=bytes([4, 3, 2, 1]), data=SENT),
    ]


def scalar_calls() -> list[Call]:
    return [call("Init"), call("GetItem", 1, value=0x55), call("GetItemEx", 1, 2, value=0x66),
            call("SetItem", 1, 2, 3)]


def every_method(keys: dict, functions=BUFFER) -> dict:
    return {"iAcpi" + f: dict(keys) for f in functions}


# What each row makes the buffer methods leave: (scenario keys, the type of
# VARIANT left, the array's size when it is a byte array, the length left).
# The last three are checked against the component's own log, so that a row
# cannot silently stop testing what it says.
LENGTH_ROWS = {
    "array_shorter_than_length": ({"Array": "new", "Data": "a0a1a2", "Length": "6"}, BYTE_ARRAY, 3, 6),
    "length_beyond_capacity": ({"Array": "new", "Data": "a0" * 12, "Length": "12"}, BYTE_ARRAY, 12, 12),
    "length_beyond_everything": ({"Array": "new", "Data": "a5" * 12, "Length": "0xFFFFFFFF"}, BYTE_ARRAY, 12,
                                 0xFFFFFFFF),
    # Written into the array it received (8 of its 16 bytes fit).
    "same_array_length_beyond": ({"Data": "b0b1b2b3b4b5b6b7b8b9babbbcbdbebf", "Length": "16"}, BYTE_ARRAY, 8, 16),
    "big_array_short_length": ({"Array": "new", "Data": "c3" * 64, "Length": "5"}, BYTE_ARRAY, 64, 5),
    "length_zero": ({"Array": "new", "Data": "d0d1d2d3d4d5d6d7", "Length": "0"}, BYTE_ARRAY, 8, 0),
    "empty_array": ({"Array": "new", "Data": "", "Length": "8"}, BYTE_ARRAY, 0, 8),
}

VARIANT_ROWS = {
    "i4": ({"Array": "i4", "Data": "e0e1e2e3", "Length": "4"}, VT_I4, None, 4),
    "bstr": ({"Array": "bstr", "Data": "e0e1e2e3", "Length": "4"}, VT_BSTR, None, 4),
    "empty": ({"Array": "empty", "Data": "e0e1e2e3", "Length": "4"}, 0, None, 4),
    # The right bytes in an array of the wrong element type.
    "ui1_array": ({"Array": "ui1", "Data": "e0e1e2e3", "Length": "4"}, 0x2000 | VT_UI1, None, 4),
}


def run_rows(ctx, rows: dict):
    ctx.install_component({})
    for name, (keys, vt, count, length) in rows.items():
        ctx.set_scenario(every_method(keys))
        calls = buffer_calls()
        log_before = len(ctx.component_calls())
        run = ctx.call_exports(*(c.text for c in calls))
        check_no_crash(run, calls, name)
        visits = split_calls(ctx.component_calls()[log_before:])
        check_equal([v.method for v in visits], [c.method for c in calls], f"{name}: methods called")
        for c, result, visit in zip(calls, run.calls, visits):
            what = f"{name}: {c.text}"
            check(visit.returned is not None, f"{what}: the component did not return")
            left = visit.returned["args"]
            ref = left[1].get("ref", {})
            check_equal((left[1].get("vt"), ref.get("vt"), ref.get("count") if count is not None else None,
                         left[0].get("ui4")), (ARRAY_REF, vt, count, length), f"{what}: row data: what the "
                        "component left (vt, variant vt, array size, length)")
            check_equal(result.get("ret"), 1, f"{what}: return value")
            buffer, expected_length = expected_buffer(c, visit)
            check_equal(result.get("buffer"), buffer, f"{what}: buffer after the call")
            check_equal(result.get("length"), expected_length, f"{what}: length variable after the call")
            check_equal(result.get("canaryIntact"), True, f"{what}: bytes after the buffer intact")


def lying_lengths(ctx):
    run_rows(ctx, LENGTH_ROWS)


def not_a_byte_array(ctx):
    """Nothing is copied back from anything but a VT_ARRAY|VT_I1 array; the
    length variable still gets what the component left."""
    run_rows(ctx, VARIANT_ROWS)


FAILURE_ROWS = {
    # Fails after writing its answer: scalars 0, buffers 1 with the answer.
    "failing": {"HResult": "0x80004005", "Value": "0x77", "Data": "f0f1f2f3f4"},
    # The name lookup fails: no method call at all.
    "unknown_names": {"Unknown": "1", "Value": "0x77", "Data": "f0f1f2f3f4"},
    # The server process ends in the middle of the call.
    "dies": {"Die": "1", "Value": "0x77", "Data": "f0f1f2f3f4"},
}


def failing_component(ctx):
    """Scalar exports return 0, buffer exports return 1; the caller's memory
    holds what came back, or what it sent when nothing did; no crash."""
    ctx.install_component({})
    all_functions = ("Init", "GetItem", "GetItemEx", "SetItem") + BUFFER
    for name, keys in FAILURE_ROWS.items():
        ctx.set_scenario(every_method(keys, all_functions))
        calls = scalar_calls() + buffer_calls()
        if name == "dies":
            # Each death costs a new server start (about a second): a few calls.
            calls = [calls[2], calls[5], calls[7], calls[8]]
        log_before = len(ctx.component_calls())
        run = ctx.call_exports(*(c.text for c in calls), timeout=120)
        check_no_crash(run, calls, name)
        visits = split_calls(ctx.component_calls()[log_before:])
        methods = [v.method for v in visits]
        for c, result in zip(calls, run.calls):
            what = f"{name}: {c.text}"
            visit = next((v for v in visits if v.method == c.method), None)
            if visit is None:
                # Only a restart of the server can fail here (it was just
                # killed); the export then made no call and changed nothing.
                check(name == "dies", f"{what}: the component saw no call (saw {methods})")
                check_equal(result.get("ret"), 0, f"{what}: return value without an instance")
                check_untouched(c, result, what)
                continue
            if name == "unknown_names":
                check(visit.invoke is None, f"{what}: a method was called after the lookup failed")
            if name == "dies":
                check(visit.died and visit.returned is None, f"{what}: row data: the component did not die")
            if not c.is_buffer:
                check_equal(result.get("ret"), 0, f"{what}: return value")
                if name != "failing":
                    check_untouched(c, result, what)
                continue
            check_equal(result.get("ret"), 1, f"{what}: return value")
            buffer, length = expected_buffer(c, visit)
            if name == "failing":
                check_equal(length, 5, f"{what}: row data: the length the failing method left")
            check_equal(result.get("buffer"), buffer, f"{what}: buffer after the call")
            check_equal(result.get("length"), length, f"{what}: length variable after the call")
            check_equal(result.get("canaryIntact"), True, f"{what}: bytes after the buffer intact")


# -- the firmware gate ------------------------------------------------------

OPEN = simple_package(0x0200)  # element 3's value at offset 36: bytes 00 02 00 00
assert gate_passes(read_word(OPEN)) and not gate_passes(read_word(OPEN[:37]))
OPEN_HEX = OPEN.hex()

# What "iAcpiMbif" leaves. Every row offers a package that opens the gate,
# but leaves it where the probe must not read it.
GATE_CLOSED_ROWS = {
    "not_an_array_i4": {"Array": "i4", "Data": OPEN_HEX},
    "not_an_array_bstr": {"Array": "bstr", "Data": OPEN_HEX},
    "empty_variant": {"Array": "empty", "Data": OPEN_HEX},
    "ui1_array": {"Array": "ui1", "Data": OPEN_HEX},
    # 37 bytes: the word's 0x02 is the 38th.
    "new_array_length_short_of_word": {"Array": "new", "Data": OPEN_HEX, "Length": "37"},
    "same_array_length_short_of_word": {"Data": OPEN_HEX, "Length": "37"},
    "length_zero": {"Array": "new", "Data": OPEN_HEX, "Length": "0"},
    "empty_array_length_4096": {"Array": "new", "Data": "", "Length": "4096"},
    # Fails and leaves the array as it came: the probe's own zeros.
    "failing": {"HResult": "0x80004005"},
    "unknown_name": {"Unknown": "1", "Data": OPEN_HEX},
    "dies": {"Die": "1", "Data": OPEN_HEX},
}

# Lies that still leave the word where the probe reads it: the gate opens,
# and the probe's 4096-byte buffer is never overrun.
GATE_OPEN_ROWS = {
    "length_beyond_array": {"Array": "new", "Data": OPEN_HEX, "Length": "4096"},
    "array_beyond_capacity": {"Array": "new", "Data": (OPEN + b"\xee" * (6000 - len(OPEN))).hex(),
                              "Length": "6000"},
    "length_beyond_everything": {"Array": "new", "Data": (OPEN + b"\xee" * (5000 - len(OPEN))).hex(),
                                 "Length": "0xFFFFFFFF"},
    # A buffer export copies back whatever the method call returned.
    "failing_after_answering": {"HResult": "0x80004005", "Data": OPEN_HEX},
}


def gate_run(ctx, name: str, scenario: dict):
    log_before = len(ctx.component_calls())
    ctx.set_scenario({"iAcpiMbif": scenario})
    result = ctx.run_setup(cwd=r"C:\Work")
    check(not result.timed_out, f"{name}: setup.exe did not end")
    check_equal(result.boxes, [], f"{name}: message boxes")
    visits = split_calls(ctx.component_calls()[log_before:])
    check_equal([v.method for v in visits], ["iAcpiInit", "iAcpiMbif"], f"{name}: component methods")
    return result, visits[1]


def gate_cannot_read_word(ctx):
    """Each answer ends the run with -1: no box, no file, no registry change."""
    ctx.install_component({})
    ctx.put_setup(files={"a.dll": b"payload a"}, settings={})
    ctx.host_path(r"C:\Work").mkdir()
    registry_before = ctx.registry()
    drive_before = ctx.drive_files(leave_out=("windows", COMPONENT_DIR[3:]))
    for name, scenario in GATE_CLOSED_ROWS.items():
        result, mbif = gate_run(ctx, name, scenario)
        check_equal(result.exit_code, 0xFFFFFFFF, f"{name}: exit code")
        if "Die" in scenario:
            check(mbif.died, f"{name}: row data: the component did not die")
        elif "Unknown" not in scenario:
            check(mbif.returned is not None, f"{name}: row data: the component did not answer")
        changed = sorted(k for k, v in ctx.drive_files(leave_out=("windows", COMPONENT_DIR[3:])).items()
                         if drive_before.get(k) != v)
        check_equal(changed, [], f"{name}: files written on drive C:")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def gate_reads_word_despite_lies(ctx):
    """Exit 0 on every row: the gate opened (a closed gate is always -1); the
    first row deploys, the later ones find the same version installed."""
    ctx.install_component({})
    ctx.put_setup(settings={})
    ctx.host_path(r"C:\Work").mkdir()
    for name, scenario in GATE_OPEN_ROWS.items():
        result, mbif = gate_run(ctx, name, scenario)
        check_equal(result.exit_code, 0, f"{name}: exit code (0x{result.exit_code:08X})")
        check(mbif.returned is not None, f"{name}: row data: the component did not answer")
    check(ctx.regdump(DEFAULT_SETTINGS["RegistryKey"]) is not None, "no registry record after the deploy")


add_case("lying_lengths", lying_lengths, needs_component=True)
add_case("not_a_byte_array", not_a_byte_array, needs_component=True)
add_case("failing_component", failing_component, needs_component=True)
add_case("gate_cannot_read_word", gate_cannot_read_word, needs_component=True)
add_case("gate_reads_word_despite_lies", gate_reads_word_despite_lies, needs_component=True)

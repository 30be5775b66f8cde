"""The nine exports of setup.exe, called by another program (export_client.exe
loads setup.exe as a library): what the component sees of each call, what
comes back into the caller's buffers and variables, and what a caller gets
when the component cannot be reached or the arguments are unusable."""

from harness import COMPONENT_DIR, add_case, check, check_equal
from harness.bridge import (ALL_METHODS, Call, call, check_no_crash, check_untouched, expected_buffer,
                            split_calls)

E_FAIL = "0x80004005"
DISP_E_EXCEPTION = "0x80020009"


def nine_calls() -> list[Call]:
    """One call of each export, with distinct values everywhere, and buffers
    that a wrong copy (too short, too long, from the wrong array) shows."""
    return [
        call("Init"),
        call("GetItem", 0x11, value=0x55),
        call("GetItemEx", 5, 7, value=0x99),
        call("SetItem", 0x10, 0x20, 0xFFFFFFF0),
        call("GetItemBuffer", 0x101, 0x202, data=bytes(range(0x10, 0x18))),
        # capacity 10, 8 bytes sent: the last two bytes are the caller's own.
        call("SetItemBuffer", 0x303, 0x404, data=bytes(range(0x20, 0x28)), capacity=10, length=8),
        call("Mbif", data=bytes(range(0x30, 0x40))),
        call("GGrp", 6, data=bytes([0x00, 0x41, 0x42, 0x43])),
        call("CallMethod", selector=bytes([0x11, 0x22, 0x33, 0x44]), data=bytes([0xAB, 0xCD, 0xEF])),
    ]


def make_calls(ctx, calls: list[Call], where: str):
    """Runs the calls in one export_client; returns (results, the component's
    visits during them)."""
    log_before = len(ctx.component_calls())
    run = ctx.call_exports(*(c.text for c in calls))
    check_no_crash(run, calls, where)
    return run.calls, ctx.component_calls_released(log_before)


def check_component_saw(calls: list[Call], events: list[dict], where: str):
    """Each call that passes the export's own checks makes one lookup and one
    method call with exactly the expected arguments, on an instance of its
    own that is released before the next call; the others reach nothing.
    Returns the visits in call order (None for calls that reach nothing)."""
    reaching = [c for c in calls if c.reaches_component()]
    visits = split_calls(events)
    check_equal([v.method for v in visits], [c.method for c in reaching], f"{where}: methods looked up, in order")
    creates = [e for e in events if e.get("event") == "create"]
    releases = [e for e in events if e.get("event") == "release"]
    check_equal([e.get("objects") for e in creates], [1] * len(reaching),
                f"{where}: live instances at each creation (one per call, none kept)")
    check_equal(len(releases), len(reaching), f"{where}: instances released")
    by_call = {}
    for c, visit in zip(reaching, visits):
        lookup = visit.lookup
        check_equal((lookup.get("lcid"), lookup.get("cNames")), (0x0400, 1),
                    f"{where}: {c.text}: lookup (lcid, cNames)")
        if lookup.get("hr") != "0x00000000":
            check(visit.invoke is None, f"{where}: {c.text}: invoked after a failed lookup")
        else:
            invoke = visit.invoke
            check(invoke is not None, f"{where}: {c.text}: no method call after the lookup")
            check_equal((invoke.get("method"), invoke.get("lcid"), invoke.get("flags"), invoke.get("cNamedArgs")),
                        (c.method, 0x0800, 1, 0), f"{where}: {c.text}: call (method, lcid, flags, named args)")
            check_equal(invoke.get("args"), c.expected_arguments(), f"{where}: {c.text}: arguments (index 0 first)")
        by_call[id(c)] = visit
    return [by_call.get(id(c)) for c in calls]


def check_results(calls: list[Call], results: list[dict], visits, where: str, scalar_ok: bool) -> None:
    """Return values, and what came back into the caller's memory."""
    for c, result, visit in zip(calls, results, visits):
        what = f"{where}: {c.text}"
        if not c.reaches_component():
            check_equal(result.get("ret"), 0, f"{what}: return value (refused)")
            check_untouched(c, result, what)
            continue
        if not c.is_buffer:
            check_equal(result.get("ret"), 1 if scalar_ok else 0, f"{what}: return value")
            if scalar_ok and c.function in ("GetItem", "GetItemEx"):
                left = visit.returned["args"][0].get("ui4")
                check_equal(result.get("value"), left, f"{what}: value left by the component")
            continue
        # A buffer export succeeds once the instance and the array exist,
        # whatever the method call returned.
        check_equal(result.get("ret"), 1, f"{what}: return value")
        buffer, length = expected_buffer(c, visit)
        check_equal(result.get("buffer"), buffer, f"{what}: buffer after the call")
        check_equal(result.get("length"), length, f"{what}: length variable after the call")
        if c.data is not None:
            check_equal(result.get("canaryIntact"), True, f"{what}: bytes after the buffer intact")
        if c.function == "CallMethod":
            check_equal(result.get("selector"), c.selector.hex(), f"{what}: selector bytes")


ANSWERS = {
    "iAcpiGetItem": {"Value": "0x1234ABCD"},
    "iAcpiGetItemEx": {"Value": "0xCAFEBABE"},
    # Written into the array it received: 6 bytes, length 6.
    "iAcpiGetItemBuffer": {"Data": "a0a1a2a3a4a5"},
    # A new array of its own, 5 bytes.
    "iAcpiSetItemBuffer": {"Array": "new", "Data": "b0b1b2b3b4"},
    "iAcpiMbif": {"Data": "c0c1c2c3c4c5c6c7c8c9cacbcccdcecf"},
    # Leaves length 0: nothing comes back, so the caller's buffer shows
    # the 0xE1 that the export put there itself.
    "iAcpiGGrp": {"Length": "0"},
    "iAcpiCallMethod": {"Array": "new", "Data": "d0d1d2"},
}


def exports_answered(ctx):
    """All nine exports against a component that answers each method."""
    ctx.install_component(ANSWERS)
    calls = nine_calls()
    results, events = make_calls(ctx, calls, "answers")
    visits = check_component_saw(calls, events, "answers")
    check_results(calls, results, visits, "answers", scalar_ok=True)
    # The same, spelled out for the values the scenario sets.
    by_function = {c.function: r for c, r in zip(calls, results)}
    check_equal((by_function["GetItem"]["value"], by_function["GetItemEx"]["value"]), (0x1234ABCD, 0xCAFEBABE),
                "values written by the component")
    check_equal(by_function["GetItemBuffer"]["buffer"], "a0a1a2a3a4a51617", "GetItemBuffer buffer")
    check_equal(by_function["SetItemBuffer"]["buffer"], "b0b1b2b3b4252627cccc", "SetItemBuffer buffer")
    check_equal(by_function["GGrp"]["buffer"], "e1414243", "GGrp buffer (marker, nothing copied back)")
    check_equal(by_function["CallMethod"]["buffer"], "d0d1d2", "CallMethod buffer")
    # The selector bytes 11 22 33 44 travel as one little-endian 32-bit value.
    check_equal(visits[8].invoke["args"][2], {"vt": 19, "ui4": 0x44332211}, "CallMethod selector as received")
    check_equal(visits[7].invoke["args"][1]["ref"]["hex"], "e1414243", "GGrp array as received")


def exports_with_failing_methods(ctx):
    """Every method fails after leaving its answer: scalar exports return 0,
    buffer exports return 1 and still copy back what the component left."""
    ctx.install_component({})
    for hresult in (E_FAIL, DISP_E_EXCEPTION):
        where = f"HResult={hresult}"
        ctx.set_scenario({m: {"HResult": hresult, "Value": "0x77", "Data": "f0f1f2f3f4"} for m in ALL_METHODS})
        calls = nine_calls()
        results, events = make_calls(ctx, calls, where)
        visits = check_component_saw(calls, events, where)
        returned = [v.returned.get("hr") for v in visits]
        check_equal(returned, [hresult] * 9, f"{where}: what the component returned")
        check_results(calls, results, visits, where, scalar_ok=False)
        check_equal(results[4]["buffer"], "f0f1f2f3f4151617", f"{where}: GetItemBuffer copied back")


def used_then_unregistered(ctx):
    ctx.install_component({"iAcpiGetItem": {"Value": "0x4242"}})
    probe = call("GetItem", 1, value=0)
    results, _ = make_calls(ctx, [probe], "before /UnregServer")
    check_equal((results[0]["ret"], results[0]["value"]), (1, 0x4242), "reachable before /UnregServer (ret, value)")
    ctx.unregister_component()


def registered_without_server(ctx):
    # Never started, so no running server can answer in its place.
    ctx.install_component({})
    (ctx.host_path(COMPONENT_DIR) / "standin_component.exe").unlink()


UNREACHABLE_ROWS = {
    # No registration at all: the ProgID does not resolve.
    "never_registered": None,
    # Registered and used, then unregistered (its server is still running).
    "unregistered": used_then_unregistered,
    # Registered, but the server's executable is gone: no instance.
    "server_missing": registered_without_server,
}


def exports_without_component(ctx, make_unreachable):
    """All nine return 0 and leave the caller's memory as it was (GGrp does
    not even write its marker)."""
    if make_unreachable is not None:
        make_unreachable(ctx)
    log_before = len(ctx.component_calls())
    calls = nine_calls()
    run = ctx.call_exports(*(c.text for c in calls))
    check_no_crash(run, calls, "unreachable")
    for c, result in zip(calls, run.calls):
        check_equal(result.get("ret"), 0, f"{c.text}: return value")
        check_untouched(c, result, c.text)
    reached = [e for e in ctx.component_calls()[log_before:] if e.get("event") in ("lookup", "invoke", "create")]
    check_equal(reached, [], "component events while unreachable")


def guarded_calls(ctx):
    """Arguments the exports refuse, and a group call that sends nothing."""
    # 1. Nothing to send: the call is made with an empty array, and the
    #    caller's buffer is not written (GGrp's marker needs one byte sent).
    ctx.install_component({})
    empty = [
        call("GGrp", 5, data=bytes([1, 2, 3, 4, 5]), capacity=5, length=0),
        call("GGrp", 5, data=None, capacity=0, length=0),
        call("Mbif", data=None, capacity=0, length=0),
        call("CallMethod", selector=bytes([1, 0, 0, 0]), data=bytes([9, 9]), capacity=2, length=0),
    ]
    results, events = make_calls(ctx, empty, "nothing sent")
    visits = check_component_saw(empty, events, "nothing sent")
    check_results(empty, results, visits, "nothing sent", scalar_ok=True)
    check_equal(results[0]["buffer"], "0102030405", "GGrp buffer with length 0")

    # 2. Refused: null buffer with a length, null length, null value, null
    #    selector. The component would write everything it can if called.
    ctx.set_scenario({m: {"Value": "0xDEAD", "Data": "eeeeeeeeeeeeeeeeeeee", "Length": "10"} for m in ALL_METHODS})
    refused = [
        call("GetItem", 1, value=None),
        call("GetItemEx", 1, 2, value=None),
        call("GetItemBuffer", 1, 2, data=None, capacity=8),
        call("SetItemBuffer", 1, 2, data=None, capacity=1),
        call("Mbif", data=None, capacity=4096),
        call("GGrp", 3, data=None, capacity=8),
        call("CallMethod", selector=bytes(4), data=None, capacity=8),
        call("GetItemBuffer", 1, 2, data=bytes([1, 2, 3, 4]), length=None),
        call("SetItemBuffer", 1, 2, data=bytes([1, 2, 3, 4]), length=None),
        call("Mbif", data=bytes([1, 2, 3, 4]), length=None),
        call("GGrp", 3, data=bytes([1, 2, 3, 4]), length=None),
        call("CallMethod", selector=bytes(4), data=bytes([1, 2, 3, 4]), length=None),
        call("CallMethod", selector=None, data=bytes([1, 2, 3, 4])),
        # The component is there: this one reaches it.
        call("Init"),
    ]
    check(all(not c.reaches_component() for c in refused[:-1]), "row data: refused calls")
    results, events = make_calls(ctx, refused, "refused")
    visits = check_component_saw(refused, events, "refused")
    check_results(refused, results, visits, "refused", scalar_ok=True)


add_case("answers", exports_answered, needs_component=True)
add_case("failing_methods", exports_with_failing_methods, needs_component=True)
for _name, _make in UNREACHABLE_ROWS.items():
    add_case(f"unreachable[{_name}]", exports_without_component, needs_component=_make is not None,
             make_unreachable=_make)
add_case("guarded_calls", guarded_calls, needs_component=True)

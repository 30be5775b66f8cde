"""A caller written in C against acpi/fan_acpi_bridge.h alone
(tools/header_caller): it finds the nine exports by the header's names and
ordinals and calls them through the header's function types. What the
component received and left (its call log) must match what the caller saw,
as for export_client's calls: a wrong name, ordinal, parameter list or
calling convention in the header shows here."""

import json
import shutil

from harness import CaseFailure, CaseSkip, ExportRun, add_case, check_equal, win_join
from harness.bridge import check_no_crash

from cases.bridge_exports import ANSWERS, check_component_saw, check_results, nine_calls

CALLER_DIR = r"C:\e2e\caller"


def run_header_caller(ctx) -> tuple[ExportRun, bool]:
    """Runs header_caller.exe on a copy of setup.exe: (its calls, whether
    its by-name and by-ordinal lookups agreed)."""
    if ctx.tools.header_caller is None:
        raise CaseSkip("tools/header_caller/ does not exist")
    if not ctx.tools.header_caller.is_file():
        raise CaseFailure(f"{ctx.tools.header_caller} is not built")
    folder = ctx.host_path(CALLER_DIR)
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(ctx.tools.header_caller, folder / "header_caller.exe")
    shutil.copy2(ctx.tools.setup, folder / "setup.exe")
    completed = ctx.prefix.wine([win_join(CALLER_DIR, "header_caller.exe"), win_join(CALLER_DIR, "setup.exe")])
    objects = [json.loads(line) for line in completed.stdout.splitlines() if line.startswith("{")]
    lookups = [o for o in objects if "lookup" in o]
    calls = [o for o in objects if "call" in o]
    return ExportRun(completed.returncode, calls, completed.stderr), lookups == [{"lookup": "ordinals", "agree": True}]


def header_caller_answered(ctx):
    """The nine exports called through the header against a component that
    answers each method: the same arguments reach it, and the same results
    come back, as when export_client makes these calls."""
    ctx.install_component(ANSWERS)
    calls = nine_calls()
    log_before = len(ctx.component_calls())
    run, ordinals_agree = run_header_caller(ctx)
    check_no_crash(run, calls, "header_caller")
    check_equal(ordinals_agree, True, "exports found by the header's names and ordinals alike")
    events = ctx.component_calls_released(log_before)
    visits = check_component_saw(calls, events, "header_caller")
    check_results(calls, run.calls, visits, "header_caller", scalar_ok=True)
    by_function = {c.function: r for c, r in zip(calls, run.calls)}
    check_equal((by_function["GetItem"]["value"], by_function["GetItemEx"]["value"]), (0x1234ABCD, 0xCAFEBABE),
                "values written by the component")
    check_equal(by_function["SetItemBuffer"]["buffer"], "b0b1b2b3b4252627cccc", "SetItemBuffer buffer")
    check_equal(by_function["GGrp"]["buffer"], "e1414243", "GGrp buffer (marker, nothing copied back)")


def header_caller_without_component(ctx):
    """No component: every export returns 0 through the header's types too,
    and the caller's memory stays as it was."""
    calls = nine_calls()
    run, _ = run_header_caller(ctx)
    check_no_crash(run, calls, "header_caller")
    check_equal([r.get("ret") for r in run.calls], [0] * 9, "return values")
    for c, result in zip(calls, run.calls):
        if c.is_buffer:
            check_equal((result.get("buffer"), result.get("length"), result.get("canaryIntact")),
                        (c.buffer_before().hex(), c.length, True), f"{c.text}: buffer, length, canary")
        elif c.function in ("GetItem", "GetItemEx"):
            check_equal(result.get("value"), c.value, f"{c.text}: value variable")


add_case("answers", header_caller_answered, needs_component=True)
add_case("no_component", header_caller_without_component)

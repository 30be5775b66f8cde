"""bench/results.md from one run's measurements. Every number in it comes
from the run; the text around the numbers says what was measured."""

from __future__ import annotations

import math
import re
from pathlib import Path

from .stats import Series, paired_ratios, ratio, ratio_interval

BRIDGE_GOAL = 1.05
NOOP_GOAL = 1.10
COPY_GOAL = 1.05
SEALED_GOAL = 1.05
SIZE_GOAL = 256 * 1024


def _ms(seconds: float) -> str:
    return "n/a" if math.isnan(seconds) else f"{seconds * 1e3:,.1f} ms"


def _s(seconds: float) -> str:
    return "n/a" if math.isnan(seconds) else f"{seconds:,.3f} s"


def _us(micro: float) -> str:
    return "n/a" if math.isnan(micro) else f"{micro:,.0f} µs"


def _ratio(value: float) -> str:
    return "n/a" if math.isnan(value) else f"{value:.3f}"


def _met(value: float, goal: float) -> str:
    if math.isnan(value):
        return "n/a"
    return "yes" if value <= goal else "**no**"


def _spread(series: Series, fmt) -> str:
    return f"{fmt(series.low)} – {fmt(series.high)}"


def _paired(subject: Series, floor: Series) -> str:
    ratios = paired_ratios(subject, floor)
    if not ratios:
        return "n/a"
    ratios.sort()
    return f"{ratios[len(ratios) // 2]:.3f} ({ratios[0]:.3f} – {ratios[-1]:.3f})"


def _kib(size: float) -> str:
    return f"{size / 1024:,.1f} KiB"


def _lane(results) -> str:
    return f"lane {results.lane.name}"


def render(session, payloads: list[int]) -> str:
    """results.md: every table has a lane column, one row (or set of rows)
    per lane measured; a lane this machine cannot run is named with its reason."""
    args = session.args
    runs = session.runs
    main = args.main_files
    m = session.machine

    out: list[str] = []
    w = out.append
    w("# Benchmarks of setup.exe")
    w("")
    w("Written by `scripts/bench`; do not edit by hand — run it again.")
    w("")
    w(f"- Command: `{args.command}`")
    w(f"- Date: {session.started:%Y-%m-%d %H:%M} UTC")
    took = (f"{session.seconds:.0f} s of measuring (" +
            ", ".join(f"{_lane(r)}: {r.seconds:.0f} s" for r in runs) + "; each: template prefix, payload, all runs)")
    if getattr(args, "build_seconds", None) is not None:
        took += f", after {args.build_seconds:.0f} s of bootstrap and build"
    w(f"- Took: {took}")
    w(f"- Machine: {m['nproc']} cores (nproc), {m['cpu']}, {m['memory_gib']:.0f} GiB memory, Linux {m['kernel']}")
    w("- Lanes (tests/e2e/harness/lanes.py), measured one after the other, each with its own build of every program "
      "(setup.exe, the floors, the stand-ins, the launcher) in a fresh Wine prefix of its own, run by the lane's "
      "loader:")
    for r in runs:
        loader = " ".join(r.lane.wine())
        w(f"  - {_lane(r)}: the `{r.lane.preset}` preset ({r.lane.machine}), own tree `{_tree(r.build)}`; `{loader}`: "
          f"{r.wine}; {r.compiler}. Load average (1, 5, 15 min) before: "
          f"{', '.join(f'{x:.2f}' for x in r.load_before)}; after: {', '.join(f'{x:.2f}' for x in r.load_after)}. "
          f"Runs repeated because the component hung: "
          + (f"{len(r.hung)} ({_counted(r.hung)})." if r.hung else "none."))
    for name, reason in sorted(session.skipped.items()):
        w(f"  - lane {name}: **skipped**, this machine cannot run it: {reason}")
    w("- Other work (another session's end-to-end tests) may have shared the CPUs; subject and floor runs alternate "
      "(A B, B A, ...) and medians are used, so that such load falls on both alike, but it widens the spread below.")
    if any(r.hung for r in runs):
        w("- A repeated run: now and then, after some dozens to hundreds of client processes, a client hangs in the "
          "middle of a call under Wine (the component's log stops between the creation of the instance and its "
          "release), and from then on every new client hangs the same way. The benchmark sees the component's log "
          "stand still mid-call, ends the prefix's processes, starts the component again and makes the run again; "
          "the hung run is not counted.")
    w("- Build: Release (setup.exe's own code `-Os`, the floors and stand-ins `-O3`), static runtime, stripped "
      "(`-DFANSETUP_TESTS=OFF`); Wine prefix: a fresh copy of a "
      "booted template of the lane, `WINEDEBUG=-all`.")
    w("")
    w("## Results")
    w("")
    w("| lane | figure | subject median | floor median | ratio | goal | met? |")
    w("|---|---|---|---|---|---|---|")
    for r in runs:
        bridge, noop, copy, whole, size = r.bridge, r.noop[main], r.copy[main], r.whole[main], r.size
        bridge_ratio = ratio(bridge.subject, bridge.floor)
        noop_ratio = ratio(noop.subject, noop.floor)
        copy_ratio = ratio(copy.subject, copy.floor)
        whole_ratio = ratio(whole.subject, whole.floor)
        lane = r.lane.name
        w(f"| {lane} | bridge: one `AcpiGetItem` call through setup.exe's export, per call | "
          f"{_us(bridge.subject.median)} | {_us(bridge.floor.median)} | {_ratio(bridge_ratio)} | "
          f"≤ {BRIDGE_GOAL:.2f} | {_met(bridge_ratio, BRIDGE_GOAL)} |")
        w(f"| {lane} | no-op run (version installed, service present), whole process | {_ms(noop.subject.median)} | "
          f"{_ms(noop.floor.median)} | {_ratio(noop_ratio)} | ≤ {NOOP_GOAL:.2f} | {_met(noop_ratio, NOOP_GOAL)} |")
        w(f"| {lane} | deployment: copy of {r.copied_files[main]:,} files, {r.payload_bytes[main] / 1e6:,.0f} MB "
          f"(copy isolated) | {_s(copy.subject.median)} | {_s(copy.floor.median)} | {_ratio(copy_ratio)} | "
          f"≤ {COPY_GOAL:.2f} | {_met(copy_ratio, COPY_GOAL)} |")
        w(f"| {lane} | deployment: whole fresh-install run against the copy-only floor (reference) | "
          f"{_s(whole.subject.median)} | {_s(whole.floor.median)} | {_ratio(whole_ratio)} | — | — |")
        if r.sealed is not None:
            value = sealed_ratio(r.sealed)
            w(f"| {lane} | sealed deployment: whole fresh-install run of a sealed setup.exe ({r.sealed_files:,} files "
              f"checked, {r.sealed_bytes / 1e6:,.0f} MB) against the unsealed run + `hash_floor.exe` | "
              f"{_s(r.sealed.subject.median)} | {_s(sealed_floor(r.sealed))} | {_ratio(value)} | "
              f"≤ {SEALED_GOAL:.2f} | {_met(value, SEALED_GOAL)} |")
        w(f"| {lane} | size of setup.exe as built (`{_tree(r.build)}/setup/setup.exe`) | {size['bytes']:,} bytes "
          f"({_kib(size['bytes'])}) | — | {size['bytes'] / SIZE_GOAL:.3f} of the goal | ≤ 256 KiB | "
          f"{_met(size['bytes'], SIZE_GOAL)} |")
    for name, reason in sorted(session.skipped.items()):
        w(f"| {name} | **skipped**: {reason} | — | — | — | — | — |")
    w("")
    w("Ratio = subject median / floor median. Spread of the runs behind each median (per-run values, lowest – "
      "highest) and the ratio of each subject run to the floor run made next to it (median, lowest – highest):")
    w("")
    w("| lane | figure | runs per side | subject runs | floor runs | paired ratios |")
    w("|---|---|---|---|---|---|")
    for r in runs:
        bridge, noop, copy, whole = r.bridge, r.noop[main], r.copy[main], r.whole[main]
        lane = r.lane.name
        w(f"| {lane} | bridge (median per process of {r.bridge_calls} calls) | {len(bridge.subject)} | "
          f"{_spread(bridge.subject, _us)} | {_spread(bridge.floor, _us)} | {_paired(bridge.subject, bridge.floor)} |")
        w(f"| {lane} | no-op run | {len(noop.subject)} | {_spread(noop.subject, _ms)} | {_spread(noop.floor, _ms)} | "
          f"{_paired(noop.subject, noop.floor)} |")
        w(f"| {lane} | deployment, copy isolated | {len(copy.subject)} | {_spread(copy.subject, _s)} | "
          f"{_spread(copy.floor, _s)} | {_paired(copy.subject, copy.floor)} |")
        w(f"| {lane} | deployment, whole run | {len(whole.subject)} | {_spread(whole.subject, _s)} | "
          f"{_spread(whole.floor, _s)} | {_paired(whole.subject, whole.floor)} |")
        if r.sealed is not None:
            w(f"| {lane} | sealed deployment (floor run: the round's unsealed run + hashing) | "
              f"{len(r.sealed.subject)} | {_spread(r.sealed.subject, _s)} | {_spread(r.sealed.floor, _s)} | "
              f"{_paired(r.sealed.subject, r.sealed.floor)} |")
    w("")
    first_run = runs[0]
    files_copied = first_run.copied_files[main]
    targets = "; ".join(f"{_lane(r)} `{r.lane.program_files}\\...`" for r in runs)
    w("### What each figure is")
    w("")
    w("Each lane measures its own build: its setup.exe against its own floors, through its own stand-in component, "
      "in its own prefix.")
    w("")
    w(f"- **Bridge.** Subject: `tools/export_client` loads setup.exe with `LoadLibraryA` and calls "
      f"`AcpiGetItem({first_run.bridge_item}, &v)` {first_run.bridge_calls} times in one process; its `us` per call "
      "is taken around the export call. Floor: `bridge_floor.exe` makes the same platform calls directly for each "
      "call (`CLSIDFromProgID`, `CoCreateInstance(CLSCTX_LOCAL_SERVER, IID_IDispatch)`, `GetIDsOfNames`, one "
      "`Invoke` of \"iAcpiGetItem\" with the same two arguments, `VariantClear` of the result, `Release`), timed "
      "the same way. Both talk to the same stand-in component (`tools/standin_component`), started once before the "
      "first timed process and kept running (warm) for the whole benchmark of the lane. Each process gives the "
      "median of its calls; the figure is the median of those over the processes of each side.")
    w("- **No-op run.** Subject: setup.exe in a folder with a complete setup.ini, the offered version recorded in "
      "the registry (in the view of the lane's bitness) and the service registered, so the run ends with 0 after "
      "the firmware gate, both versions and one service check. Floor: `noop_floor.exe` beside the same setup.ini "
      "makes just the platform calls such a run needs (`CoInitialize`; \"iAcpiInit\" and \"iAcpiMbif\" with a "
      "4096-byte VT_I1 array by reference, each through `CLSIDFromProgID`/`CoCreateInstance`/`GetIDsOfNames`/"
      "`Invoke`/`Release`; `GetModuleFileNameA`; `GetPrivateProfileStringA` of \"version\", \"RegistryKey\", "
      "\"ServiceName\"; `RegOpenKeyExA`/`RegQueryValueExA` \"Version\"/`RegCloseKey`; `OpenSCManagerA`/"
      "`OpenServiceA`/`CloseServiceHandle`) and exits with 0 too. Both are started by `launch_timer.exe`, which "
      "times each from just before `CreateProcessA` to the end of its process (process creation, loading, the run, "
      "exit). Both exit codes are checked on every run. The component is warm.")
    w(f"- **Deployment.** Subject: a fresh install run of setup.exe (registry record present but the service "
      f"missing, so every run deploys: gate, settings, install folder, copy, launch of the stand-in service "
      f"executable, registry record). Floor: `copy_floor.exe` lists the same program folder "
      f"(`FindFirstFileA`/`FindNextFileA`) and copies every file with one `CopyFileA` into the same install "
      f"folder, below the program-files folder of the lane's bitness ({targets}). Copied: the "
      f"{files_copied - main if files_copied >= main else 0} files of the setup itself (setup.exe, setup.ini, the "
      f"service executable and its settings) and {main:,} payload files of {args.file_bytes:,} bytes. Before every "
      "run the install folder is emptied from Linux (the folder itself stays) and `sync` is called, the same way "
      "for both. **The headline figure isolates the copy**: inotify on the install folder stamps, from outside, "
      "the creation of the first copied file and the last close after writing of a copied file; the span between "
      "them is the copy, whoever makes it. The whole processes (`launch_timer.exe`) are shown as a reference row; "
      "they differ by everything a setup run does besides copying. One untimed run of each side comes first, at the "
      "first payload size (registry record, install folder); the payload is in the page cache from being made.")
    if any(r.sealed is not None for r in runs):
        w("- **Sealed deployment.** The same fresh install by a sealed setup.exe, against the unsealed run plus the "
          "hashing of the same files by the same provider; see its own section below.")
    w("- **Size.** Each lane's setup.exe as its build leaves it. The breakdown comes from linking it once more with "
      "`-Wl,-Map` (same command, output elsewhere; the copy has the same size).")
    w("")

    out.extend(sealed_section(runs, args))

    # -- growth -----------------------------------------------------------------
    w("## Growth with the payload")
    w("")
    w("The same runs, the same alternation, for each payload size (files of "
      f"{args.file_bytes:,} bytes each, plus the setup's own files).")
    w("")
    w("**No-op run** (it does not copy; its program folder holds the payload, which it never lists). "
      "\"Floor, clean folder\" is the same floor program in a folder that holds nothing but setup.ini.")
    w("")
    w("| lane | payload files | runs per side | setup.exe | floor | ratio | floor, clean folder | floor − clean |")
    w("|---|---|---|---|---|---|---|---|")
    for r in runs:
        for count in payloads:
            n = r.noop[count]
            clean = n.extra.get("clean", Series())
            w(f"| {r.lane.name} | {count:,} | {len(n.subject)} | {_ms(n.subject.median)} | {_ms(n.floor.median)} | "
              f"{_ratio(ratio(n.subject, n.floor))} | {_ms(clean.median)} | "
              f"{(n.floor.median - clean.median) * 1e3:+,.1f} ms |")
    w("")
    w("**Deployment** (copy isolated as above; whole processes for reference; per-file times over the first and "
      "the last tenth of the files, by the time each was closed, medians over the runs):")
    w("")
    w("| lane | payload files | MB | runs per side | copy: setup.exe | copy: floor | ratio | per file, first tenth "
      "(setup.exe / floor) | per file, last tenth (setup.exe / floor) | whole run: setup.exe | whole: floor | ratio |")
    w("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in runs:
        for count in payloads:
            c = r.copy[count]
            h = r.whole[count]
            e = c.extra

            def tenth(key: str) -> str:
                return (f"{_us(e.get('subject ' + key, Series()).median * 1e6)} / "
                        f"{_us(e.get('floor ' + key, Series()).median * 1e6)}")

            w(f"| {r.lane.name} | {count:,} | {r.payload_bytes[count] / 1e6:,.0f} | {len(c.subject)} | "
              f"{_s(c.subject.median)} | {_s(c.floor.median)} | {_ratio(ratio(c.subject, c.floor))} | "
              f"{tenth('first tenth')} | {tenth('last tenth')} | {_s(h.subject.median)} | {_s(h.floor.median)} | "
              f"{_ratio(ratio(h.subject, h.floor))} |")
    w("")
    first, last = payloads[0], payloads[-1]
    if last != first:
        folder_grows = []
        copy_grows = []
        for r in runs:
            n_first, n_last = r.noop[first], r.noop[last]
            clean_first = n_first.extra.get("clean", Series()).median
            clean_last = n_last.extra.get("clean", Series()).median
            folder_first = n_first.floor.median - clean_first
            folder_last = n_last.floor.median - clean_last
            w(f"- {_lane(r)}, no-op run, {first:,} → {last:,} files in the program folder: setup.exe "
              f"{(n_last.subject.median / n_first.subject.median - 1) * 100:+.1f} %, floor "
              f"{(n_last.floor.median / n_first.floor.median - 1) * 100:+.1f} %, the floor in a clean folder "
              f"{(clean_last / clean_first - 1) * 100:+.1f} %; the floor in the program folder against the clean one: "
              f"{folder_first * 1e3:+.1f} ms at {first:,} files, {folder_last * 1e3:+.1f} ms at {last:,}.")
            folder_grows.append(folder_last - folder_first > max(0.005, 0.05 * clean_last))
        for r in runs:
            c_last = r.copy[last].extra
            floor_growth = (c_last.get("floor last tenth", Series()).median /
                            c_last.get("floor first tenth", Series()).median)
            w(f"- {_lane(r)}, deployment, {last:,} files, time per file: near the start of the copy "
              f"{_us(c_last.get('subject first tenth', Series()).median * 1e6)} (setup.exe) / "
              f"{_us(c_last.get('floor first tenth', Series()).median * 1e6)} (floor), near its end "
              f"{_us(c_last.get('subject last tenth', Series()).median * 1e6)} / "
              f"{_us(c_last.get('floor last tenth', Series()).median * 1e6)}.")
            copy_grows.append(floor_growth > 1.5)
        w(f"- The no-op run's program folder: {_which(runs, folder_grows)}")
        w("  Where it does, the run grows with the payload although it never lists it, for setup.exe and the floor "
          "alike: the program folder's size costs each process start. Wine looks for every DLL a program imports in "
          "the program's folder first, and a name that is not there is looked up without regard to case by reading "
          "the whole folder (strace, when this benchmark was written: some 40 reads of the program folder per start "
          "of the 32-bit floor).")
        w(f"- The copy's cost per file: {_which(runs, copy_grows, 'grows with the files already in the install folder (the last tenth costs more than 1.5 times the first, floor)')}")
        w("  Where it does, it grows for both alike, so the copy grows faster than the payload. Wine creates a file "
          "only after making sure that no file of the same name in another case exists, by reading the folder "
          "(strace, when this benchmark was written: two reads of the install folder per copied file).")
    w("- The bridge call does not involve the payload: not repeated per payload size.")
    w("")

    # -- size ---------------------------------------------------------------------
    w("## Size of setup.exe")
    w("")
    for r in runs:
        w(f"- {_lane(r)} (`{r.lane.preset}`, {r.lane.machine}): {r.size['bytes']:,} bytes = {_kib(r.size['bytes'])} "
          f"(goal ≤ 256 KiB).")
    w("")
    w("Sections as stored in the file (raw size is the virtual size rounded up to 512 bytes):")
    w("")
    w("| lane | section | virtual size | bytes in the file |")
    w("|---|---|---|---|")
    for r in runs:
        size = r.size
        headers = size["bytes"] - sum(raw for _n, _v, raw in size["sections"])
        for name, virtual, raw in size["sections"]:
            w(f"| {r.lane.name} | `{name}` | {virtual:,} | {raw:,} |")
        w(f"| {r.lane.name} | headers | — | {headers:,} |")
    w("")
    w("By origin (bytes of input sections that end up in the file, from the link map):")
    w("")
    w("| lane | origin | bytes | share |")
    w("|---|---|---|---|")
    for r in runs:
        total_in = sum(r.size["groups"].values())
        for group, amount in r.size["groups"].most_common():
            w(f"| {r.lane.name} | {group} | {amount:,} | {amount / total_in * 100:.1f} % |")
        w(f"| {r.lane.name} | (sum; the rest of the file is headers and alignment) | {total_in:,} | |")
    w("")
    w("Biggest contributors (object file or archive member, all sections), 20 per lane:")
    w("")
    w("| lane | contributor | origin | bytes |")
    w("|---|---|---|---|")
    for r in runs:
        for (owner, group), amount in r.size["owners"].most_common(20):
            w(f"| {r.lane.name} | `{owner}` | {group} | {amount:,} |")
    w("")
    for r in runs:
        sections = r.size["map_sections"]
        unwind = [(name, sections[name]) for name in UNWIND_SECTIONS if sections.get(name)]
        w(f"- {_lane(r)}: of the input sections, `.text` holds {sections.get('.text', 0):,} bytes; the unwind tables "
          "for C++ exceptions " + (", ".join(f"`{name}` {amount:,} bytes" for name, amount in unwind) or "none") + ".")
    w("- What took the room before: the C++ runtime's objects that instantiate every member of `std::string`, "
      "`std::wstring` and the copy-on-write string of its exceptions (`string-inst.o`, `wstring-inst.o`, "
      "`cow-string-inst.o`, and `random.o` with them), linked whole because mingw-w64's linker keeps every unwind "
      "table and the tables refer to every function of their object (in the 32-bit image the `.eh_frame` of those "
      "objects alone was 42 KB). setup.exe's own code now instantiates the members it uses, and the few members "
      "that the runtime's exceptions call come from `platform/mingw/` (README, \"Releases\"): the 32-bit image went "
      "from 306,688 to 221,184 bytes, the 64-bit one from 230,912 to 178,176.")
    w("")

    # -- where the time goes --------------------------------------------------------
    w("## Where the time goes")
    w("")
    if any(r.bridge_steps for r in runs):
        w(f"**One component call** (`bridge_floor.exe --steps`, {args.breakdown_calls} calls, medians per step; "
          "the clock readings between the steps make this run a little slower than the timed floor):")
        w("")
        w("| lane | step | median |")
        w("|---|---|---|")
        for r in runs:
            steps = r.bridge_steps
            for key, label in (("progIdUs", "`CLSIDFromProgID`"), ("createUs", "`CoCreateInstance` (local server)"),
                               ("lookupUs", "`GetIDsOfNames` (cross-process)"),
                               ("invokeUs", "`Invoke` + `VariantClear` (cross-process)"),
                               ("releaseUs", "`Release` (cross-process)"), ("us", "whole call")):
                if key not in steps:
                    continue
                share = f" ({steps[key] / steps['us'] * 100:.0f} %)" if key != "us" and steps.get("us") else ""
                w(f"| {r.lane.name} | {label} | {_us(steps[key])}{share} |")
        w("")
        w("The export makes these same platform calls for every call (nothing may be cached between calls), plus "
          "building the argument VARIANTs and clearing the result; the time is Wine's COM and RPC work and the "
          "component's process.")
        w("")
    if any(r.noop_steps for r in runs):
        w(f"**The no-op run's floor, step by step** (`noop_floor.exe --steps`, {args.noop_runs} runs, medians; "
          "start = from `CreateProcessA` in the launcher to `main`):")
        w("")
        w("| lane | step | median |")
        w("|---|---|---|")
        labels = (("startUs", "process start: Wine loader, DLLs, C runtime"), ("coInitializeUs", "`CoInitialize`"),
                  ("initUs", "\"iAcpiInit\" component call"), ("mbifUs", "\"iAcpiMbif\" component call"),
                  ("settingsUs", "module path + \"version\" + \"RegistryKey\""),
                  ("registryUs", "registry \"Version\""), ("serviceNameUs", "\"ServiceName\""),
                  ("serviceManagerUs", "`OpenSCManagerA` + `OpenServiceA`"), ("totalUs", "whole process"))
        for r in runs:
            ns = r.noop_steps
            for key, label in labels:
                if key in ns:
                    w(f"| {r.lane.name} | {label} | {_us(ns[key])} |")
            if "restUs" in ns:
                w(f"| {r.lane.name} | rest (whole process less the steps, per run): `main` returning, process exit, "
                  f"the launcher seeing it | {_us(ns['restUs'])} |")
        w("")
    layered = [r for r in runs if len(r.noop[main].extra.get("linked", Series()))
               and len(r.noop[main].extra.get("admin", Series()))]
    if layered:
        w("**No-op run, setup.exe against the floor, layer by layer** (medians of the same alternating runs, "
          f"{len(layered[0].noop[main].subject)} per program): the floor, then the same floor linked like setup.exe, "
          "then also carrying a manifest that requests administrator rights as setup.exe's does, then setup.exe "
          "itself.")
        w("")
        w("| lane | program | median | against the line above |")
        w("|---|---|---|---|")
        for r in layered:
            noop = r.noop[main]
            linked, admin = noop.extra["linked"], noop.extra["admin"]
            lane = r.lane.name
            w(f"| {lane} | `noop_floor.exe`: the platform calls only | {_ms(noop.floor.median)} | |")
            w(f"| {lane} | `noop_floor_linked.exe`: + shell32 and user32 imported (not called) | {_ms(linked.median)} | "
              f"{(linked.median - noop.floor.median) * 1e3:+.1f} ms |")
            w(f"| {lane} | `noop_floor_admin.exe`: + `requireAdministrator` manifest | {_ms(admin.median)} | "
              f"{(admin.median - linked.median) * 1e3:+.1f} ms |")
            w(f"| {lane} | setup.exe | {_ms(noop.subject.median)} | "
              f"{(noop.subject.median - admin.median) * 1e3:+.1f} ms |")
        w("")
        for r in layered:
            noop = r.noop[main]
            linked, admin = noop.extra["linked"], noop.extra["admin"]
            gap = noop.subject.median - noop.floor.median
            w(f"- {_lane(r)}: setup.exe against the floor: {gap * 1e3:+.1f} ms, of which the imports account for "
              f"{(linked.median - noop.floor.median) * 1e3:+.1f} ms, the manifest for "
              f"{(admin.median - linked.median) * 1e3:+.1f} ms and what is left, setup.exe's own code and data, for "
              f"{(noop.subject.median - admin.median) * 1e3:+.1f} ms (ratio to the floor packaged like it: "
              f"{_ratio(ratio(noop.subject, admin))}). Single runs spread over {_ms(noop.floor.low)} – "
              f"{_ms(noop.floor.high)} (floor).")
        w("")
        w("Differences of a few milliseconds between these medians are at the edge of what the runs resolve.")
        w("")
    w("**Deployment, whole run against copy:**")
    w("")
    for r in runs:
        copy, whole = r.copy[main], r.whole[main]
        line = (f"- {_lane(r)}: setup.exe's whole fresh-install run took {_s(whole.subject.median)}, of which the "
                f"copy span was {_s(copy.subject.median)}; the other {_s(whole.subject.median - copy.subject.median)} "
                "are process start, the two component calls, the settings, the install folder, the launch of the "
                "service executable (a Wine process of its own, waited for) and the registry record. The copy "
                f"floor's whole process took {_s(whole.floor.median)} around its copy span of "
                f"{_s(copy.floor.median)}.")
        admin_copy = copy.extra.get("admin", Series())
        if len(admin_copy):
            line += (f" The copy floor run elevated like setup.exe (`copy_floor_admin.exe`, same manifest request; "
                     f"alternated with the other two) copied in {_s(admin_copy.median)} against the plain floor's "
                     f"{_s(copy.floor.median)} and setup.exe's {_s(copy.subject.median)}.")
        w(line)
    w("")

    # -- findings --------------------------------------------------------------------
    w("## Findings")
    w("")
    for r in runs:
        noop = r.noop[main]
        admin_ratio = ratio(noop.subject, noop.extra.get("admin", Series()))
        explanations = {
            "bridge": "See the per-step table above: the call is the platform's COM activation and three "
                      "cross-process calls, the same in both.",
            "no-op run": f"See the layer-by-layer table above: against a floor linked and packaged like setup.exe "
                         f"(imports and the administrator manifest) the ratio is {_ratio(admin_ratio)}.",
            "deployment (copy)": "Both copy with one call per file (setup.exe CopyFileW, the floor CopyFileA) in "
                                 "the order the folder lists them; see the per-file times in the growth table.",
        }
        for label, subject, floor, goal in _figures(r):
            value = ratio(subject, floor)
            ratios = paired_ratios(subject, floor)
            if math.isnan(value):
                w(f"- {_lane(r)}, {label}: no measurement.")
                continue
            noisy = ratios and min(ratios) <= goal < max(ratios)
            state = "met" if value <= goal else "missed"
            note = (" The paired ratios straddle the goal: on this machine the verdict rests on the medians."
                    if noisy else "")
            more = f" {explanations[label]}" if value > goal else ""
            w(f"- {_lane(r)}, {label}: goal {state} (ratio {value:.3f}, goal ≤ {goal:.2f}).{note}{more}")
        size = r.size
        total_in = sum(size["groups"].values())
        w(f"- {_lane(r)}, size: {_kib(size['bytes'])}, goal {'met' if size['bytes'] <= SIZE_GOAL else 'missed'} "
          f"(≤ 256 KiB); the product's own code is {size['groups'].get('product code', 0) / total_in * 100:.0f} % of "
          f"the linked bytes, the rest is the static C++ runtime with its thread library and unwinder, the C start-up "
          "and the import tables (breakdown above).")
        if r.sealed is not None:
            w(f"- {_lane(r)}, {_sealed_finding(r)}")
    for name, reason in sorted(session.skipped.items()):
        w(f"- lane {name}: not measured ({reason}).")
    w("")
    return "\n".join(out) + "\n"


def sealed_floor(figure) -> float:
    """The sealed deployment's floor: the unsealed run's median plus the
    median time of hashing the same files alone."""
    return figure.extra["unsealed"].median + figure.extra["hash"].median


def sealed_ratio(figure) -> float:
    if not len(figure.subject) or not len(figure.extra["unsealed"]) or not len(figure.extra["hash"]):
        return math.nan
    return figure.subject.median / sealed_floor(figure)


def sealed_interval(figure) -> tuple[float, float]:
    """Where sealed_ratio lies with 90 % confidence (whole rounds resampled)."""
    return ratio_interval(figure.subject, [figure.extra["unsealed"], figure.extra["hash"]])


def _mb_per_s(size: int, seconds: float) -> str:
    return "n/a" if math.isnan(seconds) or seconds <= 0 else f"{size / seconds / 1e6:,.0f} MB/s"


def _sealed_finding(results) -> str:
    figure = results.sealed
    value = sealed_ratio(figure)
    if math.isnan(value):
        return "sealed deployment: no measurement."
    low, high = sealed_interval(figure)
    state = "met" if value <= SEALED_GOAL else "missed"
    note = (f" Its 90 % interval ({low:.3f} – {high:.3f}) straddles the goal: on this machine the verdict rests on the "
            "medians." if low <= SEALED_GOAL < high else f" 90 % interval {low:.3f} – {high:.3f}.")
    hashing, native = figure.extra["hash"].median, figure.extra["native"].median
    return (f"sealed deployment: goal {state} (ratio {value:.3f}, goal ≤ {SEALED_GOAL:.2f}).{note} The check adds "
            f"{_s(figure.subject.median - figure.extra['unsealed'].median)} to the run (medians); hashing the same "
            f"bytes alone takes {_s(hashing)} under Wine, {hashing / native:.1f} times the native `sha256sum`'s "
            f"{_s(native)}.")


def sealed_section(runs, args) -> list[str]:
    """The sealed deployment: the figure against its floor, its parts, and
    the provider's throughput beside a native SHA-256 of the same bytes."""
    measured = [r for r in runs if r.sealed is not None]
    if not measured:
        return []
    out: list[str] = []
    w = out.append
    first = measured[0]
    w("## Sealed deployment")
    w("")
    w(f"Goal: a fresh install of {args.main_files:,} files of {args.file_bytes:,} bytes by a sealed setup.exe takes "
      f"at most {SEALED_GOAL:.2f} times its floor: the same install by the unsealed setup.exe plus the time the same "
      "provider (bcrypt.dll, loaded the same way) takes to hash the same bytes alone. Ratio = sealed median / "
      "(unsealed median + hashing median); the interval: where that ratio lies with 90 % confidence, by resampling "
      "whole rounds; paired: each sealed run over the floor of the round next to it (median, lowest – highest).")
    w("")
    w("| lane | rounds | sealed setup.exe | floor: unsealed + hashing | ratio | 90 % interval | paired ratios | goal "
      "| met? |")
    w("|---|---|---|---|---|---|---|---|---|")
    for r in measured:
        figure = r.sealed
        value = sealed_ratio(figure)
        low, high = sealed_interval(figure)
        w(f"| {r.lane.name} | {len(figure.subject)} | {_s(figure.subject.median)} | {_s(sealed_floor(figure))} "
          f"({_s(figure.extra['unsealed'].median)} + {_s(figure.extra['hash'].median)}) | {_ratio(value)} | "
          f"{low:.3f} – {high:.3f} | {_paired(figure.subject, figure.floor)} | ≤ {SEALED_GOAL:.2f} | "
          f"{_met(value, SEALED_GOAL)} |")
    w("")
    w("The parts (medians over the rounds; every run's value lowest – highest). The copy span is the one of the "
      "deployment figure (inotify on the install folder, first file created to last file closed); the rest of a run "
      "is its whole process less that span (medians): for the sealed run that includes the check of the install "
      "folder, which comes after the last file is closed.")
    w("")
    w("| lane | part | median | runs |")
    w("|---|---|---|---|")
    for r in measured:
        figure = r.sealed
        extra = figure.extra
        lane = r.lane.name
        for label, series in (("sealed setup.exe, whole process", figure.subject),
                              ("sealed setup.exe, its copy span", extra["sealed copy"]),
                              ("unsealed setup.exe, whole process", extra["unsealed"]),
                              ("unsealed setup.exe, its copy span", extra["unsealed copy"]),
                              (f"`hash_floor.exe`: SHA-256 of the {r.sealed_files:,} sealed files "
                               f"({r.sealed_bytes:,} bytes) in the install folder, inside its process", extra["hash"])):
            w(f"| {lane} | {label} | {_s(series.median)} | {_spread(series, _s)} |")
        w(f"| {lane} | sealed setup.exe, the rest of its run | "
          f"{_s(figure.subject.median - extra['sealed copy'].median)} | |")
        w(f"| {lane} | unsealed setup.exe, the rest of its run | "
          f"{_s(extra['unsealed'].median - extra['unsealed copy'].median)} | |")
        w(f"| {lane} | sealed − unsealed, whole process: what the seal costs the run | "
          f"{_s(figure.subject.median - extra['unsealed'].median)} | |")
        w(f"| {lane} | the check of the install folder inside the sealed run, from its run log (the one untimed run "
          f"with `/LOG`: its lines \"copy finished\" to \"the install folder matches the seal\"; with the log, the "
          f"check also lists the folder) | {_s(r.sealed_check_logged)} | one run |")
    w("")
    w(f"**The provider's throughput** beside a native SHA-256 of the same bytes on the same machine: the "
      f"{first.sealed_files:,} files of each lane's install folder, read from the page cache right after a "
      "deployment wrote them, once per floor round:")
    w("")
    w("| lane | SHA-256 by | runs | median | throughput | against native |")
    w("|---|---|---|---|---|---|")
    for r in measured:
        extra = r.sealed.extra
        hashing, native = extra["hash"].median, extra["native"].median
        w(f"| {r.lane.name} | bcrypt.dll under Wine (`hash_floor.exe`: loading bcrypt.dll, listing the folder, each "
          f"file opened and read in chunks of 256 KiB; timed inside the process) | {len(extra['hash'])} | "
          f"{_s(hashing)} | {_mb_per_s(r.sealed_bytes, hashing)} | {hashing / native:.2f} times as long |")
        w(f"| {r.lane.name} | native: {r.native_tool}, on Linux over the same files, timed around its process | "
          f"{len(extra['native'])} | {_s(native)} | {_mb_per_s(r.sealed_bytes, native)} | 1 |")
    w("")
    w("What is measured:")
    w("")
    w(f"- Subject: a program folder of its own beside the deployment's, holding the deployment program folder's "
      f"files (the same payload, hard links) and a setup.exe sealed over them by `scripts/seal`: the seal lists "
      f"{first.sealed_files:,} files (setup.ini, the service executable and its settings, the payload). Its fresh "
      "install copies the listed files and its own image into the same install folder as the deployment figure; "
      "before the launch it opens each listed file there shared for reading only and checks its size and SHA-256 "
      "through bcrypt.dll, in chunks of 256 KiB. Timed as a whole process by `launch_timer.exe`. One untimed "
      "sealed run with `/LOG` comes first: its log must show setup.ini checked against the seal and the install "
      "folder matching it, or the benchmark stops.")
    w("- Floor, per round: the unsealed setup.exe's same fresh install (whole process, as in the deployment "
      "figure); then, the install folder left as it is but for what the seal does not list (setup.exe, and "
      "the log the stand-in service writes when launched), `hash_floor.exe` hashes every file in it: the same "
      "files and bytes, from the page cache as the sealed run reads them right after writing them. Its count of "
      "files and bytes is checked against the seal's on every run. Its time, from before bcrypt.dll is loaded to "
      "the last digest, is added to the unsealed run's: process start is not part of the work the seal adds.")
    w("- Sealed and floor rounds alternate (A B, B A, ...); before every deployment the install folder is emptied "
      "and `sync` is called, as in the deployment figure. After each hashing, `sha256sum` (no Wine) hashes the same "
      "files once more, timed from Python around its process.")
    w("")
    return out


UNWIND_SECTIONS = (".eh_frame", ".pdata", ".xdata")


def _counted(names: list[str]) -> str:
    """"a.exe 3×, b.exe" from ["a.exe", "b.exe", "a.exe", "a.exe"], in order of first appearance."""
    counts: dict[str, int] = {}
    for name in names:
        counts[name] = counts.get(name, 0) + 1
    return ", ".join(name if n == 1 else f"{name} {n}×" for name, n in counts.items())


def _tree(build: Path) -> str:
    """A build tree as the reader would name it: relative to the current
    folder (the repository root under scripts/bench) when below it."""
    try:
        return str(Path(build).resolve().relative_to(Path.cwd().resolve()))
    except ValueError:
        return str(build)


def _which(runs, flags: list[bool], what: str = "costs more with more files in it") -> str:
    yes = [_lane(r) for r, flag in zip(runs, flags) if flag]
    no = [_lane(r) for r, flag in zip(runs, flags) if not flag]
    parts = []
    if yes:
        parts.append(f"{what} in {', '.join(yes)}")
    if no:
        parts.append(f"shows no such growth beyond the spread of the runs in {', '.join(no)}")
    return "; ".join(parts) + "."


def _figures(results):
    """(label, subject, floor, goal) of the three timed figures with a goal, at the main payload."""
    main = results.args.main_files
    return (("bridge", results.bridge.subject, results.bridge.floor, BRIDGE_GOAL),
            ("no-op run", results.noop[main].subject, results.noop[main].floor, NOOP_GOAL),
            ("deployment (copy)", results.copy[main].subject, results.copy[main].floor, COPY_GOAL))


_OWN_SECTION = re.compile(r"<!-- ([\w-]+): [^\n]*?-->\n.*?<!-- /\1 -->\n?", re.DOTALL)


def kept_sections(previous: Path) -> str:
    """The sections that other benchmarks keep in results.md, each between
    `<!-- name: written by ... -->` and `<!-- /name -->`: carried over as
    they stand, since this run does not make them."""
    try:
        text = previous.read_text()
    except OSError:
        return ""
    blocks = [m.group(0).rstrip("\n") + "\n" for m in _OWN_SECTION.finditer(text)]
    return "\n".join(blocks)


def fuzz_section(source_root: Path) -> str:
    """The long fuzzing campaign as tests/fuzz/RESULTS.md records it (from a
    long scripts/fuzz run), so that this file holds every figure."""
    recorded = source_root / "tests" / "fuzz" / "RESULTS.md"
    if not recorded.exists():
        return ""
    body = recorded.read_text().split("\n", 1)[1].lstrip("\n")
    return ("## Fuzzing: the long campaign\n\n"
            "Copied from `tests/fuzz/RESULTS.md`, recorded from a long `scripts/fuzz` run "
            "(`scripts/test` runs every target for a few seconds only).\n\n" + body)


def summary(results) -> str:
    lane = _lane(results)
    lines = [f"{lane}: {label}: ratio {_ratio(ratio(subject, floor))} (goal <= {goal:.2f})"
             for label, subject, floor, goal in _figures(results)]
    lines.append(f"{lane}: size: {results.size['bytes']:,} bytes (goal <= {SIZE_GOAL:,})")
    if results.sealed is not None:
        lines.append(f"{lane}: sealed deployment: ratio {_ratio(sealed_ratio(results.sealed))} "
                     f"(goal <= {SEALED_GOAL:.2f})")
    return "\n".join(lines)


def raw(results) -> str:
    """Every series of a partial run of one lane: median, count, lowest and highest."""
    lines = [f"{_lane(results)} ({results.build}):"]

    def series(label: str, values: Series) -> None:
        if len(values):
            lines.append(f"{label}: median {values.median:.6g} over {len(values)} ({values.low:.6g} – {values.high:.6g})")

    def figure(label: str, fig) -> None:
        series(f"{label} subject", fig.subject)
        series(f"{label} floor", fig.floor)
        for name, values in fig.extra.items():
            series(f"{label} {name}", values)
        if len(fig.subject) and len(fig.floor):
            lines.append(f"{label} ratio {ratio(fig.subject, fig.floor):.3f}, paired {_paired(fig.subject, fig.floor)}")

    figure("bridge", results.bridge)
    for name, table in (("no-op", results.noop), ("copy", results.copy), ("whole", results.whole)):
        for count, fig in table.items():
            figure(f"{name} {count}", fig)
    if results.sealed is not None:
        sealed = results.sealed
        series("sealed subject", sealed.subject)
        series("sealed floor, per round", sealed.floor)
        for name, values in sealed.extra.items():
            series(f"sealed {name}", values)
        value = sealed_ratio(sealed)
        if not math.isnan(value):
            low, high = sealed_interval(sealed)
            hashing, native = sealed.extra["hash"].median, sealed.extra["native"].median
            lines.append(f"sealed check inside the logged run {results.sealed_check_logged:.3f} s")
            lines.append(f"sealed ratio to unsealed + hashing (medians) {value:.3f}, 90 % interval {low:.3f} – "
                         f"{high:.3f}, paired {_paired(sealed.subject, sealed.floor)} (goal <= {SEALED_GOAL:.2f}); "
                         f"{results.sealed_files} files, "
                         f"{results.sealed_bytes} bytes: bcrypt.dll under Wine "
                         f"{_mb_per_s(results.sealed_bytes, hashing)}, sha256sum "
                         f"{_mb_per_s(results.sealed_bytes, native)} ({results.native_tool})")
    for key, value in {**results.bridge_steps, **results.noop_steps}.items():
        lines.append(f"step {key}: {value:.0f}")
    if results.hung:
        lines.append(f"hung: {results.hung}")
    return "\n".join(lines)

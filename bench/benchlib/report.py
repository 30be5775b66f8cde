"""bench/results.md from one run's measurements. Every number in it comes
from the run; the text around the numbers says what was measured."""

from __future__ import annotations

import math
from pathlib import Path

from .stats import Series, paired_ratios, ratio

BRIDGE_GOAL = 1.05
NOOP_GOAL = 1.10
COPY_GOAL = 1.05
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


def render(results, payloads: list[int]) -> str:
    args = results.args
    main = args.main_files
    m = results.machine
    bridge = results.bridge
    noop = results.noop[main]
    copy = results.copy[main]
    whole = results.whole[main]
    size = results.size
    main_mb = results.payload_bytes[main] / 1e6
    files_copied = results.copied_files[main]

    bridge_ratio = ratio(bridge.subject, bridge.floor)
    noop_ratio = ratio(noop.subject, noop.floor)
    copy_ratio = ratio(copy.subject, copy.floor)
    whole_ratio = ratio(whole.subject, whole.floor)

    out: list[str] = []
    w = out.append
    w("# Benchmarks of setup.exe")
    w("")
    w("Written by `scripts/bench`; do not edit by hand — run it again.")
    w("")
    w(f"- Command: `{args.command}`")
    w(f"- Date: {results.started:%Y-%m-%d %H:%M} UTC")
    took = f"{results.seconds:.0f} s of measuring (template prefix, payload, all runs)"
    if getattr(args, "build_seconds", None) is not None:
        took += f", after {args.build_seconds:.0f} s of bootstrap and build"
    w(f"- Took: {took}")
    w(f"- Machine: {m['nproc']} cores (nproc), {m['cpu']}, {m['memory_gib']:.0f} GiB memory, Linux {m['kernel']}, "
      f"{m['wine']}, {m['compiler']}")
    w(f"- Load average (1, 5, 15 min) before: {', '.join(f'{x:.2f}' for x in results.load_before)}; after: "
      f"{', '.join(f'{x:.2f}' for x in results.load_after)}. Other work (another session's end-to-end tests) may "
      "have shared the CPUs; subject and floor runs alternate (A B, B A, ...) and medians are used, so that such "
      "load falls on both alike, but it widens the spread below.")
    if results.hung:
        w(f"- Runs repeated because the component hung: {len(results.hung)} ({', '.join(results.hung)}). Now and "
          "then, after some dozens to hundreds of client processes, a client hangs in the middle of a call under "
          "Wine (the component's log stops between the creation of the instance and its release), and from then on "
          "every new client hangs the same way. The benchmark sees the component's log stand still mid-call, ends the prefix's processes, starts the "
          "component again and makes the run again; the hung run is not counted.")
    else:
        w("- Runs repeated because the component hung: none.")
    w("- Build: the `win32` preset (Release, `-O3`, static runtime, stripped), own tree `build/bench`; "
      "Wine prefix: a fresh copy of a booted template, `WINEDEBUG=-all`.")
    w("")
    w("## Results")
    w("")
    w("| figure | subject median | floor median | ratio | goal | met? |")
    w("|---|---|---|---|---|---|")
    w(f"| bridge: one `AcpiGetItem` call through setup.exe's export, per call | {_us(bridge.subject.median)} | "
      f"{_us(bridge.floor.median)} | {_ratio(bridge_ratio)} | ≤ {BRIDGE_GOAL:.2f} | {_met(bridge_ratio, BRIDGE_GOAL)} |")
    w(f"| no-op run (version installed, service present), whole process | {_ms(noop.subject.median)} | "
      f"{_ms(noop.floor.median)} | {_ratio(noop_ratio)} | ≤ {NOOP_GOAL:.2f} | {_met(noop_ratio, NOOP_GOAL)} |")
    w(f"| deployment: copy of {files_copied:,} files, {main_mb:,.0f} MB (copy isolated) | {_s(copy.subject.median)} | "
      f"{_s(copy.floor.median)} | {_ratio(copy_ratio)} | ≤ {COPY_GOAL:.2f} | {_met(copy_ratio, COPY_GOAL)} |")
    w(f"| deployment: whole fresh-install run against the copy-only floor (reference) | {_s(whole.subject.median)} | "
      f"{_s(whole.floor.median)} | {_ratio(whole_ratio)} | — | — |")
    w(f"| size of setup.exe as built | {size['bytes']:,} bytes ({_kib(size['bytes'])}) | — | "
      f"{size['bytes'] / SIZE_GOAL:.3f} of the goal | ≤ 256 KiB | {_met(size['bytes'], SIZE_GOAL)} |")
    w("")
    w("Ratio = subject median / floor median. Spread of the runs behind each median (per-run values, lowest – "
      "highest) and the ratio of each subject run to the floor run made next to it (median, lowest – highest):")
    w("")
    w("| figure | runs per side | subject runs | floor runs | paired ratios |")
    w("|---|---|---|---|---|")
    w(f"| bridge (median per process of {results.bridge_calls} calls) | {len(bridge.subject)} | "
      f"{_spread(bridge.subject, _us)} | {_spread(bridge.floor, _us)} | {_paired(bridge.subject, bridge.floor)} |")
    w(f"| no-op run | {len(noop.subject)} | {_spread(noop.subject, _ms)} | {_spread(noop.floor, _ms)} | "
      f"{_paired(noop.subject, noop.floor)} |")
    w(f"| deployment, copy isolated | {len(copy.subject)} | {_spread(copy.subject, _s)} | "
      f"{_spread(copy.floor, _s)} | {_paired(copy.subject, copy.floor)} |")
    w(f"| deployment, whole run | {len(whole.subject)} | {_spread(whole.subject, _s)} | "
      f"{_spread(whole.floor, _s)} | {_paired(whole.subject, whole.floor)} |")
    w("")
    w("### What each figure is")
    w("")
    w(f"- **Bridge.** Subject: `tools/export_client` loads setup.exe with `LoadLibraryA` and calls "
      f"`AcpiGetItem({results.bridge_item}, &v)` {results.bridge_calls} times in one process; its `us` per call is taken around the "
      "export call. Floor: `bridge_floor.exe` makes the same platform calls directly for each call "
      "(`CLSIDFromProgID`, `CoCreateInstance(CLSCTX_LOCAL_SERVER, IID_IDispatch)`, `GetIDsOfNames`, one `Invoke` "
      "of \"iAcpiGetItem\" with the same two arguments, `VariantClear` of the result, `Release`), timed the same "
      "way. Both talk to the same stand-in component (`tools/standin_component`), started once before the first "
      "timed process and kept running (warm) for the whole benchmark. Each process gives the median of its calls; "
      "the figure is the median of those over the processes of each side.")
    w("- **No-op run.** Subject: setup.exe in a folder with a complete setup.ini, the offered version recorded in "
      "the registry and the service registered, so the run ends with 0 after the firmware gate, both versions "
      "and one service check. Floor: `noop_floor.exe` beside the same setup.ini makes just the platform calls "
      "such a run needs (`CoInitialize`; \"iAcpiInit\" and \"iAcpiMbif\" with a 4096-byte VT_I1 array by "
      "reference, each through `CLSIDFromProgID`/`CoCreateInstance`/`GetIDsOfNames`/`Invoke`/`Release`; "
      "`GetModuleFileNameA`; `GetPrivateProfileStringA` of \"version\", \"RegistryKey\", \"ServiceName\"; "
      "`RegOpenKeyExA`/`RegQueryValueExA` \"Version\"/`RegCloseKey`; `OpenSCManagerA`/`OpenServiceA`/"
      "`CloseServiceHandle`) and exits with 0 too. Both are started by `launch_timer.exe`, which times each from "
      "just before `CreateProcessA` to the end of its process (process creation, loading, the run, exit). Both "
      "exit codes are checked on every run. The component is warm.")
    w(f"- **Deployment.** Subject: a fresh install run of setup.exe (registry record present but the service "
      f"missing, so every run deploys: gate, settings, install folder, copy, launch of the stand-in service "
      f"executable, registry record). Floor: `copy_floor.exe` lists the same program folder "
      f"(`FindFirstFileA`/`FindNextFileA`) and copies every file with one `CopyFileA` into the same install "
      f"folder. Copied: the {files_copied - args.main_files if files_copied >= args.main_files else 0} files of the "
      f"setup itself (setup.exe, setup.ini, the service executable and its settings) and {args.main_files:,} "
      f"payload files of {args.file_bytes:,} bytes. Before every run the install folder is emptied from Linux "
      "(the folder itself stays) and `sync` is called, the same way for both. **The headline figure isolates "
      "the copy**: inotify on the install folder stamps, from outside, the creation of the first copied file and "
      "the last close after writing of a copied file; the span between them is the copy, whoever makes it. "
      "The whole processes (`launch_timer.exe`) are shown as a reference row; they differ by everything a setup "
      "run does besides copying. One untimed run of each side comes first, at the first payload size (registry "
      "record, install folder); the payload is in the page cache from being made.")
    w("- **Size.** setup.exe as the build leaves it. The breakdown comes from linking it once more with "
      "`-Wl,-Map` (same command, output elsewhere; the copy has the same size).")
    w("")

    # -- growth -----------------------------------------------------------------
    w("## Growth with the payload")
    w("")
    w("The same run, the same alternation, for each payload size (files of "
      f"{args.file_bytes:,} bytes each, plus the setup's own files).")
    w("")
    w("**No-op run** (it does not copy; its program folder holds the payload, which it never lists). "
      "\"Floor, clean folder\" is the same floor program in a folder that holds nothing but setup.ini.")
    w("")
    w("| payload files | runs per side | setup.exe | floor | ratio | floor, clean folder | floor − clean |")
    w("|---|---|---|---|---|---|---|")
    for count in payloads:
        n = results.noop[count]
        clean = n.extra.get("clean", Series())
        w(f"| {count:,} | {len(n.subject)} | {_ms(n.subject.median)} | {_ms(n.floor.median)} | "
          f"{_ratio(ratio(n.subject, n.floor))} | {_ms(clean.median)} | "
          f"{(n.floor.median - clean.median) * 1e3:+,.1f} ms |")
    w("")
    w("**Deployment** (copy isolated as above; whole processes for reference; per-file times over the first and "
      "the last tenth of the files, by the time each was closed, medians over the runs):")
    w("")
    w("| payload files | MB | runs per side | copy: setup.exe | copy: floor | ratio | per file, first tenth "
      "(setup.exe / floor) | per file, last tenth (setup.exe / floor) | whole run: setup.exe | whole: floor | ratio |")
    w("|---|---|---|---|---|---|---|---|---|---|---|")
    for count in payloads:
        c = results.copy[count]
        h = results.whole[count]
        e = c.extra

        def tenth(key: str) -> str:
            return (f"{_us(e.get('subject ' + key, Series()).median * 1e6)} / "
                    f"{_us(e.get('floor ' + key, Series()).median * 1e6)}")

        w(f"| {count:,} | {results.payload_bytes[count] / 1e6:,.0f} | {len(c.subject)} | {_s(c.subject.median)} | "
          f"{_s(c.floor.median)} | {_ratio(ratio(c.subject, c.floor))} | {tenth('first tenth')} | "
          f"{tenth('last tenth')} | {_s(h.subject.median)} | {_s(h.floor.median)} | {_ratio(ratio(h.subject, h.floor))} |")
    w("")
    first, last = payloads[0], payloads[-1]
    if last != first:
        n_first, n_last = results.noop[first], results.noop[last]
        clean_first = n_first.extra.get("clean", Series()).median
        clean_last = n_last.extra.get("clean", Series()).median
        folder_first = n_first.floor.median - clean_first
        folder_last = n_last.floor.median - clean_last
        w(f"- No-op run, {first:,} → {last:,} files in the program folder: setup.exe "
          f"{(n_last.subject.median / n_first.subject.median - 1) * 100:+.1f} %, floor "
          f"{(n_last.floor.median / n_first.floor.median - 1) * 100:+.1f} %, the floor in a clean folder "
          f"{(clean_last / clean_first - 1) * 100:+.1f} %; the floor in the program folder against the clean one: "
          f"{folder_first * 1e3:+.1f} ms at {first:,} files, {folder_last * 1e3:+.1f} ms at {last:,}.")
        if folder_last - folder_first > max(0.005, 0.05 * clean_last):
            w("  So the run does grow with the payload although it never lists it, for setup.exe and the floor "
              "alike: the program folder's size costs each process start. Wine looks for every DLL a program "
              "imports in the program's folder first, and a name that is not there is looked up without regard "
              "to case by reading the whole folder (strace, when this benchmark was written: some 40 reads of the "
              "program folder per start of the floor).")
        else:
            w("  No cost of the program folder's size shows beyond the spread of the runs.")
        c_last = results.copy[last].extra
        floor_growth = (c_last.get("floor last tenth", Series()).median /
                        c_last.get("floor first tenth", Series()).median)
        w(f"- Deployment, {last:,} files, time per file: near the start of the copy "
          f"{_us(c_last.get('subject first tenth', Series()).median * 1e6)} (setup.exe) / "
          f"{_us(c_last.get('floor first tenth', Series()).median * 1e6)} (floor), near its end "
          f"{_us(c_last.get('subject last tenth', Series()).median * 1e6)} / "
          f"{_us(c_last.get('floor last tenth', Series()).median * 1e6)}.")
        if floor_growth > 1.5:
            w("  The cost of a file grows with the number of files already in the install folder, for both alike, "
              "so the copy grows faster than the payload. Wine creates a file only after making sure that no "
              "file of the same name in another case exists, by reading the folder (strace, when this benchmark "
              "was written: two reads of the install folder per copied file).")
        else:
            w("  The cost of a file does not grow noticeably with the files already copied.")
    w("- The bridge call does not involve the payload: not repeated per payload size.")
    w("")

    # -- size ---------------------------------------------------------------------
    w("## Size of setup.exe")
    w("")
    w(f"{size['bytes']:,} bytes = {_kib(size['bytes'])} (goal ≤ 256 KiB). Sections as stored in the file (raw "
      "size is the virtual size rounded up to 512 bytes):")
    w("")
    w("| section | virtual size | bytes in the file |")
    w("|---|---|---|")
    headers = size["bytes"] - sum(raw for _n, _v, raw in size["sections"])
    for name, virtual, raw in size["sections"]:
        w(f"| `{name}` | {virtual:,} | {raw:,} |")
    w(f"| headers | — | {headers:,} |")
    w("")
    w("By origin (bytes of input sections that end up in the file, from the link map):")
    w("")
    w("| origin | bytes | share |")
    w("|---|---|---|")
    total_in = sum(size["groups"].values())
    for group, amount in size["groups"].most_common():
        w(f"| {group} | {amount:,} | {amount / total_in * 100:.1f} % |")
    w(f"| (sum; the rest of the file is headers and alignment) | {total_in:,} | |")
    w("")
    w("Biggest contributors (object file or archive member, all sections):")
    w("")
    w("| contributor | origin | bytes |")
    w("|---|---|---|")
    for (owner, group), amount in size["owners"].most_common(20):
        w(f"| `{owner}` | {group} | {amount:,} |")
    w("")
    eh = size["map_sections"].get(".eh_frame", 0)
    text = size["map_sections"].get(".text", 0)
    w(f"Of the input sections, `.text` holds {text:,} bytes and `.eh_frame` (unwind tables for C++ exceptions) "
      f"{eh:,} bytes.")
    w("")

    # -- where the time goes --------------------------------------------------------
    w("## Where the time goes")
    w("")
    steps = results.bridge_steps
    if steps:
        w(f"**One component call** (`bridge_floor.exe --steps`, {args.breakdown_calls} calls, medians per step; "
          "the clock readings between the steps make this run a little slower than the timed floor):")
        w("")
        w("| step | median |")
        w("|---|---|")
        for key, label in (("progIdUs", "`CLSIDFromProgID`"), ("createUs", "`CoCreateInstance` (local server)"),
                           ("lookupUs", "`GetIDsOfNames` (cross-process)"),
                           ("invokeUs", "`Invoke` + `VariantClear` (cross-process)"),
                           ("releaseUs", "`Release` (cross-process)"), ("us", "whole call")):
            share = f" ({steps[key] / steps['us'] * 100:.0f} %)" if key != "us" and steps.get("us") else ""
            w(f"| {label} | {_us(steps[key])}{share} |")
        w("")
        w("The export makes these same platform calls for every call (nothing may be cached between calls), plus "
          "building the argument VARIANTs and clearing the result; the time is Wine's COM and RPC work and the "
          "component's process.")
        w("")
    ns = results.noop_steps
    if ns:
        w(f"**The no-op run's floor, step by step** (`noop_floor.exe --steps`, {args.noop_runs} runs, medians; "
          "start = from `CreateProcessA` in the launcher to `main`):")
        w("")
        w("| step | median |")
        w("|---|---|")
        labels = (("startUs", "process start: Wine loader, DLLs, C runtime"), ("coInitializeUs", "`CoInitialize`"),
                  ("initUs", "\"iAcpiInit\" component call"), ("mbifUs", "\"iAcpiMbif\" component call"),
                  ("settingsUs", "module path + \"version\" + \"RegistryKey\""),
                  ("registryUs", "registry \"Version\""), ("serviceNameUs", "\"ServiceName\""),
                  ("serviceManagerUs", "`OpenSCManagerA` + `OpenServiceA`"), ("totalUs", "whole process"))
        for key, label in labels:
            if key in ns:
                w(f"| {label} | {_us(ns[key])} |")
        if "restUs" in ns:
            w(f"| rest (whole process less the steps, per run): `main` returning, process exit, the launcher "
              f"seeing it | {_us(ns['restUs'])} |")
        w("")
    linked = noop.extra.get("linked", Series())
    admin = noop.extra.get("admin", Series())
    if len(linked) and len(admin):
        w("**No-op run, setup.exe against the floor, layer by layer** (medians of the same alternating runs, "
          f"{len(noop.subject)} per program): the floor, then the same floor linked like setup.exe, then also "
          "carrying a manifest that requests administrator rights as setup.exe's does, then setup.exe itself.")
        w("")
        w("| program | median | against the line above |")
        w("|---|---|---|")
        w(f"| `noop_floor.exe`: the platform calls only | {_ms(noop.floor.median)} | |")
        w(f"| `noop_floor_linked.exe`: + shell32 and user32 imported (not called) | {_ms(linked.median)} | "
          f"{(linked.median - noop.floor.median) * 1e3:+.1f} ms |")
        w(f"| `noop_floor_admin.exe`: + `requireAdministrator` manifest | {_ms(admin.median)} | "
          f"{(admin.median - linked.median) * 1e3:+.1f} ms |")
        w(f"| setup.exe | {_ms(noop.subject.median)} | {(noop.subject.median - admin.median) * 1e3:+.1f} ms |")
        w("")
        gap = noop.subject.median - noop.floor.median
        w(f"setup.exe against the floor: {gap * 1e3:+.1f} ms, of which the imports account for "
          f"{(linked.median - noop.floor.median) * 1e3:+.1f} ms, the manifest for "
          f"{(admin.median - linked.median) * 1e3:+.1f} ms and what is left, setup.exe's own code and data, for "
          f"{(noop.subject.median - admin.median) * 1e3:+.1f} ms (ratio to the floor packaged like it: "
          f"{_ratio(ratio(noop.subject, admin))}). Single runs spread over {_ms(noop.floor.low)} – "
          f"{_ms(noop.floor.high)} (floor), so differences of a few milliseconds between these medians are at "
          "the edge of what the runs resolve.")
        w("")
    diff_whole = whole.subject.median - copy.subject.median
    w(f"**Deployment, whole run against copy:** setup.exe's whole fresh-install run took "
      f"{_s(whole.subject.median)}, of which the copy span was {_s(copy.subject.median)}; the other "
      f"{_s(diff_whole)} are process start, the two component calls, the settings, the install folder, the "
      f"launch of the service executable (a Wine process of its own, waited for) and the registry record. The "
      f"copy floor's whole process took {_s(whole.floor.median)} around its copy span of {_s(copy.floor.median)}.")
    admin_copy = copy.extra.get("admin", Series())
    if len(admin_copy):
        w(f"The copy floor run elevated like setup.exe (`copy_floor_admin.exe`, same manifest request; alternated "
          f"with the other two) copied in {_s(admin_copy.median)} against the plain floor's "
          f"{_s(copy.floor.median)} and setup.exe's {_s(copy.subject.median)}.")
    w("")

    # -- findings --------------------------------------------------------------------
    w("## Findings")
    w("")
    admin_ratio = ratio(noop.subject, noop.extra.get("admin", Series()))
    explanations = {
        "Bridge": "See the per-step table above: the call is the platform's COM activation and three cross-process "
                  "calls, the same in both.",
        "No-op run": f"See the layer-by-layer table above: against a floor linked and packaged like setup.exe "
                     f"(imports and the administrator manifest) the ratio is {_ratio(admin_ratio)}.",
        "Deployment (copy)": "Both copy with one CopyFileA per file in the order the folder lists them; see the "
                             "per-file times in the growth table.",
    }
    for label, value, goal, subject, floor in (
            ("Bridge", bridge_ratio, BRIDGE_GOAL, bridge.subject, bridge.floor),
            ("No-op run", noop_ratio, NOOP_GOAL, noop.subject, noop.floor),
            ("Deployment (copy)", copy_ratio, COPY_GOAL, copy.subject, copy.floor)):
        ratios = paired_ratios(subject, floor)
        if math.isnan(value):
            w(f"- {label}: no measurement.")
            continue
        noisy = ratios and min(ratios) <= goal < max(ratios)
        state = "met" if value <= goal else "missed"
        note = (" The paired ratios straddle the goal: on this machine the verdict rests on the medians."
                if noisy else "")
        more = f" {explanations[label]}" if value > goal else ""
        w(f"- {label}: goal {state} (ratio {value:.3f}, goal ≤ {goal:.2f}).{note}{more}")
    w(f"- Size: {_kib(size['bytes'])}, goal {'met' if size['bytes'] <= SIZE_GOAL else 'missed'} "
      f"(≤ 256 KiB); the product's own code is {size['groups'].get('product code', 0) / total_in * 100:.0f} % of "
      f"the linked bytes, the rest is the static C++ runtime with its thread library and unwinder, the C start-up "
      "and the import tables (breakdown above).")
    w("")
    return "\n".join(out) + "\n"


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
    main = results.args.main_files
    rows = [
        ("bridge", ratio(results.bridge.subject, results.bridge.floor), BRIDGE_GOAL),
        ("no-op run", ratio(results.noop[main].subject, results.noop[main].floor), NOOP_GOAL),
        ("deployment (copy)", ratio(results.copy[main].subject, results.copy[main].floor), COPY_GOAL),
    ]
    lines = [f"{name}: ratio {_ratio(value)} (goal <= {goal:.2f})" for name, value, goal in rows]
    lines.append(f"size: {results.size['bytes']:,} bytes (goal <= {SIZE_GOAL:,})")
    return "\n".join(lines)


def raw(results) -> str:
    """Every series of a partial run: median, count, lowest and highest."""
    lines = []

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
    for key, value in {**results.bridge_steps, **results.noop_steps}.items():
        lines.append(f"step {key}: {value:.0f}")
    if results.hung:
        lines.append(f"hung: {results.hung}")
    return "\n".join(lines)

"""`setup.exe /LOG`: the run log says why a run ended as it did, and a run
without the switch writes no file anywhere; a log that cannot be written
changes nothing."""

import re
import time

from harness import (DEFAULT_SETTINGS, SETUP_DIR, add_case, check, check_equal, simple_package, win_join)
from harness.runlog import LOG, log_lines, one_line

PAYLOAD = {"a.dll": b"library a", "b.dat": b"data b"}


def open_gate(ctx, word: int = 0x200):
    """The component with the given firmware word, and the folder of LOG."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(word).hex()}})
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)


def outside(paths, install: str) -> list[str]:
    """Paths (relative to C:\\) neither in the install folder nor on the way to it."""
    folder = install[3:].lower()
    return sorted(p for p in paths if not p.lower().startswith(folder) and not folder.startswith(p.lower() + "\\"))


def common_lines(ctx, lines: list[str], outcome: str) -> None:
    bits = ctx.lane.name
    one_line(lines, rf"^setup\.exe \d+\.\d+\.\d+\.\d+ \({bits}-bit\) started: C:\\Fan\\Setup\\setup\.exe$",
             "start line: version, bitness, module path")
    exit_code = "0" if outcome in ("Installed", "NothingToDo", "DeployedWithoutRecord") else "-1 (0xFFFFFFFF)"
    check_equal(lines[-1], f"outcome {outcome}: exit code {exit_code}", "last line")


# -- the cause of the outcome, one line each -------------------------------------

def gate_closed(ctx):
    open_gate(ctx, 0x1FF)
    ctx.put_setup(files=PAYLOAD, settings={})
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
    lines = log_lines(ctx)
    one_line(lines, r"^firmware word 0x000001FF: board not supported", "gate")
    common_lines(ctx, lines, "BoardNotSupported")
    check(not [line for line in lines if line.startswith("setting ")], "settings read after a closed gate")


def copy_failure(ctx):
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    install = ctx.install_dir()
    (ctx.host_path(install) / "a.dll").mkdir(parents=True)
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
    lines = log_lines(ctx)
    one_line(lines, r"^could not copy a\.dll: 5 \(.+\) even after resetting the target's attributes$",
             "the failed file")
    one_line(lines, r"^copy failed: \d+ copied, 0 passed over, 1 failed$", "copy counts")
    common_lines(ctx, lines, "CopyFailed")


def launch_failure(ctx):
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": "missing.exe"})
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal(result.exit_code, 0, "exit code")
    lines = log_lines(ctx)
    install = ctx.install_dir()
    one_line(lines, "^starting the service executable: " + re.escape(f'"{install}missing.exe" /Service') + "$",
             "command line")
    one_line(lines, r"^the service executable did not start: 2 \(.+\)$", "launch error")
    one_line(lines, r"^no record: the service executable did not start$", "record")
    common_lines(ctx, lines, "DeployedWithoutRecord")


def missing_setup_ini(ctx):
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings=None)
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
    check_equal(len(result.boxes), 3, "message boxes")
    lines = log_lines(ctx)
    one_line(lines, r'^setting "version" missing from C:\\Fan\\Setup\\setup\.ini: message shown: '
             r'Can not read version from setup\.ini$', "the missing version")
    one_line(lines, r'^offered version "" names no install folder: nothing deployed$', "why nothing was deployed")
    common_lines(ctx, lines, "VersionNamesNoFolder")


def normal_install(ctx):
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    result = ctx.run_setup(args=[f'/LOG="{LOG}"'])
    check_equal((result.exit_code, result.boxes), (0, []), "(exit code, boxes)")
    lines = log_lines(ctx)
    install = ctx.install_dir()
    key = DEFAULT_SETTINGS["RegistryKey"]
    for name, value in DEFAULT_SETTINGS.items():
        # RegistryKey is read twice (installed version, record): each read is a line.
        reads = [line for line in lines if line.startswith(f'setting "{name}"')]
        check_equal(reads, [f'setting "{name}" = "{value}"'] * (2 if name == "RegistryKey" else 1),
                    f"lines of the setting {name}")
    one_line(lines, r"^firmware word 0x00000200: board supported$", "gate")
    one_line(lines, r'^installed version "" \(none recorded\), offered "1\.0": install: the installed version is '
             r"older$", "decision")
    one_line(lines, "^install folder: " + re.escape(install) + "$", "install folder")
    copied = [line for line in lines if line.startswith("copying ")]
    check_equal(len(copied), len(ctx.payload_names()), "one line per file copied")
    one_line(lines, rf"^copy finished: {len(ctx.payload_names())} copied, 0 passed over, 0 failed$", "counts")
    one_line(lines, r"^the service executable ended with exit code 0$", "service exit code")
    one_line(lines, "^recorded HKLM\\\\" + re.escape(key) + ": Version = \"1.0\", Path = \"" + re.escape(install)
             + '"$', "record")
    common_lines(ctx, lines, "Installed")


# -- where the log goes, and where nothing goes ----------------------------------

def temp_folder_log(ctx):
    """/LOG alone: exactly one new file, in the temporary folder, named after
    the product and the date; a second run makes a second file."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    ctx.run_setup()  # installs; the runs below have nothing to do
    ctx.register_service(DEFAULT_SETTINGS["ServiceName"])
    for run in (1, 2):
        before = ctx.drive_files(leave_out=())
        result = ctx.run_setup(args=["/LOG"])
        check_equal((result.exit_code, result.boxes), (0, []), f"run {run}: (exit code, boxes)")
        after = ctx.drive_files(leave_out=())
        new = sorted(set(after) - set(before))
        check_equal(len(new), 1, f"run {run}: new files on drive C: {new}")
        check(re.search(r"\\temp\\FanServiceSetup_\d{8}_\d{3}\.log$", new[0], re.I),
              f"run {run}: the log is not a new file in the temporary folder: {new[0]}")
        lines = log_lines(ctx, "C:\\" + new[0])
        one_line(lines, r"service present: nothing to do$", f"run {run}: decision")


def no_switch_no_file(ctx):
    """Without /LOG nothing is written anywhere in the prefix: a run with
    nothing to do changes no file at all, and an install only the install
    folder."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={})
    before = ctx.drive_files(leave_out=())
    result = ctx.run_setup()
    check_equal(result.exit_code, 0, "install: exit code")
    stray = outside(set(ctx.drive_files(leave_out=())) - set(before), ctx.install_dir())
    check_equal(stray, [], "install: files made outside the install folder")

    ctx.register_service(DEFAULT_SETTINGS["ServiceName"])
    before = ctx.drive_files(leave_out=())
    result = ctx.run_setup()
    check_equal(result.exit_code, 0, "nothing to do: exit code")
    after = ctx.drive_files(leave_out=())
    check_equal(sorted(set(after) - set(before)), [], "nothing to do: new files")


UNWRITABLE = {
    "no_such_folder": r"C:\No Such Folder\setup.log",
    "a_folder": r"C:\Fan",
}


def unwritable_log(ctx, path: str):
    """A log that cannot be created changes nothing observable: the same
    exit code, boxes, install folder and record as without the switch."""
    open_gate(ctx)
    ctx.put_setup(files=PAYLOAD, settings={"Execution": None})  # one message box on the way
    before = ctx.drive_files(leave_out=())
    result = ctx.run_setup(args=[f"/LOG={path}"])
    check_equal((result.exit_code, result.timed_out), (0, False), "(exit code, timed out)")
    check_equal(result.texts(), ["Can not read executable file name from setup.ini"], "message boxes")
    install = ctx.install_dir()
    copied = {n for n, d in ctx.listing(install).items() if d is not None}
    check_equal(copied, ctx.payload_names(), "files in the install folder")
    check_equal(ctx.regdump(DEFAULT_SETTINGS["RegistryKey"]), None, "registry record")
    stray = outside(set(ctx.drive_files(leave_out=())) - set(before), install)
    check_equal(stray, [], "files made outside the install folder")


def killed_during_copy(ctx):
    """A run killed while it copies leaves a log that ends with the file it
    was copying."""
    open_gate(ctx)
    files = {f"part{i:05d}.dat": b"x" for i in range(2000)}
    ctx.put_setup(files=files, settings={})
    install = ctx.install_dir()
    run = ctx.start(win_join(SETUP_DIR, "setup.exe"), args=[f"/LOG={LOG}"], timeout_ms=120000)
    host = ctx.host_path(install)
    deadline = time.monotonic() + 60
    while run.running() and time.monotonic() < deadline:
        if host.exists() and sum(1 for _ in host.iterdir()) >= 100:
            break
        time.sleep(0.02)
    run.kill()
    result = run.wait()
    check(result.killed, "setup.exe ended before it was killed")
    lines = log_lines(ctx)
    check(re.match(r"^copying part\d{5}\.dat$", lines[-1]), f"last line: {lines[-1]!r}")
    check(not [line for line in lines if line.startswith("exit code")], "an exit code in a killed run's log")


add_case("cause[gate_closed]", gate_closed, needs_component=True)
add_case("cause[copy_failure]", copy_failure, needs_component=True)
add_case("cause[launch_failure]", launch_failure, needs_component=True)
add_case("cause[missing_setup_ini]", missing_setup_ini, needs_component=True)
add_case("cause[normal_install]", normal_install, needs_component=True)
add_case("temp_folder_log", temp_folder_log, needs_component=True)
add_case("no_switch_no_file", no_switch_no_file, needs_component=True)
for _name, _path in UNWRITABLE.items():
    add_case(f"unwritable[{_name}]", unwritable_log, needs_component=True, path=_path)
add_case("killed_during_copy", killed_during_copy, needs_component=True)

"""A setup.exe sealed by scripts/seal is still the program it was: run over
the folder it was sealed with, it does what the unsealed setup.exe does
(same exit code, message boxes, files, launch and record).

Each case makes two runs in one prefix, from C:\\Fan\\Setup, each into its
own install folder, record key and service name:

  unsealed  setup.exe as built
  sealed    the same folder, setup.ini rewritten for the second run's names,
            then sealed: setup.exe replaced by the image scripts/seal made of
            it with a manifest of that folder
"""

from __future__ import annotations

import subprocess
import time
import sys
import tempfile
from pathlib import Path

from harness import CaseFailure, add_case, check, check_equal, simple_package
from harness.outcome import apart, deployed, described_run
from harness.runlog import LOG, log_lines

SEAL = Path(__file__).resolve().parents[3] / "scripts" / "seal"
PAYLOAD = {
    "fan.dll": bytes(range(256)) * 40,
    "notes.txt": b"fan curves\r\n",
    "lang\\de.txt": b"in a sub-folder: never copied, never listed",
}
SERVICE_BOX = "Can not read service name from setup.ini"


def seal_program_folder(ctx, folder: str | Path | None = None) -> bytes:
    """Replaces setup.exe in the program folder (`folder`: a C:\\ path, a
    host path, by default SETUP_DIR) by the image sealed with that folder;
    returns the image."""
    host = folder if isinstance(folder, Path) else ctx.host_path(folder) if folder else ctx.setup_dir
    with tempfile.TemporaryDirectory(prefix="e2e-seal-") as temporary:
        sealed = Path(temporary) / "setup.exe"
        completed = subprocess.run([sys.executable, str(SEAL), str(host), str(ctx.tools.setup), str(sealed)],
                                   capture_output=True, text=True)
        if completed.returncode != 0:
            raise CaseFailure(f"scripts/seal failed ({completed.returncode}): {completed.stderr.strip()}")
        image = sealed.read_bytes()
    check(image != ctx.tools.setup.read_bytes(), "scripts/seal left setup.exe as it was")
    (host / "setup.exe").write_bytes(image)
    return image


def run_once(ctx, which: str, service_name_missing: bool) -> dict:
    """Runs setup.exe with settings of its own, sealed or not; returns what
    the run left, its own names put in general terms so that the two runs
    compare (every file of the program folder, setup.exe included, byte for
    byte)."""
    settings = apart(which)
    ctx.write_setup_ini(**((settings | {"ServiceName": None}) if service_name_missing else settings))
    if which == "Sealed":
        seal_program_folder(ctx)
    return described_run(ctx, settings, cwd=r"C:\Fan\Setup")


def sealed_row(ctx, service_name_missing: bool):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=PAYLOAD)

    unsealed = run_once(ctx, "Unsealed", service_name_missing)
    # The unsealed run is a real deploy, so that the sealed one compares with one.
    check_equal(unsealed, deployed(["fan.dll", "notes.txt"], (SERVICE_BOX,) if service_name_missing else ()),
                "unsealed run")

    sealed = run_once(ctx, "Sealed", service_name_missing)
    check_equal(sealed, unsealed, "outcome of the sealed setup.exe against the unsealed one")


add_case("sealed_runs_as_unsealed[deploy]", sealed_row, needs_component=True, service_name_missing=False)
add_case("sealed_runs_as_unsealed[deploy_with_message_box]", sealed_row, needs_component=True,
         service_name_missing=True)


# -- what a sealed setup.exe refuses -------------------------------------------

RECORD_KEY = r"Software\FanCtl\Service"


def sealed_setup(ctx, files: dict[str, bytes] | None = None) -> str:
    """The program folder with PAYLOAD (or `files`) and the default settings,
    sealed; returns the install folder."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=files if files is not None else PAYLOAD, settings={})
    seal_program_folder(ctx)
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)
    return ctx.install_dir()


def check_refused(ctx, result, install: str, line_start: str) -> None:
    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, message boxes)")
    check_equal(ctx.service_runs(install), [], "service executable runs")
    check_equal(ctx.regdump(RECORD_KEY), None, "registry record")
    lines = log_lines(ctx)
    check(any(line.startswith(line_start) for line in lines),
          f"no log line starting {line_start!r}:\n  " + "\n  ".join(lines))


def files_not_sealed(ctx):
    """A version.dll and a second .exe land beside a sealed setup.exe after
    it was sealed: neither is copied, and the install completes."""
    install = sealed_setup(ctx)
    (ctx.setup_dir / "version.dll").write_bytes(ctx.built_tool("planted_dll.dll").read_bytes())
    (ctx.setup_dir / "other.exe").write_bytes(b"MZ another program")
    result = ctx.run_setup(args=[f"/LOG={LOG}"], cwd=r"C:\Fan\Setup")
    check_equal((result.exit_code, result.boxes), (0, []), "(exit code, boxes)")
    installed = sorted(n for n in ctx.listing(install) if n != "service_runs.log")
    check_equal(installed, ["fan.dll", "notes.txt", "setup.exe", "setup.ini", "standin_service.exe"],
                "install folder")
    check_equal(len(ctx.service_runs(install)), 1, "service executable runs")
    lines = log_lines(ctx)
    for name in ("version.dll", "other.exe"):
        check(f"not sealed, not copied: {name}" in lines, f"the log does not name {name}")


def payload_byte_changed(ctx):
    """One byte of a payload file changed after sealing: -1, no launch, no
    record, the log names the file, and no file of the install folder, under
    any name (a temporary one included), holds the changed bytes."""
    install = sealed_setup(ctx)
    data = bytearray((ctx.setup_dir / "fan.dll").read_bytes())
    data[100] ^= 1
    (ctx.setup_dir / "fan.dll").write_bytes(bytes(data))
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_refused(ctx, result, install, "sealed file fan.dll differs from the seal: SHA-256 ")
    holding = [name for name, content in ctx.listing(install).items() if content == bytes(data)]
    check_equal(holding, [], "files of the install folder that hold the changed bytes")


def setup_ini_changed(ctx):
    """setup.ini changed after sealing: -1 before any folder is created, no
    message box (no setting is read)."""
    sealed_setup(ctx)
    ini = ctx.setup_dir / "setup.ini"
    ini.write_bytes(ini.read_bytes().replace(b"version=1.0", b"version=6.6"))
    drive_before = ctx.drive_files()
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_refused(ctx, result, ctx.install_dir(version="6.6"), "the payload does not match the seal: setup.ini")
    changed = sorted(k for k in ctx.drive_files() if k not in drive_before and k != LOG[3:])
    check_equal(changed, [], "files and folders made on drive C: (the log aside)")
    check_equal([e for e in ctx.component_calls() if e.get("event") == "invoke"], [], "component calls")


def listed_file_missing(ctx):
    """A file the seal lists is missing from the program folder: -1."""
    install = sealed_setup(ctx)
    (ctx.setup_dir / "notes.txt").unlink()
    result = ctx.run_setup(args=[f"/LOG={LOG}"])
    check_refused(ctx, result, install, "sealed file missing from the program folder: notes.txt")


def payload_swapped_while_copying(ctx):
    """A payload file is replaced (with other bytes of the same size) after
    the run has listed the folder and begun to copy: the content that was
    sealed is the content launched, or the run ends with -1; the swapped
    content is never launched."""
    files = {f"part{n:03}.bin": bytes([n % 251]) * 200000 for n in range(60)}
    install = sealed_setup(ctx, files)
    pending = ctx.start(r"C:\Fan\Setup\setup.exe", [f"/LOG={LOG}"])
    swapped = None
    deadline = time.monotonic() + 30
    while swapped is None and pending.running() and time.monotonic() < deadline:
        lines = log_lines(ctx, running=True)
        copying = [line[len("copying "):] for line in lines if line.startswith("copying ")]
        if copying:
            later = sorted(n for n in files if n not in copying)
            if later:
                swapped = later[-1]
                replacement = ctx.setup_dir / (swapped + ".new")
                replacement.write_bytes(b"\xEE" * len(files[swapped]))
                replacement.replace(ctx.setup_dir / swapped)
        time.sleep(0.01)
    result = pending.wait()
    check(swapped is not None, "the run ended before a file could be swapped")
    ctx.note(f"swapped {swapped}: exit code {result.exit_code:#x}")
    runs = ctx.service_runs(install)
    if result.exit_code == 0:
        check_equal(len(runs), 1, "service executable runs")
        check_equal((ctx.host_path(install) / swapped).read_bytes(), files[swapped],
                    f"{swapped} in the install folder of a run that launched")
    else:
        check_refused(ctx, result, install, f"sealed file {swapped} differs from the seal")


add_case("files_not_sealed", files_not_sealed, needs_component=True)
add_case("payload_byte_changed", payload_byte_changed, needs_component=True)
add_case("setup_ini_changed", setup_ini_changed, needs_component=True)
add_case("listed_file_missing", listed_file_missing, needs_component=True)
add_case("payload_swapped_while_copying", payload_swapped_while_copying, needs_component=True)

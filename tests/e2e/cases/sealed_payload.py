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
import sys
import tempfile
from pathlib import Path

from harness import CaseFailure, add_case, check, check_equal, simple_package

SEAL = Path(__file__).resolve().parents[3] / "scripts" / "seal"
PAYLOAD = {
    "fan.dll": bytes(range(256)) * 40,
    "notes.txt": b"fan curves\r\n",
    "lang\\de.txt": b"in a sub-folder: never copied, never listed",
}
SERVICE_BOX = "Can not read service name from setup.ini"

RUNS = {
    "unsealed": (r"Fan\Unsealed", r"Software\FanCtl\Unsealed", "FanCtlUnsealed"),
    "sealed": (r"Fan\Sealed", r"Software\FanCtl\Sealed", "FanCtlSealed"),
}


def record(ctx, key: str) -> dict[str, str] | None:
    dump = ctx.regdump(key)
    if dump is None:
        return None
    return {v["name"]: bytes.fromhex(v["data"]).rstrip(b"\0").decode("latin-1") for v in dump["values"]}


def seal_program_folder(ctx) -> bytes:
    """Replaces setup.exe in the program folder by the image sealed with that folder."""
    with tempfile.TemporaryDirectory(prefix="e2e-seal-") as temporary:
        sealed = Path(temporary) / "setup.exe"
        completed = subprocess.run([sys.executable, str(SEAL), str(ctx.setup_dir), str(ctx.tools.setup), str(sealed)],
                                   capture_output=True, text=True)
        if completed.returncode != 0:
            raise CaseFailure(f"scripts/seal failed ({completed.returncode}): {completed.stderr.strip()}")
        image = sealed.read_bytes()
    check(image != ctx.tools.setup.read_bytes(), "scripts/seal left setup.exe as it was")
    (ctx.setup_dir / "setup.exe").write_bytes(image)
    return image


def run_once(ctx, which: str, service_name_missing: bool) -> dict:
    """Runs setup.exe with the settings of `which`; returns what the run
    left, its own names put in general terms so that the two runs compare."""
    install_path, record_key, service = RUNS[which]
    ctx.write_setup_ini(InstallPath=install_path, RegistryKey=record_key,
                        ServiceName=None if service_name_missing else service)
    if which == "sealed":
        seal_program_folder(ctx)
    program_folder = {name: data for name, data in ctx.listing(r"C:\Fan\Setup").items() if data is not None}

    result = ctx.run_setup(cwd=r"C:\Fan\Setup")

    install = ctx.install_dir(install_path=install_path)
    installed = ctx.listing(install) if ctx.host_path(install).is_dir() else {}
    runs = ctx.service_runs(install)
    return {
        "exit code": result.exit_code,
        "timed out": result.timed_out,
        "boxes": [(b.caption, b.text, b.buttons, b.icon) for b in result.boxes],
        # Every file of the program folder, setup.exe (sealed or not) included, byte for byte.
        "install folder is the program folder":
            {n: d for n, d in installed.items() if n != "service_runs.log"} == program_folder,
        "install folder": sorted(installed),
        "service executable runs": [(r["commandLine"].replace(install, "<install>"),
                                     r["exePath"].replace(install, "<install>")) for r in runs],
        "record": {k: v.replace(install, "<install>") for k, v in (record(ctx, record_key) or {}).items()},
    }


def sealed_row(ctx, service_name_missing: bool):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=PAYLOAD)

    unsealed = run_once(ctx, "unsealed", service_name_missing)
    # The unsealed run is a real deploy, so that the sealed one compares with one.
    check_equal(unsealed, {
        "exit code": 0,
        "timed out": False,
        "boxes": [("Fan Contrl Service Setup", SERVICE_BOX, ["OK"], False)] if service_name_missing else [],
        "install folder is the program folder": True,
        "install folder": ["fan.dll", "notes.txt", "service_runs.log", "setup.exe", "setup.ini",
                           "standin_service.exe"],
        "service executable runs": [('"<install>standin_service.exe" /Service', "<install>standin_service.exe")],
        "record": {"Version": "1.0", "Path": "<install>"},
    }, "unsealed run")

    sealed = run_once(ctx, "sealed", service_name_missing)
    check_equal(sealed, unsealed, "outcome of the sealed setup.exe against the unsealed one")


add_case("sealed_runs_as_unsealed[deploy]", sealed_row, needs_component=True, service_name_missing=False)
add_case("sealed_runs_as_unsealed[deploy_with_message_box]", sealed_row, needs_component=True,
         service_name_missing=True)

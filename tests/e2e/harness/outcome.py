"""What a deploying setup.exe run left, put in general terms, so that two
runs into different install folders, record keys and service names
compare: a baseline run and the run under test, in one prefix.

    baseline = described_run(ctx, apart("Baseline"))   # setup.ini written with apart("Baseline") first
    check_equal(baseline, deployed(["notes.txt"]), "baseline run")
"""

from __future__ import annotations

from .context import CAPTION, SETUP_DIR, Context, RunResult


def apart(which: str) -> dict[str, str]:
    """The settings that keep one of several runs in a prefix apart from the
    others: an install folder, a record key and a service name of its own."""
    return {"InstallPath": rf"Fan\{which}", "RegistryKey": rf"Software\FanCtl\{which}", "ServiceName": f"FanCtl{which}"}


def record_texts(ctx: Context, key: str) -> dict[str, str] | None:
    """The values under HKLM\\`key` as texts (latin-1, the trailing NULs
    taken off); None when the key is not there."""
    dump = ctx.regdump(key)
    if dump is None:
        return None
    return {v["name"]: bytes.fromhex(v["data"]).rstrip(b"\0").decode("latin-1") for v in dump["values"]}


def deployment_outcome(ctx: Context, result: RunResult, install_path: str, record_key: str,
                       program_folder: dict[str, bytes]) -> dict:
    """The run's exit code, boxes, install folder (against `program_folder`,
    the program folder's files as they were before the run), service
    executable runs and record, with the install folder's path written
    <install>."""
    install = ctx.install_dir(install_path=install_path)
    installed = ctx.listing(install) if ctx.host_path(install).is_dir() else {}
    runs = ctx.service_runs(install)
    return {
        "exit code": result.exit_code,
        "timed out": result.timed_out,
        "boxes": [(b.caption, b.text, b.buttons, b.icon) for b in result.boxes],
        # The install folder holds a copy of the program folder as it was at the start.
        "install folder is the program folder":
            {n: d for n, d in installed.items() if n != "service_runs.log"} == program_folder,
        "install folder": sorted(installed),
        "service executable runs": [(r["commandLine"].replace(install, "<install>"),
                                     r["exePath"].replace(install, "<install>")) for r in runs],
        "record": {k: v.replace(install, "<install>") for k, v in (record_texts(ctx, record_key) or {}).items()},
    }


def described_run(ctx: Context, settings: dict[str, str], program_folder: dict[str, bytes] | None = None,
                  **run_args) -> dict:
    """Runs setup.exe (`run_args` as ctx.run_setup takes them) and returns
    deployment_outcome of the run, for the install folder and record key of
    `settings`. `program_folder`: the program folder's files before the run
    (by default those of run_args' C:\\ `folder`, SETUP_DIR)."""
    if program_folder is None:
        program_folder = {n: d for n, d in ctx.listing(run_args.get("folder", SETUP_DIR)).items() if d is not None}
    return deployment_outcome(ctx, ctx.run_setup(**run_args), settings["InstallPath"], settings["RegistryKey"],
                              program_folder)


def deployed(payload: list[str], boxes: tuple[str, ...] = ()) -> dict:
    """What deployment_outcome says of a run that deployed a program folder
    of setup.exe, setup.ini, the stand-in service executable and `payload`
    (names), ran the service executable and recorded version 1.0, showing
    message boxes of the texts `boxes` on the way."""
    return {
        "exit code": 0,
        "timed out": False,
        "boxes": [(CAPTION, text, ["OK"], False) for text in boxes],
        "install folder is the program folder": True,
        "install folder": sorted([*payload, "service_runs.log", "setup.exe", "setup.ini", "standin_service.exe"]),
        "service executable runs": [('"<install>standin_service.exe" /Service', "<install>standin_service.exe")],
        "record": {"Version": "1.0", "Path": "<install>"},
    }

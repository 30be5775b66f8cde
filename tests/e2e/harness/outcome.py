"""What a deploying setup.exe run left, put in general terms, so that two
runs into different install folders, record keys and service names
compare."""

from __future__ import annotations

from .context import Context, RunResult


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

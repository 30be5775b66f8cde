"""setup.exe started from the folders deployment tools use: a share
(\\\\server\\share\\..., which Wine keeps in the prefix as
dosdevices/unc/server/share) and a mapped drive letter (dosdevices/m:, a
link to a folder), sealed and unsealed. Each case runs setup.exe twice in
one prefix, from C:\\Fan\\Setup and from the other folder, each into an
install folder, record key and service name of its own: the outcomes
(exit code, boxes, files, launch, record) are the same, and the log's
first line names the path setup.exe was started from."""

from __future__ import annotations

import os
from pathlib import Path

from harness import DEFAULT_SETTINGS, SETUP_DIR, add_case, check, check_equal, simple_package, write_ini
from harness.outcome import apart, described_run
from harness.runlog import LOG, log_lines

from cases.sealed_payload import seal_program_folder

PAYLOAD = {"fan.dll": bytes(range(256)) * 8, "notes.txt": b"fan curves\r\n"}


def fill(ctx, host: Path, settings: dict[str, str], sealed: bool) -> dict[str, bytes]:
    """setup.exe, the stand-in service, PAYLOAD and setup.ini with `settings`
    in `host`, sealed on request; returns the folder's files."""
    host.mkdir(parents=True, exist_ok=True)
    (host / "standin_service.exe").write_bytes(ctx.tools.standin_service.read_bytes())
    for name, data in PAYLOAD.items():
        (host / name).write_bytes(data)
    write_ini(host / "setup.ini", {"Common": {**DEFAULT_SETTINGS, **settings}})
    (host / "setup.exe").write_bytes(ctx.tools.setup.read_bytes())
    if sealed:
        seal_program_folder(ctx, host)
    return {p.name: p.read_bytes() for p in host.iterdir() if p.is_file()}


def started_from(ctx, kind: str, sealed: bool):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)
    dosdevices = ctx.prefix.path / "dosdevices"
    if kind == "share":
        host, folder = dosdevices / "unc" / "server" / "share" / "Setup", r"\\server\share\Setup"
    else:
        target = ctx.prefix.path / "mapped"
        target.mkdir()
        os.symlink(target, dosdevices / "m:")
        host, folder = target / "Setup", r"M:\Setup"

    outcomes = {}
    for where, path, files in (("C:", SETUP_DIR, ctx.setup_dir), (kind, folder, host)):
        settings = apart(where[0].upper())
        program_folder = fill(ctx, files, settings, sealed)
        outcomes[where] = described_run(ctx, settings, program_folder, folder=path, args=[f"/LOG={LOG}"])
        first = log_lines(ctx)[0]
        check(first.endswith(f" started: {path}\\setup.exe"), f"the log's first line: {first!r}")
    check_equal(outcomes["C:"]["exit code"], 0, "exit code from C:")
    check(outcomes["C:"]["install folder is the program folder"], "the install folder from C: is its program folder")
    check_equal(outcomes[kind], outcomes["C:"], f"outcome from {folder} against the one from C:")


for _kind in ("share", "mapped_drive"):
    for _sealed in (False, True):
        add_case(f"started_from[{_kind}{'_sealed' if _sealed else ''}]", started_from, needs_component=True,
                 kind=_kind, sealed=_sealed)

"""The harness itself: every process of a case's prefix runs without
address-space randomisation, the programs a case starts and the servers that
Wine starts for them alike (FIXED_LAYOUT in harness/lanes.py says why). A
process started some other way would bring back Wine's rare deaths at start,
which show as cases failing at random."""

import os
from pathlib import Path

from harness import CaseSkip, check, e2e_case
from harness.lanes import FIXED_LAYOUT, fixed_layout

ADDR_NO_RANDOMIZE = 0x0040000  # personality(2)


def prefix_processes(prefix: Path) -> dict[int, tuple[str, int]]:
    """The host's processes whose WINEPREFIX is `prefix`: pid -> (command line, personality)."""
    wanted = b"WINEPREFIX=" + os.fsencode(prefix)
    found = {}
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if wanted not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("latin-1").strip()
            personality = int((entry / "personality").read_text(), 16)
        except (OSError, ValueError):
            continue  # ended while we looked
        found[int(entry.name)] = (command, personality)
    return found


@e2e_case()
def started_without_randomisation(ctx):
    if not fixed_layout():
        raise CaseSkip(f"this host refuses {' '.join(FIXED_LAYOUT)}")
    held = r"C:\Held\file.txt"
    ctx.host_path(held).parent.mkdir(parents=True)
    ctx.host_path(held).write_bytes(b"held")
    with ctx.file_held(held):
        processes = prefix_processes(ctx.prefix.path)
    commands = sorted(command for command, _ in processes.values())
    check(any("file_holder.exe" in command for command in commands),
          f"file_holder.exe is not among the prefix's processes: {commands}")
    # Wine's own servers start with the first program: they must have
    # inherited the setting too.
    check(any("services.exe" in command for command in commands),
          f"services.exe is not among the prefix's processes: {commands}")
    randomised = sorted(command for command, personality in processes.values()
                        if not personality & ADDR_NO_RANDOMIZE)
    check(not randomised, "started with address-space randomisation: " + "; ".join(randomised))

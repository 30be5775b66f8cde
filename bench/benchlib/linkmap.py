"""What takes the space in setup.exe: the GNU ld link map read back.

The executable is linked once more exactly as the build links it, with
-Wl,-Map added and written elsewhere; the copy must come out the same size
as the built file (only the time stamp and checksum differ)."""

from __future__ import annotations

import re
import subprocess
from collections import Counter
from dataclasses import dataclass
from pathlib import Path

import pefile

_OUTPUT_SECTION = re.compile(r"^(\.\S+)\s")
_INPUT_ONE_LINE = re.compile(r"^ (\.\S+|COMMON)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
_INPUT_NAME_ONLY = re.compile(r"^ (\.\S+|COMMON)$")
_INPUT_CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


@dataclass
class Contribution:
    owner: str  # "libstdc++.a(string-inst.o)", "main.cpp.obj", ...
    group: str
    section: str
    size: int


def relink_with_map(build: Path, out_dir: Path) -> tuple[Path, Path]:
    """Links setup.exe again with a map; returns (executable, map)."""
    out_dir.mkdir(parents=True, exist_ok=True)
    commands = subprocess.run(["ninja", "-C", str(build), "-t", "commands", "setup/setup.exe"], check=True,
                              capture_output=True, text=True).stdout.strip().splitlines()
    link = commands[-1]
    exe = out_dir / "setup.exe"
    linkmap = out_dir / "setup.map"
    if " -o setup/setup.exe " not in link:
        raise RuntimeError(f"unexpected link command: {link}")
    link = link.replace(" -o setup/setup.exe ", f" -o {exe} -Wl,-Map={linkmap} ")
    link = link.replace("--out-implib,setup/libsetup.dll.a", f"--out-implib,{out_dir / 'libsetup.dll.a'}")
    subprocess.run(["bash", "-c", link], cwd=build, check=True)
    return exe, linkmap


def _owner_and_group(path: str) -> tuple[str, str]:
    name = path.rsplit("/", 1)[-1]
    library = name.split("(", 1)[0]
    # The link runs in the build tree and names the product's own objects and
    # libraries relative to it; the toolchain's come with absolute paths.
    if not path.startswith("/") and ("/" in path or name.endswith(".obj")) and not name.endswith(".res"):
        return name, "product code"
    if library == "libstdc++.a":
        return name, "C++ runtime (libstdc++)"
    if library in ("libgcc.a", "libgcc_eh.a"):
        return name, "libgcc / unwinder"
    if library == "libpthread.a":
        return name, "winpthreads (posix thread model)"
    if library in ("libmingw32.a", "libmingwex.a", "libmoldname.a") or name in ("crt2.o", "crtbegin.o",
                                                                                   "crtend.o"):
        return name, "mingw-w64 start-up and C library"
    if library.startswith("lib") and library.endswith(".a"):
        return library, "import tables and thunks (DLL imports)"
    return name, "linker-made (exports, resources, other)"


def read(map_path: Path) -> list[Contribution]:
    lines = map_path.read_text(errors="replace").splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    section = None
    pending = None
    out: list[Contribution] = []

    def add(path: str, size: int) -> None:
        if size and section and not section.startswith(".debug") and path.strip():
            owner, group = _owner_and_group(path.strip())
            out.append(Contribution(owner, group, section, size))

    for line in lines[start:]:
        match = _OUTPUT_SECTION.match(line)
        if match:
            section = match.group(1)
            pending = None
            continue
        match = _INPUT_ONE_LINE.match(line)
        if match:
            add(match.group(4), int(match.group(3), 16))
            pending = None
            continue
        if _INPUT_NAME_ONLY.match(line):
            pending = True
            continue
        if pending:
            match = _INPUT_CONTINUED.match(line)
            if match:
                add(match.group(3), int(match.group(2), 16))
            pending = None
    return out


def section_table(exe: Path) -> list[tuple[str, int, int]]:
    """(name, virtual size, bytes in the file) of each section of the PE file."""
    pe = pefile.PE(data=exe.read_bytes(), fast_load=True)
    return [(s.Name.rstrip(b"\0").decode("latin-1"), s.Misc_VirtualSize, s.SizeOfRawData) for s in pe.sections]


def by_group(contributions: list[Contribution], file_sections: set[str]) -> Counter:
    totals: Counter = Counter()
    for c in contributions:
        if c.section in file_sections:
            totals[c.group] += c.size
    return totals


def by_owner(contributions: list[Contribution], file_sections: set[str]) -> Counter:
    totals: Counter = Counter()
    for c in contributions:
        if c.section in file_sections:
            totals[(c.owner, c.group)] += c.size
    return totals


def by_section(contributions: list[Contribution]) -> Counter:
    totals: Counter = Counter()
    for c in contributions:
        totals[c.section] += c.size
    return totals

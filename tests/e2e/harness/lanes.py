"""The two Wine lanes: which loader runs a build's programs, and what a
program of that bitness sees inside a 64-bit prefix.

    32  the i686 build, the product as shipped. Debian's `wine` wrapper (the
        32-bit loader) in lane 32's root, a Debian system of its own that
        scripts/bootstrap makes, entered through scripts/lib/lane32: the
        loader and its wineserver alike. Needs a host that starts 32-bit
        code.
    64  the x86-64 build, the bridge for 64-bit callers. The host's 64-bit
        loader, called directly. Runs on every x86-64 host.

Whether a lane can run is found by starting a small program of that
bitness (the lane's own loader, asked for its version), never by guessing
from the kernel or the distribution. FANSETUP_NO_32BIT=1 makes the probe
answer "no" for lane 32 on any machine, to rehearse a 64-bit-only host.
When lane 32's loader does not start because scripts/bootstrap could not or
would not make its root, the reason is the one the bootstrap left in
build/bootstrap/lane32 (a failed make names mmdebstrap's message). A loader
that starts wins over that record, but for a rehearsed failure
(FANSETUP_UNINSTALLABLE), which holds while the variable names the package.

Every Wine program runs with the kernel's address-space randomisation off
(`fixed_layout`, below), where the host allows it.

Used as a command by the scripts:

    python3 tests/e2e/harness/lanes.py probe 32     exit 0, or exit 1 and the reason on stdout
    python3 tests/e2e/harness/lanes.py runnable     the runnable lanes, e.g. "32 64"
    python3 tests/e2e/harness/lanes.py layout       how Wine's programs are started (one line)
"""

from __future__ import annotations

import os
import subprocess
import sys
from dataclasses import dataclass
from functools import lru_cache

SOURCE_ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", ".."))
# Enters lane 32's root: every command of lane 32's Wine starts with it.
LANE32 = os.path.join(SOURCE_ROOT, "scripts", "lib", "lane32")
LOADER_32 = "/usr/lib/wine/wine"  # inside lane 32's root
LOADER_64 = "/usr/lib/wine/wine64"
# What each lane's probe starts, with "--version".
PROBES = {"32": (LANE32, LOADER_32), "64": (LOADER_64,)}
NO_32BIT_VARIABLE = "FANSETUP_NO_32BIT"
UNINSTALLABLE_VARIABLE = "FANSETUP_UNINSTALLABLE"
# What scripts/bootstrap left about lane 32 (its package or root): "reason: ..." and,
# for a rehearsed failure, "rehearsed: PACKAGE ...".
BOOTSTRAP_RECORD = os.path.join(SOURCE_ROOT, "build", "bootstrap", "lane32")

# Every Wine process needs the page at 0x7FFE0000 (the shared user data)
# free when it starts. Debian's Wine has no preloader to reserve it: the
# loader is linked at 0x7D000000, and the kernel starts its heap at a random
# point after it, up to 1 GiB after it on current x86-64 kernels (32 MiB on
# older ones and for 32-bit code). When the heap happens to cover that page,
# the process dies at once ("failed to map the shared user data: c0000018",
# shown only with WINEDEBUG=err+all), and its parent sees CreateProcess fail
# with error 1359 or a COM server that never comes up. That is rare for one
# start (the heap is small then), but a run of the end-to-end suite starts
# thousands of Wine processes. Without randomisation the heap starts right
# after the loader (0x7D005000), 48 MiB below that page, on every start. The setting is inherited by every process that Wine
# starts from there (the servers, the programs a case runs).
FIXED_LAYOUT = ("setarch", "-R")


@dataclass(frozen=True)
class Lane:
    name: str  # "32" or "64"
    preset: str  # the CMake preset and the build folder below build/
    command: tuple[str, ...]  # runs a Windows program: command + (program, args...)
    server: tuple[str, ...]  # the lane's wineserver: server + ("-k",) ends a prefix's processes
    env: tuple[tuple[str, str], ...]  # set for every command of the lane
    program_files: str  # what SHGetFolderPath gives a program of this bitness
    other_program_files: str  # the program-files folder of the other bitness
    reg_exe: str  # reg.exe of this bitness (it sees this bitness's registry view)
    saved_software: str  # where system.reg keeps HKLM\Software as this bitness sees it
    machine: str  # the PE machine of the build: i386 or amd64

    def wine(self, *args: str) -> list[str]:
        return [*fixed_layout(), *self.command, *args]

    def apply(self, env: dict[str, str]) -> dict[str, str]:
        env.update(dict(self.env))
        if not self.env:
            env.pop("WINELOADER", None)
        return env


LANES = {
    "32": Lane(name="32", preset="win32", command=(LANE32, "wine"), server=(LANE32, "wineserver"), env=(),
               program_files=r"C:\Program Files (x86)", other_program_files=r"C:\Program Files",
               reg_exe=r"C:\windows\syswow64\reg.exe", saved_software="Software\\Wow6432Node", machine="i386"),
    "64": Lane(name="64", preset="win64", command=(LOADER_64,), server=("wineserver",),
               env=(("WINELOADER", LOADER_64),),
               program_files=r"C:\Program Files", other_program_files=r"C:\Program Files (x86)",
               reg_exe=r"C:\windows\system32\reg.exe", saved_software="Software", machine="amd64"),
}


def lane(name: str) -> Lane:
    if name not in LANES:
        raise ValueError(f"no lane {name!r} (lanes: {', '.join(LANES)})")
    return LANES[name]


def lane_of_build(build: str | os.PathLike) -> Lane:
    """The lane whose preset made a build folder (build/win32, build/win64, or
    any folder configured from one of them, judged by its CMake cache)."""
    path = os.fspath(build)
    for candidate in LANES.values():
        if os.path.basename(os.path.normpath(path)) == candidate.preset:
            return candidate
    try:
        with open(os.path.join(path, "CMakeCache.txt"), encoding="utf-8", errors="replace") as cache:
            text = cache.read()
    except OSError:
        text = ""
    if "x86_64-w64-mingw32" in text:
        return LANES["64"]
    return LANES["32"]


@lru_cache(maxsize=None)
def fixed_layout() -> tuple[str, ...]:
    """The command that starts a program without address-space
    randomisation, or () where the host does not allow it (a container whose
    seccomp profile refuses personality(ADDR_NO_RANDOMIZE), say)."""
    try:
        probe = subprocess.run([*FIXED_LAYOUT, "true"], stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return ()
    return FIXED_LAYOUT if probe.returncode == 0 else ()


def layout_note() -> str:
    if fixed_layout():
        return "Wine runs without address-space randomisation (" + " ".join(FIXED_LAYOUT) + ")"
    return ("Wine runs with address-space randomisation: this host refuses " + " ".join(FIXED_LAYOUT)
            + "; now and then a Wine program may fail to start (see FIXED_LAYOUT in tests/e2e/harness/lanes.py)")


def bootstrap_record(path: str | None = None) -> tuple[str, bool] | None:
    """The bootstrap's reason for lane 32, and whether it holds even when the
    loader starts (a rehearsal the environment still asks for); None without
    a record."""
    try:
        with open(path or BOOTSTRAP_RECORD, encoding="utf-8", errors="replace") as record:
            fields = dict(line.rstrip("\n").partition(": ")[::2] for line in record if ": " in line)
    except OSError:
        return None
    if not fields.get("reason"):
        return None
    named = os.environ.get(UNINSTALLABLE_VARIABLE, "").split()
    return fields["reason"], any(package in named for package in fields.get("rehearsed", "").split())


@lru_cache(maxsize=None)
def why_not(name: str) -> str | None:
    """None when the lane's programs can start on this host, else the reason."""
    if name == "32" and os.environ.get(NO_32BIT_VARIABLE, "") not in ("", "0"):
        return f"{NO_32BIT_VARIABLE} is set: rehearsing a host that starts no 32-bit code"
    record = bootstrap_record() if name == "32" else None
    if record and record[1]:
        return record[0]
    probe_command = PROBES[name]
    if name == "64" and not os.path.exists(LOADER_64):
        return f"{LOADER_64} is not installed"
    try:
        probe = subprocess.run([*probe_command, "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                               timeout=30)
    except OSError as error:
        # ENOEXEC: the kernel runs no code of that bitness (IA-32 emulation off).
        return record[0] if record else f"this host cannot start the {name}-bit Wine loader ({error.strerror})"
    except subprocess.TimeoutExpired:
        return f"the {name}-bit Wine loader did not answer within 30 s"
    if probe.returncode != 0:
        if record:
            return record[0]
        detail = (probe.stderr or probe.stdout).decode("latin-1").strip().splitlines()
        if detail and detail[-1].startswith("lane32: "):
            return detail[-1][len("lane32: "):]  # the root is not made
        return f"the {name}-bit Wine loader failed ({probe.returncode}): {detail[-1] if detail else 'no output'}"
    return None


def runnable() -> list[Lane]:
    return [candidate for name, candidate in LANES.items() if why_not(name) is None]


def main(argv: list[str]) -> int:
    if len(argv) == 2 and argv[0] == "probe":
        reason = why_not(lane(argv[1]).name)
        if reason:
            print(reason)
            return 1
        return 0
    if argv == ["layout"]:
        print(layout_note())
        return 0
    if argv == ["runnable"]:
        print(" ".join(candidate.name for candidate in runnable()))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

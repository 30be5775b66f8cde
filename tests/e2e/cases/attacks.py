"""Ways through the guards of an elevated run, each taken as a program of
the user's own would take it (here the host's file operations, which under
Wine are what such a program can do, or a tool of tools/ run under Wine).
Each case says what the sound behaviour is, and fails while the run lets
the attack through.

- A second file of the image's name in another case (a folder that keeps
  case: a case-sensitive NTFS folder, a share from a server that keeps
  case): a sealed run copies it, unchecked, over the image it installed.
- The program folder and the running image, each opened by its own path:
  a folder link pointed elsewhere between the two opens has the run take
  another folder as its program folder (the machine's temporary folder,
  where the user may add a setup.ini but reads nobody else's files) while
  the image it holds is the one that runs; that folder's files are
  published in the program-files folder.
- setup.ini of any size is copied whole to the machine's temporary folder,
  before anything is decided: a sparse file that costs the user nothing
  fills the system drive and holds the machine's run guard meanwhile.
- The staging folder in the install folder, which users may read: a program
  of the user's own opens a staged file the moment the run closes it; the
  run can neither move it into place nor remove it: it fails, and leaves
  the file and the staging folder behind; a copy that failed the seal
  stays below the install folder.

RegistryKey naming the machine's Run key (whose values Windows starts at
every user's logon) is a row of elevated_run's settings that lead out."""

from __future__ import annotations

import hashlib
import os
import subprocess
import sys
import time

from harness import DEFAULT_SETTINGS, add_case, check, check_equal, simple_package, write_ini
from harness.runlog import LOG, log_lines
from harness.wine import WineError

from cases.sealed_payload import sealed_setup

OTHER_BYTES = b"MZ bytes that no seal checked" * 100


def image_name_in_another_case(ctx):
    """The sealed setup.exe, renamed SETUP.EXE (its signature and seal keep),
    is started from a program folder that also holds setup.exe, other bytes.
    The image is placed from the running image, whatever the folder holds
    under its name in another case; no file of the install folder holds
    bytes that are neither sealed nor the image."""
    install = sealed_setup(ctx)
    image = (ctx.setup_dir / "setup.exe").read_bytes()
    (ctx.setup_dir / "setup.exe").rename(ctx.setup_dir / "SETUP.EXE")
    (ctx.setup_dir / "setup.exe").write_bytes(OTHER_BYTES)
    result = ctx.run(r"C:\Fan\Setup\SETUP.EXE", args=[f"/LOG={LOG}"])
    ctx.note(f"exit code {result.exit_code:#x}")
    installed = ctx.listing(install) if ctx.host_path(install).is_dir() else {}
    holding = sorted(n for n, data in installed.items() if data == OTHER_BYTES)
    check_equal(holding, [], "files of the install folder holding bytes that no seal checked (log:\n  "
                + "\n  ".join(log_lines(ctx)) + ")")
    images = [n for n in installed if n.lower() == "setup.exe"]
    check(images and all(installed[n] == image for n in images), f"the installed image: {images}")


add_case("image_name_in_another_case", image_name_in_another_case, needs_component=True)


# Points a symbolic link at two folders in turn, as fast as it can, until a
# file exists: what a program of the user's own does to a junction of its
# own (FSCTL_SET_REPARSE_POINT) while an elevated run starts through it. The
# first folder (where setup.exe lies, which must be found at the start and
# at the image's hold) three times as long as the second.
FLIPPER = """
import os, sys
link, first, second, stop = sys.argv[1:]
spare = link + ".next"
targets = (first, first, first, second)
flips = 0
while not os.path.exists(stop):
    for _ in range(100):
        if os.path.lexists(spare):
            os.unlink(spare)
        os.symlink(targets[flips & 3], spare)
        os.replace(spare, link)
        flips += 1
"""
SECRET = b"a file of another user in the machine's temporary folder"
ATTEMPTS = 100


def program_folder_other_than_the_image(ctx):
    """setup.exe is started through C:\\Users\\Public\\Downloads\\Setup, a
    folder link of the user's that a program of theirs points, again and
    again, at the real program folder and at the machine's temporary folder
    (which holds a setup.ini the user put there and a file the user cannot
    read). Sound: the program folder is the folder of the image that runs
    (taken from the held image, or checked against it), so a run either
    deploys the real program folder or refuses; no file of the temporary
    folder reaches the program-files folders. Up to ATTEMPTS runs."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    real, entry, temp = r"C:\Fan\Real", r"C:\Users\Public\Downloads\Setup", r"C:\windows\temp"
    ctx.put_setup(folder=real, files={"fan.dll": b"fan"}, settings={})
    ctx.host_path(temp).mkdir(parents=True, exist_ok=True)
    ctx.host_path(temp + r"\dump-of-a-service.dmp").write_bytes(SECRET)
    write_ini(ctx.host_path(temp) / "setup.ini",
              {"Common": {**DEFAULT_SETTINGS, "InstallPath": "Leaked", "version": "6.6"}})
    link = ctx.host_path(entry)
    link.parent.mkdir(parents=True, exist_ok=True)
    os.symlink(ctx.host_path(real), link)
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)
    stop = ctx.host_path(r"C:\stop-flipping")
    secret = "file " + hashlib.sha256(SECRET).hexdigest()
    flipper = subprocess.Popen([sys.executable, "-c", FLIPPER, str(link), str(ctx.host_path(real)),
                                str(ctx.host_path(temp)), str(stop)])
    outcomes = []
    leaked = []
    try:
        for _ in range(ATTEMPTS):
            try:
                result = ctx.run_setup(folder=entry, args=[f"/LOG={LOG}"])
                outcomes.append(f"{result.exit_code:#x}")
            except WineError:
                outcomes.append("not started")
                continue
            leaked = sorted(path for path, kind in ctx.files().items() if kind == secret)
            if leaked:
                break
    finally:
        stop.write_bytes(b"")
        flipper.wait(timeout=30)
    ctx.note("runs: " + " ".join(outcomes))
    check_equal(leaked, [], f"after runs {' '.join(outcomes)}, the last one's log:\n  " + "\n  ".join(log_lines(ctx))
                + "\ncopies of the temporary folder's file in the program-files folders")
    check(any(o == "0x0" for o in outcomes), "no run deployed the real program folder: " + " ".join(outcomes))


add_case("program_folder_other_than_the_image", program_folder_other_than_the_image, needs_component=True)


HUGE = 64 * 1024 * 1024


def huge_setup_ini(ctx):
    """An unsealed setup.ini of HUGE bytes (its settings, then a hole of
    zeros: a sparse file, which costs its owner nothing; NTFS takes up to
    16 TB so). Sound: one past a bound (16 MiB, far beyond any setup.ini)
    is refused before any byte of it is copied, -1, nothing made; no copy
    of it in the machine's temporary folder grows while the run goes on."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(settings={})
    with open(ctx.setup_dir / "setup.ini", "r+b") as ini:
        ini.truncate(HUGE)
    temp = ctx.host_path(r"C:\windows\temp")
    temp.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    pending = ctx.start(r"C:\Fan\Setup\setup.exe", timeout_ms=120000)
    largest = 0
    while pending.running():
        for copy in temp.glob("FanServiceSetup-*.ini"):
            try:
                largest = max(largest, copy.stat().st_size)
            except FileNotFoundError:
                pass
        time.sleep(0.005)
    result = pending.wait()
    seen = f"exit code {result.exit_code:#x} after {time.monotonic() - started:.1f} s"
    ctx.note(seen)
    check(largest == 0, f"{seen}: a copy of setup.ini of {largest} bytes in C:\\windows\\temp")
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")


add_case("huge_setup_ini", huge_setup_ini, needs_component=True)


STAGED = {f"part{n:02}.bin": bytes([n]) * 4096 for n in range(40)}
GRABBER = r"C:\Users\Public\Grabber"
STAGING = "~FanServiceSetup.staging"
TRIES = 4


def run_while_grabbing(ctx, install_for, names) -> tuple[object, str, list[str]]:
    """Runs setup.exe while staging_grabber.exe, a program of the user's,
    opens each of `names` in the staging folder as soon as it can; up to
    TRIES runs, until the grabber held a file. `install_for(attempt)` readies
    an attempt and returns its install folder. Returns the last run's result,
    its install folder and the names held in it."""
    user = ctx.host_path(GRABBER)
    user.mkdir(parents=True, exist_ok=True)
    (user / "staging_grabber.exe").write_bytes(ctx.built_tool("staging_grabber.exe").read_bytes())
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)
    for attempt in range(TRIES):
        install = install_for(attempt)
        ready, release = rf"{GRABBER}\ready-{attempt}", rf"{GRABBER}\release-{attempt}"
        grabber = ctx.start(GRABBER + r"\staging_grabber.exe",
                            [install + STAGING, ready, release, "60000", *sorted(names)],
                            timeout_ms=90000, output=True)
        deadline = time.monotonic() + 30
        while not ctx.host_path(ready).exists() and grabber.running() and time.monotonic() < deadline:
            time.sleep(0.02)
        result = ctx.run_setup(args=[f"/LOG={LOG}"])
        ctx.host_path(release).write_bytes(b"")
        grabbed = grabber.wait()
        held = [line[5:] for line in grabbed.stdout.splitlines() if line.startswith("held ")]
        if held:
            break
    return result, install, held


def files_below(ctx, folder: str) -> dict[str, bytes]:
    """Every file below a C:\\ folder, sub-folders included: relative path -> content."""
    root = ctx.host_path(folder)
    return {str(p.relative_to(root)): p.read_bytes() for p in root.rglob("*") if p.is_file()} if root.is_dir() else {}


def staged_file_held_by_a_user(ctx):
    """staging_grabber.exe, a program of the user's, opens each file in
    <install>\\~FanServiceSetup.staging, for reading and sharing reading only,
    as soon as the run has written it (users may read every folder below the
    program-files folder). Sound: a staged file is never open to anyone but
    the run between its writing and its move (moved through the handle that
    wrote it, not shared; or staged in a folder that only administrators may
    read), so the run deploys every file, ends with 0, and leaves no staging
    folder behind."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=STAGED, settings={})

    def fresh_version(attempt: int) -> str:
        # A run that installed leaves nothing to do for its version.
        ctx.write_setup_ini(version=f"1.{attempt}")
        return ctx.install_dir(version=f"1.{attempt}")

    result, install, held = run_while_grabbing(ctx, fresh_version, STAGED)
    left = sorted(n for n in files_below(ctx, install) if n.startswith(STAGING))
    ctx.note(f"held {held}, exit code {result.exit_code:#x}")
    check_equal(left, [], f"files left in the staging folder (the user held {held}; log:\n  "
                + "\n  ".join(log_lines(ctx)) + ")")
    check(not ctx.host_path(install + STAGING).exists(), "the staging folder was left in the install folder")
    check_equal(result.exit_code, 0, "exit code")


def rejected_file_held_by_a_user(ctx):
    """A sealed payload whose files were all changed after sealing (one byte
    each): each is rejected once copied and hashed. staging_grabber.exe, a
    program of the user's, opens the staged copies as soon as the run has
    written them, so that the run cannot remove a rejected one. Sound: no
    file below the install folder, in any sub-folder under any name, holds
    bytes that failed the seal once the run has ended (a rejected copy is
    never open to anyone else, or is never written where users can read)."""
    install = sealed_setup(ctx, dict(STAGED))
    changed = {}
    for name, data in STAGED.items():
        changed[name] = bytes([data[0] ^ 0xFF]) + data[1:]
        (ctx.setup_dir / name).write_bytes(changed[name])
    result, install, held = run_while_grabbing(ctx, lambda attempt: install, STAGED)
    unchecked = sorted(path for path, data in files_below(ctx, install).items() if data in changed.values())
    ctx.note(f"held {held}, exit code {result.exit_code:#x}")
    check_equal(unchecked, [], f"files below the install folder holding bytes that failed the seal (exit code "
                f"{result.exit_code:#x}; log:\n  " + "\n  ".join(log_lines(ctx)[-8:]) + ")")
    check_equal(result.exit_code, 0xFFFFFFFF, "exit code")


add_case("staged_file_held_by_a_user", staged_file_held_by_a_user, needs_component=True)
add_case("rejected_file_held_by_a_user", rejected_file_held_by_a_user, needs_component=True)

"""setup.exe against a hostile file system and hostile settings: targets that
are marked, held open or cannot be replaced, install paths the platform
refuses, setup.ini files of garbage or of megabytes, a payload of 10,000
files and a program folder deep down a long path.

Nothing is lost: files copied before a failure stay, and nothing outside
the install folder is written."""

import os
import random
import time

from harness import (DEFAULT_SETTINGS, SETUP_DIR, add_case, check, check_equal, registry_diff,
                     simple_package, write_ini)

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]
SERVICE = DEFAULT_SETTINGS["ServiceName"]
WORK = r"C:\Work"  # setup.exe's current folder in these cases

MESSAGES = [  # every setting the run reads before it finds that it has no version
    "Can not read version from setup.ini",
    "Can not read registry key from setup.ini",
    "Can not read service name from setup.ini",
]


def prepare(ctx, files: dict[str, bytes] | None = None, settings: dict | None = None):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=files, settings=settings)
    ctx.host_path(WORK).mkdir(exist_ok=True)


def record(ctx) -> dict | None:
    key = ctx.regdump(RECORD_KEY)
    return None if key is None else {v["name"]: bytes.fromhex(v["data"]) for v in key["values"]}


def changed(before: dict, after: dict) -> list[str]:
    return sorted(k for k in before.keys() | after.keys() if before.get(k) != after.get(k))


def check_changed_only_in(before: dict, after: dict, folder: str, what: str) -> None:
    """Only `folder` (a C:\\ path with its trailing backslash, or a path
    relative to C:\\ as drive_files gives them) and what lies below it
    changed, apart from the folders that lead to it."""
    folder = folder.lower()
    stray = [k for k in changed(before, after)
             if not (k.lower() + "\\").startswith(folder) and not folder.startswith(k.lower() + "\\")]
    check(not stray, f"{what} changed outside {folder}: {stray[:10]}")


def check_deployed(ctx, install: str, source: str = SETUP_DIR, kept: dict[str, bytes] | None = None) -> None:
    """The install folder holds a copy of every file directly in the program
    folder, the service executable's log, and `kept` (files it had before)."""
    listing = ctx.listing(install)
    expected = {n: d for n, d in ctx.listing(source).items() if d is not None}
    expected.update(kept or {})
    copied = {n: d for n, d in listing.items() if n != "service_runs.log"}
    check_equal(sorted(copied), sorted(expected), f"files in {install}")
    wrong = [n for n, d in expected.items() if copied[n] != d]
    check(not wrong, f"files in {install} with the wrong content: {wrong[:10]}")


def check_launched_and_recorded(ctx, install: str, version: str = "1.0") -> None:
    runs = ctx.service_runs(install)
    check_equal([r["exePath"] for r in runs], [install + "standin_service.exe"], "service executable runs")
    check_equal(record(ctx), {"Version": version.encode() + b"\0", "Path": install.encode() + b"\0"},
                "registry record")


# -- targets in the install folder -------------------------------------------

PAYLOAD = {"a.dll": b"new a" * 100, "b.dll": b"new b", "c.dll": b"new c", "d.dll": b"new d"}


def marked_targets_overwritten(ctx):
    """Older copies marked read-only, hidden or system are overwritten; a file
    of the install folder that the payload does not have stays. (As root
    under Wine even the read-only mark does not make the first copy fail.)"""
    prepare(ctx, files=PAYLOAD, settings={})
    install = ctx.install_dir()
    folder = ctx.host_path(install)
    folder.mkdir(parents=True)
    for name in PAYLOAD:
        (folder / name).write_bytes(b"older " + name.encode())
    (folder / "old.txt").write_bytes(b"from an earlier install")
    for mark, name in (("+r", "a.dll"), ("+h", "b.dll"), ("+s", "c.dll")):
        done = ctx.prefix.wine(["attrib", mark, install + name])
        check_equal(done.returncode, 0, f"attrib {mark} {name}")
    files_before = ctx.files()

    result = ctx.run_setup(cwd=WORK)

    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    check_deployed(ctx, install, kept={"old.txt": b"from an earlier install"})
    check_launched_and_recorded(ctx, install)
    check_changed_only_in(files_before, ctx.files(), install, "program-files folders")


def target_held_open(ctx):
    """A target that another process holds open without sharing is skipped
    (sharing violation, no retry): it keeps its old content, every other
    file is copied and the run goes on to the launch and the record."""
    prepare(ctx, files=PAYLOAD, settings={})
    install = ctx.install_dir()
    folder = ctx.host_path(install)
    folder.mkdir(parents=True)
    (folder / "b.dll").write_bytes(b"held b")
    files_before = ctx.files()

    with ctx.file_held(install + "b.dll"):
        result = ctx.run_setup(cwd=WORK)

    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    check_deployed(ctx, install, kept={"b.dll": b"held b"})
    check_launched_and_recorded(ctx, install)
    check_changed_only_in(files_before, ctx.files(), install, "program-files folders")


def target_cannot_be_replaced(ctx):
    """A folder where setup.ini's copy should go: the retry fails too, the
    run ends with -1 before the launch; every other file is still copied,
    what was there before stays, the registry is untouched."""
    prepare(ctx, files=PAYLOAD, settings={})
    install = ctx.install_dir()
    folder = ctx.host_path(install)
    (folder / "setup.ini").mkdir(parents=True)
    (folder / "setup.ini" / "inside.txt").write_bytes(b"inside the folder")
    (folder / "old.txt").write_bytes(b"from an earlier install")
    registry_before = ctx.registry()
    drive_before = ctx.drive_files()

    result = ctx.run_setup(cwd=WORK)

    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    listing = ctx.listing(install)
    check_equal(listing.get("setup.ini", b""), None, "setup.ini is still the folder")
    check_equal((folder / "setup.ini" / "inside.txt").read_bytes(), b"inside the folder", "the folder's content")
    source = {n: d for n, d in ctx.listing(SETUP_DIR).items() if d is not None and n != "setup.ini"}
    source["old.txt"] = b"from an earlier install"
    check_equal({n: d for n, d in listing.items() if n != "setup.ini"}, source, "the other files")
    check_equal(ctx.service_runs(install), [], "service executable runs")
    drive_after = ctx.drive_files()
    check_changed_only_in(drive_before, drive_after, install[3:], "drive C:")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))
    check(not ctx.service_exists(SERVICE), "service present although nothing was launched")


# -- install paths the platform refuses --------------------------------------

# Wine refuses to make these folders (characters invalid in file names, or
# a path past MAX_PATH): no install folder, so the copy is refused and the
# run ends with -1 without writing anywhere, not even into its current folder.
REFUSED_INSTALL_PATHS = ["a|b", "a<b", "a>b", 'a"b', "a?b", "a*b", "Fan\\" + "x" * 240]


def refused_install_paths(ctx):
    prepare(ctx, settings={})
    registry_before = ctx.registry()
    drive_before = ctx.drive_files()
    for install_path in REFUSED_INSTALL_PATHS:
        what = f"InstallPath={install_path[:20]}"
        ctx.write_setup_ini(InstallPath=install_path)
        drive_start = ctx.drive_files()
        result = ctx.run_setup(cwd=WORK)
        check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                    f"{what}: (exit code, timed out, boxes)")
        check_equal(changed(drive_start, ctx.drive_files()), [], f"{what}: files written on drive C:")
    # setup.ini itself is the case's own change.
    check_equal(changed(drive_before, ctx.drive_files()), [SETUP_DIR[3:] + "\\setup.ini"], "files changed on C:")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


# -- hostile setup.ini ----------------------------------------------------------

def garbage(seed: int, size: int) -> bytes:
    data = random.Random(seed).randbytes(size)
    assert b"[common]" not in data.lower()
    return data


UNREADABLE_SETTINGS = {
    "binary_garbage": garbage(737, 64 * 1024),
    "garbage_behind_utf16_mark": b"\xff\xfe" + garbage(738, 64 * 1024),
    "garbage_behind_utf8_mark": b"\xef\xbb\xbf" + garbage(739, 64 * 1024),
}


def unreadable_settings_file(ctx):
    """No setting can be read from garbage: every reader the run reaches
    shows its message, in the run's order; without a version nothing is
    deployed (in particular not into the program-files folder itself, which
    the empty InstallPath and version would name): exit -1, no file written
    on drive C:, no record."""
    prepare(ctx, files={"a.dll": b"payload a"})
    registry_before = ctx.registry()
    for name, data in UNREADABLE_SETTINGS.items():
        (ctx.setup_dir / "setup.ini").write_bytes(data)
        drive_start = ctx.drive_files()
        result = ctx.run_setup(cwd=WORK)
        check_equal((result.exit_code, result.timed_out), (0xFFFFFFFF, False), f"{name}: (exit code, timed out)")
        check_equal(result.texts(), MESSAGES, f"{name}: message boxes")
        check_equal(changed(drive_start, ctx.drive_files()), [], f"{name}: files written on drive C:")
        check_equal(record(ctx), None, f"{name}: registry record")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))


def settings_text(version: str) -> bytes:
    settings = dict(DEFAULT_SETTINGS, version=version)
    return b"[Common]\r\n" + b"".join(f"{k}={v}\r\n".encode() for k, v in settings.items())


OTHER_SECTIONS = b"".join(b"[Other%d]\r\n" % (i // 1000) + b"key%d=" % i + b"v" * 60 + b"\r\n"
                          for i in range(60000))  # about 4.5 MB


def megabyte_settings_file(ctx):
    """Several megabytes of setup.ini: the settings are found wherever they
    are, and a version of 2 MB is read whole (and then makes an install
    folder path the platform refuses: -1, nothing written)."""
    prepare(ctx)
    rows = [
        # name, setup.ini, version installed after the run (None: none), exit code
        ("version_of_2_MB", settings_text("7" * (2 << 20)), None, 0xFFFFFFFF),
        ("settings_behind_4_MB", OTHER_SECTIONS + settings_text("2.0"), "2.0", 0),
        ("settings_before_4_MB", settings_text("3.0") + OTHER_SECTIONS, "3.0", 0),
    ]
    for name, data, version, exit_code in rows:
        (ctx.setup_dir / "setup.ini").write_bytes(data)
        files_before = ctx.files()
        result = ctx.run_setup(cwd=WORK)
        check_equal((result.exit_code, result.timed_out, result.boxes), (exit_code, False, []),
                    f"{name}: (exit code, timed out, boxes)")
        if version is None:
            check_equal(ctx.files(), files_before, f"{name}: program-files folders")
            check_equal(record(ctx), None, f"{name}: registry record")
        else:
            install = ctx.install_dir(version)
            check_deployed(ctx, install)
            check_launched_and_recorded(ctx, install, version)
            check_changed_only_in(files_before, ctx.files(), install, f"{name}: program-files folders")


# -- a big payload ----------------------------------------------------------

PAYLOAD_ROWS = {
    # A fresh install folder. Under Wine every new file costs a scan of the
    # folder it is made in (names match without regard to case), so the time
    # grows with the square of the count: 2,000 files take a few seconds,
    # 10,000 some 50 s (as long as a bare FindFirstFileA/CopyFileA loop
    # over the same files), which is too long for this suite.
    "2000_files_fresh": dict(count=2000, older_copies=False),
    # The same version deployed again over 10,000 older copies (the service
    # went missing): every file is replaced.
    "10000_files_over_older_copies": dict(count=10000, older_copies=True),
}

PAYLOAD_TIME = 1577880000  # 2020-01-01 12:00 UTC
OLDER_TIME = 978350400  # 2001-01-01 12:00 UTC


def many_small_files(ctx, count: int, older_copies: bool):
    """Every file is copied, in reasonable time (the run's time-out: 60 s).
    The files are empty (where the file system is mounted with `discard`,
    every file that holds data costs milliseconds to delete afterwards): a
    copy shows in the file's modification time, which CopyFileA carries over
    from the source."""
    files = {f"f{i:05d}.bin": b"" for i in range(count)}
    prepare(ctx, files=files, settings={})
    for name in files:
        os.utime(ctx.setup_dir / name, (PAYLOAD_TIME, PAYLOAD_TIME))
    install = ctx.install_dir()
    if older_copies:
        folder = ctx.host_path(install)
        folder.mkdir(parents=True)
        for name in files:
            (folder / name).write_bytes(b"")
            os.utime(folder / name, (OLDER_TIME, OLDER_TIME))
    started = time.monotonic()
    result = ctx.run_setup(timeout_ms=60000, cwd=WORK)
    seconds = time.monotonic() - started
    ctx.note(f"setup.exe run with {len(ctx.payload_names())} files: {seconds:.1f} s")
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    check_deployed(ctx, install)
    folder = ctx.host_path(install)
    stale = [n for n in files if int((folder / n).stat().st_mtime) != PAYLOAD_TIME]
    check(not stale, f"{len(stale)} files not copied (modification time), e.g. {stale[:5]}")
    check_launched_and_recorded(ctx, install)


# -- a program folder deep down a long path -------------------------------------

def deep_folder(length: int) -> str:
    """A folder below C:\\Deep whose text, with its trailing backslash, is `length` characters long."""
    parts, size = ["C:\\Deep"], len("C:\\Deep") + 1
    while size < length:
        segment = min(50, length - size - 1)
        parts.append("d" * segment)
        size += segment + 1
    folder = "\\".join(parts) + "\\"
    assert len(folder) == length, (len(folder), length)
    return folder


DEEP_ROWS = {
    # The module path (219 characters) needs the second, 256-character try
    # of the module-path buffer; every path stays below MAX_PATH.
    "210_characters": dict(length=210, launched=True),
    # Source paths of 260 characters or more (folder + file name). Wine's
    # wide functions, which the run uses, take them (its ANSI ones refuse
    # them): every file is placed, and the run completes. Windows without
    # long-path support refuses such a path with name too long or path not
    # found: the file cannot be placed and the copy fails with -1.
    "245_characters": dict(length=245, launched=True),
}


def deep_program_folder(ctx, length: int, launched: bool):
    folder = deep_folder(length)
    names = {"a.dll": b"a", "bbbbbbb.dll": b"b", "ccccccccccccc.dll": b"c"}
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    host = ctx.host_path(folder)
    host.mkdir(parents=True)
    (host / "setup.exe").write_bytes(ctx.tools.setup.read_bytes())
    (host / "standin_service.exe").write_bytes(ctx.tools.standin_service.read_bytes())
    for name, data in names.items():
        (host / name).write_bytes(data)
    write_ini(host / "setup.ini", {"Common": DEFAULT_SETTINGS})
    ctx.host_path(WORK).mkdir()
    drive_before = ctx.drive_files()

    result = ctx.run_setup(cwd=WORK, folder=folder.rstrip("\\"))

    check_equal((result.exit_code, result.timed_out, result.boxes), (0 if launched else 0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    source = {n: d for n, d in ctx.listing(folder).items() if d is not None}
    # Keep the row away from the limit: every name is clearly on one side.
    check(all(abs(len(folder + n) - 259.5) > 2 for n in source), "row data: a path near the limit")
    check(length < 240 or any(len(folder + n) >= 260 for n in source), "row data: no path past MAX_PATH")
    expected = source
    copied = {n: d for n, d in ctx.listing(install).items() if n != "service_runs.log"}
    check_equal(copied, expected, f"files in {install}")
    if launched:
        check_launched_and_recorded(ctx, install)
    else:
        check_equal(ctx.service_runs(install), [], "service executable runs")
        check_equal(record(ctx), None, "registry record")
    check_changed_only_in(drive_before, ctx.drive_files(), install[3:], "drive C:")


add_case("marked_targets_overwritten", marked_targets_overwritten, needs_component=True)
add_case("target_held_open", target_held_open, needs_component=True)
add_case("target_cannot_be_replaced", target_cannot_be_replaced, needs_component=True)
add_case("refused_install_paths", refused_install_paths, needs_component=True)
add_case("unreadable_settings_file", unreadable_settings_file, needs_component=True)
add_case("megabyte_settings_file", megabyte_settings_file, needs_component=True)
for _name, _row in PAYLOAD_ROWS.items():
    add_case(f"many_small_files[{_name}]", many_small_files, needs_component=True, **_row)
for _name, _row in DEEP_ROWS.items():
    add_case(f"deep_program_folder[{_name}]", deep_program_folder, needs_component=True, **_row)

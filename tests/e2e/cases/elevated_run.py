"""setup.exe runs with administrator rights over a folder that the user's own
programs may write; everything there, setup.ini included, may be hostile,
and nothing the run makes may land outside the folders it means.

- Settings that lead out (InstallPath, Execution, RegistryKey): -1 before
  anything is made, copied, run or recorded; the log names the setting and
  its rule, and the outcome.
  Ordinary values still deploy, and the service executable runs by its full
  path with the install folder as its current folder.
- Links in the program folder, as far as Wine makes them: a Unix symbolic
  link to a file (which Wine lists as that file), to a folder (which it lists
  as a folder with the reparse-point attribute), to a file outside drive C:,
  a dangling one (which it does not list), a hard link, and a program folder
  that is itself a link. Wine 8 makes no reparse point of its own
  (CreateSymbolicLinkW does nothing, FSCTL_SET_REPARSE_POINT is not
  supported): the host tests cover those kinds.
- The run log: never through a link, never in the program folder, never over
  anything but a plain file of one name; the run goes on without it.
- The service executable starts with the machine's default environment,
  not with what the caller set (a variable of its own, a PATH entry)."""

import hashlib
import os
import re
import time

from harness import (DEFAULT_SETTINGS, SETUP_DIR, add_case, check, check_equal, registry_diff, simple_package,
                     win_join, write_ini)
from harness.runlog import LOG, log_lines, one_line

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]
WORK = r"C:\Work"  # setup.exe's current folder in these cases
SECRET = r"C:\Secret\secret.txt"
SECRET_TEXT = b"readable by administrators only"
PLANTED = r"C:\Users\Public\x.exe"
PAYLOAD = {"a.dll": b"library a", "b.dat": b"data b"}


def prepare(ctx, settings: dict | None = None, files: dict[str, bytes] | None = None) -> None:
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=PAYLOAD if files is None else files, settings=settings or {})
    for folder in (WORK, r"C:\Logs", r"C:\Secret"):
        ctx.host_path(folder).mkdir(parents=True, exist_ok=True)
    ctx.host_path(SECRET).write_bytes(SECRET_TEXT)


def link(ctx, name: str, target: str) -> None:
    """A Unix symbolic link at the C:\\ path `name`; `target` is a C:\\ path, or a
    host path (starting with /) outside the prefix."""
    host = ctx.host_path(name)
    host.parent.mkdir(parents=True, exist_ok=True)
    os.symlink(target if target.startswith("/") else ctx.host_path(target), host)


def record(ctx) -> dict | None:
    key = ctx.regdump(RECORD_KEY)
    return None if key is None else {v["name"]: bytes.fromhex(v["data"]) for v in key["values"]}


def new_files(before: dict, after: dict) -> list[str]:
    return sorted(k for k in after.keys() | before.keys() if before.get(k) != after.get(k))


def same_folder(a: str, b: str) -> bool:
    return a.rstrip("\\").lower() == b.rstrip("\\").lower()


def check_deployed(ctx, install: str, source: str = SETUP_DIR) -> None:
    """The install folder holds every file directly in the program folder,
    byte for byte, and the stand-in service's log."""
    expected = {p.name: p.read_bytes() for p in ctx.host_path(source).iterdir() if p.is_file()}
    copied = {n: d for n, d in ctx.listing(install).items() if n != "service_runs.log"}
    check_equal(sorted(copied), sorted(expected), f"files in {install}")
    wrong = [n for n, d in expected.items() if copied[n] != d]
    check(not wrong, f"files in {install} with the wrong content: {wrong}")


def check_launched_and_recorded(ctx, install: str, executable: str = "standin_service.exe") -> None:
    runs = ctx.service_runs(install)
    check_equal([r["exePath"] for r in runs], [install + executable], "service executable runs")
    check(same_folder(runs[0]["currentFolder"], install),
          f"the service executable's current folder is {runs[0]['currentFolder']!r}, not {install!r}")
    check_equal(record(ctx), {"Version": b"1.0\0", "Path": install.encode() + b"\0"}, "registry record")


# -- settings that lead out ------------------------------------------------------

# key, value, the folders outside the program-files folder that the value
# names (each must not come to exist).
UNSAFE_SETTINGS = {
    "install_path_parent": ("InstallPath", r"..\Outside", [r"C:\Outside"]),
    "install_path_far_up": ("InstallPath", r"..\..\..\Outside", [r"C:\Outside"]),
    "install_path_down_and_up": ("InstallPath", r"Outside\..\..\Outside2", [r"C:\Outside2"]),
    "install_path_dot": ("InstallPath", r".\Outside", []),
    "install_path_absolute": ("InstallPath", r"C:\Outside", [r"C:\Outside"]),
    "install_path_drive_relative": ("InstallPath", r"C:Outside", [r"C:\Outside"]),
    "install_path_root": ("InstallPath", r"\Outside", [r"C:\Outside"]),
    "install_path_slash_root": ("InstallPath", "/Outside", [r"C:\Outside"]),
    "execution_climbs_out": ("Execution", r"..\..\..\..\Users\Public\x.exe", []),
    "execution_absolute": ("Execution", PLANTED, []),
    "execution_sub_folder": ("Execution", r"lang\standin_service.exe", []),
    "execution_ends_in_quote": ("Execution", 'standin_service.exe"', []),
    # (In quotes on both sides the profile functions take the quotes off.)
    "execution_begins_with_quote": ("Execution", '"standin_service.exe', []),
    "execution_dot_dot": ("Execution", "..", []),
    # Would replace the machine's Path (REG_EXPAND_SZ) by the install folder.
    "registry_key_outside_software": ("RegistryKey", r"System\CurrentControlSet\Control\Session Manager\Environment",
                                      []),
    "registry_key_empty_component": ("RegistryKey", r"Software\\Vendor", []),
    # Below SOFTWARE, but Windows' own: every value there is a command line
    # started at each user's logon.
    "registry_key_run_key": ("RegistryKey", r"Software\Microsoft\Windows\CurrentVersion\Run", []),
}


def unsafe_setting(ctx, key: str, value: str, outside: list[str]):
    """-1 without a box; the program-files folders, drive C: (but the log)
    and the registry exactly as before; nothing run, not even a program
    planted where Execution points; the log names the setting and its
    rule."""
    prepare(ctx, settings={key: value}, files={"lang\\standin_service.exe": ctx.tools.standin_service.read_bytes()})
    planted = ctx.host_path(PLANTED)
    planted.parent.mkdir(parents=True, exist_ok=True)
    planted.write_bytes(ctx.tools.standin_service.read_bytes())
    registry_before = ctx.registry()
    files_before = ctx.files()
    drive_before = ctx.drive_files()

    result = ctx.run_setup(cwd=WORK, args=[f"/LOG={LOG}"])

    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    check_equal(ctx.files(), files_before, "program-files folders")
    check_equal(new_files(drive_before, ctx.drive_files()), [LOG[3:]], "files changed on drive C:")
    for folder in outside:
        check(not ctx.host_path(folder).exists(), f"{folder} was made")
    check_equal(ctx.service_runs(r"C:\Users\Public"), [], "runs of the planted program")
    check_equal(ctx.service_runs(SETUP_DIR + r"\lang"), [], "runs from the program folder")
    changes = registry_diff(registry_before, ctx.registry())
    check(not changes, "registry below HKLM changed:\n  " + "\n  ".join(changes))
    shown = value + ("\\" if key == "InstallPath" and not value.endswith("\\") else "")
    lines = log_lines(ctx)
    one_line(lines, "^" + re.escape(f'setting "{key}" = "{shown}" breaks its rule (') + r".+\): .+; nothing deployed$",
             "the broken rule")
    check_equal(lines[-1], f"outcome {key}LeadsOut: exit code -1 (0xFFFFFFFF)", "last line")


ORDINARY_SETTINGS = {
    "blanks": dict(install_path=r"Vendor\Fan Control", execution="fan service.exe"),
    "trailing_backslash": dict(install_path="Vendor\\Fan Control\\", execution="standin_service.exe"),
    "dots": dict(install_path="a.b", execution="a.b.exe"),
    # Two separators in a row are one, as Windows reads them.
    "empty_component": dict(install_path=r"Vendor\\Fan", execution="standin_service.exe"),
}


def ordinary_setting(ctx, install_path: str, execution: str):
    """Deployed, run by its full path from the install folder as its current
    folder (setup.exe itself started elsewhere), recorded."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    ctx.put_setup(files=PAYLOAD, service=execution, settings={"InstallPath": install_path, "Execution": execution})
    ctx.host_path(WORK).mkdir()
    result = ctx.run_setup(cwd=WORK)
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir(install_path=re.sub(r"\\+", r"\\", install_path).rstrip("\\"))
    check_deployed(ctx, install)
    check_launched_and_recorded(ctx, install, execution)


# -- links in the program folder ---------------------------------------------------

PROGRAM_FOLDER_LINKS = {
    # Wine lists it as the file it leads to; only its final path gives it away.
    "unix_link_to_a_file": dict(entry="notes.txt", target=SECRET,
                                logged=r"it leads to C:\Secret\secret.txt (a link)"),
    "unix_link_out_of_drive_c": dict(entry="host.txt", target="/etc/hostname",
                                     logged=r"it leads to Z:\etc\hostname (a link)"),
    "hard_link": dict(entry="notes.txt", target=None, logged="it is a file of 2 names (a hard link)"),
    # Not listed at all: nothing to copy, nothing refused.
    "dangling_unix_link": dict(entry="gone.txt", target=r"C:\Secret\absent.txt", logged=None),
}


def program_folder_link(ctx, entry: str, target: str | None, logged: str | None):
    """A link among the payload is not copied and fails the copy (-1, nothing
    run, no record), with its name in the log; the plain files are copied.
    Nothing of the file it leads to reaches the program-files folder."""
    prepare(ctx)
    name = SETUP_DIR + "\\" + entry
    if target is None:
        os.link(ctx.host_path(SECRET), ctx.host_path(name))
    else:
        link(ctx, name, target)
    result = ctx.run_setup(cwd=WORK, args=[f"/LOG={LOG}"])
    install = ctx.install_dir()
    copied = ctx.listing(install)
    check(entry not in copied, f"{entry} was copied")
    secret = "file " + hashlib.sha256(SECRET_TEXT).hexdigest()
    leaked = [path for path, kind in ctx.files().items() if kind == secret]
    check_equal(leaked, [], "copies of the secret in the program-files folders")
    lines = log_lines(ctx)
    if logged is None:
        check_equal((result.exit_code, result.boxes), (0, []), "(exit code, boxes)")
        check_deployed(ctx, install)
        check_launched_and_recorded(ctx, install)
        return
    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    check_equal(copied.get("a.dll"), PAYLOAD["a.dll"], "a plain file beside the link")
    check_equal(ctx.service_runs(install), [], "service executable runs")
    check_equal(record(ctx), None, "registry record")
    one_line(lines, "^" + re.escape(f"not copied {entry}: {logged}; the program folder may hold plain files only")
             + "$", "the link")
    one_line(lines, r"^copy failed: \d+ copied, 0 passed over, 1 failed$", "copy counts")
    check_equal(ctx.host_path(SECRET).read_bytes(), SECRET_TEXT, "the secret")


def folders_beside_setup(ctx):
    """A plain sub-folder and a Unix symbolic link to a folder (which Wine
    lists as a folder with the reparse-point attribute) beside setup.exe:
    folders are never deployed, links among them; both are passed by, named
    in the log, and the run completes: deployed, run, recorded."""
    prepare(ctx, files={**PAYLOAD, "lang\\de.txt": b"in a sub-folder"})
    link(ctx, SETUP_DIR + r"\docs", r"C:\Secret")
    result = ctx.run_setup(cwd=WORK, args=[f"/LOG={LOG}"])
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_deployed(ctx, install)
    check_launched_and_recorded(ctx, install)
    lines = log_lines(ctx)
    for folder in ("lang", "docs"):
        one_line(lines, f"^folder not deployed: {folder}$", folder)
    check_equal(lines[-1], "outcome Installed: exit code 0", "last line")


def link_down_a_long_path(ctx):
    """A Unix link in a program folder deep down a long path, to a file whose
    path is long too: past MAX_PATH Wine tells no final path, and the path
    below the volume's root gives the link away instead. Refused as above;
    the plain files beside it are copied."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    folder = "C:\\Deep\\" + "\\".join(["d" * 60] * 3 + ["d" * 55])  # setup.exe's path just below MAX_PATH
    check(len(folder + "\\setup.exe") < 260, "row data: setup.exe's path must be short enough to start")
    host = ctx.host_path(folder)
    host.mkdir(parents=True)
    (host / "setup.exe").write_bytes(ctx.tools.setup.read_bytes())
    (host / "standin_service.exe").write_bytes(ctx.tools.standin_service.read_bytes())
    (host / "a.dll").write_bytes(PAYLOAD["a.dll"])
    write_ini(host / "setup.ini", {"Common": DEFAULT_SETTINGS})
    for created in (WORK, r"C:\Logs", r"C:\Secret"):
        ctx.host_path(created).mkdir(parents=True, exist_ok=True)
    ctx.host_path(SECRET).write_bytes(SECRET_TEXT)
    entry = "a_long_name_for_the_link.txt"
    target = folder + "\\inner\\a_long_name_for_the_secret.txt"
    ctx.host_path(target).parent.mkdir()
    ctx.host_path(target).write_bytes(SECRET_TEXT)
    link(ctx, folder + "\\" + entry, target)
    check(min(len(folder + "\\" + entry), len(target)) > 270, "row data: the paths are past MAX_PATH")
    result = ctx.run_setup(cwd=WORK, folder=folder, args=[f"/LOG={LOG}"])
    check_equal((result.exit_code, result.timed_out, result.boxes), (0xFFFFFFFF, False, []),
                "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    copied = ctx.listing(install)
    check(entry not in copied, f"{entry} was copied")
    check_equal(copied.get("a.dll"), PAYLOAD["a.dll"], "a plain file beside the link")
    one_line(log_lines(ctx), "^" + re.escape(f"not copied {entry}: it leads to {target[2:]} (a link)"), "the link")


def program_folder_is_a_link(ctx):
    """setup.exe started through a link to its folder: the run takes the
    folder it leads to, by its final path, and deploys from there."""
    prepare(ctx)
    real = r"C:\RealSetup"
    os.rename(ctx.setup_dir, ctx.host_path(real))
    link(ctx, SETUP_DIR, real)
    result = ctx.run_setup(cwd=WORK, args=[f"/LOG={LOG}"])
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []), "(exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_deployed(ctx, install, source=real)
    check_launched_and_recorded(ctx, install)


# -- the run log ---------------------------------------------------------------------

def run_unchanged(ctx, result, what: str) -> None:
    """The run as without /LOG: deployed, run, recorded, no box."""
    check_equal((result.exit_code, result.timed_out, result.boxes), (0, False, []),
                f"{what}: (exit code, timed out, boxes)")
    install = ctx.install_dir()
    check_deployed(ctx, install)
    check_launched_and_recorded(ctx, install)


def temp_folder(ctx) -> str:
    """The temporary folder of the prefix's user, as a C:\\ path."""
    users = [p for p in ctx.host_path(r"C:\users").iterdir() if (p / "Temp").is_dir() and p.name != "Public"]
    check(len(users) == 1, f"the prefix's user: {users}")
    return rf"C:\users\{users[0].name}\Temp"


def today_log_name(counter: int) -> str:
    return time.strftime("FanServiceSetup_%Y%m%d_") + f"{counter:03d}.log"


def prepare_log_link(ctx, kind: str) -> tuple[str, str | None]:
    """Sets the case up; returns the /LOG argument and the file that must
    keep its content, or stay absent."""
    if kind == "setup_ini":
        return rf"/LOG={SETUP_DIR}\setup.ini", rf"{SETUP_DIR}\setup.ini"
    if kind == "new_file_in_the_program_folder":
        return rf"/LOG={SETUP_DIR}\setup.log", rf"{SETUP_DIR}\setup.log"
    if kind == "unix_link_to_a_file":
        link(ctx, LOG, SECRET)
        return f"/LOG={LOG}", SECRET
    if kind == "dangling_unix_link":
        link(ctx, LOG, r"C:\Secret\made.log")
        return f"/LOG={LOG}", r"C:\Secret\made.log"
    if kind == "hard_link":
        os.link(ctx.host_path(SECRET), ctx.host_path(LOG))
        return f"/LOG={LOG}", SECRET
    if kind == "folder_is_a_unix_link":
        link(ctx, r"C:\LinkedLogs", r"C:\Secret")
        return r"/LOG=C:\LinkedLogs\setup.log", r"C:\Secret\setup.log"
    if kind == "a_folder":
        return r"/LOG=C:\Logs", r"C:\Logs\setup.log"
    if kind == "temp_folder_is_a_unix_link":
        temp = temp_folder(ctx)
        os.rename(ctx.host_path(temp), ctx.host_path(temp + ".real"))
        link(ctx, temp, r"C:\Secret")
        return "/LOG", r"C:\Secret" + "\\" + today_log_name(1)
    raise ValueError(kind)


LOG_LINKS = ["setup_ini", "new_file_in_the_program_folder", "unix_link_to_a_file", "dangling_unix_link", "hard_link",
             "folder_is_a_unix_link", "a_folder", "temp_folder_is_a_unix_link"]


def log_refused(ctx, kind: str):
    """No log, and what the path names (or leads to) unchanged or not made;
    the run goes on as without the switch."""
    prepare(ctx)
    argument, untouched = prepare_log_link(ctx, kind)
    before = ctx.host_path(untouched).read_bytes() if ctx.host_path(untouched).is_file() else None
    secret_before = sorted(p.name for p in ctx.host_path(r"C:\Secret").iterdir())
    result = ctx.run_setup(cwd=WORK, args=[argument])
    after = ctx.host_path(untouched).read_bytes() if ctx.host_path(untouched).is_file() else None
    check_equal(after, before, untouched)
    check_equal(sorted(p.name for p in ctx.host_path(r"C:\Secret").iterdir()), secret_before, r"files in C:\Secret")
    run_unchanged(ctx, result, kind)
    check(re.search(r"^setup\.exe: no run log.*: .+$", result.output, re.M),
          f"no line on standard error says why there is no log: {result.output!r}")


def log_name_taken_by_a_link(ctx):
    """/LOG alone: the first name of the day in the temporary folder is a
    dangling link; the log takes the next name, and nothing is made where
    the link leads."""
    prepare(ctx)
    temp = temp_folder(ctx)
    link(ctx, temp + "\\" + today_log_name(1), r"C:\Secret\made.log")
    result = ctx.run_setup(cwd=WORK, args=["/LOG"])
    run_unchanged(ctx, result, "run")
    check(not ctx.host_path(r"C:\Secret\made.log").exists(), "a file was made where the link leads")
    lines = log_lines(ctx, temp + "\\" + today_log_name(2))
    check_equal(lines[-1], "outcome Installed: exit code 0", "last line of the log under the next name")


def service_environment(ctx):
    """The caller sets a variable of its own and puts a folder of its own at
    the front of PATH (WINEPATH). The stand-in service executable, started
    by hand with that environment, sees both (so Wine passes them on); run
    by setup.exe, it sees neither, and SystemRoot and SystemDrive are
    there."""
    prepare(ctx)
    caller = {"FANSETUP_CALLER_ONLY": "set by the caller", "WINEPATH": r"C:\UserTools"}
    ctx.host_path(WORK + r"\standin_service.exe").write_bytes(ctx.tools.standin_service.read_bytes())
    ctx.run(win_join(WORK, "standin_service.exe"), ["/Service"], env=caller)
    by_hand = ctx.service_runs(WORK)[0]["environment"]
    check("FANSETUP_CALLER_ONLY=set by the caller" in by_hand, f"the caller's variable did not reach: {by_hand}")
    result = ctx.run_setup(args=[f"/LOG={LOG}"], env=caller)
    check_equal((result.exit_code, result.timed_out), (0, False), "(exit code, timed out)")
    runs = ctx.service_runs(ctx.install_dir())
    check_equal(len(runs), 1, "service executable runs")
    names = {entry.split("=", 1)[0].upper(): entry.split("=", 1)[1] for entry in runs[0]["environment"]}
    check("FANSETUP_CALLER_ONLY" not in names,
          f"the caller's variable reached the service executable ({len(names)} variables)")
    check(r"C:\UserTools" not in names.get("PATH", "").split(";"), f"the caller's PATH entry: {names.get('PATH')}")
    check_equal((names.get("SYSTEMROOT"), names.get("SYSTEMDRIVE")), (r"C:\windows", "C:"),
                "(SystemRoot, SystemDrive)")
    one_line(log_lines(ctx), r"^the service executable gets the machine's default environment \(\d+ variables\), "
             r"not setup\.exe's$", "the environment's line")


for _name, (_key, _value, _outside) in UNSAFE_SETTINGS.items():
    add_case(f"unsafe_setting[{_name}]", unsafe_setting, needs_component=True, key=_key, value=_value,
             outside=_outside)
for _name, _row in ORDINARY_SETTINGS.items():
    add_case(f"ordinary_setting[{_name}]", ordinary_setting, needs_component=True, **_row)
for _name, _row in PROGRAM_FOLDER_LINKS.items():
    add_case(f"program_folder_link[{_name}]", program_folder_link, needs_component=True, **_row)
add_case("program_folder_is_a_link", program_folder_is_a_link, needs_component=True)
add_case("folders_beside_setup", folders_beside_setup, needs_component=True)
add_case("link_down_a_long_path", link_down_a_long_path, needs_component=True)
for _kind in LOG_LINKS:
    add_case(f"log_refused[{_kind}]", log_refused, needs_component=True, kind=_kind)
add_case("log_name_taken_by_a_link", log_name_taken_by_a_link, needs_component=True)
add_case("service_environment", service_environment, needs_component=True)

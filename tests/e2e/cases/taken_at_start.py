"""What the run took of its program folder at its start is what it uses, whatever
the user's own programs do to the folder while it goes on. Each case holds a
sealed run in the middle of its firmware call (the stand-in component's
WaitFor), changes the folder from the host (as a program of the user's own
could, and as Wine lets it), and lets the run go on:

- the running image renamed and other bytes written under its name: the
  installed setup.exe is byte for byte the image that ran, or the run ends
  with -1 and nothing is launched or recorded;
- the folder link setup.exe was started through pointed at another folder,
  whose setup.ini names another InstallPath and RegistryKey: nothing under
  the other install path, no record under the other key."""

from __future__ import annotations

import os
import time

from harness import COMPONENT_DIR, DEFAULT_SETTINGS, SETUP_DIR, add_case, check, check_equal, simple_package
from harness.runlog import LOG

from cases.sealed_payload import seal_program_folder

GO = COMPONENT_DIR + r"\go"


def hold_in_the_firmware_call(ctx) -> None:
    """The stand-in component holds the run in its iAcpiMbif call until GO exists."""
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex(), "WaitFor": GO}})
    ctx.host_path(LOG).parent.mkdir(parents=True, exist_ok=True)


def run_while(ctx, program: str, change) -> object:
    """Starts `program` (a setup.exe), calls `change` once the component holds
    it, then lets it go on; returns its result."""
    pending = ctx.start(program, [f"/LOG={LOG}"])
    deadline = time.monotonic() + 60
    while pending.running() and time.monotonic() < deadline:
        if any(e.get("event") == "waiting" for e in ctx.component_calls()):
            break
        time.sleep(0.02)
    check(pending.running(), "setup.exe ended before the component held it")
    change()
    ctx.host_path(GO).write_bytes(b"")
    return pending.wait()


def image_swapped_while_the_run_waits(ctx):
    hold_in_the_firmware_call(ctx)
    ctx.put_setup(files={"fan.dll": b"fan"}, settings={})
    image = seal_program_folder(ctx)
    setup = ctx.setup_dir / "setup.exe"

    def swap():
        setup.rename(ctx.setup_dir / "setup.exe.old")
        setup.write_bytes(ctx.tools.standin_service.read_bytes())

    result = run_while(ctx, SETUP_DIR + r"\setup.exe", swap)
    install = ctx.install_dir()
    installed = ctx.host_path(install) / "setup.exe"
    if result.exit_code == 0:
        check_equal(installed.read_bytes() == image, True, "the installed setup.exe is the image that ran")
    else:
        check_equal(result.exit_code, 0xFFFFFFFF, "exit code")
        check(not installed.exists() or installed.read_bytes() == image, "other bytes installed as setup.exe")
        check_equal(ctx.service_runs(install), [], "service executable runs")
        check_equal(ctx.regdump(DEFAULT_SETTINGS["RegistryKey"]), None, "registry record")
    ctx.note(f"exit code {result.exit_code:#x}")


def setup_ini_swapped_through_a_folder_link(ctx):
    hold_in_the_firmware_call(ctx)
    real, other, entry = r"C:\Fan\Real", r"C:\Fan\Other", r"C:\Users\Public\Downloads\Setup"
    ctx.put_setup(folder=real, files={"fan.dll": b"fan"}, settings={})
    ctx.put_setup(folder=other, files={"fan.dll": b"fan"},
                  settings={"InstallPath": "Hijacked", "RegistryKey": r"Software\Hijacked", "version": "6.6"})
    seal_program_folder(ctx, real)  # as the vendor shipped it
    link = ctx.host_path(entry)
    link.parent.mkdir(parents=True, exist_ok=True)
    os.symlink(ctx.host_path(real), link)

    def repoint():
        os.remove(link)
        os.symlink(ctx.host_path(other), link)

    result = run_while(ctx, entry + r"\setup.exe", repoint)
    ctx.note(f"exit code {result.exit_code:#x}")
    check(not ctx.host_path(ctx.install_dir(version="6.6", install_path="Hijacked")).exists(),
          "the other setup.ini's install folder was made")
    check_equal(ctx.regdump(r"Software\Hijacked"), None, "a record under the other setup.ini's key")
    check_equal(result.exit_code, 0, "exit code")
    check_equal(len(ctx.service_runs(ctx.install_dir())), 1, "service executable runs from the install folder")


add_case("image_swapped_while_the_run_waits", image_swapped_while_the_run_waits, needs_component=True)
add_case("setup_ini_swapped_through_a_folder_link", setup_ini_swapped_through_a_folder_link, needs_component=True)

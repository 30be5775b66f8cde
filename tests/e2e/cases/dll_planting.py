"""A DLL planted beside setup.exe: setup.exe runs with administrator rights
from whatever folder it was started in, so a DLL dropped there under the
name of one that the run loads by name at run time must never be loaded.

The planted DLL is tools/planted_dll (it appends the loading process and
its own path to C:\\planted_dll.log) under the name uxtheme.dll: user32
loads uxtheme.dll by name in every run, as soon as the first window of
the process is made (the component model's apartment window), and it is
not one of Windows' known DLLs. Wine loads its own builtin uxtheme unless
told to prefer a native one; the case tells it so for every program of the
prefix (DllOverrides, what WINEDLLOVERRIDES="uxtheme=n,b" does for one
command).

Every case makes three runs in one prefix, each from C:\\Fan\\Setup (also
the current folder, as after a double click) into its own install folder,
record key and service name, so that no run sees another's traces:

  baseline   setup.exe, nothing planted
  planted    setup.exe, uxtheme.dll planted: nothing is loaded from the
             program folder, and the outcome is the baseline's
  unguarded  the same run without the confined search
             (tools/unguarded_setup), uxtheme.dll planted: the planted DLL
             is loaded, so that this case is seen to catch a run that loads it
"""

from __future__ import annotations

from pathlib import Path

from harness import SETUP_DIR, CaseFailure, add_case, check, check_equal, simple_package, win_join
from harness.outcome import apart, deployed, described_run

PLANTED_NAME = "uxtheme.dll"
MARKER = r"C:\planted_dll.log"
PAYLOAD = {"notes.txt": b"fan curves\r\n"}
SERVICE_BOX = "Can not read service name from setup.ini"


def built_tool(ctx, file_name: str) -> Path:
    """A test tool of the build under test (beside runner.exe: the setup.exe
    under test may lie elsewhere, see run.py --setup-exe)."""
    path = ctx.tools.runner.parent / file_name
    if not path.is_file():
        raise CaseFailure(f"{path} is not built")
    return path


def prefer_native(ctx, dll: str) -> None:
    completed = ctx.prefix.wine(["reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", dll.removesuffix(".dll"),
                                 "/d", "native,builtin", "/f"])
    if completed.returncode != 0:
        raise CaseFailure(f"could not make Wine prefer a native {dll}: {completed.stdout}{completed.stderr}")


def marker_lines(ctx) -> list[str]:
    marker = ctx.host_path(MARKER)
    if not marker.exists():
        return []
    return marker.read_text(encoding="utf-8").splitlines()


def run_once(ctx, which: str, service_name_missing: bool) -> dict:
    """Runs setup.exe from the program folder with settings of its own;
    returns what the run left, with its own names put in general terms (so
    that the outcomes of the three runs compare), the planted DLL aside."""
    settings = apart(which)
    ctx.write_setup_ini(**((settings | {"ServiceName": None}) if service_name_missing else settings))
    outcome = described_run(ctx, settings, cwd=SETUP_DIR)
    outcome["install folder"] = [n for n in outcome["install folder"] if n != PLANTED_NAME]
    return outcome


def planted_dll_row(ctx, service_name_missing: bool):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})
    planted_dll = built_tool(ctx, "planted_dll.dll")
    unguarded = built_tool(ctx, "unguarded_setup.exe")
    prefer_native(ctx, PLANTED_NAME)
    ctx.put_setup(files=PAYLOAD)

    baseline = run_once(ctx, "Baseline", service_name_missing)
    # The baseline is a real deploy, so that the runs below compare with one.
    check_equal(baseline, deployed(list(PAYLOAD), (SERVICE_BOX,) if service_name_missing else ()), "baseline run")
    check_equal(marker_lines(ctx), [], f"{MARKER} after the baseline run (nothing planted yet)")

    (ctx.setup_dir / PLANTED_NAME).write_bytes(planted_dll.read_bytes())
    planted = run_once(ctx, "Planted", service_name_missing)
    check_equal(marker_lines(ctx), [], f"{MARKER} after setup.exe ran beside a planted {PLANTED_NAME} "
                                       "(processes that loaded it)")
    check_equal(planted, baseline, f"outcome with a planted {PLANTED_NAME} against the baseline")

    # The same run without the confined search loads the planted DLL: the
    # DLL, the override and the marker work, and a run that searched its own
    # folder would fail this case.
    (ctx.setup_dir / "setup.exe").write_bytes(unguarded.read_bytes())
    unguarded_outcome = run_once(ctx, "Unguarded", service_name_missing)
    expected_line = f"{win_join(SETUP_DIR, 'setup.exe')}|{win_join(SETUP_DIR, PLANTED_NAME)}"
    check(expected_line in marker_lines(ctx),
          f"the run without the confined search did not load the planted {PLANTED_NAME}: "
          f"{MARKER} holds {marker_lines(ctx)}, expected the line {expected_line!r}")
    check_equal(unguarded_outcome, baseline, "outcome of the run without the confined search against the baseline")


add_case("planted_beside_setup[deploy]", planted_dll_row, needs_component=True, service_name_missing=False)
add_case("planted_beside_setup[deploy_with_message_box]", planted_dll_row, needs_component=True,
         service_name_missing=True)

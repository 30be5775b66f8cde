#!/usr/bin/env python3
"""The main job, shown: setup.exe installs the fan-control service under
Wine, in a fresh prefix, against the stand-in automation component (which
reports a supported board) and a sample program folder.

    xvfb-run -a python3 scripts/lib/demo.py --build build/win32 [--keep]
    xvfb-run -a python3 scripts/lib/demo.py --build build/win64 [--keep]

The build's lane (32 or 64) decides which Wine loader runs it; scripts/demo
picks the 32-bit build where the host can run it.

Three runs: the first installs; the second finds nothing to do; the third,
after "version" is raised in setup.ini, installs the new version beside the
old one. Then one bridge call through setup.exe's exports.
"""

from __future__ import annotations

import argparse
import json
import shutil
import sys
import time
from pathlib import Path

SOURCE_ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE_ROOT / "tests" / "e2e"))
sys.path.insert(0, str(SOURCE_ROOT / "tests" / "pe"))

from harness.context import (COMPONENT_DIR, SETUP_DIR, Context, Tools,  # noqa: E402
                             win_join, write_ini)
from harness.firmware import simple_package  # noqa: E402
from harness.lanes import lane_of_build  # noqa: E402
from harness.wine import Template  # noqa: E402
from check_setup_exe import file_version, load  # noqa: E402

DEMO_LOG = r"C:\Fan\setup-run1.log"

SETTINGS = {
    "ServiceName": "FanControl",
    "InstallPath": r"Vendor\FanControl",
    "RegistryKey": r"SOFTWARE\Vendor\FanControl",
    "Execution": "fansvc.exe",
    "version": "2.1.0",
}


def say(text: str = "") -> None:
    print(text, flush=True)


def show_run(ctx: Context, title: str, args: list[str] | None = None) -> None:
    started = time.monotonic()
    result = ctx.run_setup(args=args)
    seconds = time.monotonic() - started
    code = result.exit_code
    say(f"\n--- {title}")
    signed = code - (1 << 32) if code >= 1 << 31 else code
    say(f"setup.exe exit code: {signed} (0x{code:08X}) in {seconds:.1f} s; message boxes: {len(result.boxes)}")
    for box in result.boxes:
        say(f"  box [{box.caption}] {box.text}")


def install_base(ctx: Context) -> str:
    return win_join(ctx.program_files, SETTINGS["InstallPath"])


def show_state(ctx: Context) -> None:
    base = ctx.host_path(install_base(ctx))
    say("install folders:")
    if not base.exists():
        say("  (none)")
    for version in sorted(p for p in base.iterdir() if p.is_dir()) if base.exists() else []:
        names = sorted(p.name + ("\\" if p.is_dir() else "") for p in version.iterdir())
        say(f"  {win_join(install_base(ctx), version.name)}\\: {', '.join(names)}")
    record = ctx.regdump(SETTINGS["RegistryKey"])
    say("registry record HKLM\\" + SETTINGS["RegistryKey"] + ":")
    if record is None:
        say("  (none)")
    else:
        for value in record.get("values", []):
            data = bytes.fromhex(value["data"]).rstrip(b"\0").decode("latin-1")
            say(f"  {value['name']} (type {value['type']}, {value['size']} bytes) = {data}")
    say(f"service {SETTINGS['ServiceName']} present: {ctx.service_exists(SETTINGS['ServiceName'])}")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path, default=SOURCE_ROOT / "build" / "win32")
    parser.add_argument("--keep", action="store_true", help="keep the demo prefix afterwards")
    args = parser.parse_args()
    build = args.build.resolve()
    tools = Tools(setup=build / "setup/setup.exe", runner=build / "tools/runner.exe",
                  regdump=build / "tools/regdump.exe", standin_service=build / "tools/standin_service.exe",
                  standin_component=build / "tools/standin_component.exe")
    client = build / "tools/export_client.exe"

    lane = lane_of_build(build)
    template = Template(build / "e2e" / "template", lane)
    template.ensure(log=say)
    runs = build / "demo"
    if runs.exists():
        shutil.rmtree(runs)
    runs.mkdir(parents=True)
    prefix = template.copy_to(runs / "prefix")
    ctx = Context(name="demo", prefix=prefix, tools=tools)
    try:
        version = file_version(load(tools.setup))
        say(f"setup.exe {'.'.join(map(str, version)) if version else '(no version resource)'} "
            f"({lane.machine}, {tools.setup.stat().st_size:,} bytes) from {tools.setup}")
        say(f"Wine prefix: {prefix.path} (lane {lane.name}: the {lane.name}-bit setup.exe, "
            f"program-files folder {lane.program_files})")
        say(f"program folder {SETUP_DIR}: setup.exe, setup.ini, fansvc.exe (the stand-in service "
            "executable), fan.dll, readme.txt, lang\\de.txt (a sub-folder: not deployed)")
        ctx.put_setup(files={"fan.dll": b"fan control library\r\n", "readme.txt": b"Fan control service\r\n",
                             "lang\\de.txt": b"Lueftersteuerung\r\n"}, service=False)
        shutil.copy2(tools.standin_service, ctx.setup_dir / "fansvc.exe")
        write_ini(ctx.setup_dir / "setup.ini", {"Common": SETTINGS})
        say("setup.ini: " + ", ".join(f"{k}={v}" for k, v in SETTINGS.items()))
        package = simple_package(0x0200)
        ctx.install_component({"iAcpiMbif": {"Data": package.hex()}, "iAcpiGetItem": {"Value": "0x2A"}})
        say(f"stand-in component registered in {COMPONENT_DIR}; its firmware word is 0x200 (supported board)")

        show_run(ctx, f"run 1: fresh install, with a run log (setup.exe /LOG={DEMO_LOG})", args=[f"/LOG={DEMO_LOG}"])
        say(f"the run log {DEMO_LOG}:")
        for line in ctx.host_path(DEMO_LOG).read_text(encoding="latin-1").splitlines():
            say("  " + line)
        show_state(ctx)
        runs_logged = ctx.service_runs(win_join(install_base(ctx), "2.1.0"))
        for run in runs_logged:
            say(f"service executable ran as: {run['commandLine']}  (it logs its runs in service_runs.log)")

        show_run(ctx, "run 2: the same version again, service present: nothing to do")
        show_state(ctx)

        SETTINGS["version"] = "2.2.0"
        write_ini(ctx.setup_dir / "setup.ini", {"Common": SETTINGS})
        show_run(ctx, 'run 3: "version" raised to 2.2.0: installed beside 2.1.0')
        show_state(ctx)

        say("\n--- the bridge: another program calls setup.exe's exports")
        host_client = ctx.host_path(r"C:\e2e\export_client.exe")
        shutil.copy2(client, host_client)
        completed = prefix.wine([r"C:\e2e\export_client.exe", win_join(SETUP_DIR, "setup.exe"),
                                 "Init", "GetItem:7:0", "GGrp:3:00000000"])
        for line in completed.stdout.splitlines():
            if line.startswith("{"):
                call = json.loads(line)
                shown = {k: call[k] for k in ("call", "ret", "value", "length", "buffer") if k in call}
                say("  " + json.dumps(shown))
        methods = [e.get("method") for e in ctx.component_calls() if e.get("event") == "invoke"]
        say("methods the component received, in order: " + ", ".join(methods))
    finally:
        prefix.stop()
        if not args.keep:
            shutil.rmtree(runs, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

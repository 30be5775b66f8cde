"""scripts/bootstrap's decisions, against stand-ins for apt-get, dpkg,
dpkg-query, locale, locale-gen and mmdebstrap (standins/, first in PATH):
which packages it asks for on which host, when it makes lane 32's root and
from what, and what it does when the index refresh, lane 32's package or
root or a package every lane needs fail. The real apt is never called. The bootstrap runs from a copy of scripts/ in a temporary folder,
so that its record of lane 32 lands there, and with a stand-in for the
probe of 32-bit support (the real probe has its own tests below)."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import unittest.mock
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
STANDINS = Path(__file__).resolve().parent / "standins"
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import lanes  # noqa: E402

HELD = "E: Unable to correct problems, you have held broken packages."
REFRESHED = "Hit:1 http://deb.debian.org/debian bookworm InRelease\nHit:2 http://deb.debian.org/debian bookworm-updates InRelease"
SECURITY_I386 = "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
LOCALE_GEN = "# en_US.UTF-8 UTF-8\n# ja_JP.EUC-JP EUC-JP\n# ja_JP.UTF-8 UTF-8\n"


def fetch_failed(address: str, message: str) -> tuple[int, str]:
    return 100, (f"{REFRESHED}\nErr:3 {address}\n  {message}\nE: Failed to fetch {address}  {message}\n"
                 "E: Some index files failed to download. They have been ignored, or old ones used instead.")


class Machine:
    """A Debian machine as the stand-ins see it, with a copy of scripts/."""

    def __init__(self, test: unittest.TestCase, host32: bool = True, installed=(), locales=("C", "C.utf8", "POSIX"),
                 archs=(), scenario: dict | None = None):
        self.dir = Path(tempfile.mkdtemp(prefix="bootstrap-test."))
        test.addCleanup(shutil.rmtree, self.dir)
        self.tree = self.dir / "tree"
        (self.tree / "scripts" / "lib").mkdir(parents=True)
        shutil.copy2(ROOT / "scripts" / "bootstrap", self.tree / "scripts" / "bootstrap")
        shutil.copy2(ROOT / "scripts" / "lib" / "lane32_root.sh", self.tree / "scripts" / "lib" / "lane32_root.sh")
        self.root = self.dir / "lane32"
        probe = ("host_runs_32bit() { return 0; }" if host32
                 else "host_runs_32bit() { echo 'Exec format error'; return 1; }")
        (self.tree / "scripts" / "lib" / "runs_32bit.sh").write_text(probe + "\n")
        self.write("installed.txt", "".join(p + "\n" for p in installed))
        self.write("locales.txt", "\n".join(locales) + "\n")
        self.write("archs.txt", "".join(a + "\n" for a in archs))
        self.scenario(**(scenario or {}))
        self.write("calls.log", "")
        self.write("locale.gen", LOCALE_GEN)

    def scenario(self, updates=(), uninstallable=None, lock_held=0) -> None:
        """What the stand-in apt-get answers: successive refreshes as
        (exit code, output), packages it refuses with their message, how many
        installs find the lock held."""
        for n, (code, output) in enumerate(updates, 1):
            self.write(f"update.{n}", output + "\n")
            self.write(f"update.{n}.rc", str(code))
        shutil.rmtree(self.dir / "uninstallable", ignore_errors=True)
        (self.dir / "uninstallable").mkdir()
        for package, message in (uninstallable or {}).items():
            self.write(f"uninstallable/{package}", message + "\n")
        self.write("lock_held", str(lock_held))

    def write(self, name: str, text: str) -> None:
        (self.dir / name).write_text(text)

    def read(self, name: str) -> str:
        return (self.dir / name).read_text()

    @property
    def record(self) -> Path:
        return self.tree / "build" / "bootstrap" / "lane32"

    def root_args(self) -> list[str]:
        """The last mmdebstrap's arguments."""
        return self.read("mmdebstrap.args").splitlines()

    def bootstrap(self, *args: str, **env: str) -> subprocess.CompletedProcess:
        self.write("calls.log", "")
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith("FANSETUP_") and key != "STANDIN_DIR"}
        environment.update(PATH=f"{STANDINS}:{os.environ['PATH']}", STANDIN_DIR=str(self.dir),
                           FANSETUP_LOCALE_GEN=str(self.dir / "locale.gen"), FANSETUP_APT_RETRY_WAIT="0",
                           FANSETUP_LANE32_ROOT=str(self.root), **env)
        return subprocess.run([str(self.tree / "scripts" / "bootstrap"), *args], env=environment,
                              capture_output=True, text=True, timeout=60)

    def calls(self) -> list[str]:
        return self.read("calls.log").splitlines()

    def installs(self) -> list[list[str]]:
        return [call.split()[5:] for call in self.calls() if call.startswith("apt-get install")]


def complete(test, **kwargs) -> Machine:
    """A machine where one bootstrap has installed everything."""
    machine = Machine(test, **kwargs)
    first = machine.bootstrap()
    test.assertEqual(first.returncode, 0, first.stderr)
    return machine


class Packages(unittest.TestCase):
    def test_every_lane_first_then_lane_32_on_a_host_that_runs_it(self):
        machine = Machine(self)
        run = machine.bootstrap()
        self.assertEqual(run.returncode, 0, run.stderr)
        calls = machine.calls()
        self.assertEqual([c.split()[0:2] for c in calls],
                         [["apt-get", "update"], ["apt-get", "install"], ["apt-get", "install"],
                          ["apt-get", "indextargets"], ["mmdebstrap"], ["locale-gen"]])
        every, lane32 = machine.installs()
        for needed in ("wine", "wine64", "xvfb", "g++-mingw-w64-i686", "g++-mingw-w64-x86-64", "python3",
                       "python3-pefile", "libssl-dev", "osslsigncode", "openssl", "locales"):
            self.assertIn(needed, every)
        self.assertFalse([p for p in every if ":i386" in p], every)
        self.assertEqual(lane32, ["mmdebstrap"])
        self.assertEqual(machine.read("locale.gen"), LOCALE_GEN.replace("# en_US.UTF-8", "en_US.UTF-8")
                         .replace("# ja_JP.UTF-8", "ja_JP.UTF-8"))
        self.assertFalse(machine.record.exists())

    def test_lane_32s_root_is_made_from_the_main_archive_alone_with_both_architectures(self):
        for name, targets, mirror in (
                ("the host's mirror", "http://mirror.example/debian\n", "http://mirror.example/debian"),
                ("none in the host's sources", "", "http://deb.debian.org/debian")):
            with self.subTest(name):
                machine = Machine(self)
                machine.write("indextargets", targets)
                run = machine.bootstrap()
                self.assertEqual(run.returncode, 0, run.stderr)
                args = machine.root_args()
                self.assertIn("--architectures=amd64,i386", args)
                self.assertIn("wine32:i386", next(a for a in args if a.startswith("--include=")).split(","))
                self.assertEqual([a for a in args if not a.startswith("--")],
                                 ["bookworm", f"{machine.root}.new", f"deb {mirror} bookworm main"])
                self.assertTrue(any("en_US.UTF-8 ja_JP.UTF-8" in a and "locale-gen" in a for a in args), args)
                self.assertEqual((machine.root / "etc" / "fansetup-lane32").read_text().splitlines()[0], "recipe: 1")
                self.assertTrue((machine.root / "usr" / "lib" / "wine" / "wine").exists())
                self.assertFalse(Path(f"{machine.root}.new").exists())
                self.assertEqual(machine.read("archs.txt"), "")  # the host never gets i386

    def test_a_root_of_an_older_recipe_or_half_made_is_made_again(self):
        for name, stamp in (("older recipe", "recipe: 0\n"), ("no stamp", None)):
            with self.subTest(name):
                machine = complete(self)
                stamp_file = machine.root / "etc" / "fansetup-lane32"
                stamp_file.unlink()
                if stamp:
                    stamp_file.write_text(stamp)
                (machine.root / "left-over").write_text("")
                Path(f"{machine.root}.new").mkdir()
                run = machine.bootstrap()
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(machine.calls()[-1], "mmdebstrap")
                self.assertIn("recipe: 1", stamp_file.read_text())
                self.assertFalse((machine.root / "left-over").exists())
                self.assertFalse(Path(f"{machine.root}.new").exists())

    def test_nothing_of_lane_32_where_it_cannot_run(self):
        for name, host32, env, recorded in (
                ("kernel without 32-bit", False, {}, "this host starts no 32-bit programs (Exec format error)"),
                ("FANSETUP_NO_32BIT", True, {"FANSETUP_NO_32BIT": "1"}, None)):
            with self.subTest(name):
                machine = Machine(self, host32=host32)
                run = machine.bootstrap(**env)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertNotIn("mmdebstrap", machine.read("calls.log"))
                self.assertEqual(len(machine.installs()), 1)
                self.assertFalse(machine.root.exists())
                if recorded:
                    self.assertIn(recorded, machine.record.read_text())
                else:
                    self.assertFalse(machine.record.exists())
                again = machine.bootstrap(**env)
                self.assertEqual((again.returncode, again.stdout, again.stderr, machine.calls()), (0, "", "", []))

    def test_remove_lane32_removes_the_root_and_nothing_else(self):
        machine = complete(self)
        Path(f"{machine.root}.new").mkdir()
        run = machine.bootstrap("--remove-lane32")
        self.assertEqual((run.returncode, machine.calls()), (0, []), run.stderr)
        self.assertIn(f"lane 32's root {machine.root} is removed", run.stderr)
        self.assertEqual([p.name for p in machine.dir.iterdir() if p.name.startswith("lane32")], [])
        self.assertIn("mmdebstrap", machine.read("installed.txt"))

    def test_a_second_run_on_a_complete_machine_calls_nothing_and_says_nothing(self):
        machine = complete(self)
        stamp = machine.root / "etc" / "fansetup-lane32"
        before = machine.read("locale.gen"), machine.read("installed.txt"), stamp.stat().st_mtime_ns
        run = machine.bootstrap()
        self.assertEqual((run.returncode, run.stdout, run.stderr, machine.calls()), (0, "", "", []))
        self.assertEqual(before, (machine.read("locale.gen"), machine.read("installed.txt"), stamp.stat().st_mtime_ns))

    def test_only_what_is_missing_is_asked_for(self):
        machine = complete(self)
        machine.write("installed.txt", machine.read("installed.txt").replace("xvfb\n", ""))
        run = machine.bootstrap()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(machine.installs(), [["xvfb"]])


class Refresh(unittest.TestCase):
    def test_an_index_that_fails_is_a_warning_and_the_install_goes_on(self):
        sync = fetch_failed(SECURITY_I386, "File has unexpected size (374820 != 376004). Mirror sync in progress?")
        forbidden = fetch_failed(SECURITY_I386, "403  Forbidden [IP: 203.0.113.80 80]")
        for name, updates, refreshes, warned in (
                ("mirror in sync, for good", [sync], 3, "Mirror sync in progress?"),
                ("mirror in sync, once", [sync, (0, REFRESHED)], 2, None),
                ("forbidden", [forbidden], 1, "403  Forbidden")):
            with self.subTest(name):
                machine = Machine(self, scenario={"updates": updates})
                run = machine.bootstrap()
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(sum(c == "apt-get update" for c in machine.calls()), refreshes)
                self.assertEqual(len(machine.installs()), 2)
                warnings = [line for line in run.stderr.splitlines() if "warning" in line]
                if warned:
                    self.assertEqual(len(warnings), 1, run.stderr)
                    self.assertIn(SECURITY_I386, warnings[0])
                    self.assertIn(warned, warnings[0])
                else:
                    self.assertEqual(warnings, [])

    def test_a_rehearsed_failing_index_is_refreshed_and_named_even_when_nothing_is_missing(self):
        machine = complete(self, scenario={"updates": [(0, REFRESHED)]})
        run = machine.bootstrap(FANSETUP_FAILING_INDEX="bookworm-updates")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(machine.calls(), ["apt-get update"] * 3)
        self.assertIn("warning: the package index http://deb.debian.org/debian bookworm-updates InRelease could not "
                      "be refreshed (rehearsed with FANSETUP_FAILING_INDEX", run.stderr)

    def test_a_held_lock_is_waited_for(self):
        lock = (100, "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)")
        machine = Machine(self, scenario={"lock_held": 2, "updates": [lock, (0, REFRESHED)]})
        run = machine.bootstrap()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(sum(c == "apt-get update" for c in machine.calls()), 2)
        self.assertEqual(len(machine.installs()), 4)
        self.assertIn("mmdebstrap", machine.read("installed.txt"))
        self.assertNotIn("warning", run.stderr)


class Failures(unittest.TestCase):
    def test_lane_32_failures_leave_everything_else_and_a_reason(self):
        no_release = "E: cannot read Release of http://deb.debian.org/debian bookworm: 404  Not Found"
        for name, scenario, fails, reason in (
                ("mmdebstrap uninstallable", {"uninstallable": {"mmdebstrap": HELD}}, "",
                 "lane 32's packages could not be installed: mmdebstrap: " + HELD),
                ("mmdebstrap fails", {}, f"I: running apt-get update...\n{no_release}\n",
                 "lane 32's root could not be made: " + no_release)):
            with self.subTest(name):
                machine = Machine(self, scenario=scenario)
                machine.write("mmdebstrap.fails", fails)
                run = machine.bootstrap()
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn("xvfb", machine.read("installed.txt"))
                self.assertIn("ja_JP.utf8", machine.read("locales.txt"))
                self.assertIn("lane 32 will be skipped", run.stderr)
                self.assertEqual(machine.record.read_text(), f"reason: {reason}\n")
                self.assertEqual(lanes.bootstrap_record(str(machine.record)), (reason, False))
                self.assertEqual([p.name for p in machine.dir.iterdir() if p.name.startswith("lane32")], [])
                # A later make that succeeds wins over the record.
                machine.scenario()
                machine.write("mmdebstrap.fails", "")
                run = machine.bootstrap()
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(machine.calls()[-1], "mmdebstrap")
                self.assertFalse(machine.record.exists())

    def test_a_rehearsed_lane_32_failure_calls_nothing_of_it(self):
        machine = complete(self)
        run = machine.bootstrap(FANSETUP_UNINSTALLABLE="wine32:i386")
        self.assertEqual((run.returncode, machine.calls()), (0, []), run.stderr)
        self.assertEqual(machine.record.read_text(),
                         "reason: lane 32's root could not be made: wine32:i386: rehearsed with "
                         "FANSETUP_UNINSTALLABLE\nrehearsed: wine32:i386\n")

    def test_a_package_every_lane_needs_stops_the_run_with_its_name_and_the_retry(self):
        for name, scenario, env in (
                ("apt refuses it", {"uninstallable": {"xvfb": "E: Unable to locate package xvfb"}}, {}),
                ("rehearsed", {}, {"FANSETUP_UNINSTALLABLE": "xvfb"})):
            with self.subTest(name):
                machine = Machine(self, scenario=scenario)
                run = machine.bootstrap(**env)
                self.assertEqual(run.returncode, 1)
                self.assertIn("cannot install xvfb, which every lane needs", run.stderr)
                self.assertIn("apt-get install --no-install-recommends xvfb; then scripts/bootstrap", run.stderr)
                installed = machine.read("installed.txt")
                self.assertIn("wine64", installed)  # the others went in, one by one
                self.assertNotIn("xvfb", installed)
                self.assertNotIn("mmdebstrap", machine.read("calls.log"))

    def test_a_locale_that_cannot_be_generated_stops_the_run(self):
        machine = Machine(self, installed=())
        machine.write("locale-gen.fails", "Error: no such locale\n")
        run = machine.bootstrap()
        self.assertEqual(run.returncode, 1)
        self.assertIn("cannot generate the locale en_US.UTF-8, which every lane needs: Error: no such locale",
                      run.stderr)

    def test_a_locale_missing_from_locale_gen_is_added(self):
        machine = Machine(self)
        machine.write("locale.gen", "# en_US.UTF-8 UTF-8\n")
        run = machine.bootstrap()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(machine.read("locale.gen"), "en_US.UTF-8 UTF-8\nja_JP.UTF-8 UTF-8\n")


class LaneRecord(unittest.TestCase):
    """How tests/e2e/harness/lanes.py weighs the bootstrap's record against
    lane 32's loader, started through scripts/lib/lane32 (which refuses a
    root that is not made, or of an older recipe)."""

    def test_the_record_explains_a_loader_that_does_not_start_and_yields_to_one_that_does(self):
        folder = Path(tempfile.mkdtemp(prefix="lanes-test."))
        self.addCleanup(shutil.rmtree, folder)
        record, root = folder / "lane32", folder / "root"
        (root / "etc").mkdir(parents=True)
        failed = "reason: lane 32's root could not be made: " + HELD + "\n"
        rehearsed = failed + "rehearsed: wine32:i386\n"
        wrapped, starts = (lanes.LANE32, lanes.LOADER_32), (shutil.which("true"),)
        for name, text, stamp, loader, uninstallable, expected in (
                ("failed, no root", failed, None, wrapped, "", failed[8:-1]),
                ("failed, loader started later", failed, None, starts, "", None),
                ("no record, no root", None, None, wrapped,
                 "", f"lane 32's root {root} is not made (scripts/bootstrap makes it)"),
                ("no record, older root", None, "recipe: 0", wrapped,
                 "", f"lane 32's root {root} is of an older recipe (scripts/bootstrap makes it again)"),
                ("rehearsed, still asked for", rehearsed, None, starts, "xvfb wine32:i386", failed[8:-1]),
                ("rehearsed, no longer asked for", rehearsed, None, starts, "", None)):
            with self.subTest(name):
                for path, content in ((record, text), (root / "etc" / "fansetup-lane32", stamp)):
                    if content is None:
                        path.unlink(missing_ok=True)
                    else:
                        path.write_text(content + "\n")
                environment = {lanes.UNINSTALLABLE_VARIABLE: uninstallable, lanes.NO_32BIT_VARIABLE: "",
                               "FANSETUP_LANE32_ROOT": str(root)}
                with unittest.mock.patch.multiple(lanes, BOOTSTRAP_RECORD=str(record), PROBES={"32": loader}), \
                        unittest.mock.patch.dict(os.environ, environment):
                    lanes.why_not.cache_clear()
                    self.assertEqual(lanes.why_not("32"), expected)
        lanes.why_not.cache_clear()


class Probe(unittest.TestCase):
    """The real probe of 32-bit support in scripts/lib/runs_32bit.sh."""

    def shell(self, command: str, *args: str) -> subprocess.CompletedProcess:
        return subprocess.run(["bash", "-c", f'source "$0"; {command}', str(ROOT / "scripts/lib/runs_32bit.sh"),
                               *args], capture_output=True, timeout=30)

    def test_the_probe_agrees_with_the_kernel(self):
        program = self.shell("elf32_exit0").stdout
        self.assertEqual((program[:4], program[4], program[18], len(program)), (b"\x7fELF", 1, 3, 93))
        folder = Path(tempfile.mkdtemp(prefix="probe-test."))
        self.addCleanup(shutil.rmtree, folder)
        unknown_machine = bytearray(program)
        unknown_machine[18] = 0
        for name, image, mode in (("i386", program, 0o700), ("no machine", bytes(unknown_machine), 0o700),
                                  ("not executable", program, 0o600)):
            with self.subTest(name):
                path = folder / name.replace(" ", "-")
                path.write_bytes(image)
                path.chmod(mode)
                try:
                    expected = 0 if subprocess.run([str(path)]).returncode == 0 else 2
                except OSError as error:
                    expected = 1 if error.errno == 8 else 2  # ENOEXEC
                self.assertEqual(self.shell('starts_program "$1"', str(path)).returncode, expected)
        self.assertEqual(self.shell("host_runs_32bit").returncode,
                         self.shell('starts_program "$1"', str(folder / "i386")).returncode)


if __name__ == "__main__":
    unittest.main()

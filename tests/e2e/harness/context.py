"""What a case works with: its own prefix, setup.exe in a program folder, and
helpers to run programs, read the registry and the program-files folders,
and drive the stand-ins."""

from __future__ import annotations

import functools
import hashlib
import json
import shutil
import subprocess
import time
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path, PureWindowsPath

from . import regfile
from .lanes import Lane
from .wine import Prefix, WineError

CAPTION = "Fan Contrl Service Setup"

SETUP_DIR = r"C:\Fan\Setup"
TOOLS_DIR = r"C:\e2e"
COMPONENT_DIR = r"C:\StandIn"

# The settings of a complete setup.ini; a case overrides single keys.
DEFAULT_SETTINGS = {
    "ServiceName": "FanCtlTest",
    "InstallPath": r"Fan\Service",
    "RegistryKey": r"Software\FanCtl\Service",
    "Execution": "standin_service.exe",
    "version": "1.0",
}

# Keys below HKEY_LOCAL_MACHINE that Wine's display driver rewrites each
# time a prefix starts (driver dates, monitor properties); changes there are
# not the work of the program under test.
REGISTRY_NOISE = (
    "System\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}",
    "System\\CurrentControlSet\\Control\\Class\\{4D36E96E-E325-11CE-BFC1-08002BE10318}",
    "System\\CurrentControlSet\\Enum\\DISPLAY",
)


class CaseFailure(AssertionError):
    pass


class CaseSkip(Exception):
    pass


def check(condition: object, message: str) -> None:
    if not condition:
        raise CaseFailure(message)


def check_equal(actual: object, expected: object, what: str) -> None:
    if actual != expected:
        raise CaseFailure(f"{what}: expected {expected!r}, got {actual!r}")


@dataclass
class Box:
    caption: str
    text: str
    buttons: list[str]
    icon: bool


@dataclass
class RunResult:
    exit_code: int  # unsigned 32-bit: -1 is 0xFFFFFFFF
    boxes: list[Box]
    timed_out: bool
    killed: bool = False  # terminated on request (PendingRun.kill)
    stdout: str = ""  # the program's standard output and error, when asked for (`output=True`)
    stderr: str = ""
    output: str = ""  # what the program (and runner.exe) wrote where nothing else was asked for

    def texts(self) -> list[str]:
        return [box.text for box in self.boxes]


class PendingRun:
    """A runner.exe started in the background (Context.start)."""

    def __init__(self, process: subprocess.Popen, result_file: Path, kill_file: Path, output: Path,
                 timeout: float, streams: tuple[Path, Path] | None = None):
        self.process, self.result_file, self.kill_file = process, result_file, kill_file
        self.output, self.timeout, self.streams = output, timeout, streams

    def kill(self) -> None:
        """Has runner.exe terminate the program now (TerminateProcess)."""
        self.kill_file.write_bytes(b"")

    def running(self) -> bool:
        return self.process.poll() is None

    def wait(self) -> RunResult:
        try:
            code = self.process.wait(timeout=self.timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise WineError(f"runner.exe did not end within {self.timeout} s")
        if code != 0 or not self.result_file.exists():
            detail = self.output.read_text(encoding="latin-1").strip()[-1000:] if self.output.exists() else ""
            raise WineError(f"runner.exe failed ({code}): {detail}")
        raw = json.loads(self.result_file.read_text(encoding="latin-1"))
        stdout, stderr = ("", "")
        if self.streams:
            stdout, stderr = (p.read_bytes().decode("utf-8", errors="replace") if p.exists() else ""
                              for p in self.streams)
        output = self.output.read_text(encoding="utf-8", errors="replace") if self.output.exists() else ""
        return RunResult(exit_code=raw["exitCode"], timed_out=raw["timedOut"], killed=raw.get("killed", False),
                         boxes=[Box(b["caption"], b["text"], b["buttons"], b["icon"]) for b in raw["boxes"]],
                         stdout=stdout, stderr=stderr, output=output)


@dataclass
class Tools:
    """The Windows programs a session works with (Linux paths)."""

    setup: Path
    runner: Path
    regdump: Path
    standin_service: Path
    standin_component: Path | None  # None: the stand-in does not exist yet
    export_client: Path | None = None  # None: tools/export_client/ does not exist
    file_holder: Path | None = None  # None: tools/file_holder/ does not exist
    header_caller: Path | None = None  # None: tools/header_caller/ does not exist
    object_holder: Path | None = None  # None: tools/object_holder/ does not exist


@dataclass
class ExportRun:
    """One run of export_client.exe: its exit code and one JSON object per call."""

    exit_code: int
    calls: list[dict]
    stderr: str


def win_join(*parts: str) -> str:
    return str(PureWindowsPath(*parts))


@dataclass
class Context:
    name: str
    prefix: Prefix
    tools: Tools
    _results: int = field(default=0)
    notes: list[str] = field(default_factory=list)

    def note(self, text: str) -> None:
        """A remark printed with the case's result line (timings and the like)."""
        self.notes.append(text)

    # -- the lane ------------------------------------------------------------

    @property
    def lane(self) -> Lane:
        return self.prefix.lane

    @property
    def program_files(self) -> str:
        """The program-files folder that setup.exe of this lane is given."""
        return self.lane.program_files

    def saved_key(self, key: str) -> str:
        """Where the registry snapshot keeps a key below HKLM\\Software that a
        program of this lane wrote (the 32-bit view lies below Wow6432Node)."""
        first, _, rest = key.partition("\\")
        if first.lower() != "software":
            return key
        return self.lane.saved_software + ("\\" + rest if rest else "")

    # -- paths ---------------------------------------------------------------

    def host_path(self, windows_path: str) -> Path:
        """The Linux path of a C:\\ path inside the prefix."""
        path = PureWindowsPath(windows_path)
        if path.drive.upper() != "C:":
            raise ValueError(f"not on drive C: {windows_path}")
        return self.prefix.drive_c.joinpath(*path.parts[1:])

    @property
    def setup_dir(self) -> Path:
        return self.host_path(SETUP_DIR)

    def install_dir(self, version: str = DEFAULT_SETTINGS["version"],
                    install_path: str = DEFAULT_SETTINGS["InstallPath"]) -> str:
        """The install folder that setup.exe should make, with its trailing backslash."""
        return win_join(self.program_files, install_path, version) + "\\"

    # -- the program folder --------------------------------------------------

    def put_setup(self, files: dict[str, bytes] | None = None, service: bool | str = True,
                  settings: dict[str, str | None] | None = None, folder: str = SETUP_DIR,
                  encoding: str = "latin-1") -> None:
        """Fills the program folder (`folder`, by default SETUP_DIR): setup.exe,
        the stand-in service executable (unless service is False; a text
        names its copy), `files` (names may hold backslashes for sub-folders)
        and, when `settings` is given, setup.ini (see write_setup_ini)."""
        target_dir = self.host_path(folder)
        target_dir.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.tools.setup, target_dir / "setup.exe")
        if service:
            name = service if isinstance(service, str) else "standin_service.exe"
            shutil.copy2(self.tools.standin_service, target_dir / name)
        for name, data in (files or {}).items():
            target = target_dir.joinpath(*PureWindowsPath(name).parts)
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        if settings is not None:
            self.write_setup_ini(folder=folder, encoding=encoding, **settings)

    def write_setup_ini(self, folder: str = SETUP_DIR, encoding: str = "latin-1", **overrides: str | None) -> None:
        """setup.ini with the default settings; a key given as None is left
        out. `encoding`: "latin-1" (the ANSI code page 1252), "cp932", or
        "utf-16" (little-endian, with its byte-order mark)."""
        settings = dict(DEFAULT_SETTINGS)
        settings.update(overrides)
        write_ini(self.host_path(folder) / "setup.ini",
                  {"Common": {k: v for k, v in settings.items() if v is not None}}, encoding)

    def set_locale(self, name: str) -> None:
        """Runs every later Wine program of the case in the Unix locale `name`
        (LC_ALL), which sets their ANSI code page: C.UTF-8 gives 1252,
        ja_JP.UTF-8 gives 932. The locale must exist on the host
        (scripts/bootstrap makes the ones the cases use)."""
        if _normalized_locale(name) not in _installed_locales():
            raise CaseFailure(f"the locale {name} is not installed on this host (scripts/bootstrap makes it)")
        self.prefix.locale = name

    def payload_names(self) -> set[str]:
        """The files directly in the program folder (what a deploy copies)."""
        return {p.name for p in self.setup_dir.iterdir() if p.is_file()}

    # -- running programs ----------------------------------------------------

    def _ensure_tools(self) -> Path:
        folder = self.host_path(TOOLS_DIR)
        if not folder.exists():
            folder.mkdir(parents=True)
            shutil.copy2(self.tools.runner, folder / "runner.exe")
            shutil.copy2(self.tools.regdump, folder / "regdump.exe")
        return folder

    def run(self, program: str, args: list[str] | None = None, timeout_ms: int = 30000,
            cwd: str | None = None, invisible: bool = False, output: bool = False,
            env: dict[str, str] | None = None) -> RunResult:
        """Runs a program (C:\\ path) through runner.exe, which answers its message boxes.
        `cwd` (a C:\\ folder) is the current folder it inherits; by default
        it is a Z:\\ folder, wherever the harness was started. `invisible`
        starts it in a window station that nobody can see (no box is ever
        answered there); `output` keeps its standard output and error; `env`
        adds variables to the environment it inherits (Wine takes them in
        from the host's; WINEPATH adds folders to the front of PATH)."""
        return self.start(program, args, timeout_ms, cwd, invisible, output, env).wait()

    def start(self, program: str, args: list[str] | None = None, timeout_ms: int = 30000,
              cwd: str | None = None, invisible: bool = False, output: bool = False,
              env: dict[str, str] | None = None) -> "PendingRun":
        """Starts a program as `run` does, without waiting: the returned run
        can be killed (`kill`, through runner.exe's TerminateProcess) and
        waited for (`wait`)."""
        folder = self._ensure_tools()
        self._results += 1
        result_name = f"result-{self._results}.json"
        kill_name = f"kill-{self._results}"
        (folder / result_name).unlink(missing_ok=True)
        (folder / kill_name).unlink(missing_ok=True)
        options = ["--invisible-station"] if invisible else []
        streams = None
        if output:
            names = (f"stdout-{self._results}.txt", f"stderr-{self._results}.txt")
            streams = (folder / names[0], folder / names[1])
            options += ["--stdout", win_join(TOOLS_DIR, names[0]), "--stderr", win_join(TOOLS_DIR, names[1])]
        command = [win_join(TOOLS_DIR, "runner.exe"), "--timeout-ms", str(timeout_ms),
                   "--kill-when", win_join(TOOLS_DIR, kill_name),
                   "--result", win_join(TOOLS_DIR, result_name), *options, program, *(args or [])]
        self.prefix.started = True
        log_file = folder / f"runner-{self._results}.log"
        with open(log_file, "wb") as log:
            process = subprocess.Popen(self.prefix.command(command), env={**self.prefix.env(), **(env or {})},
                                       cwd=self.host_path(cwd) if cwd else None,
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        return PendingRun(process, folder / result_name, folder / kill_name, log_file, timeout_ms / 1000 + 60,
                          streams)

    def run_setup(self, timeout_ms: int = 30000, cwd: str | None = None, folder: str = SETUP_DIR,
                  args: list[str] | None = None, invisible: bool = False, output: bool = False,
                  env: dict[str, str] | None = None) -> RunResult:
        return self.run(win_join(folder, "setup.exe"), args=args, timeout_ms=timeout_ms, cwd=cwd,
                        invisible=invisible, output=output, env=env)

    def built_tool(self, file_name: str) -> Path:
        """A test tool of the same build as the setup.exe under test (Linux path)."""
        path = self.tools.setup.parent.parent / "tools" / file_name
        if not path.is_file():
            raise CaseFailure(f"{path} is not built")
        return path

    # -- the exports, through export_client.exe ------------------------------

    def call_exports(self, *calls: str, timeout: float = 60) -> ExportRun:
        """Loads a copy of setup.exe into export_client.exe and makes the calls
        (export_client's syntax, e.g. "GetItemEx:5:7:0", "GGrp:6:0001:4/0")."""
        if self.tools.export_client is None:
            raise CaseSkip("tools/export_client/ does not exist")
        if not self.tools.export_client.is_file():
            raise CaseFailure(f"{self.tools.export_client} is not built")
        folder = self._ensure_tools()
        bridge = folder / "bridge"
        if not bridge.exists():
            bridge.mkdir()
            shutil.copy2(self.tools.export_client, bridge / "export_client.exe")
            shutil.copy2(self.tools.setup, bridge / "setup.exe")
        completed = self.prefix.wine([win_join(TOOLS_DIR, "bridge", "export_client.exe"),
                                      win_join(TOOLS_DIR, "bridge", "setup.exe"), *calls], timeout=timeout)
        lines = [json.loads(line) for line in completed.stdout.splitlines() if line.startswith("{")]
        return ExportRun(completed.returncode, lines, completed.stderr)

    # -- registry ------------------------------------------------------------

    def regdump(self, key: str, root: str = "HKLM", view: str | None = None, wide: bool = False) -> dict | None:
        """The key tree as regdump.exe prints it, or None when the key is
        missing; `wide` reads it through the wide functions (string data as
        UTF-16LE)."""
        self._ensure_tools()
        args = [win_join(TOOLS_DIR, "regdump.exe"), root, key] + ([view] if view else []) + (["--wide"] if wide else [])
        completed = self.prefix.wine(args)
        if completed.returncode == 2:
            return None
        if completed.returncode != 0:
            raise WineError(f"regdump {root}\\{key} failed ({completed.returncode}): {completed.stderr.strip()}")
        return json.loads(completed.stdout)

    def reg_add(self, key: str, name: str, data: str, kind: str = "REG_SZ") -> None:
        """Sets a value below HKLM in the registry view of this lane's setup.exe
        (reg.exe of the same bitness)."""
        completed = self.prefix.wine([self.lane.reg_exe, "add", "HKLM\\" + key, "/v", name,
                                      "/t", kind, "/d", data, "/f"])
        if completed.returncode != 0:
            raise WineError(f"reg add {key} {name} failed: {completed.stdout}{completed.stderr}")

    def registry(self) -> regfile.Snapshot:
        """Everything below HKEY_LOCAL_MACHINE as the prefix saved it. Stops
        the prefix's processes first (the server writes system.reg on exit);
        the next wine call starts it again."""
        if not self.prefix.started:
            # A copy's first start still rewrites a few of Wine's own keys;
            # let that happen before the snapshot.
            self.regdump("Software\\E2eNoSuchKey")
        self.prefix.stop()
        snapshot = regfile.parse(self.prefix.path / "system.reg")
        return {k: v for k, v in snapshot.items() if not k.startswith(REGISTRY_NOISE)}

    # -- program-files folders -----------------------------------------------

    def files(self) -> dict[str, str]:
        """Every folder and file below both program-files folders: path -> kind and content hash."""
        out = {}
        for top in (self.lane.program_files, self.lane.other_program_files):
            root = self.host_path(top)
            for path in sorted(root.rglob("*")):
                key = win_join(top, *path.relative_to(root).parts)
                if path.is_symlink():
                    out[key] = "link " + str(path.readlink())
                elif path.is_dir():
                    out[key] = "dir"
                else:
                    out[key] = "file " + hashlib.sha256(path.read_bytes()).hexdigest()
        return out

    def drive_files(self, leave_out: tuple[str, ...] = ("windows",)) -> dict[str, tuple]:
        """Every folder and file on drive C: (path relative to C:\\ -> kind,
        size, modification time), without the top-level folders in `leave_out`
        (Wine's own C:\\windows by default), the harness's own C:\\e2e and the
        stand-in component's call log."""
        root = self.prefix.drive_c
        skipped = {name.lower() for name in leave_out} | {TOOLS_DIR[3:].lower()}
        call_log = (COMPONENT_DIR[3:] + "\\calls.log").lower()
        out = {}
        for path in root.rglob("*"):
            relative = path.relative_to(root)
            key = "\\".join(relative.parts)
            if relative.parts[0].lower() in skipped or key.lower() == call_log or path.is_symlink():
                continue
            if path.is_dir():
                out[key] = ("dir",)
            else:
                st = path.stat()
                out[key] = ("file", st.st_size, st.st_mtime_ns)
        return out

    def listing(self, folder: str) -> dict[str, bytes | None]:
        """Entries directly in a C:\\ folder: file name -> content, folder name -> None."""
        root = self.host_path(folder)
        return {p.name: (None if p.is_dir() else p.read_bytes()) for p in root.iterdir()}

    # -- a file or a named object held by another process ----------------------

    @contextmanager
    def file_held(self, windows_path: str, timeout_ms: int = 60000):
        """While the block runs, file_holder.exe keeps the file open without
        sharing (every other open fails with a sharing violation)."""
        with self._held(self.tools.file_holder, "file_holder", [windows_path], windows_path, timeout_ms):
            yield

    @contextmanager
    def object_held(self, kind: str, name: str, sddl: str | None = None, timeout_ms: int = 180000):
        """While the block runs, object_holder.exe keeps the named kernel
        object that it made first: `kind` "mutex" (owned: held),
        "free-mutex", "event" or "semaphore", with the security descriptor
        `sddl` (None: none). Yields what it made: the create's error code
        (0, or 183 when the name was there) and the owner and DACL in SDDL.
        It lets go after `timeout_ms` at the latest: longer than a run that
        it keeps waiting is given."""
        with self._held(self.tools.object_holder, "object_holder", [kind, name, sddl or "-"], name,
                        timeout_ms) as made:
            yield made

    @contextmanager
    def _held(self, tool: Path | None, tool_name: str, args: list[str], what: str, timeout_ms: int):
        if tool is None:
            raise CaseSkip(f"tools/{tool_name}/ does not exist")
        if not tool.is_file():
            raise CaseFailure(f"{tool} is not built")
        folder = self._ensure_tools()
        holder = folder / f"{tool_name}.exe"
        if not holder.exists():
            shutil.copy2(tool, holder)
        self._results += 1
        ready, release = f"held-{self._results}.ready", f"held-{self._results}.release"
        output = folder / f"held-{self._results}.log"
        self.prefix.started = True
        with open(output, "wb") as log:
            process = subprocess.Popen(
                self.prefix.command([win_join(TOOLS_DIR, f"{tool_name}.exe"), *args, win_join(TOOLS_DIR, ready),
                                     win_join(TOOLS_DIR, release), str(timeout_ms)]),
                env=self.prefix.env(), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            deadline = time.monotonic() + 30
            while not (folder / ready).exists():
                if process.poll() is not None:
                    raise WineError(f"{tool_name}.exe ended ({process.returncode}) without holding {what}: "
                                    + output.read_text(encoding="latin-1").strip())
                if time.monotonic() > deadline:
                    raise WineError(f"{tool_name}.exe did not hold {what} within 30 s")
                time.sleep(0.05)
            yield (folder / ready).read_text(encoding="latin-1").strip()
        finally:
            (folder / release).write_bytes(b"")
            try:
                code = process.wait(timeout=timeout_ms / 1000 + 30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise WineError(f"{tool_name}.exe did not end after its release")
        if code != 0:
            raise WineError(f"{tool_name}.exe ended with {code} (2: it was never released)")

    # -- the stand-in service --------------------------------------------------

    def service_runs(self, folder: str) -> list[dict]:
        """The runs that standin_service.exe logged in a C:\\ folder (empty when none)."""
        log = self.host_path(folder) / "service_runs.log"
        if not log.exists():
            return []
        lines = [json.loads(line) for line in log.read_text(encoding="latin-1").splitlines() if line.strip()]
        return [line for line in lines if "commandLine" in line]

    def service_registrations(self, folder: str) -> list[dict]:
        log = self.host_path(folder) / "service_runs.log"
        if not log.exists():
            return []
        lines = [json.loads(line) for line in log.read_text(encoding="latin-1").splitlines() if line.strip()]
        return [line for line in lines if "registered" in line]

    def register_service(self, name: str) -> None:
        """Registers a service of that name, as an earlier install would have."""
        folder = r"C:\PreService"
        host = self.host_path(folder)
        host.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.tools.standin_service, host / "standin_service.exe")
        write_ini(host / "standin_service.ini", {"Service": {"Name": name}})
        completed = self.prefix.wine([win_join(folder, "standin_service.exe"), "/Service"])
        registrations = self.service_registrations(folder)
        if completed.returncode != 0 or not registrations or registrations[-1]["error"] != 0:
            raise WineError(f"could not register the service {name}: {registrations}")
        check(self.service_exists(name), f"service {name} not present after registering it")

    def service_exists(self, name: str) -> bool:
        return self.regdump("System\\CurrentControlSet\\Services\\" + name) is not None

    # -- the stand-in automation component -----------------------------------

    def unregister_component(self) -> None:
        completed = self.prefix.wine([win_join(COMPONENT_DIR, "standin_component.exe"), "/UnregServer"])
        if completed.returncode != 0:
            raise WineError(f"standin_component /UnregServer failed ({completed.returncode}): {completed.stderr}")

    def install_component(self, scenario: dict[str, dict[str, str]] | None = None) -> None:
        """Copies standin_component.exe to C:\\StandIn, writes its scenario and registers it."""
        if self.tools.standin_component is None:
            raise CaseSkip("tools/standin_component/ does not exist yet")
        host = self.host_path(COMPONENT_DIR)
        host.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.tools.standin_component, host / "standin_component.exe")
        self.set_scenario(scenario or {})
        completed = self.prefix.wine([win_join(COMPONENT_DIR, "standin_component.exe"), "/RegServer"])
        if completed.returncode != 0:
            raise WineError(f"standin_component /RegServer failed ({completed.returncode}): {completed.stderr}")

    def set_scenario(self, scenario: dict[str, dict[str, str]]) -> None:
        """Writes the component's scenario.ini. Unless the scenario says
        otherwise, the server stays up for a minute after its last object:
        a case's calls then find it warm, and never one that is just ending
        (a loaded machine can stretch the pause between two calls past the
        stand-in's default idle time)."""
        sections = {"Server": {"IdleTimeoutMs": "60000"}}
        for section, keys in scenario.items():
            sections.setdefault(section, {}).update(keys)
        write_ini(self.host_path(COMPONENT_DIR) / "scenario.ini", sections)

    def component_calls(self) -> list[dict]:
        """The component's logged events ({"event": "invoke", "method": ...} and others)."""
        log = self.host_path(COMPONENT_DIR) / "calls.log"
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="latin-1").splitlines() if line.strip()]

    def component_calls_released(self, since: int = 0, timeout: float = 10) -> list[dict]:
        """The component's events after the first `since`, once every instance
        created among them is released: the component is another process,
        and the release of the last may reach its log a moment after the
        caller has ended. After `timeout` seconds, what is there."""
        deadline = time.monotonic() + timeout
        while True:
            events = self.component_calls()[since:]
            creates = sum(e.get("event") == "create" for e in events)
            releases = sum(e.get("event") == "release" for e in events)
            if releases >= creates or time.monotonic() > deadline:
                return events
            time.sleep(0.1)

    def invoked_methods(self) -> list[str]:
        return [e.get("method") for e in self.component_calls() if e.get("event") == "invoke"]


def _normalized_locale(name: str) -> str:
    """"ja_JP.UTF-8" and "ja_JP.utf8" are one locale."""
    return name.lower().replace("-", "")


@functools.lru_cache(maxsize=None)
def _installed_locales() -> frozenset[str]:
    try:
        listed = subprocess.run(["locale", "-a"], capture_output=True, text=True, timeout=30).stdout
    except (OSError, subprocess.TimeoutExpired):
        return frozenset()
    return frozenset(_normalized_locale(line.strip()) for line in listed.splitlines() if line.strip())


def write_ini(path: Path, sections: dict[str, dict[str, str]], encoding: str = "latin-1") -> None:
    """An INI file; "utf-16" writes UTF-16LE after its byte-order mark."""
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{key}={value}" for key, value in keys.items())
        lines.append("")
    text = "\r\n".join(lines)
    path.parent.mkdir(parents=True, exist_ok=True)
    if encoding == "utf-16":
        path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    else:
        path.write_bytes(text.encode(encoding))

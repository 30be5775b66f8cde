"""Wine prefixes for the end-to-end cases.

Every prefix belongs to a lane (lanes.py): the loader that runs its
programs, and what a program of that bitness sees in it. One template
prefix is booted per build tree (cached under
<build>/e2e/template, booted again when missing or damaged) and every case
gets a fresh copy of it: `cp -al` (hard links, fast) followed by real copies
of the few files that Wine rewrites in place, so that nothing a case does can
reach the template through a shared inode. A manifest of the template's
files (size and modification time) is checked at the start of each session;
a template changed behind our back is booted again.
"""

from __future__ import annotations

import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from .lanes import Lane

BASE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono or Gecko install prompts
}

# Files of a prefix that Wine writes in place; each case gets copies.
PRIVATE_FILES = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp", "wineserver")
PRIVATE_GLOBS = ("drive_c/windows/*.ini",)

TEMPLATE_VERSION = 4  # raise when the way the template is made changes


class WineError(RuntimeError):
    pass


def wine_env(prefix: Path, lane: Lane) -> dict[str, str]:
    env = dict(os.environ)
    env.update(BASE_ENV)
    # Wine's own diagnostics, for looking into a failure (say "err+all"):
    # they go to the output of the programs a case runs.
    if os.environ.get("E2E_WINEDEBUG"):
        env["WINEDEBUG"] = os.environ["E2E_WINEDEBUG"]
    env["WINEPREFIX"] = str(prefix)
    env.pop("WINEARCH", None)
    env.pop("WINESERVER", None)
    return lane.apply(env)


def run_detached(command: list[str], env: dict[str, str], timeout: float,
                 cwd: Path | None = None) -> subprocess.CompletedProcess:
    """subprocess.run with the output captured in files (see Prefix.wine)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            completed = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=err, timeout=timeout)
        except subprocess.TimeoutExpired as error:
            raise WineError(f"{' '.join(command[:2])} did not end within {timeout} s") from error
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, completed.returncode,
                                           out.read().decode("latin-1"), err.read().decode("latin-1"))


def _manifest(root: Path) -> dict[str, list[int]]:
    files = {}
    for path in root.rglob("*"):
        if path.is_file() and not path.is_symlink():
            st = path.stat()
            files[str(path.relative_to(root))] = [st.st_size, st.st_mtime_ns]
    return files


class Prefix:
    """One Wine prefix; `wine` runs programs in it through the lane's loader,
    `stop` ends its server."""

    def __init__(self, path: Path, lane: Lane):
        self.path = path
        self.lane = lane
        self.started = False  # whether a program has run in it yet
        # The Unix locale its programs run in (LC_ALL), which gives them
        # their ANSI code page: None inherits the harness's own.
        self.locale: str | None = None

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def env(self) -> dict[str, str]:
        env = wine_env(self.path, self.lane)
        if self.locale:
            env["LC_ALL"] = self.locale
        return env

    def command(self, args: list[str]) -> list[str]:
        """The host command line that runs a Windows program in this prefix."""
        return self.lane.wine(*args)

    def wine(self, args: list[str], timeout: float = 60, cwd: Path | None = None) -> subprocess.CompletedProcess:
        """Runs `<loader> <args>`; returns the completed process (text output).

        The output goes through files, not pipes: the servers that wine
        starts inherit the handles and would hold a pipe open for seconds
        after the program itself has ended."""
        self.started = True
        return run_detached(self.command(args), self.env(), timeout, cwd)

    def stop(self) -> None:
        """Ends every process of this prefix and its wineserver, which saves the registry."""
        run_detached([*self.lane.server, "-k"], self.env(), 60)
        run_detached([*self.lane.server, "-w"], self.env(), 60)


class Template:
    """The booted prefix that every case copies."""

    def __init__(self, cache_dir: Path, lane: Lane):
        self.cache_dir = cache_dir
        self.lane = lane
        self.prefix_path = cache_dir / "prefix"
        self.manifest_path = cache_dir / "manifest.json"

    def ensure(self, log=print) -> None:
        self.cache_dir.mkdir(parents=True, exist_ok=True)
        with open(self.cache_dir / "lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            problem = self.problem()
            if problem is None:
                return
            log(f"e2e: booting the template prefix of lane {self.lane.name} ({problem}); this takes about 20 s")
            started = time.monotonic()
            self._boot()
            log(f"e2e: template prefix ready in {time.monotonic() - started:.1f} s")

    def problem(self) -> str | None:
        if not self.manifest_path.exists() or not self.prefix_path.exists():
            return "none cached"
        try:
            recorded = json.loads(self.manifest_path.read_text())
        except ValueError:
            return "manifest unreadable"
        if recorded.get("version") != TEMPLATE_VERSION or recorded.get("lane") != self.lane.name:
            return "made by an older harness"
        if recorded.get("files") != _manifest(self.prefix_path):
            return "its files changed since it was made"
        return None

    def _boot(self) -> None:
        if self.manifest_path.exists():
            self.manifest_path.unlink()
        staging = self.cache_dir / "prefix.new"
        for stale in (staging, self.prefix_path):
            if stale.exists():
                Prefix(stale, self.lane).stop()
                shutil.rmtree(stale)
        prefix = Prefix(staging, self.lane)
        staging.mkdir()
        result = run_detached(prefix.command(["wineboot", "-i"]), prefix.env(), 300)
        if result.returncode != 0:
            prefix.stop()
            raise WineError(f"wineboot -i failed ({result.returncode}): {result.stderr[-2000:]}")
        # Windows that the X server does not manage: without a window
        # manager (Xvfb) Wine waits 2 s for every managed window it hides.
        prefix.wine(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
        prefix.stop()
        # One more start and stop, so that what Wine settles on its first
        # starts (device keys and the like) is in the template already.
        prefix.wine(["cmd", "/c", "exit"])
        prefix.stop()
        if not (staging / "system.reg").exists():
            raise WineError("the booted prefix has no system.reg")
        staging.rename(self.prefix_path)
        self.manifest_path.write_text(json.dumps({"version": TEMPLATE_VERSION, "lane": self.lane.name,
                                                  "files": _manifest(self.prefix_path)}))

    def copy_to(self, target: Path) -> Prefix:
        """A fresh prefix at `target` that shares no written file with the template."""
        if target.exists():
            raise WineError(f"{target} exists already")
        subprocess.run(["cp", "-al", str(self.prefix_path), str(target)], check=True)
        private = [target / name for name in PRIVATE_FILES]
        for pattern in PRIVATE_GLOBS:
            private.extend(target.glob(pattern))
        for path in private:
            if path.exists():
                source = self.prefix_path / path.relative_to(target)
                path.unlink()
                shutil.copy2(source, path)
        return Prefix(target, self.lane)

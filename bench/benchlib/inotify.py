"""Watches one folder with Linux inotify and timestamps when files in it are
created, closed after writing or moved in, so that the copy inside a whole
run can be timed from outside the process, the same way for every program
(setup.exe writes each file in its staging folder, made in the watched
folder, and moves it in when complete; a floor program writes it in place).

The reader thread blocks in read(2) and stamps each batch of events with
time.monotonic_ns() as it wakes; while a copy runs the events arrive one or
two per file, so the stamps lag the events by the thread's wake-up time
(microseconds, a few milliseconds under heavy load).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import shutil
import struct
import threading
import time
from dataclasses import dataclass
from pathlib import Path

IN_CLOSE_WRITE = 0x00000008
IN_MOVED_TO = 0x00000080
IN_CREATE = 0x00000100
# setup.exe's staging folder in the install folder: its creation starts the copy.
STAGING = "~FanServiceSetup.staging"
IN_Q_OVERFLOW = 0x00004000

_HEADER = struct.Struct("iIII")  # wd, mask, cookie, len


class InotifyError(RuntimeError):
    pass


class FolderWatch:
    """Events (stamp_ns, mask, name) of one folder, collected from start to stop."""

    SENTINEL = ".bench-watch-sentinel"

    def __init__(self, folder: Path):
        self.folder = folder
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        self._fd = libc.inotify_init1(os.O_CLOEXEC)
        if self._fd < 0:
            raise InotifyError(f"inotify_init1: errno {ctypes.get_errno()}")
        wd = libc.inotify_add_watch(self._fd, os.fsencode(folder), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO)
        if wd < 0:
            os.close(self._fd)
            raise InotifyError(f"inotify_add_watch {folder}: errno {ctypes.get_errno()}")
        self._lock = threading.Lock()
        self._events: list[tuple[int, int, str]] = []
        self._overflow = False
        self._closing = False
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self) -> None:
        while True:
            try:
                data = os.read(self._fd, 1 << 16)
            except OSError:
                return
            stamp = time.monotonic_ns()
            if not data:
                return
            batch = []
            offset = 0
            while offset + _HEADER.size <= len(data):
                _wd, mask, _cookie, length = _HEADER.unpack_from(data, offset)
                raw = data[offset + _HEADER.size: offset + _HEADER.size + length]
                offset += _HEADER.size + length
                batch.append((stamp, mask, raw.split(b"\0", 1)[0].decode("latin-1")))
            with self._lock:
                for event in batch:
                    if event[1] & IN_Q_OVERFLOW:
                        self._overflow = True
                self._events.extend(batch)
            if self._closing and any(name == self.SENTINEL + ".close" for _, _, name in batch):
                return

    def take(self) -> list[tuple[int, int, str]]:
        """The events seen so far, after making sure that everything that
        happened in the folder before this call has been read: a sentinel file
        is written and its events awaited. Clears the list."""
        sentinel = self.folder / self.SENTINEL
        sentinel.write_bytes(b"")
        deadline = time.monotonic() + 10
        while True:
            with self._lock:
                if any(name == self.SENTINEL and mask & IN_CLOSE_WRITE for _, mask, name in self._events):
                    events = [e for e in self._events if e[2] != self.SENTINEL]
                    overflow = self._overflow
                    self._events = []
                    self._overflow = False
                    break
            if time.monotonic() > deadline:
                raise InotifyError("the sentinel's events did not arrive")
            time.sleep(0.002)
        sentinel.unlink()
        if overflow:
            raise InotifyError("the inotify queue overflowed")
        return events

    def empty(self) -> None:
        """Removes every file of the folder (the folder itself stays), lets
        no write-back of earlier runs fall into the next one, and drops the
        events so far: what the next take() returns is the next run's."""
        for old in self.folder.iterdir():
            if old.is_dir() and not old.is_symlink():
                shutil.rmtree(old)
            else:
                old.unlink()
        os.sync()
        self.take()

    def close(self) -> None:
        self._closing = True
        closer = self.folder / (self.SENTINEL + ".close")
        try:
            closer.write_bytes(b"")
            self._thread.join(5)
            closer.unlink()
        finally:
            os.close(self._fd)


@dataclass
class CopyProfile:
    span: float  # seconds from the first creation to the last file in place
    files: int  # how many of the names were closed after writing, or moved in
    first_tenth: float  # seconds per file over the first tenth of the files (by close time)
    last_tenth: float  # the same over the last tenth


def copy_profile(events: list[tuple[int, int, str]], names: set[str]) -> CopyProfile:
    """The copy of `names` into the watched folder, as its events show it."""
    nan = float("nan")
    created = [stamp for stamp, mask, name in events if mask & IN_CREATE and (name in names or name == STAGING)]
    closed: dict[str, int] = {}
    for stamp, mask, name in events:
        if mask & (IN_CLOSE_WRITE | IN_MOVED_TO) and name in names:
            closed[name] = stamp
    if not created or not closed:
        return CopyProfile(nan, 0, nan, nan)
    stamps = sorted(closed.values())
    tenth = len(stamps) // 10
    first = last = nan
    if tenth >= 1:
        first = (stamps[tenth] - stamps[0]) / tenth / 1e9
        last = (stamps[-1] - stamps[-1 - tenth]) / tenth / 1e9
    return CopyProfile((stamps[-1] - min(created)) / 1e9, len(closed), first, last)

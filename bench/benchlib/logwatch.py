"""Tells from the stand-in component's calls.log whether a client hangs in
the middle of a call: the log's last event is one that the same call follows
up within milliseconds (the creation of an instance, a name lookup, a method
call or its return, each followed by the next step and finally the release),
and the file has not changed for a while."""

from __future__ import annotations

import json
import time
from pathlib import Path


class LogWatch:
    def __init__(self, path: Path):
        self.path = path
        self._size = self._current_size()
        self._since = time.monotonic()

    def _current_size(self) -> int:
        try:
            return self.path.stat().st_size
        except OSError:
            return -1

    def _last_event(self) -> str | None:
        try:
            with open(self.path, "rb") as log:
                log.seek(max(0, self._size - 65536))
                tail = log.read().decode("latin-1").strip().splitlines()
        except OSError:
            return None
        if not tail:
            return None
        try:
            return json.loads(tail[-1]).get("event")
        except ValueError:
            return None  # a line cut in the middle of being written

    MID_CALL = ("create", "lookup", "invoke", "return")

    def stuck_mid_call(self, seconds: float) -> bool:
        size = self._current_size()
        now = time.monotonic()
        if size != self._size:
            self._size = size
            self._since = now
            return False
        return now - self._since >= seconds and self._last_event() in self.MID_CALL

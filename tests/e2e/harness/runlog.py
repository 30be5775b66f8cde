"""The run log that `setup.exe /LOG` writes: UTF-8 after its byte-order mark,
one line per event, "YYYY-MM-DD HH:MM:SS.mmm text" and CRLF, the last one
"outcome NAME: exit code ..."."""

from __future__ import annotations

import re

from .context import Context, check

LOG = r"C:\Logs\setup.log"  # where the cases have setup.exe write its log
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$")


def log_lines(ctx: Context, path: str = LOG, running: bool = False) -> list[str]:
    """The lines of the run log at the C:\\ path `path`, without their time
    stamps. `running`: the log of a run still going on, read as far as it
    is written (no file yet, or a line not yet whole, is left out)."""
    host = ctx.host_path(path)
    if running and not host.exists():
        return []
    data = host.read_bytes()
    if running:
        end = data.rfind(b"\r\n")
        if end < 0:
            return []
        data = data[:end + 2]
    check(data.startswith(b"\xef\xbb\xbf"), f"{path} does not start with the UTF-8 byte-order mark: {data[:8]!r}")
    raw = data[3:].decode("utf-8")
    check(raw.endswith("\r\n"), f"{path} does not end with a whole line")
    lines = []
    for line in raw[:-2].split("\r\n"):
        match = LINE.match(line)
        check(match, f"a line without its time stamp: {line!r}")
        lines.append(match.group(1))
    return lines


def one_line(lines: list[str], pattern: str, what: str) -> str:
    """The one line that matches `pattern`; fails the case when there is none, or more."""
    found = [line for line in lines if re.search(pattern, line)]
    check(len(found) == 1, f"{what}: expected one line matching {pattern!r}, found {found!r} in\n  "
          + "\n  ".join(lines))
    return found[0]

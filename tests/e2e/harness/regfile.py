"""Reads the registry files that wineserver saves (system.reg, user.reg).

A file becomes {key path: {value name: raw value text}}. Key modification
times ("[Key] 1234" and "#time=") are dropped, so two snapshots compare equal
when no key or value was added, removed or changed.
"""

from __future__ import annotations

from pathlib import Path

Snapshot = dict[str, dict[str, str]]


def _unescape_key(text: str) -> str:
    return text.replace("\\\\", "\\")


def _split_value(line: str) -> tuple[str, str]:
    """'"Name"=data' or '@=data' -> (name, data); name "@" is the default value."""
    if line.startswith("@="):
        return "@", line[2:]
    assert line.startswith('"'), line
    i = 1
    name = []
    while line[i] != '"':
        if line[i] == "\\":
            i += 1
        name.append(line[i])
        i += 1
    assert line[i + 1] == "=", line
    return "".join(name), line[i + 2 :]


def parse(path: Path) -> Snapshot:
    keys: Snapshot = {}
    current: dict[str, str] | None = None
    pending = ""
    for raw in path.read_text(encoding="utf-8", errors="surrogateescape").splitlines():
        if pending:
            raw = pending + raw.lstrip()
            pending = ""
        if raw.endswith("\\") and current is not None and not raw.startswith("["):
            pending = raw[:-1]  # a hex value continued on the next line
            continue
        if raw.startswith("["):
            end = raw.rindex("]")
            current = keys.setdefault(_unescape_key(raw[1:end]), {})
        elif raw.startswith("#") or raw.startswith(";") or not raw.strip() or current is None:
            continue  # "#time=", "#class=", "#link" markers, comments, header
        else:
            name, data = _split_value(raw)
            current[name] = data
    return keys


def diff(before: Snapshot, after: Snapshot) -> list[str]:
    """Human-readable differences, one line each; empty when equal."""
    out = []
    for key in sorted(before.keys() - after.keys()):
        out.append(f"key removed: {key}")
    for key in sorted(after.keys() - before.keys()):
        out.append(f"key added: {key} {after[key]}")
    for key in sorted(before.keys() & after.keys()):
        old, new = before[key], after[key]
        for name in sorted(old.keys() | new.keys()):
            if old.get(name) != new.get(name):
                out.append(f"value changed: {key} [{name}] {old.get(name)!r} -> {new.get(name)!r}")
    return out

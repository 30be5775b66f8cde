"""Calls of setup.exe's nine exports through export_client.exe, and what each
call should have sent to the component and left in the caller's memory.

A `Call` is written in export_client's syntax (`Call.text`). The caller's
buffer is `capacity` bytes: the call's `data`, then 0xCC, followed by 16
canary bytes 0xA5 that the export must never touch. The length variable
starts at `length`, which is at the same time the number of bytes sent and
the capacity the export knows of; export_client's buffer may be larger, and
the bytes past `length` must stay as they were too.

What comes back is judged against what the component reports it left (the
"return" event of its call log): the array it left (when it is a
VT_ARRAY|VT_I1 array) gives the first min(length on entry, array size,
length left) bytes of the buffer, the rest of the buffer stays as sent, and
the length variable holds what the component left.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field

from .context import check, check_equal

VT_I4 = 3
VT_BSTR = 8
VT_I1 = 16
VT_UI1 = 17
VT_UI4 = 19
VT_ARRAY = 0x2000
VT_BYREF = 0x4000
VT_VARIANT = 12
BYTE_ARRAY = VT_ARRAY | VT_I1  # 0x2010
VALUE_REF = VT_BYREF | VT_UI4  # 0x4013
ARRAY_REF = VT_BYREF | VT_VARIANT  # 0x400C

FILLER = 0xCC
GROUP_MARKER = 0xE1
SCALAR = ("Init", "GetItem", "GetItemEx", "SetItem")
BUFFER = ("GetItemBuffer", "SetItemBuffer", "Mbif", "GGrp", "CallMethod")
ALL_METHODS = tuple("iAcpi" + name for name in SCALAR + BUFFER)


@dataclass
class Call:
    function: str
    numbers: tuple[int, ...] = ()  # the leading 32-bit values
    value: int | None = 0  # GetItem, GetItemEx: the variable's start value; None: a null pointer
    data: bytes | None = b""  # buffer functions: the buffer's first bytes; None: a null buffer
    capacity: int | None = None  # the buffer's size (default: len(data))
    length: int | None = -1  # the length variable's start value (-1: the capacity); None: a null pointer
    selector: bytes | None = b"\0\0\0\0"  # CallMethod: the 4 bytes; None: a null pointer

    def __post_init__(self):
        if self.capacity is None:
            self.capacity = len(self.data or b"")
        if self.length == -1:
            self.length = self.capacity

    @property
    def method(self) -> str:
        return "iAcpi" + self.function

    @property
    def is_buffer(self) -> bool:
        return self.function in BUFFER

    @property
    def text(self) -> str:
        parts = [self.function, *(f"{n:#x}" for n in self.numbers)]
        if self.function == "CallMethod":
            parts.append("null" if self.selector is None else self.selector.hex())
        if self.function in ("GetItem", "GetItemEx"):
            parts.append("null" if self.value is None else f"{self.value:#x}")
        if self.is_buffer:
            parts.append("null" if self.data is None else self.data.hex())
            if self.length is None:
                parts.append("nulllen")
            else:
                parts.append(f"{self.capacity}/{self.length}")
        return ":".join(parts)

    # -- what the export does before the call --------------------------------

    def buffer_before(self) -> bytes:
        """The caller's buffer as it is set up."""
        return (self.data or b"").ljust(self.capacity, bytes([FILLER]))

    def reaches_component(self) -> bool:
        """False for the calls the export refuses before it creates an instance."""
        if self.function in ("GetItem", "GetItemEx") and self.value is None:
            return False
        if self.function == "CallMethod" and self.selector is None:
            return False
        if self.is_buffer:
            if self.length is None or (self.data is None and self.length != 0):
                return False
        return True

    def buffer_sent(self) -> bytes:
        """The caller's buffer once the export has made its array: AcpiGGrp
        marks the first byte when at least one byte is sent."""
        buffer = bytearray(self.buffer_before())
        if self.function == "GGrp" and self.data is not None and self.length >= 1:
            buffer[0] = GROUP_MARKER
        return bytes(buffer)

    def expected_arguments(self) -> list[dict]:
        """The DISPPARAMS the component should see, index 0 first (the last parameter)."""
        def ui4(n: int) -> dict:
            return {"vt": VT_UI4, "ui4": n & 0xFFFFFFFF}

        if self.function == "Init":
            return []
        if self.function in ("GetItem", "GetItemEx"):
            return [{"vt": VALUE_REF, "ui4": self.value}] + [ui4(n) for n in reversed(self.numbers)]
        if self.function == "SetItem":
            return [ui4(n) for n in reversed(self.numbers)]
        sent = self.buffer_sent()[: self.length]
        array = {"vt": ARRAY_REF, "ref": {"vt": BYTE_ARRAY, "dims": 1, "elemSize": 1, "elemVt": VT_I1, "lbound": 0,
                                          "count": self.length, "hex": sent.hex()}}
        leading = list(self.numbers)
        if self.function == "CallMethod":
            leading = [struct.unpack("<I", self.selector)[0]]
        return [{"vt": VALUE_REF, "ui4": self.length}, array] + [ui4(n) for n in reversed(leading)]


def call(function: str, *numbers: int, **kwargs) -> Call:
    return Call(function, tuple(numbers), **kwargs)


@dataclass
class ComponentCall:
    """The events of one export's visit to the component, from its call log."""

    method: str
    lookup: dict
    invoke: dict | None = None
    returned: dict | None = None
    died: bool = False
    other: list[dict] = field(default_factory=list)


def split_calls(events: list[dict]) -> list[ComponentCall]:
    """Groups the call log by name lookup: each export that reaches the
    component makes exactly one lookup, then (when the name is known) one
    invoke."""
    visits: list[ComponentCall] = []
    for event in events:
        kind = event.get("event")
        if kind == "lookup":
            visits.append(ComponentCall(event.get("name"), event))
        elif not visits:
            continue
        elif kind == "invoke":
            visits[-1].invoke = event
        elif kind == "return":
            visits[-1].returned = event
        elif kind == "die":
            visits[-1].died = True
        elif kind in ("reject", "scenario-error"):
            visits[-1].other.append(event)
    return visits


def left_behind(visit: ComponentCall | None) -> tuple[bytes | None, int | None]:
    """(bytes of the VT_ARRAY|VT_I1 array the component left, or None when it
    left something else; the length it left), from its "return" event;
    (None, None) when it returned nothing (no call, or it died)."""
    if visit is None or visit.returned is None:
        return None, None
    args = visit.returned["args"]
    length = args[0].get("ui4")
    ref = args[1].get("ref", {})
    if ref.get("vt") != BYTE_ARRAY:
        return None, length
    check(not ref.get("truncated"), "the component's log truncated the array it left")
    return bytes.fromhex(ref.get("hex", "")), length


def expected_buffer(c: Call, visit: ComponentCall | None) -> tuple[str | None, int | None]:
    """(buffer hex, length) the caller should see after a buffer call that
    the export made (reached the component or not)."""
    sent = bytearray(c.buffer_sent())
    array, length_left = left_behind(visit)
    if length_left is None:
        length_left = c.length  # nobody wrote the variable
    if array is not None:
        n = min(c.length, len(array), length_left)
        sent[:n] = array[:n]
    return (None if c.data is None else sent.hex()), length_left


def check_untouched(c: Call, result: dict, where: str) -> None:
    """The call left every byte of the caller's memory as it was set up."""
    if c.function in ("GetItem", "GetItemEx"):
        check_equal(result.get("value"), c.value, f"{where}: value variable")
    if c.is_buffer:
        check_equal(result.get("buffer"), None if c.data is None else c.buffer_before().hex(), f"{where}: buffer")
        check_equal(result.get("length"), c.length, f"{where}: length variable")
    if c.is_buffer and c.data is not None:
        check_equal(result.get("canaryIntact"), True, f"{where}: bytes after the buffer intact")
    if c.function == "CallMethod":
        check_equal(result.get("selector"), None if c.selector is None else c.selector.hex(), f"{where}: selector")


def check_no_crash(run, calls: list[Call], where: str) -> None:
    crashes = [r for r in run.calls if "crash" in r]
    check(not crashes, f"{where}: an export crashed: {crashes}")
    check_equal(run.exit_code, 0, f"{where}: export_client exit code (stderr: {run.stderr.strip()[-300:]})")
    check_equal([r.get("input") for r in run.calls], [c.text for c in calls], f"{where}: calls made")

"""The firmware package that "iAcpiMbif" returns, and a reference reading of it.

Layout (little-endian): 4 bytes not examined, u32 N, then N elements back to
back. An element: u16 not examined, u16 L, u32 value, then its data; it
takes 12 bytes when L < 5 and 8 + L bytes otherwise (no rounding). setup.exe
reads the value of element 3 when N >= 3 and lets the run go on only when
(value & 0xFF00) >= 0x200.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass

BUFFER_SIZE = 4096


@dataclass
class Element:
    value: int
    length: int = 4  # L
    tag: int = 0  # the u16 that is not examined
    fill: int = 0xA5  # byte used for the element's data after the value

    def size(self) -> int:
        return 12 if self.length < 5 else 8 + self.length

    def encode(self) -> bytes:
        head = struct.pack("<HHI", self.tag, self.length, self.value & 0xFFFFFFFF)
        return head + bytes([self.fill]) * (self.size() - 8)


def package(elements: list[Element], count: int | None = None, header: int = 0x4D424946) -> bytes:
    """The package bytes; `count` is N (default: the number of elements)."""
    n = len(elements) if count is None else count
    return struct.pack("<II", header, n) + b"".join(e.encode() for e in elements)


def simple_package(third_value: int, count: int = 3) -> bytes:
    """Three plain elements whose third holds `third_value`."""
    return package([Element(0x11111111), Element(0x22222222), Element(third_value)], count=count)


def gate_passes(word: int) -> bool:
    return (word & 0xFF00) >= 0x200


WALKS = ("exact", "round4", "fixed12")


def read_word(data: bytes, walk: str = "exact") -> int:
    """The firmware word as setup.exe should read it from `data` (0 when none).

    The other walks model faulty readings that cases rule out: "round4"
    rounds element sizes up to a multiple of 4, "fixed12" takes every element
    as 12 bytes whatever its L.
    """
    assert walk in WALKS, walk
    buffer = data.ljust(BUFFER_SIZE, b"\0")[:BUFFER_SIZE]
    (n,) = struct.unpack_from("<I", buffer, 4)
    offset = 8
    for _ in range(2):
        if offset + 4 > BUFFER_SIZE:
            return 0
        (length,) = struct.unpack_from("<H", buffer, offset + 2)
        size = 12 if length < 5 or walk == "fixed12" else 8 + length
        if walk == "round4":
            size = -(-size // 4) * 4
        offset += size
    if n < 3 or offset + 8 > BUFFER_SIZE:
        return 0
    return struct.unpack_from("<I", buffer, offset + 4)[0]

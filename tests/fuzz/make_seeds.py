#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a meaningful case laid out the way its target reads its input.
Targets that use FuzzedDataProvider read strings and byte runs from the front
of the input and numbers and flags from its end; Seed below builds both ends.
Files named regression-* reproduce faults the fuzzers found and that are
fixed; they stay in the corpus so that the faults do not come back.

Usage: tests/fuzz/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Seed:
    """An input for FuzzedDataProvider: front bytes and end-read numbers."""

    def __init__(self):
        self.front = b""
        self.tail = []  # bytes in the order they are read, from the end backwards

    def string(self, text):
        """ConsumeRandomLengthString: a backslash is doubled, '\\|' ends it."""
        raw = text.encode("latin-1") if isinstance(text, str) else text
        self.front += raw.replace(b"\\", b"\\\\") + b"\\|"
        return self

    def bytes(self, raw):
        """ConsumeBytes / ConsumeRemainingBytes."""
        self.front += raw
        return self

    def number(self, value, low, high):
        """ConsumeIntegralInRange(low, high), also ConsumeEnum and ConsumeBool."""
        span = high - low
        raw = value - low
        assert 0 <= raw <= span
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        # The first byte read becomes the highest.
        self.tail += [(raw >> (8 * (count - 1 - i))) & 0xFF for i in range(count)]
        return self

    def flag(self, value):
        return self.number(1 if value else 0, 0, 255)

    def u32(self, value):
        return self.number(value & 0xFFFFFFFF, 0, 0xFFFFFFFF)

    def i32(self, value):
        return self.number(value, -(1 << 31), (1 << 31) - 1)

    def data(self):
        return self.front + bytes(reversed(self.tail))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- firmware packages -------------------------------------------------------

def element(value, length=4):
    size = 12 if length < 5 else 8 + length
    return struct.pack("<HHI", 0, length, value).ljust(size, b"\0")


def package(count, elements):
    return struct.pack("<II", 0, count) + b"".join(elements)


GATE_PASSES = package(3, [element(1), element(2), element(0x200)])
LONG_SECOND = package(3, [element(1), element(2, 16), element(0x1FF)])
ODD_LENGTHS = package(6, [element(1, 5), element(2, 6), element(0x0203, 7), element(4), element(5), element(6)])


def mbif_walk():
    write("mbif_walk", "third-element-0x200", bytes([1]) + GATE_PASSES)
    write("mbif_walk", "second-element-16-bytes", bytes([1]) + LONG_SECOND)
    write("mbif_walk", "lengths-5-6-7-capacity-4", bytes([4]) + ODD_LENGTHS)
    write("mbif_walk", "two-elements-only", bytes([1]) + package(2, [element(1), element(2)]))
    write("mbif_walk", "probe-buffer-4096", bytes([1]) + GATE_PASSES.ljust(4096, b"\0"))
    write("mbif_walk", "value-at-the-very-end", bytes([2]) + package(4, [element(1), element(2), element(3)])[:-4])


# --- version texts -------------------------------------------------------------

def version_compare():
    cases = {
        "numbers-are-text": ("1.0.9", "1.0.10", "1.1"),
        "prefix-is-older": ("1.2", "1.2.0", "1.2.1"),
        "high-byte-sorts-first": ("\xe9t\xe9", "1", "2"),
        "equal": ("2.1.0", "2.1.0", "2.1.0"),
        "empty": ("", "", "1.0"),
    }
    for name, (a, b, c) in cases.items():
        write("version_compare", name, Seed().string(a).string(b).bytes(c.encode("latin-1")).data())


# --- setup.ini -------------------------------------------------------------------

SETUP_INI = (b"[Common]\r\n"
             b"ServiceName=FanCtrlService\r\n"
             b"InstallPath=Vendor\\Fan Service\r\n"
             b"RegistryKey=SOFTWARE\\Vendor\\FanService\r\n"
             b"Execution=FanSvc.exe\r\n"
             b"version=2.1.0\r\n")


def ini_reader():
    write("ini_reader", "setup-ini", b"\x00" + SETUP_INI)
    write("ini_reader", "value-lengths-126-127-255",
          b"\x00[Common]\nA=" + b"a" * 126 + b"\nB=" + b"b" * 127 + b"\nC=" + b"c" * 255 + b"\n")
    write("ini_reader", "quotes-and-cr-only-lines",
          b"\x00[Common]\rversion=\"2.0\"\rInstallPath='x'\rExecution=\"open\r ServiceName =  svc  \r")
    write("ini_reader", "marker-and-missing-keys",
          b"\x01[Other]\nversion=1\n[common]\nversion=error737\nRegistryKey=\nExecution\n;InstallPath=x\n")
    write("ini_reader", "nul-bytes-and-bom", b"\x00\xef\xbb\xbf[Common]\nversion=1.\x002\nServiceName=a\x00\n")
    write("ini_reader", "utf16-file", b"\x00" + b"\xff\xfe" + "[Common]\r\nversion=3.0\r\n".encode("utf-16-le"))
    write("ini_reader", "line-of-64-kib", b"\xf6" + SETUP_INI)
    write("ini_reader", "megabyte-line", b"\xfe" + SETUP_INI)
    write("ini_reader", "no-file", b"\x02")

    # Reproducer. The profile service (Wine's, which the in-memory platform
    # follows) cuts a quoted value whose unquoted length is size - 1 to
    # size - 2 characters and reports size - 2, which reads as complete: a
    # value of 127 characters in quotes is read as 126.
    write("ini_reader", "regression-quoted-value-127-read-one-short",
          b"\x00[Common]\nversion=\"" + b"7" * 127 + b"\"\n")


# --- command lines ---------------------------------------------------------------

def command_line_seed(folder, executable, rest=b"", options=0):
    return Seed().string(folder).string(executable).bytes(rest).number(options, 0, 255).data()


def command_line():
    write("command_line", "program-files-svc-exe",
          command_line_seed("C:\\Program Files (x86)\\Vendor\\Tool\\2.1.0\\", "svc.exe", options=1))
    write("command_line", "one-character-unquoted", command_line_seed("", "s", options=1))
    write("command_line", "already-quoted", command_line_seed("C:\\inst\\", "\"q.exe\"", options=1))
    folder = "C:\\" + "d" * 497 + "\\"  # the command line is 519 bytes: it just fits
    write("command_line", "fits-exactly", command_line_seed(folder, "svc.exe", options=1))
    write("command_line", "one-byte-too-long", command_line_seed(folder + "e", "svc.exe", options=1))
    # Reproducer: Execution quoted, 255 characters inside the quotes; the
    # service executable is started as a name one character short.
    write("command_line", "regression-quoted-execution-255-read-one-short",
          command_line_seed("C:\\inst\\", "\"" + "e" * 251 + ".exe\"", options=1))
    write("command_line", "execution-missing",
          command_line_seed("C:\\inst\\", "unused", rest=b"[Common]\nversion=1\n", options=2))
    # Values that break Execution's rule, with a program where they lead:
    # nothing may be started.
    write("command_line", "execution-climbs-out",
          command_line_seed("C:\\Program Files\\Fan\\1.0\\", "..\\..\\..\\Users\\Public\\x.exe", options=1))
    write("command_line", "execution-ends-in-quote", command_line_seed("C:\\Program Files\\Fan\\", "svc.exe\"",
                                                                       options=1))


# --- paths -------------------------------------------------------------------------

def paths_seed(text, module, root, second="", options=0, length=None, tail=()):
    seed = Seed().string(text).string(module).string(root).string(second).number(options, 0, 255)
    if length is not None:
        seed.number(length, 0, 70000)
    for value in tail:
        seed.flag(value)
    return seed.data()


def paths():
    write("paths", "tree-and-module", paths_seed("D:\\Tools\\Setup\\setup.exe", "D:\\Tools\\Setup\\setup.exe",
                                                 "C:\\tree", tail=(0, 0)))
    write("paths", "trailing-backslashes-files-only",
          paths_seed("a:b:c", "D:setup.exe", "C:\\tree\\\\\\", tail=(0, 1)))
    write("paths", "empty-root-then-close", paths_seed("", "setup.exe", "", options=2, tail=(0, 0)))
    write("paths", "opened-again", paths_seed("C:\\x\\", "C:\\setup\\setup.exe", "C:\\tree", "C:\\tree\\S\\",
                                             options=4, tail=(1, 0, 0)))
    write("paths", "module-path-200", paths_seed("x", "C:\\" + "m" * 20 + "\\", "C:\\tree\\empty", options=1,
                                                length=200))
    write("paths", "module-path-65536", paths_seed("x", "C:\\long\\", "D:data", options=1, length=65536))
    write("paths", "search-fails", paths_seed("x", "C:\\a.exe", "C:\\tree", options=8, tail=(1, 1, 2, 0)))
    write("paths", "doubled-backslash-missing", paths_seed("C:\\a\\\\b", "C:\\a.exe", "C:\\tree\\\\missing\\"))
    # InstallPath values: one that climbs out, one as vendors write it.
    write("paths", "install-path-parent", paths_seed("..\\Fan\\", "C:\\a.exe", "Vendor\\Fan Control\\"))
    # A root that is a bare mask of many '*' once cut at its NUL: the
    # platform's wildcard match once took exponential time on it.
    write("paths", "mask-of-stars", paths_seed("x", "C:\\m", "*" * 51 + "mmmmmmmummm\x01\0\0\0pty"))


# --- the bridge's buffer exports ------------------------------------------------------

EXPORTS = {"GetItemBuffer": 0, "SetItemBuffer": 1, "Mbif": 2, "GGrp": 3, "CallMethod": 4, "Probe": 5}
LEAVE = {"same": 0, "same-bound": 1, "new-i1": 2, "new-ui1": 3, "new-i4": 4, "two-dimensions": 5,
         "i1-holding-ui1": 6, "i1-holding-i4": 7, "null-array": 8, "empty": 9, "i4": 10, "bstr": 11,
         "dispatch": 12}
RESULT = {"none": 0, "i4": 1, "bstr": 2, "array": 3}


def copy_back_seed(export, leave="new-i1", fill=b"", length=None, elements=(0, 0), lower_bound=0,
                   result="none", hr=None, capacity=0, initial=b"", first=0, second=0, missing=None,
                   null_buffer=False, unknown_name=False):
    s = Seed()
    s.number(EXPORTS[export], 0, 5)
    if missing is None:
        s.number(1, 0, 3)
    else:
        s.number(0, 0, 3).number(missing, 0, 6)
    s.number(1, 0, 7)  # no fault
    s.number(0 if unknown_name else 1, 0, 15)
    if hr is None:
        s.flag(True)
    else:
        s.flag(False).u32(hr)
    s.number(LEAVE[leave], 0, 12).number(RESULT[result], 0, 3)
    s.flag(length is not None)
    s.flag(True).number(min(length or 0, 5000), 0, 5000)
    s.flag(True).number(lower_bound, -8, 8) if -8 <= lower_bound <= 8 else s.flag(False).i32(lower_bound)
    s.flag(True).number(0, -8, 8)
    s.number(elements[0], 0, 128 if leave == "two-dimensions" else 8192).number(elements[1], 0, 128)
    s.string(fill)
    if export != "Probe":
        s.number(capacity, 0, 4096)
        s.bytes(initial.ljust(capacity, b"\0")[:capacity])
        if capacity == 0:
            s.flag(null_buffer)
        s.u32(first).u32(second)
    return s.data()


def copy_back():
    write("copy_back", "get-item-buffer-new-array",
          copy_back_seed("GetItemBuffer", "new-i1", b"\xa1\xa2\xa3", length=3, elements=(3, 0), capacity=5,
                         initial=b"\x10\x20\x30\x40\x50", first=3, second=4))
    write("copy_back", "set-item-buffer-same-array",
          copy_back_seed("SetItemBuffer", "same", b"\x01\x02", capacity=4, initial=b"abcd", first=1, second=2))
    write("copy_back", "mbif-package", copy_back_seed("Mbif", "same", GATE_PASSES, length=len(GATE_PASSES),
                                                      capacity=64))
    write("copy_back", "probe-gate-passes", copy_back_seed("Probe", "new-i1", GATE_PASSES, length=len(GATE_PASSES),
                                                           elements=(len(GATE_PASSES), 0)))
    write("copy_back", "ggrp-length-zero-null-buffer", copy_back_seed("GGrp", "same", capacity=0, null_buffer=True,
                                                                      first=6))
    write("copy_back", "ggrp-longer-length-left", copy_back_seed("GGrp", "new-i1", b"\x55" * 10, length=4000,
                                                                 elements=(10, 0), capacity=8, first=6))
    write("copy_back", "call-method-two-dimensions",
          copy_back_seed("CallMethod", "two-dimensions", b"xyz", length=16, elements=(3, 4), capacity=20,
                         first=0x12345678))
    write("copy_back", "ui1-array-left", copy_back_seed("GetItemBuffer", "new-ui1", b"\x99" * 4, length=4,
                                                        elements=(4, 0), capacity=4))
    write("copy_back", "bstr-left-method-failed", copy_back_seed("Mbif", "bstr", length=2, capacity=4,
                                                                 hr=0x80004005, result="bstr"))
    write("copy_back", "dispatch-left", copy_back_seed("Mbif", "dispatch", capacity=4, result="array"))
    write("copy_back", "i1-around-i4-lower-bound", copy_back_seed("GetItemBuffer", "i1-holding-i4", b"\x01\x02\x03",
                                                                  length=12, elements=(3, 0), lower_bound=-5,
                                                                  capacity=16))
    write("copy_back", "server-fails", copy_back_seed("CallMethod", capacity=4, initial=b"wxyz", missing=2))
    write("copy_back", "unknown-method-name", copy_back_seed("GGrp", capacity=3, initial=b"abc", unknown_name=True))

    # Reproducers. An array whose lLbound + cElements - 1 leaves the LONG
    # range has an upper bound that wraps (SafeArrayGetUBound computes it in
    # 32 bits, on Windows as here), and the bridge sized the array from it.
    # No elements, lower bound -2^31: sized as 2^32 bytes, so the copy back
    # reads min(capacity, length) bytes beyond the array.
    write("copy_back", "regression-empty-array-lower-bound-int-min",
          copy_back_seed("GetItemBuffer", "new-i1", length=64, elements=(0, 0), lower_bound=-(1 << 31), capacity=64))
    write("copy_back", "regression-probe-empty-array-lower-bound-int-min",
          copy_back_seed("Probe", "new-i1", elements=(0, 0), lower_bound=-(1 << 31)))
    # Three elements, lower bound 2^31 - 1: sized as 0, so nothing is copied
    # back although the call returns 1 and a length of 3.
    write("copy_back", "regression-high-lower-bound-nothing-copied",
          copy_back_seed("GetItemBuffer", "new-i1", b"\xa1\xa2\xa3", length=3, elements=(3, 0),
                         lower_bound=(1 << 31) - 1, capacity=5, initial=b"\x10\x20\x30\x40\x50"))


# --- the seal's manifest ----------------------------------------------------------------

def seal_entry(name, size, fill, length=None):
    encoded = name.encode("utf-16-le", "surrogatepass")
    return struct.pack("<H", len(encoded) // 2 if length is None else length) + encoded + struct.pack("<Q", size) \
        + bytes([fill]) * 32


def seal_header(count, version=1, reserved=0):
    return b"SEAL" + struct.pack("<HHI", version, reserved, count)


def seal_manifest():
    three = seal_header(3) + seal_entry("FanSvc.exe", 81920, 0x22) + seal_entry("setup.ini", 120, 0x11) \
        + seal_entry("\u00e9t\u00e9.txt", 0, 0xE3)
    write("seal_manifest", "three-files", three)
    write("seal_manifest", "no-files", seal_header(0))
    write("seal_manifest", "surrogate-pair-name", seal_header(1) + seal_entry("\U0001F600.dll", 1, 1))
    write("seal_manifest", "name-of-255", seal_header(1) + seal_entry("n" * 251 + ".dll", 7, 7))
    write("seal_manifest", "names-equal-ignoring-case",
          seal_header(2) + seal_entry("Fan.dll", 1, 1) + seal_entry("fAN.DLL", 2, 2))
    write("seal_manifest", "device-name", seal_header(1) + seal_entry("LPT3 .log", 1, 1))
    write("seal_manifest", "lone-surrogate", seal_header(1) + seal_entry("a\ud83d.dll", 1, 1))
    write("seal_manifest", "name-past-the-end", seal_header(1) + seal_entry("a.dll", 5, 5, length=200))
    write("seal_manifest", "count-too-large", seal_header(100001) + seal_entry("a", 1, 1))
    write("seal_manifest", "trailing-byte", three + b"\0")
    write("seal_manifest", "cut-in-a-digest", three[:-10])


if __name__ == "__main__":
    mbif_walk()
    version_compare()
    ini_reader()
    command_line()
    paths()
    copy_back()
    seal_manifest()

#!/usr/bin/env python3
"""Reads setup.exe as a PE file and checks what other programs and Windows
rely on: a console program of the expected machine (PE32 for i386, or
PE32+ for AMD64 in the 64-bit build), the export table of the ACPI bridge
(names, ordinals, module name), imports from Windows' known DLLs only, base
relocations (so that another program can load it), and a manifest that
names the image's own architecture, asks for administrator rights and
declares the Windows versions from 7 to 11. The image as built (before a
seal or a signature) must also keep within the size goal, 256 KiB in either
build (bench/results.md says what takes the room).

Usage: check_setup_exe.py SETUP.EXE [--machine i386|amd64] [--junit REPORT.xml]
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

EXPORTS = [
    "_AcpiCallMethod@12",
    "_AcpiGGrp@12",
    "_AcpiGetItem@8",
    "_AcpiGetItemBuffer@16",
    "_AcpiGetItemEx@12",
    "_AcpiInit@0",
    "_AcpiMbif@8",
    "_AcpiSetItem@12",
    "_AcpiSetItemBuffer@16",
]
# Windows' known DLLs: the names listed under HKEY_LOCAL_MACHINE\SYSTEM\
# CurrentControlSet\Control\Session Manager\KnownDLLs, which the loader
# maps from the system folder (for a 32-bit program on 64-bit Windows: the
# 32-bit one) without searching, whatever folder the program lies in. These
# are the names the list holds on every Windows from 7 to 11, plus ntdll.dll,
# which is not listed because the system maps it into every process before
# anything else. An import from any other DLL would be looked for in
# setup.exe's own folder first (typically Downloads), before main can
# confine the search, with the administrator rights that setup.exe asks for.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}

# The manifest's processorArchitecture for each machine. Windows compares it
# with the image's: a manifest of another architecture may keep the program
# from starting. "*" means any.
MANIFEST_ARCHITECTURES = {"i386": "x86", "amd64": "amd64"}
# supportedOS entries of the manifest's compatibility section: without the
# entry of the Windows it runs on, Windows runs the program in the mode of
# an older version.
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        # PE32+ has a 64-bit image base and stack and heap sizes, which moves
        # the data directories 16 bytes further.
        directories = optional + (112 if self.magic == 0x20B else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rsize), raddr, rsize))

    def offset(self, rva):
        for _, vaddr, size, raddr, rsize in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rsize:
                    raise ValueError(f"RVA {rva:#x} lies in uninitialised data")
                return raddr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not rva:
            return None
        (_, _, _, _, name, base, functions, names, functions_rva, names_rva, ordinals_rva) = struct.unpack_from(
            "<IIHHIIIIIII", self.data, self.offset(rva))
        table = {}
        for i in range(names):
            symbol = self.string(self.u32(names_rva + 4 * i))
            table[symbol] = base + self.u16(ordinals_rva + 2 * i)
        ordered = [self.string(self.u32(names_rva + 4 * i)) for i in range(names)]
        return {"module": self.string(name), "base": base, "functions": functions, "names": ordered,
                "ordinals": table}

    def imports(self):
        rva, _ = self.directories[1]
        dlls = []
        while rva:
            _, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not name and not thunk:
                break
            dlls.append(self.string(name))
            rva += 20
        return dlls

    def resource(self, kind, ident):
        root, _ = self.directories[2]
        if not root:
            return None

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, self.offset(directory) + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, self.offset(directory) + 16 + 8 * i)

        for name, target in entries(root):
            if name != kind or not target & 0x80000000:
                continue
            for name2, target2 in entries(root + (target & 0x7FFFFFFF)):
                if name2 != ident or not target2 & 0x80000000:
                    continue
                for _, leaf in entries(root + (target2 & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, self.offset(root + leaf))
                    start = self.offset(data_rva)
                    return self.data[start:start + size]
        return None

SIZE_GOAL = 256 * 1024

MACHINES = {"i386": ("PE32 for i386", 0x10B, 0x14C), "amd64": ("PE32+ for AMD64", 0x20B, 0x8664)}


def checks(pe, machine):
    exports = pe.exports()
    manifest = pe.resource(24, 1) or b""
    imports = [dll.lower() for dll in pe.imports()]
    title, magic, code = MACHINES[machine]
    yield title, pe.magic == magic and pe.machine == code, f"magic {pe.magic:#x}, machine {pe.machine:#x}"
    yield "console subsystem", pe.subsystem == 3, f"subsystem {pe.subsystem}"
    yield "export table present", exports is not None, "no export directory"
    if exports:
        yield "module name setup.exe", exports["module"] == "setup.exe", exports["module"]
        yield "exactly the nine names", exports["names"] == EXPORTS, exports["names"]
        yield "ordinals 1 to 9 in name order", \
            [exports["ordinals"].get(n) for n in EXPORTS] == list(range(1, 10)) and exports["base"] == 1, \
            exports["ordinals"]
        yield "nine functions", exports["functions"] == 9, exports["functions"]
    unexpected = sorted(set(imports) - KNOWN_DLLS)
    yield "imports only Windows' known DLLs", bool(imports) and not unexpected, \
        f"not known DLLs: {unexpected}" if imports else "no import table"
    reloc_rva, reloc_size = pe.directories[5]
    yield "base relocations present", reloc_size > 0, "no .reloc directory"
    yield from manifest_checks(manifest, machine)
    version = file_version(pe.resource(16, 1) or b"")
    yield "version resource with a file version", version is not None and version != (0, 0, 0, 0), version


def manifest_checks(manifest, machine):
    """The application manifest (resource 24/1): its architecture, the
    request for administrator rights, the supported Windows versions."""
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as error:
        yield "manifest is XML", False, f"{error}: {manifest[:200]!r}"
        return
    identity = root.find(ASM_V1 + "assemblyIdentity")
    architecture = None if identity is None else identity.get("processorArchitecture")
    wanted = MANIFEST_ARCHITECTURES[machine]
    yield f"manifest architecture {wanted} (or *)", \
        root.tag == ASM_V1 + "assembly" and architecture is not None and architecture.lower() in (wanted, "*"), \
        f"processorArchitecture {architecture!r}"
    # trustInfo comes in more than one namespace version: look for the name.
    levels = [(e.get("level"), e.get("uiAccess")) for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    yield "manifest requires administrator rights", levels == [("requireAdministrator", "false")], levels
    listed = [e.get("Id", "").lower() for e in root.iter(COMPATIBILITY + "supportedOS")]
    yield "manifest supports Windows 7, 8, 8.1, 10 and 11", sorted(listed) == sorted(SUPPORTED_OS), \
        [SUPPORTED_OS.get(i, i) for i in listed]


def file_version(block):
    """The file version of a VS_VERSIONINFO block, or None."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    if block[6:6 + len(key)] != key:
        return None
    fixed = (6 + len(key) + 3) // 4 * 4
    if len(block) < fixed + 16 or struct.unpack_from("<I", block, fixed)[0] != 0xFEEF04BD:
        return None
    high, low = struct.unpack_from("<II", block, fixed + 8)
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def write_report(results, suite_name: str, classname: str, junit: str | None) -> int:
    """Prints a PASS or FAIL line per (name, ok, detail) and writes them as a
    JUnit suite to `junit` when given; returns how many failed."""
    suite = ET.Element("testsuite", name=suite_name)
    failed = 0
    for name, ok, detail in results:
        case = ET.SubElement(suite, "testcase", name=name, classname=classname)
        print(f"{'PASS' if ok else 'FAIL'} {name}" + ("" if ok else f": {str(detail)[:1000]}"))
        if not ok:
            failed += 1
            ET.SubElement(case, "failure", message=str(detail)[:500])
    if junit:
        os.makedirs(os.path.dirname(os.path.abspath(junit)), exist_ok=True)
        ET.ElementTree(suite).write(junit, encoding="utf-8", xml_declaration=True)
    return failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    parser.add_argument("--junit")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        pe = PeFile(f.read())
    size = len(pe.data)
    results = [*checks(pe, args.machine), ("within the size goal of 256 KiB", size <= SIZE_GOAL, f"{size:,} bytes")]
    failed = write_report(results, f"setup.exe ({args.machine})", f"SetupExe.{args.machine}", args.junit)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

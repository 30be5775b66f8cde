#!/usr/bin/env python3
"""Reads setup.exe as a PE file and checks what other programs and Windows
rely on: a console program of the expected machine (PE32 for i386, or
PE32+ for AMD64 in the 64-bit build), the export table of the ACPI bridge
(names, ordinals, module name), imports from Windows' known DLLs only, base
relocations (so that another program can load it), and a manifest that
names the image's own architecture, asks for administrator rights and
declares the Windows versions from 7 to 11. The image as built (before a
seal or a signature) must also keep within the size goal, 256 KiB in either
build (bench/results.md says what takes the room). pefile (python3-pefile)
reads the image.

Usage: check_setup_exe.py SETUP.EXE [--machine i386|amd64] [--junit REPORT.xml]
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile

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


def load(source) -> pefile.PE:
    """The image at the path `source`, or in the bytes `source`, read by
    pefile with every data directory."""
    return pefile.PE(data=source if isinstance(source, (bytes, bytearray)) else Path(source).read_bytes())


def resource_key(pe, entry):
    """A resource directory entry's key: its number, or its name (counted UTF-16) as text."""
    if entry.name is None:
        return entry.id
    at = entry.name.get_rva()
    return pe.get_data(at + 2, 2 * pe.get_word_at_rva(at)).decode("utf-16-le", "surrogatepass")


def resources(pe):
    """Every (type, name, language, data) of the resource tree, in its order."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    found = []
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                found.append((resource_key(pe, kind), resource_key(pe, name), language.id,
                              pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)))
    return found


def resource(pe, kind, name):
    """The data of the first resource of that type and name, or None."""
    return next((data for k, n, _, data in resources(pe) if (k, n) == (kind, name)), None)


def exports(pe):
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if directory is None:
        return None
    named = [s for s in directory.symbols if s.name]  # in the order of the name table
    return {"module": (directory.name or b"").decode("ascii"), "base": directory.struct.Base,
            "functions": directory.struct.NumberOfFunctions, "names": [s.name.decode("ascii") for s in named],
            "ordinals": {s.name.decode("ascii"): s.ordinal for s in named}}

SIZE_GOAL = 256 * 1024


def imports(pe):
    return [entry.dll.decode("ascii") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
MACHINES = {"i386": ("PE32 for i386", 0x10B, 0x14C), "amd64": ("PE32+ for AMD64", 0x20B, 0x8664)}


def checks(pe, machine):
    table = exports(pe)
    manifest = resource(pe, RT_MANIFEST, 1) or b""
    dlls = [dll.lower() for dll in imports(pe)]
    title, magic, code = MACHINES[machine]
    found_magic, found_machine = pe.OPTIONAL_HEADER.Magic, pe.FILE_HEADER.Machine
    yield title, found_magic == magic and found_machine == code, f"magic {found_magic:#x}, machine {found_machine:#x}"
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    yield "console subsystem", subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"], \
        f"subsystem {subsystem}"
    yield "export table present", table is not None, "no export directory"
    if table:
        yield "module name setup.exe", table["module"] == "setup.exe", table["module"]
        yield "exactly the nine names", table["names"] == EXPORTS, table["names"]
        yield "ordinals 1 to 9 in name order", \
            [table["ordinals"].get(n) for n in EXPORTS] == list(range(1, 10)) and table["base"] == 1, \
            table["ordinals"]
        yield "nine functions", table["functions"] == 9, table["functions"]
    unexpected = sorted(set(dlls) - KNOWN_DLLS)
    yield "imports only Windows' known DLLs", bool(dlls) and not unexpected, \
        f"not known DLLs: {unexpected}" if dlls else "no import table"
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    yield "base relocations present", relocations.Size > 0, "no .reloc directory"
    yield from manifest_checks(manifest, machine)
    version = file_version(pe)
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


def file_version(pe):
    """The file version of the image's version resource, or None."""
    for info in getattr(pe, "VS_FIXEDFILEINFO", []):
        if info.Signature == 0xFEEF04BD:
            return (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF, info.FileVersionLS >> 16,
                    info.FileVersionLS & 0xFFFF)
    return None


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
    pe = load(args.exe)
    size = Path(args.exe).stat().st_size
    results = [*checks(pe, args.machine), ("within the size goal of 256 KiB", size <= SIZE_GOAL, f"{size:,} bytes")]
    failed = write_report(results, f"setup.exe ({args.machine})", f"SetupExe.{args.machine}", args.junit)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

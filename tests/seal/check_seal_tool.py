#!/usr/bin/env python3
"""Checks scripts/seal on a setup.exe of a build: the sealed image carries
the folder's manifest and is otherwise the image it was (its exports,
imports, manifest and version resource still pass tests/pe); the sections
after the resources move intact; the headers and the checksum are right;
sealing twice gives the same bytes, and sealing a sealed image replaces its
seal; every folder or image it must refuse is refused, with nothing
written, cut and corrupted images too (at random, from a fixed seed). The
images are read back by pefile (python3-pefile), and the manifest by a
reader of its own here, not by the tool's.

With --reader (build/winNN/tools/seal_reader.exe) and --lane, it also reads
the sealed image under Wine through the product's own code (seal/), and has
bcrypt.dll hash the folder's files: the digests must be the ones the tool
wrote.

With --wine-only, only the checks under Wine are reported (the tool's own
are run to make the images, and any failure among them is reported as one):
scripts/test reports the tool's checks in its pe level and these per lane.
--wine-check-count prints how many checks that is (for a lane reported as
skipped).

Usage: check_seal_tool.py SETUP.EXE --machine i386|amd64 [--reader SEAL_READER.EXE --lane 32|64 [--wine-only]]
                          [--junit REPORT.xml]
       check_seal_tool.py --wine-check-count
"""
import argparse
import contextlib
import hashlib
import io
import json
import os
import random
import runpy
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parents[2]
SEAL = ROOT / "scripts" / "seal"
WINE_RUN = ROOT / "cmake" / "wine-run"
sys.path.insert(0, str(ROOT / "tests" / "pe"))
import check_setup_exe  # noqa: E402
from check_setup_exe import load, resource_key, resources  # noqa: E402

RT_RCDATA = 10
SEAL_NAME = "PAYLOAD_SEAL"
RESOURCES = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]
RELOCATIONS = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
WINE_CHECK_COUNT = 5

# A payload as a release has it; setup.exe (in any case) and the sub-folder
# are left out of the manifest.
PAYLOAD = {
    "setup.ini": b"[Common]\r\nServiceName=FanCtl\r\nversion=2.1.0\r\n",
    "FanSvc.exe": bytes(range(256)) * 300,
    "fan.dll": os.urandom(70000),
    "empty.dat": b"",
    "\u00e9t\u00e9 \u00fc\u00df.txt": b"non-ASCII name\r\n",
    "Readme": b"no extension",
}


class Check:
    def __init__(self):
        self.results = []  # (name, ok, detail)

    def __call__(self, name, ok, detail=""):
        self.results.append((name, bool(ok), detail))
        return ok


def run_seal(folder, setup_exe, out_exe):
    return subprocess.run([sys.executable, str(SEAL), str(folder), str(setup_exe), str(out_exe)],
                          capture_output=True, text=True)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def make_payload(folder, setup_exe, files=PAYLOAD):
    folder.mkdir(parents=True)
    for name, data in files.items():
        (folder / name).write_bytes(data)
    shutil.copyfile(setup_exe, folder / "Setup.EXE")
    (folder / "lang").mkdir()
    (folder / "lang" / "de.txt").write_bytes(b"in a sub-folder")


def expected_entries(files):
    """(name, size, sha256) in the manifest's order: by UTF-16 code units, ASCII upper case."""
    def key(name):
        upper = "".join(c.upper() if "a" <= c <= "z" else c for c in name).encode("utf-16-le")
        return struct.unpack(f"<{len(upper) // 2}H", upper)
    return [(name, len(files[name]), sha256(files[name])) for name in sorted(files, key=key)]


def read_manifest(data):
    """(name, size, sha256) entries of manifest bytes, read field by field."""
    if data[:4] != b"SEAL" or struct.unpack_from("<HH", data, 4) != (1, 0):
        raise ValueError("no manifest header")
    count = struct.unpack_from("<I", data, 8)[0]
    at, entries = 12, []
    for _ in range(count):
        length = struct.unpack_from("<H", data, at)[0]
        name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        at += 2 + 2 * length
        size = struct.unpack_from("<Q", data, at)[0]
        entries.append((name, size, data[at + 8:at + 40].hex()))
        at += 40
    if at != len(data):
        raise ValueError(f"{len(data) - at} bytes after the last entry")
    return entries


def seals_of(pe):
    return [(language, data) for kind, name, language, data in resources(pe)
            if kind == RT_RCDATA and name == SEAL_NAME]


def section_table(pe):
    """name -> (virtual address, size in memory or in the file, whichever is larger, file offset, size in the file)."""
    return {s.Name.rstrip(b"\0"): (s.VirtualAddress, max(s.Misc_VirtualSize, s.SizeOfRawData), s.PointerToRawData,
                                   s.SizeOfRawData) for s in pe.sections}


def virtual_size(pe, name):
    return next((s.Misc_VirtualSize for s in pe.sections if s.Name.rstrip(b"\0") == name), None)


def directories(pe):
    return [(d.VirtualAddress, d.Size) for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY]


def keys_in_order(pe):
    """Each resource directory's keys in their order, the root's and each type's."""
    root = pe.DIRECTORY_ENTRY_RESOURCE
    return [[resource_key(pe, e) for e in root.entries]] + \
        [[resource_key(pe, e) for e in kind.directory.entries] for kind in root.entries]


def check_sealed_image(check, original, sealed, machine, files, label):
    """What must hold for `sealed`, made from `original` with `files` (both bytes), as pefile reads them."""
    before, after = load(original), load(sealed)
    for name, ok, detail in check_setup_exe.checks(after, machine):
        check(f"{label}: tests/pe: {name}", ok, detail)
    seals = seals_of(after)
    check(f"{label}: one seal, language neutral", [language for language, _ in seals] == [0], seals and seals[0][0])
    try:
        entries = read_manifest(seals[0][1]) if seals else None
    except (ValueError, struct.error) as error:
        entries = f"unreadable: {error}"
    check(f"{label}: the manifest lists exactly the folder's files, sorted", entries == expected_entries(files),
          entries)
    kept = [leaf for leaf in resources(before) if not (leaf[0] == RT_RCDATA and leaf[1] == SEAL_NAME)]
    others = [leaf for leaf in resources(after) if not (leaf[0] == RT_RCDATA and leaf[1] == SEAL_NAME)]
    check(f"{label}: every other resource unchanged", kept == others and kept, f"{len(kept)} before, {len(others)}")
    orders = keys_in_order(after)
    check(f"{label}: resource entries sorted (named first)",
          all(o == sorted((k for k in o if isinstance(k, str))) + sorted(k for k in o if isinstance(k, int))
              for o in orders), orders)

    old, new = section_table(before), section_table(after)
    check(f"{label}: the same sections", list(old) == list(new), list(new))
    moved_va = new[b".reloc"][0] - old[b".reloc"][0]
    for name, (vaddr, size, raddr, rsize) in old.items():
        if name in (b".rsrc", b".reloc"):
            continue
        check(f"{label}: section {name.decode()} unchanged",
              new[name] == (vaddr, size, raddr, rsize) and sealed[raddr:raddr + rsize] == original[raddr:raddr + rsize],
              f"{new[name]} vs {(vaddr, size, raddr, rsize)}")
    rvaddr, _, rraddr, rrsize = new[b".reloc"]
    ovaddr, _, oraddr, orsize = old[b".reloc"]
    check(f"{label}: .reloc moved whole behind the new .rsrc",
          sealed[rraddr:rraddr + rrsize] == original[oraddr:oraddr + orsize]
          and rvaddr >= new[b".rsrc"][0] + new[b".rsrc"][1] and rvaddr % 0x1000 == 0
          and rraddr == new[b".rsrc"][2] + new[b".rsrc"][3],
          f".rsrc {new[b'.rsrc']}, .reloc {new[b'.reloc']}")
    was, now = directories(before), directories(after)
    check(f"{label}: the relocation directory follows it", now[RELOCATIONS] == (was[RELOCATIONS][0] + moved_va,
                                                                              was[RELOCATIONS][1]),
          f"{now[RELOCATIONS]} (before {was[RELOCATIONS]}, moved by {moved_va:#x})")
    check(f"{label}: the resource directory is the new .rsrc",
          now[RESOURCES] == (new[b".rsrc"][0], virtual_size(after, b".rsrc")),
          f"{now[RESOURCES]}, section {new[b'.rsrc']}, virtual size {virtual_size(after, b'.rsrc')}")
    check(f"{label}: other data directories unchanged",
          [d for i, d in enumerate(now) if i not in (RESOURCES, RELOCATIONS)]
          == [d for i, d in enumerate(was) if i not in (RESOURCES, RELOCATIONS)])
    image_size = max((vaddr + size + 0xFFF) // 0x1000 * 0x1000 for vaddr, size, _, _ in new.values())
    check(f"{label}: SizeOfImage", after.OPTIONAL_HEADER.SizeOfImage == image_size,
          f"{after.OPTIONAL_HEADER.SizeOfImage:#x}, expected {image_size:#x}")
    grown = new[b".rsrc"][3] - old[b".rsrc"][3]
    initialized = (before.OPTIONAL_HEADER.SizeOfInitializedData, after.OPTIONAL_HEADER.SizeOfInitializedData)
    check(f"{label}: SizeOfInitializedData grows with .rsrc", initialized[1] == initialized[0] + grown,
          f"{initialized[1]:#x} from {initialized[0]:#x} + {grown:#x}")
    check(f"{label}: checksum", after.OPTIONAL_HEADER.CheckSum == after.generate_checksum(),
          f"{after.OPTIONAL_HEADER.CheckSum:#x}, computed {after.generate_checksum():#x}")
    check(f"{label}: the file ends with the last section",
          len(sealed) == max(raddr + rsize for _, _, raddr, rsize in new.values()), len(sealed))


def tool_checks(check, setup_exe, machine, work):
    original = setup_exe.read_bytes()
    check("the image is unsealed before", not seals_of(load(original)))

    folder = work / "payload"
    make_payload(folder, setup_exe)
    out = work / "sealed.exe"
    result = run_seal(folder, setup_exe, out)
    check("scripts/seal seals the payload (exit 0)", result.returncode == 0, result.stderr)
    check("it names what it left out",
          "left out Setup.EXE (the image itself)" in result.stdout and "left out lang\\" in result.stdout,
          result.stdout)
    if result.returncode != 0:
        return None
    sealed = out.read_bytes()
    check_sealed_image(check, original, sealed, machine, PAYLOAD, "payload")

    again = work / "again.exe"
    run_seal(folder, setup_exe, again)
    check("sealing is deterministic", again.read_bytes() == sealed)

    # Enough files to move .reloc by a page or more.
    many = {f"file{i:04d}.bin": bytes([i % 256]) * (i % 7) for i in range(1000)}
    many_folder = work / "many"
    many_folder.mkdir()
    for name, data in many.items():
        (many_folder / name).write_bytes(data)
    many_out = work / "many.exe"
    result = run_seal(many_folder, setup_exe, many_out)
    check("1,000 files sealed", result.returncode == 0, result.stderr)
    if result.returncode == 0:
        check_sealed_image(check, original, many_out.read_bytes(), machine, many, "1,000 files")

    # A sealed image sealed again: the new seal replaces the old one.
    resealed = work / "resealed.exe"
    result = run_seal(many_folder, out, resealed)
    check("a sealed image sealed again", result.returncode == 0 and "earlier seal replaced" in result.stdout,
          result.stdout + result.stderr)
    if result.returncode == 0:
        check_sealed_image(check, original, resealed.read_bytes(), machine, many, "resealed")
        # Back to the first payload: the same bytes as sealing the original.
        back = work / "back.exe"
        run_seal(folder, resealed, back)
        check("resealing gives what sealing the unsealed image gives", back.read_bytes() == sealed)

    # The sealed image written into the payload folder is left out of it.
    inside = work / "inside"
    make_payload(inside, setup_exe)
    shutil.copyfile(setup_exe, inside / "setup-sealed.exe")  # from an earlier sealing
    result = run_seal(inside, setup_exe, inside / "setup-sealed.exe")
    entries = read_manifest(seals_of(load(inside / "setup-sealed.exe"))[0][1]) \
        if result.returncode == 0 else []
    check("OUT_EXE inside the folder is left out", result.returncode == 0 and entries == expected_entries(PAYLOAD)
          and "left out setup-sealed.exe" in result.stdout, result.stdout + result.stderr)

    refusal_checks(check, setup_exe, work)
    return out


def refusal_checks(check, setup_exe, work):
    """Folders and images the tool refuses: exit 1, a message, nothing written."""
    def refused(name, files=None, prepare=None, image=None, message=""):
        folder = work / f"refused-{len(check.results)}"
        folder.mkdir()
        for file_name, data in (files or {}).items():
            (folder / file_name).write_bytes(data)
        if prepare:
            prepare(folder)
        out = work / f"refused-{len(check.results)}.exe"
        result = run_seal(folder, image or setup_exe, out)
        check(f"refused: {name}", result.returncode == 1 and message in result.stderr and not out.exists(),
              f"exit {result.returncode}, {result.stderr.strip()!r}, written: {out.exists()}")

    refused("a symbolic link", {"a.dll": b"x"}, lambda f: os.symlink(f / "a.dll", f / "b.dll"), message="symbolic link")
    refused("a link to a folder", {}, lambda f: os.symlink("/tmp", f / "tmp"), message="symbolic link")
    refused("a named pipe", {}, lambda f: os.mkfifo(f / "pipe"), message="not a regular file")
    refused("a colon in a name", {"a.dll:stream": b"x"}, message="holds ':'")
    refused("a backslash in a name", {"a\\b.dll": b"x"}, message="holds '\\'")
    refused("a trailing dot", {"a.dll.": b"x"}, message="ends in a dot")
    refused("a device name", {"con.txt": b"x"}, message="device CON")
    refused("a name not valid UTF-8", {}, lambda f: open(os.path.join(os.fsencode(f), b"\xff.dll"), "wb").close(),
            message="not valid UTF-8")
    # Names that differ only in case, as NTFS folds them (Latin, Greek with a final sigma, Cyrillic).
    for pair in (("Fan.dll", "fan.DLL"), ("\u00c4.dll", "\u00e4.dll"), ("\u03bb\u03cc\u03b3\u03bf\u03c2.txt",
                 "\u039b\u038c\u0393\u039f\u03a3.txt"), ("\u0414\u0430.txt", "\u0434\u0430.txt")):
        refused(f"names differing only in case: {' '.join(pair)}", dict.fromkeys(pair, b"x"),
                message="differ only in case")
    for name, device in (("COM\u00b9", "COM\u00b9"), ("lpt\u00b3.txt", "LPT\u00b3"), ("CONIN$", "CONIN$"),
                         ("conout$.log", "CONOUT$"), ("CONIN$.txt", "CONIN$"), ("Com\u00b2 .tar.gz", "COM\u00b2")):
        refused(f"the device name {name}", {name: b"x"}, message=f"device {device}")
    # Kept apart by Windows (\u00df has no one-unit upper case; surrogates are not folded); not devices.
    apart = dict.fromkeys(("Stra\u00dfe.txt", "STRASSE.txt", "\U00010400.txt", "\U00010428.txt", "COM10.txt",
                           "CONIN.txt"), b"x")
    make_payload(work / "apart", setup_exe, apart)
    result = run_seal(work / "apart", setup_exe, work / "apart.exe")
    listed = read_manifest(seals_of(load(work / "apart.exe"))[0][1]) \
        if result.returncode == 0 else result.stderr
    check("names Windows keeps apart, and names like devices, are sealed", listed == expected_entries(apart), listed)

    def signed_image():
        pe = load(setup_exe)
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        security.VirtualAddress, security.Size = setup_exe.stat().st_size, 8
        path = work / "signed.exe"
        path.write_bytes(bytes(pe.write()) + b"\0" * 8)
        return path

    refused("a signed image", {"a.dll": b"x"}, image=signed_image(), message="signed already")
    not_pe = work / "not-pe.exe"
    not_pe.write_bytes(b"MZ" + b"\0" * 100)
    refused("no PE image", {"a.dll": b"x"}, image=not_pe, message="no PE image")
    with_overlay = work / "overlay.exe"
    with_overlay.write_bytes(setup_exe.read_bytes() + b"appended")
    refused("data after the last section", {"a.dll": b"x"}, image=with_overlay, message="after its last section")
    malformed_checks(check, setup_exe, work)
    result = run_seal(work / "no-such-folder", setup_exe, work / "x.exe")
    check("refused: a missing folder", result.returncode == 1 and "is no folder" in result.stderr, result.stderr)
    result = subprocess.run([sys.executable, str(SEAL), str(work)], capture_output=True, text=True)
    check("a bad command line exits 2", result.returncode == 2, result.stderr)


def malformed_checks(check, setup_exe, work, seed=1, count=300):
    """Cut images, and images with bytes of the headers or resource tree changed at random, sealed by the script
    run here (runpy; an exception escaping it is a traceback): refused (exit 1, one line, nothing written) or sealed."""
    make_payload(work / "fuzz", setup_exe, {"a.dll": b"x"})
    image, out = work / "fuzz.exe", work / "fuzz-out" / "out.exe"
    out.parent.mkdir()

    def outcome(data):
        image.write_bytes(data)
        errors, code, saved = io.StringIO(), None, sys.argv
        sys.argv = ["seal", str(work / "fuzz"), str(image), str(out)]
        try:
            with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(io.StringIO()):
                runpy.run_path(str(SEAL), run_name="__main__")
        except SystemExit as stop:
            code = stop.code
        except Exception as error:  # noqa: BLE001 - what a traceback would show
            return f"traceback: {error!r}"
        finally:
            sys.argv = saved
        lines, written = errors.getvalue().splitlines(), sorted(p.name for p in out.parent.iterdir())
        out.unlink(missing_ok=True)
        if code == 1 and len(lines) == 1 and lines[0].startswith("seal: ") and not written:
            return "refused"
        return "sealed" if code == 0 and not lines and written == ["out.exe"] else f"exit {code}, {lines}, {written}"

    data = setup_exe.read_bytes()
    parsed = load(data)
    pe = parsed.DOS_HEADER.e_lfanew
    table = parsed.OPTIONAL_HEADER.get_file_offset() + parsed.FILE_HEADER.SizeOfOptionalHeader
    cuts = {"DOS header": 1, "e_lfanew": 0x3E, "PE signature": pe + 2, "file header": pe + 12,
            "optional header": pe + 64, "data directories": table - 4, "section table": table + 20}
    sections = {name.decode(): (raw, size) for name, (_, _, raw, size) in section_table(parsed).items()}
    for name, (raw, size) in sections.items():
        cuts.update({f"{name} start": raw + 1, f"{name} middle": raw + size // 2, f"{name} end": raw + size - 1})
    rsrc = sections[".rsrc"][0]
    cuts.update({"resource directory": rsrc + 10, "resource entries": rsrc + 20})
    wrong = {where: result for where, at in cuts.items() if (result := outcome(data[:at])) != "refused"}
    check(f"cut images ({len(cuts)} kinds of place): each refused, one line, nothing written", not wrong, wrong)
    rng, results = random.Random(seed), {}
    for case in range(count):
        changed = bytearray(data)
        start, end = (0x3C, table + 40 * len(sections)) if case % 2 else (rsrc, rsrc + 512)
        for _ in range(rng.randint(1, 4)):
            changed[rng.randrange(start, end)] ^= rng.randint(1, 255)
        results.setdefault(outcome(bytes(changed)), []).append(case)
    check(f"changed headers and resource trees (seed {seed}, {count} images): refused with one line or sealed",
          set(results) <= {"refused", "sealed"} and results.get("refused"),
          {result: f"{len(cases)}, the first {cases[0]}" for result, cases in results.items()})


def wine_checks(check, reader, lane, setup_exe, sealed, work):
    first = len(check.results)
    env = dict(os.environ)
    # The unit tests' prefix of the same build, booted once.
    env.setdefault("FANSETUP_TEST_PREFIX", str(reader.parent.parent / "tests" / "wine-prefix"))

    def windows(path):
        return "Z:" + str(path).replace("/", "\\")

    def read(image, folder=None):
        command = [str(WINE_RUN), "--lane", lane, str(reader), windows(image)] + ([windows(folder)] if folder else [])
        result = subprocess.run(command, capture_output=True, env=env, timeout=300)
        lines = [line for line in result.stdout.decode("latin-1").splitlines() if line.startswith("{")]
        if result.returncode != 0 or not lines:
            return {"state": f"exit {result.returncode}: {result.stderr.decode('latin-1')[-500:]}"}
        return json.loads(lines[-1])

    def names_decoded(files):
        return [(f["name"].encode("latin-1").decode("utf-8"), f["size"], f["sha256"]) for f in files]

    unsealed = read(setup_exe)
    check("wine: the unsealed image reads as unsealed", unsealed == {"state": "unsealed"}, unsealed)
    seal = read(sealed, work / "payload")
    files = seal.get("files", [])
    check("wine: the sealed image reads its manifest through seal/",
          seal.get("state") == "sealed" and names_decoded(files) == expected_entries(PAYLOAD), seal)
    check("wine: bcrypt.dll's digests of the folder are the manifest's",
          files and all(f.get("found") == {"size": f["size"], "sha256": f["sha256"]} for f in files),
          [f.get("found", f.get("error")) for f in files])

    # One byte of fan.dll changed: its digest differs, the others do not.
    changed = work / "changed"
    shutil.copytree(work / "payload", changed)
    data = bytearray(PAYLOAD["fan.dll"])
    data[1000] ^= 0x01
    (changed / "fan.dll").write_bytes(bytes(data))
    seal = read(sealed, changed)
    differing = [f["name"] for f in seal.get("files", []) if f.get("found", {}).get("sha256") != f["sha256"]]
    check("wine: a changed byte changes bcrypt.dll's digest of that file only", differing == ["fan.dll"], differing)

    # The manifest's magic broken inside the image: malformed, not unsealed.
    broken = bytearray(sealed.read_bytes())
    manifest = seals_of(load(bytes(broken)))[0][1]
    at = bytes(broken).find(manifest)
    broken[at] ^= 0x20
    broken_path = work / "broken.exe"
    broken_path.write_bytes(bytes(broken))
    seal = read(broken_path)
    check("wine: a broken manifest reads as malformed",
          seal.get("state") == "malformed" and "magic" in seal.get("why", ""), seal)
    assert len(check.results) - first == WINE_CHECK_COUNT, "WINE_CHECK_COUNT is out of date"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("setup_exe", type=Path, nargs="?")
    parser.add_argument("--machine", choices=("i386", "amd64"), default="i386")
    parser.add_argument("--reader", type=Path, help="seal_reader.exe of the same build: also check under Wine")
    parser.add_argument("--lane", choices=("32", "64"))
    parser.add_argument("--wine-only", action="store_true")
    parser.add_argument("--wine-check-count", action="store_true")
    parser.add_argument("--junit")
    args = parser.parse_args()
    if args.wine_check_count:
        print(WINE_CHECK_COUNT + 1)  # and the one that says the images were made
        return 0
    if not args.setup_exe:
        parser.error("SETUP.EXE is missing")
    if args.reader and not args.lane or args.wine_only and not args.reader:
        parser.error("--reader needs --lane, --wine-only needs --reader")
    check = Check()
    with tempfile.TemporaryDirectory(prefix="check-seal-") as temporary:
        work = Path(temporary)
        tool = Check() if args.wine_only else check
        sealed = tool_checks(tool, args.setup_exe.resolve(), args.machine, work)
        if args.wine_only:
            failures = [name for name, ok, _ in tool.results if not ok]
            check("the images for the Wine checks are made", not failures, failures)
        if args.reader and sealed:
            wine_checks(check, args.reader.resolve(), args.lane, args.setup_exe.resolve(), sealed, work)
    failed = check_setup_exe.write_report(check.results, f"scripts/seal ({args.machine})", f"Seal.{args.machine}",
                                          args.junit)
    print(f"check_seal_tool: {len(check.results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The release level of scripts/test: scripts/release gives the same images
twice, signed images verify and still pass end-to-end cases of their lanes.

    python3 tests/release/check_release.py [--junit REPORT.xml] [--build-root build] [--keep]

1. Bad command lines are refused before anything is built, --sign without
   --seal (or --unsealed) with the reason.
2. Release A, unsigned, with its temporary source tree below one folder.
3. Release B, signed (--unsealed) with a throwaway self-signed certificate
   (openssl, password in a file), its source tree below another folder with
   a longer path, built later. The plain images it reports ("built: ...")
   must have A's sums, and each signed image with its signature removed
   must be A's image byte for byte: the signature adds nothing else.
4. A clone of HEAD with one source line changed and committed: its release
   (the 64-bit image alone) differs from A's.
5. B's images verify against the test certificate (SHA-256); with one byte
   of code changed, or signed by another certificate, they fail.
6. A few end-to-end cases with B's signed image, in each lane this host can
   run (build/winNN must hold the tools; a lane that cannot run is skipped).

Each check is a test case of the JUnit report; prints one line per check
and the time each step took.
"""
from __future__ import annotations

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent
RELEASE = ROOT / "scripts" / "release"
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "pe"))
sys.path.insert(0, str(ROOT / "tests" / "seal"))

from harness.lanes import LANES, why_not  # noqa: E402
from check_setup_exe import checks as pe_checks, load  # noqa: E402
from check_seal_tool import expected_entries, read_manifest, seals_of  # noqa: E402

# The payload the changed-line release is sealed with.
SEAL_PAYLOAD = {"setup.ini": b"[Common]\r\nversion=1.0\r\n", "fan.dll": bytes(range(256)) * 16,
                "notes.txt": b"fan curves\r\n"}

IMAGES = {"win32": "i386", "win64": "amd64"}
# The end-to-end cases run with the signed image: a whole install, a closed
# gate, the run log (which reads the image's version resource), the exports
# through export_client and through the caller built from the header.
SIGNED_CASES = ("install_decision.fresh_install", "firmware_gate.gate[third_0x1FF_closed]",
                "run_log.cause[normal_install]", "bridge_exports.answers", "header_caller.answers")
# The line that the changed-line release changes, and how.
CHANGED_FILE = "acpi/exports.cpp"
CHANGED_FROM, CHANGED_TO = 'L"iAcpiInit"', 'L"iAcpiInjt"'


class Report:
    def __init__(self):
        self.suite = ET.Element("testsuite", name="release")
        self.failed = 0

    def add(self, name: str, ok: bool, detail: object = "", seconds: float | None = None) -> bool:
        case = ET.SubElement(self.suite, "testcase", name=name, classname="Release")
        if seconds is not None:
            case.set("time", f"{seconds:.1f}")
        print(f"{'PASS' if ok else 'FAIL'} {name}" + ("" if ok or not detail else f": {detail}"), flush=True)
        if not ok:
            self.failed += 1
            ET.SubElement(case, "failure", message=str(detail)[:2000])
        return ok

    def skip(self, name: str, reason: str) -> None:
        case = ET.SubElement(self.suite, "testcase", name=name, classname="Release")
        ET.SubElement(case, "skipped", message=reason)
        print(f"SKIP {name}: {reason}", flush=True)

    def write(self, path: str) -> None:
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        ET.ElementTree(self.suite).write(path, encoding="utf-8", xml_declaration=True)


def run(command: list, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, **kwargs)


def release(args: list, tmpdir: Path, script: Path = RELEASE) -> tuple[subprocess.CompletedProcess, float]:
    """Runs scripts/release with its temporary folders below `tmpdir`."""
    tmpdir.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, TMPDIR=str(tmpdir))
    started = time.monotonic()
    completed = run([script, *args], env=env, cwd=script.parent.parent)
    return completed, time.monotonic() - started


def sums_of(text: str) -> list[str]:
    """The lines "<sha256>  <path>" of a SHA256SUMS file."""
    return [line for line in text.splitlines() if line.strip()]


def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def failure_text(completed: subprocess.CompletedProcess) -> str:
    return f"exit {completed.returncode}: {(completed.stdout + completed.stderr).strip()[-1500:]}"


def make_certificate(folder: Path, name: str) -> tuple[Path, Path, Path]:
    """A throwaway self-signed code-signing certificate: (PKCS#12 file,
    password file, certificate in PEM)."""
    folder.mkdir(parents=True)
    key, cert, p12, password = (folder / n for n in ("key.pem", "cert.pem", "cert.p12", "password"))
    password.write_text(hashlib.sha256(os.urandom(16)).hexdigest() + "\n")
    password.chmod(0o600)
    for command in (
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
             "-subj", f"/CN={name}", "-addext", "extendedKeyUsage=codeSigning",
             "-addext", "keyUsage=critical,digitalSignature"],
            ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12, "-passout", f"file:{password}"]):
        completed = run(command)
        if completed.returncode != 0:
            raise RuntimeError(f"{command[:2]} failed: {completed.stderr.strip()}")
    return p12, password, cert


def verify(image: Path, ca: Path) -> subprocess.CompletedProcess:
    return run(["osslsigncode", "verify", "-CAfile", ca, "-in", image])


def code_byte_offset(image: Path) -> int:
    """A byte in the middle of the image's first section (its code), which
    the signature's digest covers."""
    code = load(image).sections[0]
    return code.PointerToRawData + code.SizeOfRawData // 2


def check_refusals(report: Report, tmp: Path) -> None:
    """Command lines scripts/release must refuse before building anything."""
    missing = tmp / "no-such-file"
    sign = ["--sign", RELEASE, "--password-file", RELEASE]
    rows = {
        "--sign without a password file": (["--sign", RELEASE, "--unsealed"], "needs --password-file"),
        "--password-file without --sign": (["--password-file", RELEASE], "needs --sign"),
        "--sign with a certificate that is not there": (["--sign", missing, "--password-file", RELEASE, "--unsealed"],
                                                        "cannot read the certificate"),
        "--seal with a payload folder that is not there": (["--seal", missing], "does not exist"),
        "--only with an unknown image": (["--only", "win16"], "win32 or win64"),
        "--sign without --seal": (sign, "--sign needs --seal PAYLOAD_FOLDER: a signed, unsealed setup.exe shows the "
                                        "vendor's name, asks for administrator rights and copies and runs whatever"),
        "--unsealed with --seal": ([*sign, "--unsealed", "--seal", tmp], "contradict"),
    }
    for name, (args, message) in rows.items():
        out = tmp / "refused" / "dist"
        completed, seconds = release([*args, "--out", out], tmp / "refused-tmp")
        report.add(f"refused: {name}",
                   completed.returncode == 1 and completed.stderr.startswith("release: ")
                   and message in completed.stderr and not out.exists() and seconds < 30, failure_text(completed))


def check_release_a(report: Report, dist: Path) -> dict[str, Path]:
    names = [f"{preset}/setup.exe" for preset in IMAGES]
    listed = [line.split("  ", 1)[-1] for line in sums_of((dist / "SHA256SUMS").read_text())] \
        if (dist / "SHA256SUMS").is_file() else []
    report.add("SHA256SUMS lists both images, relative to the release folder", listed == names, listed)
    checked = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=dist)
    report.add("SHA256SUMS matches the images (sha256sum --check)", checked.returncode == 0, failure_text(checked))
    images = {preset: dist / preset / "setup.exe" for preset in IMAGES}
    for preset, machine in IMAGES.items():
        failed = [name for name, ok, _ in pe_checks(load(images[preset]), machine) if not ok] \
            if images[preset].is_file() else ["no image"]
        report.add(f"{preset}/setup.exe passes the PE checks ({machine})", not failed, failed)
    return images


def check_same_images(report: Report, a_dist: Path, b: subprocess.CompletedProcess, b_dist: Path,
                      tmp: Path) -> None:
    """B's plain images are A's: the sums it printed before signing, and its
    signed images with the signature removed."""
    built = [line[len("built: "):] for line in b.stdout.splitlines() if line.startswith("built: ")]
    expected = sums_of((a_dist / "SHA256SUMS").read_text())
    report.add("two releases, two folders, two times: the same unsigned images (SHA256SUMS)", built == expected,
               f"release A: {expected}; release B before signing: {built}")
    for preset in IMAGES:
        stripped = tmp / f"{preset}-unsigned.exe"
        removed = run(["osslsigncode", "remove-signature", "-in", b_dist / preset / "setup.exe", "-out", stripped])
        same = removed.returncode == 0 and stripped.read_bytes() == (a_dist / preset / "setup.exe").read_bytes()
        report.add(f"{preset}: the signed image without its signature is the unsigned image", same,
                   failure_text(removed) if removed.returncode else "the bytes differ")


def check_signatures(report: Report, b_dist: Path, ca: Path, other: tuple[Path, Path, Path], tmp: Path) -> None:
    for preset in IMAGES:
        image = b_dist / preset / "setup.exe"
        verified = verify(image, ca)
        digests = re.findall(r"^Message digest algorithm\s*:\s*(\S+)", verified.stdout, re.M)
        report.add(f"{preset}: the signature verifies against the test certificate (Authenticode, SHA-256)",
                   verified.returncode == 0 and "Signature verification: ok" in verified.stdout
                   and digests and set(digests) == {"SHA256"}, failure_text(verified))
        # One byte of code changed: the digest no longer matches.
        changed = tmp / f"{preset}-changed.exe"
        data = bytearray(image.read_bytes())
        offset = code_byte_offset(image)
        data[offset] ^= 0xFF
        changed.write_bytes(bytes(data))
        verified = verify(changed, ca)
        report.add(f"{preset}: one changed byte (offset {offset:#x}) fails the verification",
                   verified.returncode != 0 and "Signature verification: ok" not in verified.stdout,
                   failure_text(verified))
    # Signed by another certificate: not trusted by the test certificate.
    p12, password, _ = other
    foreign = tmp / "foreign.exe"
    signed = run(["osslsigncode", "remove-signature", "-in", b_dist / "win64" / "setup.exe", "-out", tmp / "plain.exe"])
    if signed.returncode == 0:
        signed = run(["osslsigncode", "sign", "-pkcs12", p12, "-readpass", password, "-h", "sha256",
                      "-in", tmp / "plain.exe", "-out", foreign])
    verified = verify(foreign, ca) if signed.returncode == 0 else signed
    report.add("signed by another certificate: fails the verification against the test certificate",
               signed.returncode == 0 and verified.returncode != 0, failure_text(verified))


def check_changed_line(report: Report, a_dist: Path, tmp: Path, certificate: tuple[Path, Path, Path]) -> float:
    """A clone of HEAD with one line changed and committed gives another
    image. That release is also sealed and signed (--seal, --sign): the
    signature covers the seal."""
    clone = tmp / "changed" / "clone"
    completed = run(["git", "clone", "-q", "--no-hardlinks", ROOT, clone])
    source = clone / CHANGED_FILE
    if completed.returncode != 0 or CHANGED_FROM not in source.read_text():
        report.add("one changed source line changes the image", False,
                   f"cannot prepare the clone: {failure_text(completed)}, or {CHANGED_FROM} not in {CHANGED_FILE}")
        return 0.0
    text = source.read_text()
    source.write_text(text.replace(CHANGED_FROM, CHANGED_TO, 1))
    numstat = run(["git", "diff", "--numstat"], cwd=clone).stdout.split()
    run(["git", "-c", "user.name=release test", "-c", "user.email=release@test.invalid", "commit", "-q", "-am",
         "one line changed"], cwd=clone)
    payload = tmp / "changed" / "payload"
    payload.mkdir(parents=True)
    for name, data in SEAL_PAYLOAD.items():
        (payload / name).write_bytes(data)
    p12, password, ca = certificate
    completed, seconds = release(["--only", "win64", "--seal", payload, "--sign", p12, "--password-file", password,
                                  "--out", tmp / "changed" / "dist"], tmp / "changed" / "tmp",
                                 script=clone / "scripts" / "release")
    image = tmp / "changed" / "dist" / "win64" / "setup.exe"
    ok = completed.returncode == 0 and image.is_file() and numstat[:2] == ["1", "1"]
    built = [line[len("built: "):] for line in completed.stdout.splitlines() if line.startswith("built: ")]
    a_sums = sums_of((a_dist / "SHA256SUMS").read_text())
    report.add("one changed source line changes the image",
               ok and len(built) == 1 and built[0] not in a_sums,
               f"lines changed {numstat}; " + (failure_text(completed) if completed.returncode else
                                               f"built {built}, release A {a_sums}"), seconds)
    if not ok:
        return seconds
    # Sealed, then signed: the manifest lists the payload and lies inside the signed image.
    stripped = tmp / "changed" / "unsigned.exe"
    removed = run(["osslsigncode", "remove-signature", "-in", image, "-out", stripped])
    seals = seals_of(load(stripped)) if removed.returncode == 0 else []
    listed = read_manifest(seals[0][1]) if len(seals) == 1 else None
    report.add("--seal: the released image carries the payload's manifest",
               listed == expected_entries(SEAL_PAYLOAD), f"seals {len(seals)}, manifest {listed}")
    verified = verify(image, ca)
    report.add("--seal --sign: the sealed image's signature verifies", verified.returncode == 0
               and "Signature verification: ok" in verified.stdout, failure_text(verified))
    data = bytearray(image.read_bytes())
    at = bytes(data).find(b"SEAL\x01\x00")
    changed = tmp / "changed" / "manifest-changed.exe"
    if at >= 0:
        data[at + 20] ^= 0x01  # a byte of the first name
        changed.write_bytes(bytes(data))
    refused = verify(changed, ca) if at >= 0 else None
    report.add("--seal --sign: one changed byte of the manifest fails the verification",
               refused is not None and refused.returncode != 0 and "Signature verification: ok" not in refused.stdout,
               "no manifest found" if refused is None else failure_text(refused))
    return seconds


def check_signed_lanes(report: Report, b_dist: Path, build_root: Path) -> float:
    started = time.monotonic()
    for lane in ("32", "64"):
        preset = LANES[lane].preset
        names = [f"signed {preset}/setup.exe, lane {lane}: {case}" for case in SIGNED_CASES]
        reason = why_not(lane)
        if reason:
            for name in names:
                report.skip(name, reason)
            continue
        command = ["xvfb-run", "-a", sys.executable, ROOT / "tests" / "e2e" / "run.py", "--build",
                   build_root / preset, "--setup-exe", b_dist / preset / "setup.exe", "-j", "2"]
        for case in SIGNED_CASES:
            command += ["-k", case]
        completed = run(command)
        lines = {m.group(2): (m.group(1), m.group(3) or "")
                 for m in re.finditer(r"^(PASS|FAIL|SKIP) (\S+) \([0-9.]+ s\)(?::\s*(.*))?$", completed.stdout, re.M)}
        for case, name in zip(SIGNED_CASES, names):
            status, detail = lines.get(case, ("FAIL", f"not run: {failure_text(completed)}"))
            if status == "SKIP":
                report.skip(name, detail)
            else:
                report.add(name, status == "PASS", detail)
        if completed.returncode != 0 and all(s != "FAIL" for s, _ in lines.values()):
            report.add(f"signed {preset}/setup.exe, lane {lane}: end-to-end run", False, failure_text(completed))
    return time.monotonic() - started


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--junit")
    parser.add_argument("--build-root", type=Path, default=ROOT / "build",
                        help="where build/win32 and build/win64 (with their tools) lie")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    report = Report()
    started = time.monotonic()
    tmp = Path(tempfile.mkdtemp(prefix="fansetup-release-test."))
    try:
        check_refusals(report, tmp)
        certificate = make_certificate(tmp / "certificate", "Fan Service Test Signing")
        other = make_certificate(tmp / "other-certificate", "Someone Else")
        a_dist, b_dist = tmp / "a" / "dist", tmp / "b" / "dist"
        a, a_seconds = release(["--out", a_dist], tmp / "one")
        if not report.add("release A (unsigned)", a.returncode == 0, failure_text(a), a_seconds):
            return finish(report, args, started)
        check_release_a(report, a_dist)
        p12, password, ca = certificate
        b, b_seconds = release(["--out", b_dist, "--sign", p12, "--password-file", password, "--unsealed"],
                               tmp / "a-folder-with-a-longer-name" / "two")
        if report.add("release B (signed with the test certificate, --unsealed)", b.returncode == 0 and
                      "signed: win32/setup.exe (unsealed)" in b.stdout, failure_text(b), b_seconds):
            check_same_images(report, a_dist, b, b_dist, tmp)
            check_signatures(report, b_dist, ca, other, tmp)
        c_seconds = check_changed_line(report, a_dist, tmp, certificate)
        e2e_seconds = check_signed_lanes(report, b_dist, args.build_root.resolve()) \
            if b.returncode == 0 else 0.0
        print(f"release: A {a_seconds:.0f} s, B {b_seconds:.0f} s, changed line {c_seconds:.0f} s, "
              f"signed images' cases {e2e_seconds:.0f} s")
    finally:
        if args.keep:
            print(f"release: kept {tmp}")
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    return finish(report, args, started)


def finish(report: Report, args, started: float) -> int:
    if args.junit:
        report.write(args.junit)
    print(f"release: {len(report.suite)} checks, {report.failed} failed, in {time.monotonic() - started:.0f} s")
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())

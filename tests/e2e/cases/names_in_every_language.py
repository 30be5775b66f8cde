"""Names in every language: a program folder, payload files, a service
executable, an install path and a version named outside the ANSI code page
(1252), or with characters whose second byte in the double-byte code page
932 is 0x5C (the byte of a backslash), deploy like any other: every file
under its exact name, byte for byte, the service executable launched, and
"Path" and "Version" recorded as the exact texts (read back through the
wide functions)."""

from harness import DEFAULT_SETTINGS, add_case, check, check_equal, simple_package, win_join

RECORD_KEY = DEFAULT_SETTINGS["RegistryKey"]

# The Unix locales the cases run Wine in: they set its ANSI code page.
LOCALE_1252 = "C.UTF-8"
LOCALE_932 = "ja_JP.UTF-8"

OTHER_SCRIPTS = {
    "readme.txt": b"plain ASCII beside the others\r\n",
    "\u0444\u0430\u0439\u043b.dll": b"Cyrillic " + bytes(range(256)),         # файл.dll
    "\u03b1\u03c1\u03c7\u03b5\u03af\u03bf.dat": b"Greek \x00\x01\x02",        # αρχείο.dat
    "\u6570\u636e.bin": b"Chinese " + bytes(range(255, -1, -1)),               # 数据.bin
    "\U0001f600 smile.txt": b"an emoji, outside the basic plane",             # 😀 smile.txt
}


def open_gate(ctx):
    ctx.install_component({"iAcpiMbif": {"Data": simple_package(0x200).hex()}})


def wide_values(ctx) -> dict[str, str] | None:
    """The record's string values as the wide functions read them."""
    key = ctx.regdump(RECORD_KEY, wide=True)
    if key is None:
        return None
    out = {}
    for value in key["values"]:
        check_equal(value["type"], 1, f"type of {value['name']}")
        data = bytes.fromhex(value["data"])
        check(data.endswith(b"\0\0"), f"{value['name']} without its terminating zero: {data!r}")
        out[value["name"]] = data[:-2].decode("utf-16-le")
    return out


def check_deployed_exactly(ctx, program_folder: str, install: str) -> None:
    source = {n: d for n, d in ctx.listing(program_folder).items() if d is not None}
    copied = {n: d for n, d in ctx.listing(install).items() if n != "service_runs.log"}
    check_equal(sorted(copied), sorted(source), f"files in {install}")
    for name, data in source.items():
        check(copied[name] == data, f"{install}{name} differs from the program folder's copy")


def deploys_exactly(ctx, locale: str, program_folder: str, files: dict[str, bytes], execution: str,
                    install_path: str, version: str, encoding: str):
    ctx.set_locale(locale)
    open_gate(ctx)
    settings = dict(DEFAULT_SETTINGS, Execution=execution, InstallPath=install_path, version=version)
    ctx.put_setup(files=files, service=execution, settings=settings, folder=program_folder, encoding=encoding)

    result = ctx.run_setup(folder=program_folder)

    check_equal((result.exit_code, result.timed_out, result.texts()), (0, False, []),
                "(exit code, timed out, message boxes)")
    install = ctx.install_dir(version=version, install_path=install_path)
    check_deployed_exactly(ctx, program_folder, install)
    exe = install + execution
    runs = ctx.service_runs(install)
    check_equal([(r["commandLine"], r["exePath"]) for r in runs], [(f'"{exe}" /Service', exe)],
                "service executable runs (command line, path)")
    check_equal(wide_values(ctx), {"Version": version, "Path": install}, "registry record, read wide")

    # The record reads back as the offered version: a second run finds
    # nothing to do (the comparison is made in the ANSI code page).
    again = ctx.run_setup(folder=program_folder)
    check_equal((again.exit_code, again.texts()), (0, []), "second run (exit code, message boxes)")
    check_equal(len(ctx.service_runs(install)), 1, "service executable runs after the second run")


ROWS = {
    # A Chinese user name on an English Windows: the folder, the files, the
    # install path (setup.ini in UTF-16, as the code page cannot hold it).
    "cp1252_other_scripts": dict(
        locale=LOCALE_1252, program_folder="C:\\Users\\\u5f20\u4f1f\\Downloads\\\u65b0\u6a5f\u80fd",
        files=OTHER_SCRIPTS, execution="standin_service.exe",
        install_path="Fan\\\u0412\u0435\u043d\u0442\u0438\u043b\u044f\u0442\u043e\u0440 \u98ce\u6247",
        version="2.1.0", encoding="utf-16"),
    # The service executable itself named outside the code page.
    "cp1252_service_executable_named_in_other_scripts": dict(
        locale=LOCALE_1252, program_folder="C:\\\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430",
        files={"a.dll": b"a"}, execution="\u0441\u043b\u0443\u0436\u0431\u0430 \u670d\u52a1.exe",
        install_path=DEFAULT_SETTINGS["InstallPath"], version="1.0", encoding="utf-16"),
    # Code page 932: the folder ends in 能, the files are ソ.dll and 表.txt,
    # the version 表1; setup.ini in the code page itself.
    "cp932_second_byte_0x5c": dict(
        locale=LOCALE_932, program_folder="C:\\\u65b0\u6a5f\u80fd",
        files={"\u30bd.dll": b"so " * 100, "\u8868.txt": b"hyou\r\n"}, execution="standin_service.exe",
        install_path=DEFAULT_SETTINGS["InstallPath"], version="\u88681", encoding="cp932"),
}

for _name, _row in ROWS.items():
    add_case(f"names_in_every_language[{_name}]", deploys_exactly, needs_component=True, **_row)

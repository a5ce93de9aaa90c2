#!/usr/bin/env python3
"""Reads the resources and imports back from a built Windows program.

    check_exe.py Pruvex.exe resources/Version.cmake
    check_exe.py pruvex-measure.exe resources/Version.cmake pruvex-measure.exe pruvex-measure console

Checks the version record field by field against the shared version file
(by default the record of Pruvex.exe; else the file and internal name
given), the icon group (16, 32 and 48 pixels, 32-bit), the DPI-aware
manifest, the subsystem (windows, or console), and that the program imports
nothing but system DLLs.
"""

import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "shell32.dll",
               "ws2_32.dll"}
SUBSYSTEMS = {"windows": 2, "console": 3}

passes = 0
failures = 0


def check(ok, what):
    global passes, failures
    print(("ok: " if ok else "FAIL: ") + what)
    if ok:
        passes += 1
    else:
        failures += 1


def resource(exe, kind):
    return subprocess.run(["wrestool", "-x", "--raw", f"--type={kind}", exe],
                          check=True, capture_output=True).stdout


def read_version_file(path):
    values = {}
    for name, value in re.findall(r'set\((\w+)\s+"([^"]*)"\)', open(path).read()):
        values[name] = value
    return values


def parse_block(data, at):
    """One VS_VERSIONINFO-style block: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_start = at + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[value_at:value_at + value_size]
    children = []
    child_at = (value_at + value_size + 3) & ~3
    while child_at < end:
        child = parse_block(data, child_at)
        children.append(child)
        child_at = (child[3] + 3) & ~3
    return key, value, children, end


def main():
    exe, version_file = sys.argv[1], sys.argv[2]
    expected = read_version_file(version_file)
    original = sys.argv[3] if len(sys.argv) > 3 else expected["PRUVEX_ORIGINAL_FILENAME"]
    internal = sys.argv[4] if len(sys.argv) > 4 else expected["PRUVEX_PRODUCT_NAME"]
    subsystem = sys.argv[5] if len(sys.argv) > 5 else "windows"

    key, fixed, children, _ = parse_block(resource(exe, 16), 0)
    check(key == "VS_VERSION_INFO", "version record present")
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
    major, minor = (int(part) for part in expected["PRUVEX_VERSION"].split("."))
    check(signature == 0xFEEF04BD and ms == (major << 16 | minor) and ls == 0,
          f"fixed file version {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
    blocks = {child[0]: child for child in children}
    tables = {table[0]: table for table in blocks.get("StringFileInfo", ("", b"", [], 0))[2]}
    codepage = expected["PRUVEX_LANGUAGE_CODEPAGE"]
    check(list(tables) == [codepage], f"one string table, {list(tables)}")
    strings = {}
    for name, value, _, _ in tables.get(codepage, ("", b"", [], 0))[2]:
        strings[name] = value.decode("utf-16-le").rstrip("\0")
    wanted = {
        "FileVersion": expected["PRUVEX_VERSION"],
        "ProductVersion": expected["PRUVEX_VERSION"],
        "ProductName": expected["PRUVEX_PRODUCT_NAME"],
        "InternalName": internal,
        "OriginalFilename": original,
    }
    for name, value in wanted.items():
        check(strings.get(name) == value, f'{name} is "{strings.get(name)}"')
    check(set(strings) == set(wanted), f"no other strings: {sorted(strings)}")
    translations = [child for child in blocks.get("VarFileInfo", ("", b"", [], 0))[2]
                    if child[0] == "Translation"]
    pairs = struct.unpack("<HH", translations[0][1][:4]) if translations else None
    check(pairs == (int(codepage[:4], 16), int(codepage[4:], 16)),
          f"translation {pairs} matches {codepage}")

    group = resource(exe, 14)
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted(entry[0] for entry in entries)
    check(kind == 1 and sizes == [16, 32, 48], f"icon group of sizes {sizes}")
    check(all(entry[5] == 32 for entry in entries), "every icon image is 32-bit")

    manifest = resource(exe, 24).decode("utf-8")
    check("PerMonitorV2" in manifest, "manifest asks for per-monitor DPI awareness")

    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True,
                          capture_output=True, text=True).stdout
    found = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", dump, re.MULTILINE)
    check(found is not None and int(found.group(1), 16) == SUBSYSTEMS[subsystem],
          f"a {subsystem} program ({found.group(0) if found else 'no subsystem'})")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    check(bool(dlls) and dlls <= SYSTEM_DLLS, f"imports only system DLLs: {sorted(dlls)}")

    print(f"{passes} passed, {failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks of what Pruvex installs and ships, one subcommand each.

    check_package.py make-deb BUILD OUT           cpack the .deb, unpack it in OUT/tree
    check_package.py install BUILD OUT            cmake --install into OUT/tree
    check_package.py files TREE ID KIND           the tree's exact file list (KIND deb or install),
                                                  no web address or e-mail in its texts
    check_package.py deb DEB                      the .deb's control fields, no address in them
    check_package.py lintian DEB                  lintian: no error and no warning
    check_package.py desktop TREE ID              desktop-file-validate, no message
    check_package.py appstream TREE ID            appstreamcli validate, no error or warning
    check_package.py man TREE [PROGRAM]           man --warnings, no warning, every option
    check_package.py icons TREE ID COLOURS        each icon size drawn at its size
    check_package.py zip ZIP EXE MEASURE_EXE LICENSE VERSION_FILE
                                               the zip's files, its programs the tested ones
    check_package.py versions VERSION_FILE DEB TREE EXE   the version in all six places
    check_package.py pictures RUN_UNDER_X DRIVER PROGRAM DOCS OUT

Prints one line per check and exits 1 when any failed.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib
from xml.etree import ElementTree

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
# The programs in bin/, each with its man page.
PROGRAMS = ["pruvex", "pruvex-measure", "pruvex-series"]

passes = 0
failures = 0


def check(ok, what):
    global passes, failures
    print(("ok: " if ok else "FAIL: ") + what, flush=True)
    if ok:
        passes += 1
    else:
        failures += 1
    return ok


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def tree_files(tree):
    found = []
    for folder, _, names in os.walk(tree):
        for name in names:
            found.append(os.path.relpath(os.path.join(folder, name), tree))
    return sorted(found)


def expected_files(app_id, kind):
    prefix = "usr/" if kind == "deb" else ""
    pages = [f"share/man/man1/{program}.1" + (".gz" if kind == "deb" else "")
             for program in PROGRAMS]
    files = [f"bin/{program}" for program in PROGRAMS]
    files += [f"share/applications/{app_id}.desktop", f"share/metainfo/{app_id}.metainfo.xml",
              "share/doc/pruvex/copyright"] + pages
    files += [f"share/icons/hicolor/{n}x{n}/apps/{app_id}.png" for n in ICON_SIZES]
    if kind == "deb":
        files += ["share/doc/pruvex/changelog.gz", "share/lintian/overrides/pruvex"]
    return sorted(prefix + name for name in files)


# The project has no public home: what it ships names no web address and no
# e-mail. Allowed are only the addresses of others that a text must carry
# as they are: the identifier of Debian's copyright format.
ADDRESS = re.compile(r"(?i)\b(?:https?|ftp)://\S*|\bwww\.[\w-]+\.\S*|"
                     r"[\w.+-]+@[\w-]+(?:\.[\w-]+)+|\bmailto:\S*")
OTHERS_ADDRESSES = {"https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"}


def no_address(name, text):
    found = sorted(set(ADDRESS.findall(text)) - OTHERS_ADDRESSES)
    check(not found, f"no web address or e-mail in {name} {found if found else ''}")


def installed(tree, relative):
    """A file of an installed tree, with or without the deb's usr/."""
    for prefix in ("usr", ""):
        path = os.path.join(tree, prefix, relative)
        if os.path.exists(path):
            return path
    return os.path.join(tree, relative)


def read_png(path):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError(f"{path}: only 8-bit RGB or RGBA without interlace is read here")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, channels)])
        previous = line
    return width, height, rows


def first_difference(a, b):
    (wa, ha, rows_a), (wb, hb, rows_b) = a, b
    if (wa, ha) != (wb, hb):
        return f"size {wa} x {ha} against {wb} x {hb}"
    for y in range(ha):
        if rows_a[y] != rows_b[y]:
            x = next(x for x in range(wa) if rows_a[y][x] != rows_b[y][x])
            return f"at {x},{y}: {rows_a[y][x]} against {rows_b[y][x]}"
    return ""


def make_deb(build, out):
    fresh(out)
    result = run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                  "-B", out])
    print(result.stdout + result.stderr)
    debs = [name for name in os.listdir(out) if name.endswith(".deb")]
    if check(result.returncode == 0 and len(debs) == 1, f"cpack made {debs}"):
        unpacked = run(["dpkg-deb", "-x", os.path.join(out, debs[0]), os.path.join(out, "tree")])
        check(unpacked.returncode == 0, "dpkg-deb -x unpacked it " + unpacked.stderr)


def install(build, out):
    fresh(out)
    result = run(["cmake", "--install", build, "--prefix", os.path.join(out, "tree")])
    check(result.returncode == 0, "cmake --install " + result.stderr)


def files(tree, app_id, kind):
    got, want = tree_files(tree), expected_files(app_id, kind)
    for name in got:
        print("  " + name)
    check(got == want, f"exactly the {len(want)} expected files; missing "
          f"{sorted(set(want) - set(got))}, extra {sorted(set(got) - set(want))}")
    for program in PROGRAMS:
        check(os.access(installed(tree, f"bin/{program}"), os.X_OK), f"bin/{program} is executable")
    for name in got:
        if "bin/" in name or name.endswith(".png"):
            continue
        data = open(os.path.join(tree, name), "rb").read()
        if name.endswith(".gz"):
            data = zlib.decompress(data, 31)
        no_address(name, data.decode("utf-8", "replace"))


def deb(path):
    fields = {}
    for line in run(["dpkg-deb", "-f", path]).stdout.splitlines():
        if line[:1] not in (" ", "") and ":" in line:
            name, value = line.split(":", 1)
            fields[name] = value.strip()
            last = name
        elif line.startswith(" "):
            fields[last] += "\n" + line
    print("\n".join(f"  {name}: {value}" for name, value in fields.items()))
    check(fields.get("Package") == "pruvex", "package pruvex")
    check("Homepage" not in fields, "no Homepage field")
    no_address("the control fields", "\n".join(f"{n}: {v}" for n, v in fields.items()))
    check(fields.get("Section") == "graphics", f"section {fields.get('Section')}")
    check(fields.get("Architecture") == run(["dpkg", "--print-architecture"]).stdout.strip(),
          f"architecture {fields.get('Architecture')}")
    depends = fields.get("Depends", "")
    # dpkg-shlibdeps writes each library's package with the version its symbols need.
    check(re.search(r"libqt6widgets6 \(>= [^)]+\)", depends) is not None and
          re.search(r"libc6 \(>= [^)]+\)", depends) is not None and
          re.search(r"libraw20 \(>= [^)]+\)", depends) is not None and
          re.search(r"(^|, )qt6-wayland(,|$)", depends) is not None,
          f"Depends from dpkg-shlibdeps (Qt, LibRaw, libc), and qt6-wayland: {depends}")
    check("gphoto2" not in depends and fields.get("Recommends") == "gphoto2",
          f"gphoto2 recommended, not required: {fields.get('Recommends')}")
    long_lines = fields.get("Description", "").split("\n")[1:]
    check(len(long_lines) >= 4 and all(len(line) <= 80 for line in long_lines),
          f"a long description of {len(long_lines)} lines within 80 columns")


# What lintian is told to accept (packaging/lintian-overrides, with the
# reasons): Debian wants an e-mail address where Pruvex has none.
LINTIAN_OVERRIDDEN = {"malformed-contact", "syntax-error-in-debian-changelog"}


def lintian(path):
    command = ["lintian", "--allow-root", "--fail-on", "error,warning", "--display-info",
               "--pedantic", path]
    result = run(command)
    print(result.stdout + result.stderr)
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EW]: ", line)]
    check(result.returncode == 0 and not tags, f"lintian: no error or warning ({len(tags)})")
    # Shown, overridden hints count towards --fail-on: a second run lists them.
    shown = run(command[:-1] + ["--show-overrides", path]).stdout
    print(shown)
    overridden = set(re.findall(r"^O: pruvex: (\S+)", shown, re.M))
    check(overridden == LINTIAN_OVERRIDDEN,
          f"overridden only {sorted(LINTIAN_OVERRIDDEN)}: {sorted(overridden)}")


def desktop(tree, app_id):
    path = installed(tree, f"share/applications/{app_id}.desktop")
    result = run(["desktop-file-validate", path])
    print(result.stdout + result.stderr)
    check(result.returncode == 0 and not (result.stdout + result.stderr).strip(),
          "desktop-file-validate: no error, no warning, no hint")
    entry = dict(line.split("=", 1) for line in open(path).read().split("\n\n")[0].splitlines()
                 if "=" in line)
    check(entry.get("Icon") == app_id and
          os.path.exists(installed(tree, f"share/icons/hicolor/48x48/apps/{app_id}.png")),
          f"Icon={entry.get('Icon')} is installed")
    check(entry.get("Exec", "").split()[0] == "pruvex" and
          os.path.exists(installed(tree, "bin/pruvex")), f"Exec={entry.get('Exec')} is installed")


def appstream(tree, app_id):
    path = installed(tree, f"share/metainfo/{app_id}.metainfo.xml")
    result = run(["appstreamcli", "validate", "--no-net", "--pedantic", path])
    print(result.stdout + result.stderr)
    problems = [line for line in result.stdout.splitlines() if re.match(r"[EW]: ", line)]
    check(result.returncode == 0 and not problems,
          f"appstreamcli validate: no error, no warning ({len(problems)})")
    component = ElementTree.parse(path).getroot()
    check(component.findtext("launchable") == f"{app_id}.desktop" and
          os.path.exists(installed(tree, f"share/applications/{app_id}.desktop")),
          "its launchable is the installed desktop entry")


# The sections of each program's man page.
MAN_SECTIONS = {
    "pruvex": ("NAME", "SYNOPSIS", "DESCRIPTION", "ARGUMENTS", "OPTIONS", "KEYS", "EXIT STATUS",
               "EXAMPLES"),
    "pruvex-measure": ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "OUTPUT", "EXIT STATUS",
                       "EXAMPLES"),
    "pruvex-series": ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS",
                      "EXAMPLES"),
}


def man(tree, program="pruvex"):
    path = installed(tree, f"share/man/man1/{program}.1")
    if not os.path.exists(path):
        path += ".gz"
    result = run(["man", "--warnings", "-E", "UTF-8", "-l", path],
                 env=dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat"))
    print(result.stderr)
    check(result.returncode == 0 and not result.stderr.strip(), "man --warnings: no warning")
    text = result.stdout
    for section in MAN_SECTIONS[program]:
        check(re.search(rf"^{section}$", text, re.M) is not None, f"section {section}")
    # Every option the program's own usage text names is described.
    usage = run([installed(tree, f"bin/{program}"), "--help"]).stdout
    options = sorted(set(re.findall(r"--[a-z][a-z-]*", usage)))
    described = re.search(r"^OPTIONS$(.*?)^\S", text, re.M | re.S)
    missing = [option for option in options
               if described is None or not re.search(rf"^ +{option}\b", described.group(1), re.M)]
    check(bool(options) and not missing, f"the options of --help {options} are described "
          f"(missing {missing})")


def icons(tree, app_id, colour_table):
    colours = {}
    for line in open(colour_table).read().splitlines()[1:]:
        level, red, green, blue = (int(field) for field in line.split(","))
        colours[level] = (red, green, blue)
    for size in ICON_SIZES:
        path = installed(tree, f"share/icons/hicolor/{size}x{size}/apps/{app_id}.png")
        if not check(os.path.exists(path), f"{size} x {size} icon installed"):
            continue
        width, height, rows = read_png(path)
        # A 4 x 4 mosaic of levels 16, 32, ... 256 in reading order; the last
        # row and column take the pixels that do not divide by 4.
        cell = max(size // 4, 1)
        expected = [[colours[16 + 16 * (min(y // cell, 3) * 4 + min(x // cell, 3))]
                     for x in range(size)] for y in range(size)]
        difference = first_difference((width, height, rows), (size, size, expected))
        check(not difference, f"{size} x {size} icon drawn at its size {difference}")


def zip_file(path, exe, measure_exe, series_exe, license_path, version_file):
    version = dict(re.findall(r'set\((\w+)\s+"([^"]*)"\)', open(version_file).read()))[
        "PRUVEX_VERSION"]
    members = {
        "Pruvex.exe", "pruvex-measure.exe", "pruvex-series.exe", "README.txt", "LICENSE.txt",
        "licences/GCC-RUNTIME.txt", "licences/GPL-3.txt", "licences/MINGW-W64.txt",
        "licences/ZLIB.txt", "licences/LIBRAW-COPYRIGHT.txt", "licences/LIBRAW-CDDL.txt",
        "licences/LIBRAW-LGPL.txt"}
    check(os.path.basename(path) == f"Pruvex-{version}-win64.zip", f"named {path}")
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        print("\n".join(f"  {info.filename} {info.file_size}" for info in archive.infolist()))
        check(sorted(names) == sorted(members), f"exactly {sorted(members)}, got {sorted(names)}")
        read = {name: archive.read(name) for name in names}
    for name, tested in (("Pruvex.exe", exe), ("pruvex-measure.exe", measure_exe),
                         ("pruvex-series.exe", series_exe)):
        check(read.get(name) == open(tested, "rb").read(),
              f"{name} is byte-identical to the tested {tested}")
    # The zip's console programs as a user gets them: their version records,
    # icons, subsystem and imports (system DLLs only), and their size (they
    # carry LibRaw and the runtime).
    for program in ("pruvex-measure", "pruvex-series"):
        name = program + ".exe"
        size = len(read.get(name, b""))
        check(0 < size < 8 << 20, f"{name} is {size} bytes, under 8 MB")
        with tempfile.TemporaryDirectory() as folder:
            unpacked = os.path.join(folder, name)
            with open(unpacked, "wb") as out:
                out.write(read.get(name, b""))
            result = run([sys.executable, os.path.join(os.path.dirname(__file__), "..", "wine",
                                                       "check_exe.py"),
                          unpacked, version_file, name, program, "console"])
            print(result.stdout + result.stderr)
            check(result.returncode == 0, f"the zip's {name} passes check_exe.py")
    for name in ("README.txt", "LICENSE.txt") + tuple(m for m in members if "/" in m):
        text = read.get(name, b"")
        check(text.count(b"\n") > 0 and text.count(b"\n") == text.count(b"\r\n"),
              f"{name} has Windows line ends")
    check(read.get("LICENSE.txt", b"").replace(b"\r\n", b"\n") == open(license_path, "rb").read(),
          "LICENSE.txt is LICENSE")
    # The notices in licences/ are the runtime's own, shipped as they are.
    for name in ("README.txt", "LICENSE.txt"):
        no_address(f"the zip's {name}", read.get(name, b"").decode("utf-8", "replace"))
    readme = read.get("README.txt", b"").decode("utf-8", "replace")
    check(readme.startswith(f"Pruvex {version} for Windows"), "README.txt names the version")
    for word in ("Pruvex.exe", "--fullscreen", "F11", "Exit status", "LICENSE.txt", "licences",
                 "pruvex-measure.exe", "LibRaw", "*.NEF", "pruvex-series.exe",
                 "--camera=digicamcontrol", "CameraControlCmd.exe", "series.csv"):
        check(word in readme, f"README.txt tells of {word}")
    notices = {"licences/GCC-RUNTIME.txt": b"GCC RUNTIME LIBRARY EXCEPTION",
               "licences/GPL-3.txt": b"GNU GENERAL PUBLIC LICENSE",
               "licences/MINGW-W64.txt": b"winpthreads",
               "licences/ZLIB.txt": b"Jean-loup Gailly",
               "licences/LIBRAW-COPYRIGHT.txt": b"LibRaw",
               "licences/LIBRAW-CDDL.txt": b"COMMON DEVELOPMENT AND DISTRIBUTION LICENSE",
               "licences/LIBRAW-LGPL.txt": b"LESSER GENERAL PUBLIC LICENSE"}
    for name, words in notices.items():
        check(words in read.get(name, b""), f"{name} holds {words.decode()}")


def versions(version_file, deb_path, tree, exe):
    expected = dict(re.findall(r'set\((\w+)\s+"([^"]*)"\)', open(version_file).read()))
    version, date = expected["PRUVEX_VERSION"], expected["PRUVEX_RELEASE_DATE"]
    found = {}
    for program in PROGRAMS:
        # "NAME VERSION", and then what it carries
        text = run([installed(tree, f"bin/{program}"), "--version"]).stdout
        output = text.split()
        found[f"{program} --version"] = output[1] if len(output) > 1 else None
        if program == "pruvex-measure":
            check(re.search(r"\(LibRaw \d+\.\d+", text) is not None,
                  f"pruvex-measure --version names its LibRaw: {text.strip()}")
    found[".deb"] = run(["dpkg-deb", "-f", deb_path, "Version"]).stdout.strip()
    metainfo = ElementTree.parse(installed(tree, f"share/metainfo/{expected['PRUVEX_APP_ID']}"
                                                 ".metainfo.xml")).getroot()
    release = metainfo.find("releases/release")
    found["AppStream release"] = release.get("version") if release is not None else None
    man_path = installed(tree, "share/man/man1/pruvex.1.gz")
    header = next(line for line in zlib.decompress(open(man_path, "rb").read(), 31)
                  .decode().splitlines() if line.startswith(".TH "))
    fields = re.findall(r'"([^"]*)"|(\S+)', header)
    fields = [a or b for a, b in fields]
    found["man page header"] = fields[4].split()[-1] if len(fields) > 4 else None
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "wine"))
    import check_exe  # the exe's resource reader
    _, _, children, _ = check_exe.parse_block(check_exe.resource(exe, 16), 0)
    tables = {child[0]: child for child in children}["StringFileInfo"][2]
    strings = {name: value.decode("utf-16-le").rstrip("\0") for name, value, _, _ in tables[0][2]}
    found["Pruvex.exe version record"] = strings.get("ProductVersion")
    for place, value in found.items():
        check(value == version, f"{place} says {value}, the version record {version}")
    check(release is not None and release.get("date") == date and fields[3] == date,
          f"AppStream release and man page dated {date}")


def pictures(run_under_x, driver, program, docs, out):
    fresh(out)
    result = run([run_under_x, driver, "pictures", "--", program],
                 env=dict(os.environ, PRUVEX_PICTURE_DIR=out, QT_QPA_PLATFORM="xcb"))
    print(result.stdout + result.stderr)
    check(result.returncode == 0, "the pictures scenario passed")
    for name in ("flat.png", "grid.png"):
        fresh_picture = os.path.join(out, name)
        committed = os.path.join(docs, name)
        if not check(os.path.exists(fresh_picture) and os.path.exists(committed),
                     f"{name} made and committed"):
            continue
        difference = first_difference(read_png(committed), read_png(fresh_picture))
        check(not difference, f"docs/{name} shows what the program shows now {difference}"
              + (f" (to renew: cp {fresh_picture} {committed})" if difference else ""))


def main():
    commands = {"make-deb": make_deb, "install": install, "files": files, "deb": deb,
                "lintian": lintian, "desktop": desktop, "appstream": appstream, "man": man,
                "icons": icons, "zip": zip_file, "versions": versions, "pictures": pictures}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        print(__doc__)
        return 2
    commands[sys.argv[1]](*sys.argv[2:])
    print(f"{passes} passed, {failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

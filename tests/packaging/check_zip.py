#!/usr/bin/env python3
"""Checks the Windows zip: one top folder holding exactly ostrevane.exe,
ostrevane-render.exe, README.md and LICENSE.txt; both programs are 64-bit
Windows GUI/console executables whose version resource names the product
Ostrevane at the given version, and which import no MinGW run-time DLL (the
zip ships none).

Usage: check_zip.py ZIP VERSION     exit 0 good, 1 a check failed
"""

import os
import struct
import subprocess
import sys
import tempfile
import zipfile

EXPECTED = {"ostrevane.exe", "ostrevane-render.exe", "README.md", "LICENSE.txt"}
RT_VERSION = 16


class Bad(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Bad(message)


def sections(image):
    check(image[:2] == b"MZ", "no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    check(image[pe:pe + 4] == b"PE\0\0", "no PE header")
    machine, count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", image, pe + 4)
    check(machine == 0x8664, "not an x86-64 executable (machine 0x%x)" % machine)
    table = pe + 24 + optional_size
    for i in range(count):
        name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", image, table + 40 * i)
        yield name.rstrip(b"\0"), vaddr, max(vsize, rsize), raddr


def version_resource(image):
    """The bytes of the first RT_VERSION resource."""
    rsrc = next((s for s in sections(image) if s[0] == b".rsrc"), None)
    check(rsrc is not None, "no resource section")
    _, base_rva, _, base = rsrc

    def entries(offset):
        named, ids = struct.unpack_from("<HH", image, base + offset + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", image, base + offset + 16 + 8 * i)
            yield ident, target

    node = next((t for i, t in entries(0) if i == RT_VERSION), None)
    check(node is not None and node & 0x80000000, "no version resource")
    for _ in range(2):  # name, then language
        node = next(t for _, t in entries(node & 0x7FFFFFFF))
    rva, size = struct.unpack_from("<II", image, base + node)
    start = base + rva - base_rva
    return image[start:start + size]


def version_strings(block):
    """The StringFileInfo values of a VS_VERSIONINFO block, and its fixed
    file version (major, minor)."""
    strings = {}
    fixed = None

    def walk(offset, end, depth):
        # depth 0: VS_VERSIONINFO, 1: StringFileInfo or VarFileInfo,
        # 2: a string table, 3: one string.
        nonlocal fixed
        while offset + 6 <= end:
            length, value_length, _ = struct.unpack_from("<HHH", block, offset)
            check(length >= 6 and offset + length <= end, "corrupt version block")
            key_end = offset + 6
            while block[key_end:key_end + 2] != b"\0\0":
                check(key_end < offset + length, "corrupt version key")
                key_end += 2
            key = block[offset + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            if depth == 0:
                signature, _, ms, _ = struct.unpack_from("<IIII", block, value)
                check(signature == 0xFEEF04BD, "no fixed file information")
                fixed = (ms >> 16, ms & 0xFFFF)
                walk((value + value_length + 3) & ~3, offset + length, 1)
            elif (depth == 1 and key == "StringFileInfo") or depth == 2:
                walk(value, offset + length, depth + 1)
            elif depth == 3:
                text = block[value:value + 2 * value_length].decode("utf-16-le")
                strings[key] = text.rstrip("\0")
            offset = (offset + length + 3) & ~3

    walk(0, len(block), 0)
    return strings, fixed


def check_program(name, image, version):
    strings, fixed = version_strings(version_resource(image))
    check(strings.get("ProductName") == "Ostrevane",
          "%s: ProductName is %r" % (name, strings.get("ProductName")))
    for key in ("ProductVersion", "FileVersion"):
        check(strings.get(key) == version,
              "%s: %s is %r, expected %r" % (name, key, strings.get(key), version))
    major, minor = (int(v) for v in (version.split(".") + ["0"])[:2])
    check(fixed == (major, minor), "%s: fixed file version %s" % (name, fixed))


def imported_dlls(path):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                          text=True, check=True).stdout
    return [line.split(":", 1)[1].strip().lower() for line in dump.splitlines()
            if "DLL Name:" in line]


def main():
    if len(sys.argv) != 3:
        print("usage: check_zip.py ZIP VERSION", file=sys.stderr)
        return 2
    path, version = sys.argv[1:]
    try:
        with zipfile.ZipFile(path) as archive:
            files = [n for n in archive.namelist() if not n.endswith("/")]
            tops = {n.split("/", 1)[0] for n in files}
            check(len(tops) == 1 and all("/" in n for n in files),
                  "the zip is not one folder: %s" % sorted(files))
            names = {n.split("/", 1)[1] for n in files}
            check(names == EXPECTED, "zip holds %s, expected %s" % (sorted(names), sorted(EXPECTED)))
            top = tops.pop()
            for name in ("ostrevane.exe", "ostrevane-render.exe"):
                image = archive.read(top + "/" + name)
                check_program(name, image, version)
                # objdump reads a file: one in a folder of our own, never a
                # name beside the zip that something else may hold.
                with tempfile.TemporaryDirectory(prefix="ostrevane-zip-") as folder:
                    extracted = os.path.join(folder, name)
                    with open(extracted, "xb") as f:
                        f.write(image)
                    runtime = [d for d in imported_dlls(extracted)
                               if d.startswith(("libgcc", "libstdc++", "libwinpthread"))]
                check(not runtime, "%s needs %s, which the zip lacks" % (name, runtime))
    except (Bad, zipfile.BadZipFile, ValueError, struct.error) as failure:
        print("check_zip: FAILED - %s" % failure)
        return 1
    print("check_zip: ok - %s: %s, version resources name Ostrevane %s"
          % (path, ", ".join(sorted(EXPECTED)), version))
    return 0


if __name__ == "__main__":
    sys.exit(main())

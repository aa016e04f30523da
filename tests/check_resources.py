#!/usr/bin/env python3
"""Fails when an installer lacks its icon, manifest or version block.

    tests/check_resources.py EXE...

Reads the PE resource tree directly, signed or not: the icon group and every
image it lists, the manifest (no elevation, Common Controls 6, Windows 7
listed) and the version block with the product's name and file name.
Exit status: 0 when every file passes, 1 otherwise.
"""

import struct
import sys

from check_win7_imports import PeError, PeFile

RESOURCE_DIRECTORY = 2
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
IDI_APP = 1  # resources/resource.h
PRODUCT_NAME = "Zarvelo矢量图CDR插件安装程序"
FILE_NAME = "Zarvelo _Plugin_for_cdr.exe"


def resources(pe):
    """{(type, id): bytes} for the first language of every numbered entry."""
    root, _ = pe.directory(RESOURCE_DIRECTORY)
    if not root:
        raise PeError("no resources")
    base = pe.offset(root)

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", pe.data, base + offset + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", pe.data, base + offset + 16 + 8 * i)
            if not name & 0x80000000:
                yield name, target

    found = {}
    for kind, types in entries(0):
        for ident, languages in entries(types & 0x7FFFFFFF):
            language = next(iter(entries(languages & 0x7FFFFFFF)), None)
            if language is None or language[1] & 0x80000000:
                continue
            rva, size = struct.unpack_from("<II", pe.data, base + language[1])
            found[(kind, ident)] = pe.data[pe.offset(rva):pe.offset(rva) + size]
    return found


def problems(pe):
    found = resources(pe)
    result = []
    group = found.get((RT_GROUP_ICON, IDI_APP))
    if group is None or len(group) < 6:
        result.append("no icon group %d" % IDI_APP)
    else:
        count = struct.unpack_from("<H", group, 4)[0]
        for i in range(count):
            image = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
            if not found.get((RT_ICON, image)):
                result.append("icon image %d of the group is missing" % image)
    manifest = found.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    for needed in ('level="asInvoker"', "Microsoft.Windows.Common-Controls",
                   "35138b9a-5d96-4fbd-8e2d-a2440225f93a"):
        if needed not in manifest:
            result.append("manifest lacks %s" % needed)
    version = found.get((RT_VERSION, 1), b"")
    for key, value in (("ProductName", PRODUCT_NAME), ("OriginalFilename", FILE_NAME)):
        if (key + "\0").encode("utf-16-le") not in version or \
                (value + "\0").encode("utf-16-le") not in version:
            result.append("version block lacks %s %s" % (key, value))
    return result


def main(paths):
    failed = 0
    for path in paths:
        try:
            with open(path, "rb") as f:
                found = problems(PeFile(f.read()))
        except (OSError, PeError, struct.error) as error:
            found = ["cannot read resources: %s" % error]
        if found:
            failed += 1
            print("FAIL %s\n  %s" % (path, "\n  ".join(found)))
        else:
            print("PASS %s: icon, manifest and version block" % path)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Where an installer's bytes go: its sections, and the largest contributors
the linker's map file names.

    size_report.py [--top N] ARCH EXE [MAP] [ARCH EXE [MAP] ...]

MAP is the GNU ld map the build writes beside the installer
(build/<arch>/installer.map). Prints figures, not verdicts.
"""

import collections
import os
import re
import shutil
import struct
import subprocess
import sys

# What the map's object names mean to a reader of this project.
KINDS = [
    (r"\.rc\.res$", "resources (icon, version block, manifest)"),
    (r"^lib(kernel32|user32|gdi32|comctl32|ole32|winhttp|advapi32|shell32|msvcrt|bcrypt|crypt32|\w+)\.a\(.*s\d+\.o\)$|^dll stuff$",
     "import tables"),
    (r"^(crt2u?\.o|crtbegin\.o|crtend\.o|lib(mingw32|mingwex|gcc|moldname)\.a\(.*\))$", "MinGW C runtime"),
    (r"^lib(stdc\+\+|supc\+\+|gcc_eh)\.a\(", "C++ runtime"),
    (r"^libpthread\.a\(|^libwinpthread", "POSIX threads library"),
]


def kind(name):
    for pattern, label in KINDS:
        if re.search(pattern, name):
            return label
    return "own code"


def short(name):
    m = re.match(r"^libzarvelo_\w+\.a\((.*)\.obj\)$", name) or re.match(r"^(.*)\.obj$", name)
    return m.group(1) if m else name


def sections(path):
    """[(name, bytes in the file)] from the PE section table."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, _, _, _, optional_size = struct.unpack_from("<HIIIH", data, pe + 6)
    table = pe + 24 + optional_size
    result = []
    for i in range(count):
        name, _, _, raw_size = struct.unpack_from("<8sIII", data, table + 40 * i)
        result.append((name.rstrip(b"\0").decode("ascii", "replace"), raw_size))
    return result


# The link-time optimiser hands the linker one object of its own, under a
# temporary name; its functions are named instead (their sections are).
LTO_OBJECT = re.compile(r"\.lto\.o$|\.ltrans\d*\.ltrans\.o$")


def demangled(names):
    """{mangled: readable} for C++ names, as far as c++filt is at hand."""
    names = sorted(names)
    tool = shutil.which("c++filt") or shutil.which("x86_64-w64-mingw32-c++filt")
    if not tool or not names:
        return {n: n for n in names}
    out = subprocess.run([tool], input="\n".join(names), capture_output=True, text=True).stdout
    readable = out.splitlines()
    if len(readable) != len(names):
        return {n: n for n in names}
    return {n: re.sub(r"std::__cxx11::basic_string<wchar_t, std::char_traits<wchar_t>, "
                      r"std::allocator<wchar_t> >", "std::wstring", r)
            for n, r in zip(names, readable)}


def function_of(section):
    """The function (or data) a section of the optimiser's object holds."""
    m = re.match(r"^\.\w+\$(.+)$", section)
    return m.group(1) if m else "(whole program: %s)" % section


def contributors(map_path):
    """{object name: bytes it puts in loaded sections}, from an ld map; the
    link-time optimiser's object is split by function."""
    sizes = collections.Counter()
    functions = collections.Counter()
    output = None
    pending = None
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            head = re.match(r"^(\.\w+|/DISCARD/)(\s|$)", line)
            if head:
                output = head.group(1)
                continue
            if output in (None, ".bss", "/DISCARD/") or output.startswith(".debug"):
                continue
            m = re.match(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not m:
                lone = re.match(r"^ (\S+)$", line)
                if lone:
                    pending = lone.group(1)
                    continue
                m = pending and re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
                if not m:
                    continue
                address, size, source = m.groups()
                section = pending
            else:
                section, address, size, source = m.groups()
            pending = None
            if int(address, 16) and int(size, 16):
                name = os.path.basename(source.strip())
                if LTO_OBJECT.search(name):
                    functions[function_of(section)] += int(size, 16)
                else:
                    sizes[name] += int(size, 16)
    readable = demangled(functions)
    for name, n in functions.items():
        sizes[readable[name]] += n
    return sizes


def report(arch, exe, map_path, top):
    size = os.path.getsize(exe)
    print("  %-4s %7d bytes (%d KiB)" % (arch, size, (size + 1023) // 1024))
    print("       sections: " + ", ".join("%s %d" % s for s in sections(exe) if s[1]))
    if not map_path or not os.path.exists(map_path):
        return
    sizes = contributors(map_path)
    kinds = collections.Counter()
    for name, n in sizes.items():
        kinds[kind(name)] += n
    print("       by kind: " + ", ".join("%s %d" % k for k in kinds.most_common()))
    print("       largest: " + ", ".join("%s %d" % (short(n), s) for n, s in sizes.most_common(top)))


def main(argv):
    top = 8
    if argv[:1] == ["--top"]:
        top, argv = int(argv[1]), argv[2:]
    items = []
    while argv:
        arch, exe, argv = argv[0], argv[1], argv[2:]
        map_path = None
        if argv and argv[0].endswith(".map"):
            map_path, argv = argv[0], argv[1:]
        items.append((arch, exe, map_path))
    for arch, exe, map_path in items:
        report(arch, exe, map_path, top)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

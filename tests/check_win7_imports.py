#!/usr/bin/env python3
"""Fails when a program imports what Windows 7 SP1 lacks, or a DLL sought beside it.

    tests/check_win7_imports.py [--allowlist FILE] [--dump] EXE...

A static import the system does not export stops the program before its
first line runs ("entry point not found"), so every DLL and function in the
import table (and the delay-load table) must appear in win7_exports.txt
beside this script. Newer functions have to be looked up at run time with
GetProcAddress instead. The header's subsystem version must be 6.1. The PE
file is read directly, PE32 (x86) and PE32+ (x64) alike, so the check needs
nothing beyond python3.

--dump prints every import instead of checking, to help extend the list.
Exit status: 0 when every file passes, 1 otherwise.
"""

import argparse
import os
import struct
import sys

# The only DLLs the installer may import directly. Windows loads the ones on
# its known-DLL list (and ntdll, always there) from System32 whatever sits
# beside the program, and comctl32 through the manifest's side-by-side
# binding. Any other import would be looked for in the installer's own
# folder (usually Downloads) first: those are loaded from System32 at run
# time instead.
DIRECT_IMPORTS = {
    "advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
}

IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13
MACHINES = {0x014C: "x86", 0x8664: "x64", 0x01C4: "arm", 0xAA64: "arm64"}


class PeError(Exception):
    pass


class PeFile:
    """The parts of a PE image needed to read its import tables."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("not an MZ executable")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, "machine 0x%04x" % machine)
        optional = pe + 24
        magic = self.u16(optional)
        if magic == 0x10B:
            self.pe32_plus = False
            self.image_base = self.u32(optional + 28)
            directory_count = self.u32(optional + 92)
            directories = optional + 96
        elif magic == 0x20B:
            self.pe32_plus = True
            self.image_base = self.u64(optional + 24)
            directory_count = self.u32(optional + 108)
            directories = optional + 112
        else:
            raise PeError("unknown optional header magic 0x%x" % magic)
        self.directories = []
        for i in range(min(directory_count, 16)):
            self.directories.append(struct.unpack_from("<II", data, directories + 8 * i))
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            (virtual_size, virtual_address, raw_size,
             raw_pointer) = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((virtual_address, max(virtual_size, raw_size),
                                  raw_pointer, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def u64(self, offset):
        return struct.unpack_from("<Q", self.data, offset)[0]

    def offset(self, rva):
        for (address, size, raw_pointer, raw_size) in self.sections:
            if address <= rva < address + size:
                delta = rva - address
                if delta >= raw_size:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return raw_pointer + delta
        raise PeError("RVA 0x%x is outside every section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise PeError("unterminated string at RVA 0x%x" % rva)
        return self.data[start:end].decode("ascii", "replace")

    def directory(self, index):
        if index >= len(self.directories):
            return (0, 0)
        return self.directories[index]

    def thunks(self, rva):
        """Names (str) and ordinals (int) of one import lookup table."""
        width = 8 if self.pe32_plus else 4
        ordinal_flag = 1 << (width * 8 - 1)
        position = self.offset(rva)
        while True:
            entry = (self.u64(position) if self.pe32_plus else self.u32(position))
            if entry == 0:
                return
            if entry & ordinal_flag:
                yield entry & 0xFFFF
            else:
                yield self.string((entry & 0x7FFFFFFF) + 2)  # skip the hint
            position += width

    def imports(self):
        """(dll, [names and ordinals]) for the import and delay-load tables."""
        result = []
        rva, size = self.directory(IMPORT_DIRECTORY)
        if rva and size:
            position = self.offset(rva)
            while True:
                lookup, _, _, name, address = struct.unpack_from("<IIIII", self.data, position)
                if lookup == 0 and name == 0 and address == 0:
                    break
                # Some linkers leave the lookup table out; the address table
                # holds the same entries in the file until it is bound.
                result.append((self.string(name), list(self.thunks(lookup or address))))
                position += 20
        rva, size = self.directory(DELAY_IMPORT_DIRECTORY)
        if rva and size:
            position = self.offset(rva)
            while True:
                fields = struct.unpack_from("<8I", self.data, position)
                if not any(fields):
                    break
                attributes, name, _, _, names = fields[:5]
                if not attributes & 1:  # old style: addresses, not RVAs
                    name -= self.image_base
                    names -= self.image_base
                result.append((self.string(name), list(self.thunks(names))))
                position += 32
        return result


def load_allowlist(path):
    """{(dll in lower case, machine or None): set of names and '@ordinal's}.

    A section "[dll]" holds what every build of that DLL exports; "[dll x64]"
    or "[dll x86]" what only that machine's build does.
    """
    allowed = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                words = line[1:-1].split()
                if len(words) not in (1, 2) or (len(words) == 2 and words[1] not in ("x86", "x64")):
                    raise ValueError("%s:%d: bad section %r" % (path, number, line))
                key = (words[0].lower(), words[1] if len(words) == 2 else None)
                current = allowed.setdefault(key, set())
            elif current is None:
                raise ValueError("%s:%d: entry before any [dll] section" % (path, number))
            elif " " in line or "\t" in line:
                raise ValueError("%s:%d: one function per line: %r" % (path, number, line))
            else:
                current.add(line)
    return allowed


def symbol(function):
    return "@%d" % function if isinstance(function, int) else function


def check(path, allowed):
    """(passed, message lines) for one file."""
    try:
        with open(path, "rb") as f:
            pe = PeFile(f.read())
        imports = pe.imports()
    except (OSError, PeError, struct.error) as error:
        return False, ["FAIL %s: cannot read imports: %s" % (path, error)]
    problems = []
    count = 0
    for dll, functions in imports:
        if dll.lower() not in DIRECT_IMPORTS:
            problems.append("  %s: not a known DLL, so it would be looked for beside the program"
                            % dll)
            continue
        common = allowed.get((dll.lower(), None))
        own = allowed.get((dll.lower(), pe.machine))
        if common is None and own is None:
            problems.append("  %s: DLL not on Windows 7 SP1 (or not vetted)" % dll)
            continue
        for function in functions:
            count += 1
            name = symbol(function)
            if name not in (common or ()) and name not in (own or ()):
                problems.append("  %s!%s: not on Windows 7 SP1 (or not vetted)" % (dll, name))
    if problems:
        return False, ["FAIL %s (%s): %d import(s) missing on Windows 7 SP1"
                       % (path, pe.machine, len(problems))] + problems
    return True, ["PASS %s (%s): %d DLLs, %d functions, all on Windows 7 SP1"
                  % (path, pe.machine, len(imports), count)]


def check_subsystem_version(path):
    """(passed, message lines): the header must name Windows 7 (6.1) as the
    oldest system the file runs on, as the manifest does."""
    try:
        with open(path, "rb") as f:
            pe = PeFile(f.read())
        optional = pe.u32(0x3C) + 24
        version = (pe.u16(optional + 48), pe.u16(optional + 50))
    except (OSError, PeError, struct.error) as error:
        return False, ["FAIL %s: cannot read the header: %s" % (path, error)]
    if version != (6, 1):
        return False, ["FAIL %s (%s): subsystem version %d.%d, not 6.1 (Windows 7)"
                       % ((path, pe.machine) + version)]
    return True, []


def main(argv):
    default_list = os.path.join(os.path.dirname(os.path.abspath(__file__)), "win7_exports.txt")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--allowlist", default=default_list)
    parser.add_argument("--dump", action="store_true", help="print the imports, check nothing")
    parser.add_argument("exe", nargs="+")
    args = parser.parse_args(argv)

    if args.dump:
        for path in args.exe:
            with open(path, "rb") as f:
                pe = PeFile(f.read())
            for dll, functions in pe.imports():
                print("[%s]" % dll.lower())
                for function in functions:
                    print(symbol(function))
        return 0

    try:
        allowed = load_allowlist(args.allowlist)
    except (OSError, ValueError) as error:
        print("cannot read the allowlist: %s" % error)
        return 1
    passed = failed = 0
    for path in args.exe:
        ok, lines = check(path, allowed)
        version_ok, version_lines = check_subsystem_version(path)
        print("\n".join(lines + version_lines))
        if ok and version_ok:
            passed += 1
        else:
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

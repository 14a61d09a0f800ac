#!/usr/bin/env python3
"""Checks that a Windows program built here will start on Windows XP.

Reads the PE file itself (no Windows, no Wine) and reports every problem:
  - the machine, and the OS and subsystem versions in the optional header:
    5.01 for 32-bit (Windows XP), 5.02 for 64-bit (Windows XP Professional
    x64 Edition is NT 5.2, and no 64-bit Windows is older);
  - every imported DLL is a system DLL that Windows XP ships, and every
    imported function is on the list of functions checked against
    Microsoft's documentation (tests/xp/xp-imports.txt), for this
    architecture, with a minimum client older than Windows Vista;
  - the manifest asks for comctl32 version 6 and runs asInvoker;
  - the version resource carries the project's version;
  - the icon is there, in the uncompressed form that XP can draw.

With --objdump, the imports read here are compared with the ones binutils
lists, so that a fault in this reader cannot hide an import.

Usage: check_pe.py --arch i686|x86_64 --imports LIST [--version X.Y.Z] [--console]
                   [--objdump PATH] program.exe
Exit status 0 when everything holds, 1 when anything does not (each
problem on its own line, beginning with "FAIL").
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

# The system DLLs of Windows XP that the program may link to. Anything else
# (a runtime DLL of the toolchain, an API set, a DLL that came with a later
# Windows) would be missing on a plain XP machine.
XP_SYSTEM_DLLS = {
    "kernel32", "user32", "gdi32", "advapi32", "comctl32", "comdlg32",
    "shell32", "shlwapi", "ole32", "msvcrt",
}

MACHINES = {"i686": 0x014C, "x86_64": 0x8664}
# (major, minor) of the oldest Windows each build is for.
XP_VERSION = {"i686": (5, 1), "x86_64": (5, 2)}
SUBSYSTEM_WINDOWS_GUI = 2
SUBSYSTEM_WINDOWS_CUI = 3

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1

COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"
COMMON_CONTROLS_TOKEN = "6595b64144ccf1df"
MANIFEST_ARCH = {"i686": ("*", "x86"), "x86_64": ("*", "amd64")}

# Words that mark a minimum client newer than XP in the list's notes.
NEWER_THAN_XP = re.compile(
    r"Vista|Windows (7|8|8\.1|10|11)\b|Server (2008|2012|2016|2019|2022)", re.I)
# A note must name the old Windows (or the C runtime of one) it relies on.
OLD_ENOUGH = re.compile(r"Windows (2000|XP|NT|95|98)", re.I)


class PeError(Exception):
    pass


def dll_key(name):
    """'KERNEL32.dll' -> 'kernel32'."""
    name = name.lower()
    return name[:-4] if name.endswith(".dll") else name


class PeImage:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("not a PE file: no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE file: no PE signature")
        (self.machine, sections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic == 0x10B:
            self.image_base = struct.unpack_from("<I", data, opt + 28)[0]
            dirs_at = opt + 96
        elif self.magic == 0x20B:
            self.image_base = struct.unpack_from("<Q", data, opt + 24)[0]
            dirs_at = opt + 112
        else:
            raise PeError("unknown optional header magic 0x%x" % self.magic)
        (self.os_major, self.os_minor, _, _, self.subsys_major,
         self.subsys_minor) = struct.unpack_from("<6H", data, opt + 40)
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        count = struct.unpack_from("<I", data, dirs_at - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i)
                     for i in range(min(count, 16))]
        self.sections = []
        at = opt + opt_size
        for i in range(sections):
            name, vsize, va, rsize, raw = struct.unpack_from(
                "<8sIIII", data, at + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"),
                                  va, max(vsize, rsize), raw, rsize))

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def offset(self, rva):
        for _, va, size, raw, rsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rsize:
                    raise PeError("RVA 0x%x has no bytes in the file" % rva)
                return raw + rva - va
        raise PeError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1")

    def _thunks(self, rva, dll):
        size, fmt, flag = ((8, "<Q", 1 << 63) if self.magic == 0x20B
                           else (4, "<I", 1 << 31))
        names = []
        while True:
            value = struct.unpack_from(fmt, self.data, self.offset(rva))[0]
            if value == 0:
                return names
            if value & flag:
                names.append("#%d" % (value & 0xFFFF))
            else:
                name_rva = (value & 0x7FFFFFFF) + 2
                names.append(self.cstring(name_rva))
                self.name_offsets[(dll, names[-1])] = self.offset(name_rva)
            rva += size

    def imports(self):
        """[(dll, function, delay_loaded)] in file order. Also notes where
        each name is in the file (name_offsets, dll_name_offsets)."""
        found = []
        self.name_offsets, self.dll_name_offsets = {}, {}
        rva, size = self.directory(1)
        if rva:
            at = rva
            while True:
                lookup, _, _, name, first = struct.unpack_from(
                    "<IIIII", self.data, self.offset(at))
                if not (lookup or name or first):
                    break
                dll = self.cstring(name)
                self.dll_name_offsets[dll] = self.offset(name)
                for fn in self._thunks(lookup or first, dll):
                    found.append((dll, fn, False))
                at += 20
        rva, size = self.directory(13)
        if rva:
            at = rva
            while True:
                attrs, name, _, _, lookup, _, _, _ = struct.unpack_from(
                    "<8I", self.data, self.offset(at))
                if not (name or lookup):
                    break
                base = 0 if attrs & 1 else self.image_base
                dll = self.cstring(name - base)
                self.dll_name_offsets[dll] = self.offset(name - base)
                for fn in self._thunks(lookup - base, dll):
                    found.append((dll, fn, True))
                at += 32
        return found

    def resources(self):
        """{(type, name, language): bytes}; ids are ints, names strings."""
        rva, size = self.directory(2)
        found = {}
        if not rva:
            return found
        base = self.offset(rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from(
                    "<II", self.data, base + at + 16 + 8 * i)
                if key & 0x80000000:
                    length = struct.unpack_from(
                        "<H", self.data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = self.data[start:start + 2 * length].decode("utf-16-le")
                yield key, target

        for rtype, t_at in entries(0):
            if not t_at & 0x80000000:
                continue
            for rname, n_at in entries(t_at & 0x7FFFFFFF):
                if not n_at & 0x80000000:
                    continue
                for lang, leaf in entries(n_at & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        continue
                    data_rva, data_size = struct.unpack_from(
                        "<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found[(rtype, rname, lang)] = self.data[at:at + data_size]
        return found


def read_import_list(path):
    """{(dll, function): (arch, note, line number)} and a list of problems."""
    allowed, problems = {}, []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 2)
            where = "%s:%d" % (path, number)
            if len(parts) < 3 or "!" not in parts[0]:
                problems.append("%s: want 'dll!function arch minimum-client', got %r"
                                % (where, line))
                continue
            dll, fn = parts[0].split("!", 1)
            arch, note = parts[1], parts[2]
            if dll.lower() not in XP_SYSTEM_DLLS:
                problems.append("%s: %s is not one of the XP system DLLs the program may use"
                                % (where, dll))
            if arch not in ("any", "i686", "x86_64"):
                problems.append("%s: architecture %r is not any, i686 or x86_64"
                                % (where, arch))
            # The minimum client comes first; remarks may follow a semicolon.
            minimum = note.split(";", 1)[0]
            if NEWER_THAN_XP.search(minimum):
                problems.append("%s: %s!%s needs %s; Windows XP does not have it, so "
                                "it must not be imported at all"
                                % (where, dll, fn, NEWER_THAN_XP.search(minimum).group(0)))
            elif not OLD_ENOUGH.search(minimum):
                problems.append("%s: the note %r names no Windows release older than Vista"
                                % (where, note))
            key = (dll.lower(), fn)
            if key in allowed:
                problems.append("%s: %s!%s is listed twice" % (where, dll, fn))
            allowed[key] = (arch, note, number)
    return allowed, problems


def objdump_imports(objdump, path):
    """The imports as binutils lists them: {(dll, function)}."""
    # Its headings in English whatever the locale, which may translate them.
    env = dict(os.environ, LC_ALL="C")
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                         text=True, errors="replace", env=env).stdout
    found, dll, listed = set(), None, 0
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll, listed = dll_key(m.group(1)), 0
            continue
        if dll is None:
            continue
        if not line.strip():
            if listed:
                dll = None
            continue
        m = re.match(r"\s*[0-9a-fA-F]+\s+(\d+)\s+(\S+)\s*$", line)
        if m:
            name = m.group(2)
            found.add((dll, "#" + m.group(1) if name == "<none>" else name))
            listed += 1
    return found


def version_blocks(data, at=0, end=None):
    """Walks a VS_VERSIONINFO tree: yields (key, value bytes, type, children)."""
    end = len(data) if end is None else end
    while at + 6 <= end:
        length, value_length, vtype = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if vtype == 1 else value_length
        value = data[value_at:value_at + value_bytes]
        children_at = (value_at + value_bytes + 3) & ~3
        yield key, value, vtype, (children_at, at + length)
        at = (at + length + 3) & ~3


def check_version(data, version):
    problems = []
    blocks = list(version_blocks(data))
    if not blocks or blocks[0][0] != "VS_VERSION_INFO":
        return ["FAIL version resource: no VS_VERSION_INFO block"]
    _, fixed, _, (child_at, child_end) = blocks[0]
    if len(fixed) < 52 or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        return ["FAIL version resource: no VS_FIXEDFILEINFO"]
    (_, _, file_ms, file_ls, prod_ms, prod_ls, _, _, file_os,
     file_type) = struct.unpack_from("<10I", fixed, 0)
    if file_type != 1:
        problems.append("FAIL version resource: file type %d, want VFT_APP (1)" % file_type)
    if file_os & 0xFFFF0000 != 0x00040000:
        problems.append("FAIL version resource: file OS 0x%x, want VOS_NT..." % file_os)
    strings = {}
    for key, _, _, (at, end) in version_blocks(data, child_at, child_end):
        if key != "StringFileInfo":
            continue
        for _, _, _, (t_at, t_end) in version_blocks(data, at, end):
            for name, value, vtype, _ in version_blocks(data, t_at, t_end):
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    if version:
        parts = [int(p) for p in version.split(".")] + [0, 0, 0]
        want_ms = (parts[0] << 16) | parts[1]
        want_ls = (parts[2] << 16) | parts[3]
        for what, ms, ls in (("FILEVERSION", file_ms, file_ls),
                             ("PRODUCTVERSION", prod_ms, prod_ls)):
            if (ms, ls) != (want_ms, want_ls):
                problems.append("FAIL version resource: %s %d.%d.%d.%d, want %s" % (
                    what, ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF, version))
        for name in ("FileVersion", "ProductVersion"):
            if strings.get(name) != version:
                problems.append("FAIL version resource: %s is %r, want %r"
                                % (name, strings.get(name), version))
    for name in ("FileDescription", "ProductName", "OriginalFilename"):
        if not strings.get(name):
            problems.append("FAIL version resource: no %s string" % name)
    return problems


def local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(text, arch, console=False):
    problems = []
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return ["FAIL manifest: not well-formed XML (%s)" % e]
    controls = [el for el in root.iter() if local(el.tag) == "assemblyIdentity"
                and el.get("name") == COMMON_CONTROLS]
    if not controls:
        problems.append("FAIL manifest: no dependency on %s (XP would draw the "
                        "classic controls)" % COMMON_CONTROLS)
    for el in controls:
        if not (el.get("version") or "").startswith("6."):
            problems.append("FAIL manifest: %s version %r, want 6.0.0.0"
                            % (COMMON_CONTROLS, el.get("version")))
        if (el.get("publicKeyToken") or "").lower() != COMMON_CONTROLS_TOKEN:
            problems.append("FAIL manifest: %s publicKeyToken %r, want %s"
                            % (COMMON_CONTROLS, el.get("publicKeyToken"), COMMON_CONTROLS_TOKEN))
        if el.get("type") != "win32":
            problems.append("FAIL manifest: %s type %r, want win32"
                            % (COMMON_CONTROLS, el.get("type")))
        if el.get("processorArchitecture") not in MANIFEST_ARCH[arch]:
            problems.append("FAIL manifest: %s processorArchitecture %r, want one of %s"
                            % (COMMON_CONTROLS, el.get("processorArchitecture"),
                               ", ".join(MANIFEST_ARCH[arch])))
    levels = [el for el in root.iter() if local(el.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        problems.append("FAIL manifest: %d requestedExecutionLevel elements, want one"
                        % len(levels))
    for el in levels:
        if el.get("level") != "asInvoker":
            problems.append("FAIL manifest: requestedExecutionLevel %r, want asInvoker"
                            % el.get("level"))
        if el.get("uiAccess", "false") != "false":
            problems.append("FAIL manifest: uiAccess %r, want false" % el.get("uiAccess"))
    if not console:
        # The window scales itself: without the declaration, Windows Vista
        # and later stretch it as a blurred bitmap.
        aware = [(el.text or "").strip() for el in root.iter() if local(el.tag) == "dpiAware"]
        if [a.lower() for a in aware] != ["true/pm"]:
            problems.append("FAIL manifest: dpiAware %r, want one, true/pm" % aware)
        awareness = [(el.text or "").replace(" ", "").split(",") for el in root.iter()
                     if local(el.tag) == "dpiAwareness"]
        if len(awareness) != 1 or awareness[0][0].lower() != "permonitorv2":
            problems.append("FAIL manifest: dpiAwareness %r, want one, PerMonitorV2 first" % awareness)
    return problems


def check_icon(resources):
    groups = {k: v for k, v in resources.items() if k[0] == RT_GROUP_ICON}
    icons = {k[1]: v for k, v in resources.items() if k[0] == RT_ICON}
    if not groups:
        return ["FAIL icon: no icon group resource"]
    problems, sizes = [], set()
    for key, group in groups.items():
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        for i in range(count):
            w, h, _, _, _, bits, size, ident = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * i)
            image = icons.get(ident)
            if image is None:
                problems.append("FAIL icon: group %r names image %d, which is missing"
                                % (key[1], ident))
                continue
            if image[:4] == b"\x89PNG":
                problems.append("FAIL icon: image %d (%dx%d) is PNG-compressed; "
                                "Windows XP cannot draw it" % (ident, w or 256, h or 256))
            elif struct.unpack_from("<I", image, 0)[0] != 40:
                problems.append("FAIL icon: image %d is not a BITMAPINFOHEADER DIB" % ident)
            sizes.add((w or 256, h or 256))
    for want in ((16, 16), (32, 32)):
        if want not in sizes:
            problems.append("FAIL icon: no %dx%d image (XP's title bar and desktop use it)"
                            % want)
    return problems


def check(data, arch, import_list, version=None, objdump_set=None, console=False):
    """Every problem found, as lines beginning with FAIL; empty when all holds."""
    problems = []
    try:
        image = PeImage(data)
    except PeError as e:
        return ["FAIL %s" % e]
    if image.machine != MACHINES[arch]:
        problems.append("FAIL machine 0x%x, want 0x%x for %s"
                        % (image.machine, MACHINES[arch], arch))
    want = XP_VERSION[arch]
    for what, got in (("operating system version", (image.os_major, image.os_minor)),
                      ("subsystem version", (image.subsys_major, image.subsys_minor))):
        if got != want:
            problems.append("FAIL %s %d.%02d, want %d.%02d (link with "
                            "--major/minor-%s-version)" % (
                                what, got[0], got[1], want[0], want[1],
                                "os" if what.startswith("operating") else "subsystem"))
    if console and image.subsystem != SUBSYSTEM_WINDOWS_CUI:
        problems.append("FAIL subsystem %d, want Windows console (3)" % image.subsystem)
    elif not console and image.subsystem != SUBSYSTEM_WINDOWS_GUI:
        problems.append("FAIL subsystem %d, want Windows GUI (2)" % image.subsystem)

    allowed, list_problems = import_list
    problems += ["FAIL " + p for p in list_problems]
    try:
        imports = image.imports()
    except (PeError, struct.error, ValueError) as e:
        return problems + ["FAIL import table unreadable: %s" % e]
    seen = set()
    for dll, fn, delayed in imports:
        key = (dll_key(dll), fn)
        seen.add(key)
        how = "delay-loads" if delayed else "imports"
        if key[0] not in XP_SYSTEM_DLLS:
            problems.append("FAIL program %s %s!%s: %s is not a system DLL of Windows XP"
                            % (how, dll, fn, dll))
            continue
        entry = allowed.get(key)
        if entry is None:
            problems.append(
                "FAIL program %s %s!%s, which is not on the import list: look up its "
                "minimum supported client in Microsoft's documentation; if it is Windows "
                "XP or older, add a line for it, and if it is Vista or later it must not "
                "be imported at all (find what pulls it in with the linker option "
                "--trace-symbol)" % (how, dll, fn))
        elif entry[0] not in ("any", arch):
            problems.append("FAIL program %s %s!%s, which the import list allows for %s "
                            "only (line %d)" % (how, dll, fn, entry[0], entry[2]))
    if objdump_set is not None and objdump_set != seen:
        for dll, fn in sorted(objdump_set - seen):
            problems.append("FAIL objdump lists the import %s!%s, which this reader missed"
                            % (dll, fn))
        for dll, fn in sorted(seen - objdump_set):
            problems.append("FAIL this reader found the import %s!%s, which objdump does "
                            "not list" % (dll, fn))

    try:
        resources = image.resources()
    except (PeError, struct.error, ValueError) as e:
        return problems + ["FAIL resources unreadable: %s" % e]
    manifests = [v for k, v in resources.items()
                 if k[0] == RT_MANIFEST and k[1] == CREATEPROCESS_MANIFEST_RESOURCE_ID]
    if len(manifests) != 1:
        problems.append("FAIL manifest: %d manifest resources with ID 1, want one"
                        % len(manifests))
    else:
        problems += check_manifest(manifests[0], arch, console)
    versions = [v for k, v in resources.items() if k[0] == RT_VERSION]
    if len(versions) != 1:
        problems.append("FAIL version resource: %d found, want one" % len(versions))
    else:
        problems += check_version(versions[0], version)
    problems += check_icon(resources)
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--arch", required=True, choices=sorted(MACHINES))
    parser.add_argument("--imports", required=True, help="the import list")
    parser.add_argument("--version", help="the version the resource must carry")
    parser.add_argument("--objdump", help="binutils objdump for this target")
    parser.add_argument("--console", action="store_true",
                        help="a console program (kestroctl.exe), not a windowed one")
    parser.add_argument("exe")
    args = parser.parse_args(argv)

    with open(args.exe, "rb") as f:
        data = f.read()
    import_list = read_import_list(args.imports)
    objdump_set = objdump_imports(args.objdump, args.exe) if args.objdump else None
    problems = check(data, args.arch, import_list, args.version, objdump_set, args.console)
    try:
        imports = PeImage(data).imports()
        print("%s: %d imports from %s" % (
            args.exe, len(imports), ", ".join(sorted({dll_key(d) for d, _, _ in imports}))))
    except (PeError, struct.error, ValueError):
        pass
    for line in problems:
        print(line)
    if problems:
        print("%d problem(s): %s is not ready for Windows XP" % (len(problems), args.exe))
        return 1
    print("OK: %s is ready for Windows XP (%s, %d.%02d)"
          % (args.exe, args.arch, *XP_VERSION[args.arch]))
    return 0


if __name__ == "__main__":
    sys.exit(main())

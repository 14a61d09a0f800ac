#!/usr/bin/env python3
"""The Windows XP check (check_pe.py) finds each fault put into a copy of
the real kestro.exe, and nothing else.

Usage: check_pe_test.py --arch i686|x86_64 --imports LIST --version X.Y.Z program.exe
"""

import argparse
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402

ARGS = None


def patch(data, at, old, new):
    """Puts `new` in place of `old` at `at`; both of one length."""
    assert len(old) == len(new), (old, new)
    if bytes(data[at:at + len(old)]) != old:
        raise AssertionError("%r is not at 0x%x" % (old, at))
    data[at:at + len(old)] = new
    return data


def replace_once(data, old, new):
    at = bytes(data).find(old)
    if at < 0 or bytes(data).find(old, at + 1) >= 0:
        raise AssertionError("%r is not in the program exactly once" % old)
    return patch(data, at, old, new)


class CheckPeFindsFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.exe, "rb") as f:
            cls.original = f.read()
        cls.import_list = check_pe.read_import_list(ARGS.imports)
        cls.image = check_pe.PeImage(cls.original)

    def problems(self, data, import_list=None, version=None, objdump_set=None):
        return check_pe.check(bytes(data), ARGS.arch, import_list or self.import_list,
                              version or ARGS.version, objdump_set)

    def assertOnlyProblems(self, problems, *fragments):
        """One problem line for each fragment, containing it, and no others."""
        self.assertEqual(len(problems), len(fragments), "\n".join(problems))
        for fragment in fragments:
            self.assertTrue(any(fragment in p for p in problems),
                            "no problem mentions %r:\n%s" % (fragment, "\n".join(problems)))

    def optional_header(self):
        pe = struct.unpack_from("<I", self.original, 0x3C)[0]
        return pe + 24

    def test_the_program_itself_passes(self):
        self.assertEqual(self.problems(self.original), [])

    def test_a_subsystem_version_for_vista(self):
        data = bytearray(self.original)
        struct.pack_into("<HH", data, self.optional_header() + 48, 6, 0)
        want = "%d.%02d" % check_pe.XP_VERSION[ARGS.arch]
        self.assertOnlyProblems(self.problems(data), "subsystem version 6.00, want " + want)

    def test_an_os_version_for_windows_2000(self):
        data = bytearray(self.original)
        struct.pack_into("<HH", data, self.optional_header() + 40, 5, 0)
        self.assertOnlyProblems(self.problems(data), "operating system version 5.00")

    def test_a_console_program(self):
        data = bytearray(self.original)
        struct.pack_into("<H", data, self.optional_header() + 68, 3)
        self.assertOnlyProblems(self.problems(data), "subsystem 3, want Windows GUI")

    def rename_import(self, dll_key, old, new):
        dll = next(d for d, fn, _ in self.image.imports()
                   if check_pe.dll_key(d) == dll_key and fn == old)
        return patch(bytearray(self.original), self.image.name_offsets[(dll, old)],
                     old.encode(), new.encode())

    def test_an_import_that_needs_vista(self):
        data = self.rename_import("kernel32", "GetProcAddress", "GetTickCount64")
        names = [fn for _, fn, _ in check_pe.PeImage(bytes(data)).imports()]
        self.assertIn("GetTickCount64", names)
        self.assertOnlyProblems(self.problems(data), "GetTickCount64, which is not on the import list")

    def test_an_import_from_a_dll_that_xp_lacks(self):
        dll = next(d for d, _, _ in self.image.imports() if check_pe.dll_key(d) == "user32")
        data = patch(bytearray(self.original), self.image.dll_name_offsets[dll],
                     dll.encode(), b"dwmapi.dll")
        problems = self.problems(data)
        user32 = [fn for d, fn, _ in self.image.imports() if check_pe.dll_key(d) == "user32"]
        self.assertEqual(len(problems), len(user32), "\n".join(problems))
        self.assertTrue(all("dwmapi.dll is not a system DLL of Windows XP" in p for p in problems))

    def test_an_import_listed_for_the_other_architecture_only(self):
        # kernel32!GetModuleHandleW is imported by both builds; RtlVirtualUnwind
        # exists in 64-bit Windows only, GetModuleHandleA is listed for 32-bit.
        other = {"i686": "RtlVirtualUnwind", "x86_64": "GetModuleHandleA"}[ARGS.arch]
        data = self.rename_import("kernel32", "GetModuleHandleW", other)
        self.assertOnlyProblems(self.problems(data), other + ", which the import list allows for")

    def test_a_manifest_that_asks_for_administrator_rights(self):
        data = replace_once(bytearray(self.original), b'level="asInvoker" uiAccess="false"',
                            b'level="requireAdministrator"      ')
        self.assertOnlyProblems(self.problems(data),
                                "requestedExecutionLevel 'requireAdministrator', want asInvoker")

    def test_a_manifest_without_common_controls_6(self):
        data = replace_once(bytearray(self.original), b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                            b'name="Microsoft.Windows.Common-Controls" version="5.8.2.0"')
        self.assertOnlyProblems(self.problems(data), "version '5.8.2.0', want 6.0.0.0")

    def test_a_manifest_that_leaves_the_window_to_be_stretched(self):
        data = replace_once(bytearray(self.original), b'>true/pm<', b'>false!!<')
        data = replace_once(data, b'>PerMonitorV2, PerMonitor<', b'>unaware,      PerMonitor<')
        self.assertOnlyProblems(self.problems(data), "dpiAware ['false!!'], want one, true/pm",
                                "dpiAwareness [['unaware', 'PerMonitor']], want one, PerMonitorV2 first")

    def resource_root_entry(self, data, type_id):
        rva, _ = self.image.directory(2)
        base = self.image.offset(rva)
        named, ids = struct.unpack_from("<HH", data, base + 12)
        for i in range(named + ids):
            at = base + 16 + 8 * i
            if struct.unpack_from("<I", data, at)[0] == type_id:
                return at
        raise AssertionError("no resource of type %d" % type_id)

    def test_no_version_resource(self):
        data = bytearray(self.original)
        struct.pack_into("<I", data, self.resource_root_entry(data, check_pe.RT_VERSION), 0x7FF0)
        self.assertOnlyProblems(self.problems(data), "version resource: 0 found")

    def test_no_manifest(self):
        data = bytearray(self.original)
        struct.pack_into("<I", data, self.resource_root_entry(data, check_pe.RT_MANIFEST), 0x7FF1)
        self.assertOnlyProblems(self.problems(data), "manifest: 0 manifest resources")

    def test_a_version_resource_of_another_release(self):
        self.assertOnlyProblems(self.problems(self.original, version="9.8.7"),
                                "FILEVERSION", "PRODUCTVERSION", "FileVersion is", "ProductVersion is")

    def test_a_png_compressed_icon(self):
        data = bytearray(self.original)
        icon = next(v for k, v in self.image.resources().items() if k[0] == check_pe.RT_ICON)
        replace_once(data, icon, b"\x89PNG" + icon[4:])
        self.assertOnlyProblems(self.problems(data), "PNG-compressed")

    def test_a_list_that_allows_a_vista_function(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            with open(ARGS.imports, encoding="utf-8") as original:
                f.write(original.read())
            f.write("kernel32!GetTickCount64   any   Windows Vista [desktop apps | UWP apps]\n")
            f.write("kernel32!NoSuchFunction   any   whenever\n")
        try:
            import_list = check_pe.read_import_list(f.name)
        finally:
            os.unlink(f.name)
        self.assertOnlyProblems(self.problems(self.original, import_list=import_list),
                                "GetTickCount64 needs Vista", "names no Windows release")

    def test_a_reader_that_misses_an_import(self):
        seen = {(check_pe.dll_key(d), fn) for d, fn, _ in self.image.imports()}
        self.assertOnlyProblems(self.problems(self.original, objdump_set=seen | {("kernel32", "Extra")}),
                                "objdump lists the import kernel32!Extra")
        some = sorted(seen)[0]
        self.assertOnlyProblems(self.problems(self.original, objdump_set=seen - {some}),
                                "%s!%s, which objdump does not list" % some)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", required=True, choices=sorted(check_pe.MACHINES))
    parser.add_argument("--imports", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("exe")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()

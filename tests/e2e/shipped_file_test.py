#!/usr/bin/env python3
"""The Windows program as the file that ships, read from its bytes (no Wine needed): a GUI program for the
build's processor, one static file that loads no MinGW runtime DLL and no Windows Sockets at load time (the
program binds WS2_32.DLL when it first needs it), with its manifest (asInvoker, the processor it was built for)
and its version record.

Usage: shipped_file_test.py UPDATER_EXE PROCESSOR   (PROCESSOR: i686 or x86_64, CMake's CMAKE_SYSTEM_PROCESSOR)
"""
import struct
import sys
import unittest

EXE = None
PROCESSOR = None

# Machine field, optional header magic and the manifest's processorArchitecture per processor.
MACHINES = {"i686": (0x14C, 0x10B, "x86"), "x86_64": (0x8664, 0x20B, "amd64")}
GUI_SUBSYSTEM = 2
# Every DLL the program may import at load time: parts of every Windows since XP.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "secur32.dll", "shell32.dll", "user32.dll"}
RT_VERSION, RT_MANIFEST = 16, 24
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise AssertionError("not a PE file")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", self.data, table + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise AssertionError("address %#x lies in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        names, at = [], self.offset(self.directories[1][0])
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if not any(descriptor):
                return names
            names.append(self.text(descriptor[3]))
            at += 20

    def resource(self, kind):
        """The first resource of a type, following the type, name and language levels."""
        if not self.directories[2][0]:
            return None
        root = self.offset(self.directories[2][0])
        directory, wanted = root, kind
        for _ in range(3):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            entries = [struct.unpack_from("<II", self.data, directory + 16 + 8 * i) for i in range(named + numbered)]
            chosen = [target for key, target in entries if wanted is None or key == wanted]
            if not chosen:
                return None
            directory, wanted = root + (chosen[0] & 0x7FFFFFFF), None
        rva, size = struct.unpack_from("<II", self.data, directory)
        return self.data[self.offset(rva):self.offset(rva) + size]


class ShippedFileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = PeFile(EXE)

    def test_a_gui_program_for_the_builds_processor(self):
        machine, magic, _ = MACHINES[PROCESSOR]
        self.assertEqual((self.pe.machine, self.pe.magic), (machine, magic))
        self.assertEqual(self.pe.subsystem, GUI_SUBSYSTEM)

    def test_imports_system_dlls_only(self):
        dlls = {name.lower() for name in self.pe.imported_dlls()}
        self.assertIn("kernel32.dll", dlls)
        self.assertEqual(dlls - SYSTEM_DLLS, set(), "a runtime DLL or WS2_32 imported at load time")

    def test_manifest_and_version_record(self):
        manifest = self.pe.resource(RT_MANIFEST)
        self.assertIsNotNone(manifest, "no manifest")
        manifest = manifest.decode("utf-8")
        self.assertIn('level="asInvoker"', manifest)
        self.assertIn('processorArchitecture="%s"' % MACHINES[PROCESSOR][2], manifest)
        version = self.pe.resource(RT_VERSION)
        self.assertIsNotNone(version, "no version record")
        self.assertIn(FIXED_FILE_INFO_SIGNATURE, version)
        self.assertIn("updater.exe".encode("utf-16-le"), version)


if __name__ == "__main__":
    EXE, PROCESSOR = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)

#!/usr/bin/env python3
"""Checks of installer/package_tools.py: the version reader and the component file lists."""
import hashlib
import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "installer"))
import package_tools  # noqa: E402


def version_block(ms, ls, signature=package_tools.FIXED_FILE_INFO_SIGNATURE, struc=0x10000,
                  file_version_text=None):
    """A VS_VERSIONINFO block as resource compilers write it, with a "FileVersion" text when
    one is given (flattened: the real one nests it in StringFileInfo and a string table)."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    body = key + b"\0\0" + struct.pack("<IIII", signature, struc, ms, ls) + b"\0" * 36
    if file_version_text is not None:
        name = "FileVersion\0".encode("utf-16-le")
        value = (file_version_text + "\0").encode("utf-16-le")
        string = name + b"\0\0" + value
        body += struct.pack("<HHH", 6 + len(string), len(value) // 2, 1) + string
    return struct.pack("<HHH", 6 + len(body), 52, 0) + body


class FileVersionTest(unittest.TestCase):
    def test_reads_the_fixed_information_after_its_key(self):
        data = b"MZ" + b"\x90" * 101 + version_block(0x00020001, 0x00030004)
        self.assertEqual(package_tools.file_version(data), (2, 1, 3, 4))

    def test_a_structure_version_of_zero_is_accepted(self):
        # The installer compiler writes 0 there.
        data = b"MZ" + version_block(0x00020001, 0, struc=0)
        self.assertEqual(package_tools.file_version(data), (2, 1, 0, 0))

    def test_no_version_without_key_or_signature(self):
        stray = struct.pack("<IIII", package_tools.FIXED_FILE_INFO_SIGNATURE, 0x10000, 9, 9)
        self.assertIsNone(package_tools.file_version(b"MZ" + stray))
        bad = version_block(0x00020001, 0, signature=0x12345678)
        self.assertIsNone(package_tools.file_version(b"MZ" + bad))
        self.assertIsNone(package_tools.file_version(version_block(1, 0)[:50]))


class LinkTimeTest(unittest.TestCase):
    def test_reads_the_pe_header_and_nothing_else(self):
        image = bytearray(0x100)
        image[:2] = b"MZ"
        struct.pack_into("<I", image, 0x3C, 0x80)
        image[0x80:0x84] = b"PE\0\0"
        struct.pack_into("<I", image, 0x88, 1700000000)
        self.assertEqual(package_tools.link_time(bytes(image)), 1700000000)
        struct.pack_into("<I", image, 0x3C, 0xFC)
        self.assertIsNone(package_tools.link_time(bytes(image)))
        self.assertIsNone(package_tools.link_time(b"#!/bin/sh\n" + bytes(0x40)))


class VersionTextTest(unittest.TestCase):
    def version_of(self, data):
        with tempfile.NamedTemporaryFile(delete=False) as f:
            f.write(b"MZ" + data)
        try:
            return package_tools.version_text(f.name)
        finally:
            os.remove(f.name)

    def test_the_shown_version_must_agree_with_the_number(self):
        self.assertEqual(self.version_of(version_block(0x00020001, 1, file_version_text="2.1.0.1")),
                         "2.1.0.1")
        with self.assertRaises(ValueError):
            self.version_of(version_block(0x00020001, 1, file_version_text="2.1.0.0"))
        with self.assertRaises(ValueError):
            self.version_of(b"no version here")


class ComponentMacrosTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.root)

    def touch(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"x")

    def macro(self, text, name):
        body = text.split("!macro " + name + "\n", 1)[1].split("!macroend", 1)[0]
        return [line.strip() for line in body.splitlines() if line.strip()]

    def test_nested_folders_install_and_remove_in_order(self):
        self.touch("openvpn.exe")
        self.touch("driver", "tap.sys")
        self.touch("driver", "x64", "tap.sys")
        text = package_tools.component_macros(self.root)
        self.assertEqual(self.macro(text, "InstallComponent"), [
            'SetOutPath "$INSTDIR\\openvpn"',
            'File "%s"' % os.path.join(self.root, "openvpn.exe"),
            'SetOutPath "$INSTDIR\\openvpn\\driver"',
            'File "%s"' % os.path.join(self.root, "driver", "tap.sys"),
            'SetOutPath "$INSTDIR\\openvpn\\driver\\x64"',
            'File "%s"' % os.path.join(self.root, "driver", "x64", "tap.sys"),
        ])
        # Files by name, then folders deepest first, each only when empty.
        self.assertEqual(self.macro(text, "RemoveComponent"), [
            'Delete "$INSTDIR\\openvpn\\openvpn.exe"',
            'Delete "$INSTDIR\\openvpn\\driver\\tap.sys"',
            'Delete "$INSTDIR\\openvpn\\driver\\x64\\tap.sys"',
            'RMDir "$INSTDIR\\openvpn\\driver\\x64"',
            'RMDir "$INSTDIR\\openvpn\\driver"',
            'RMDir "$INSTDIR\\openvpn"',
        ])

    def test_dollar_is_escaped_and_quotes_are_refused(self):
        self.touch("a$INSTDIR.txt")
        text = package_tools.component_macros(self.root)
        self.assertIn('Delete "$INSTDIR\\openvpn\\a$$INSTDIR.txt"', text)
        self.touch('b"c.txt')
        with self.assertRaises(ValueError):
            package_tools.component_macros(self.root)

    def test_no_component_gives_empty_macros(self):
        text = package_tools.component_macros("")
        self.assertEqual(self.macro(text, "InstallComponent"), [])
        self.assertEqual(self.macro(text, "RemoveComponent"), [])


class UpdateOfferTest(unittest.TestCase):
    def test_lines_as_the_service_sends_them(self):
        folder = tempfile.mkdtemp()
        try:
            setup, green = os.path.join(folder, "s.exe"), os.path.join(folder, "g.exe")
            with open(setup, "wb") as f:
                f.write(b"setup")
            with open(green, "wb") as f:
                f.write(b"MZ" + version_block(0x00020001, 0x00000005))
            text = package_tools.update_offer(setup, green)
            with open(green, "rb") as f:
                green_md5 = hashlib.md5(f.read()).hexdigest()
            self.assertEqual(text, "[VPN]\r\nRequiredClientVersion=2.1.0.5\r\n"
                             "DownloadSetupMD5=%s\r\nDownloadGreenMD5=%s\r\n"
                             % (hashlib.md5(b"setup").hexdigest(), green_md5))
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()

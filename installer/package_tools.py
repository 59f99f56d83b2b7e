#!/usr/bin/env python3
"""Helpers of scripts/package (Python standard library only).

    package_tools.py version FILE              the file version of a Windows program: a.b.c.d
    package_tools.py link-time FILE            the time its linker wrote into it (seconds)
    package_tools.py components [DIR] OUT.nsh install/remove macros for the component folder
    package_tools.py offer OUT.ini SETUP GREEN the update offer's lines for these two packages

The installer reads the version itself (makensis's !getdllversion); this reader is how the
script and the round-trip check see the same number without Windows.
"""

import hashlib
import os
import struct
import sys

FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
COMPONENT_FOLDER = "openvpn"


def _version_block(data):
    """Offset of the VS_VERSIONINFO block in a PE image (checked by the fixed information's
    signature), or None. The block: length, value length, type, the UTF-16 key
    "VS_VERSION_INFO" with its NUL, padding to 4 bytes, then VS_FIXEDFILEINFO."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    at = data.find(key)
    while at >= 6:
        block = at - 6
        fixed = block + 40  # header 6 bytes + key 32 bytes, rounded up to 4
        if fixed + 16 <= len(data):
            (signature,) = struct.unpack_from("<I", data, fixed)
            if signature == FIXED_FILE_INFO_SIGNATURE:
                return block
        at = data.find(key, at + 1)
    return None


def file_version(data):
    """(a, b, c, d) of the version resource's fixed information, or None."""
    block = _version_block(data)
    if block is None:
        return None
    ms, ls = struct.unpack_from("<II", data, block + 40 + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def version_string(data, name):
    """A text value of the version resource ("FileVersion"), or None."""
    block = _version_block(data)
    if block is None:
        return None
    (length,) = struct.unpack_from("<H", data, block)
    key = (name + "\0").encode("utf-16-le")
    at = data.find(key, block, block + length)
    while at >= 0:
        start = at - 6  # this String's own header: length, value length in characters, type
        if (start - block) % 4 == 0:
            _, chars, kind = struct.unpack_from("<HHH", data, start)
            value = block + ((start - block + 6 + len(key) + 3) & ~3)
            if kind == 1 and value + 2 * chars <= block + length:
                return data[value:value + 2 * chars].decode("utf-16-le").split("\0", 1)[0]
        at = data.find(key, at + 2, block + length)
    return None


def version_text(path):
    """The file version; refuses a program whose shown version ("FileVersion", which the About
    box reads) disagrees with the number the update compares."""
    with open(path, "rb") as f:
        data = f.read()
    version = file_version(data)
    if version is None:
        raise ValueError("%s has no version resource" % path)
    text = "%d.%d.%d.%d" % version
    shown = version_string(data, "FileVersion")
    if shown is not None and shown != text:
        raise ValueError("%s: FILEVERSION is %s but the FileVersion text says %s; set both in "
                         "res/kavrin.rc" % (path, text, shown))
    return text


def link_time(data):
    """The PE header's TimeDateStamp, or None when data is no PE image."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if pe + 12 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<I", data, pe + 8)[0]


def nsis_quote(text):
    """Text inside a double-quoted NSIS string: '$' would start a variable, '"' end it."""
    if any(c in text for c in '"\r\n') or any(ord(c) < 32 for c in text):
        raise ValueError("unusable file name for the installer: %r" % text)
    return text.replace("$", "$$")


def component_files(root):
    """(folders, files) below root, relative, with '\\' separators; folders parents first."""
    folders, files = [], []
    for current, dirnames, filenames in os.walk(root):
        dirnames.sort()
        relative = os.path.relpath(current, root)
        prefix = "" if relative == "." else relative.replace(os.sep, "\\") + "\\"
        for name in dirnames:
            folders.append(prefix + name)
        for name in sorted(filenames):
            files.append(prefix + name)
    return folders, files


def component_macros(root):
    """The include the installer script expects: InstallComponent and RemoveComponent.

    Removal names every file that was installed and removes folders only when empty, so
    whatever the component wrote at run time, or the user put there, survives."""
    lines = ["; Written by scripts/package for the component folder it was given.",
             "!macro InstallComponent"]
    if root:
        folders, files = component_files(root)
        base = os.path.abspath(root)
        by_folder = {}
        for name in files:
            folder, _, _ = name.rpartition("\\")
            by_folder.setdefault(folder, []).append(name)
        for folder in [""] + folders:
            target = COMPONENT_FOLDER + ("\\" + folder if folder else "")
            lines.append('  SetOutPath "$INSTDIR\\%s"' % nsis_quote(target))
            for name in by_folder.get(folder, []):
                source = os.path.join(base, *name.split("\\"))
                lines.append('  File "%s"' % nsis_quote(source))
    lines += ["!macroend", "", "!macro RemoveComponent"]
    if root:
        folders, files = component_files(root)
        for name in files:
            lines.append('  Delete "$INSTDIR\\%s\\%s"' % (COMPONENT_FOLDER, nsis_quote(name)))
        for folder in reversed(folders):
            lines.append('  RMDir "$INSTDIR\\%s\\%s"' % (COMPONENT_FOLDER, nsis_quote(folder)))
        lines.append('  RMDir "$INSTDIR\\%s"' % COMPONENT_FOLDER)
    lines.append("!macroend")
    return "\n".join(lines) + "\n"


def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(65536), b""):
            digest.update(block)
    return digest.hexdigest()


def update_offer(setup, green):
    """The [VPN] values the service sends for this release: the version to require and the
    packages' MD5 in the client's form (32 lower-case hexadecimal digits)."""
    return "\r\n".join(["[VPN]",
                        "RequiredClientVersion=" + version_text(green),
                        "DownloadSetupMD5=" + file_md5(setup),
                        "DownloadGreenMD5=" + file_md5(green)]) + "\r\n"


def main(argv):
    if len(argv) == 2 and argv[0] == "version":
        print(version_text(argv[1]))
    elif len(argv) == 2 and argv[0] == "link-time":
        with open(argv[1], "rb") as f:
            stamp = link_time(f.read(4096))
        if stamp is None:
            raise ValueError("%s is not a Windows program" % argv[1])
        print(stamp)
    elif len(argv) in (2, 3) and argv[0] == "components":
        root = argv[1] if len(argv) == 3 else ""
        out = argv[-1]
        with open(out, "w", encoding="utf-8", newline="\n") as f:
            f.write(component_macros(root))
    elif len(argv) == 4 and argv[0] == "offer":
        text = update_offer(argv[2], argv[3])
        with open(argv[1], "w", encoding="ascii", newline="") as f:
            f.write(text)
        sys.stdout.write(text.replace("\r\n", "\n"))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError) as error:
        sys.stderr.write("package_tools: %s\n" % error)
        sys.exit(1)

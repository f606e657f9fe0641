#!/usr/bin/env python3
"""Checks the version resource of Windows executables: usage check_version.py VERSION EXE...

VERSION is MAJOR.MINOR.PATCH. Each executable must hold one VS_VERSION_INFO whose fixed part
(VS_FIXEDFILEINFO) gives MAJOR.MINOR.PATCH.0 as file and product version, and whose string
table gives VERSION as "FileVersion" and "ProductVersion". Exits 1 naming what is wrong.
"""
import struct
import sys

FIXED_SIGNATURE = 0xFEEF04BD


def utf16(text):
    return text.encode("utf-16-le")


def string_value(data, key):
    """The value after KEY in a version string table: KEY, NUL, padding to 4 bytes, value, NUL."""
    at = data.find(utf16(key) + b"\0\0")
    if at < 0:
        return None
    at += len(utf16(key)) + 2
    at += (-at) % 4  # the value starts on a 32-bit boundary
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def check(path, version):
    data = open(path, "rb").read()
    problems = []
    if data.count(utf16("VS_VERSION_INFO")) != 1:
        return [f"{path}: no single VS_VERSION_INFO"]
    major, minor, patch = (int(part) for part in version.split("."))
    fixed = data.find(struct.pack("<I", FIXED_SIGNATURE), data.find(utf16("VS_VERSION_INFO")))
    if fixed < 0:
        return [f"{path}: no VS_FIXEDFILEINFO"]
    _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", data, fixed)
    wanted = ((major << 16) | minor, patch << 16)
    if (file_ms, file_ls) != wanted or (product_ms, product_ls) != wanted:
        problems.append(f"{path}: fixed version {file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}."
                        f"{file_ls & 0xFFFF}, not {version}.0")
    for key in ("FileVersion", "ProductVersion"):
        value = string_value(data, key)
        if value != version:
            problems.append(f"{path}: {key} is {value!r}, not {version!r}")
    return problems


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    problems = [problem for path in argv[2:] for problem in check(path, argv[1])]
    for problem in problems:
        print("version:", problem)
    if not problems:
        print(f"version: {len(argv) - 2} executable(s) carry version {argv[1]}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

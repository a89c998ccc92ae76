#!/usr/bin/env python3
"""Checks the release folder that scripts/build.sh leaves in the build root: the archive
holds exactly what the file manager's installer needs, as it reads it, with the files
that were built, and every version in it is the project's."""
import argparse
import hashlib
import os
import struct
import sys
import zipfile

ENTRIES = ["Velnote.wlx", "Velnote.wlx64", "pluginst.inf", "readme.txt"]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def read(path):
    with open(path, "rb") as f:
        return f.read()


def crlf_ascii_lines(name, data):
    """The text as lines, after checking that it is ASCII with CRLF after every line."""
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError as error:
        check(False, f"{name} is not ASCII: {error}")
        return []
    check(text.endswith("\r\n"), f"{name} does not end with CRLF")
    lines = text.split("\r\n")
    bare = [i + 1 for i, line in enumerate(lines) if "\r" in line or "\n" in line]
    check(not bare, f"{name} has a bare CR or LF on lines {bare}")
    return lines[:-1] if lines and lines[-1] == "" else lines


def check_pluginst(data, version):
    lines = [line for line in crlf_ascii_lines("pluginst.inf", data) if line.strip()]
    sections = [line for line in lines if line.startswith("[")]
    check(sections == ["[plugininstall]"], f"pluginst.inf sections: {sections}, expected ['[plugininstall]']")
    check(lines[:1] == ["[plugininstall]"], "pluginst.inf does not start with [plugininstall]")
    fields = {}
    for line in lines[1:]:
        key, separator, value = line.partition("=")
        if check(separator == "=", f"pluginst.inf line is no key=value: {line!r}"):
            check(key not in fields, f"pluginst.inf has {key} twice")
            fields[key] = value
    major, minor = version.split(".")[:2]
    expected = {"type": "wlx", "file": "Velnote.wlx", "defaultdir": "Velnote", "version": f"{major}.{minor}"}
    for key, value in expected.items():
        check(fields.get(key) == value, f"pluginst.inf {key}={fields.get(key)!r}, expected {value!r}")
    check(fields.get("description", "").strip() != "", "pluginst.inf has no description")
    extra = sorted(set(fields) - set(expected) - {"description"})
    check(not extra, f"pluginst.inf has unexpected keys {extra}")


def check_readme(data, release_version):
    text = "\r\n".join(crlf_ascii_lines("readme.txt", data))
    # What a user needs from it: where each build's editor lies, the keys that move it,
    # and the two messages they may meet.
    for needed in ["Velnote\\Velnote.exe", "Velnote64\\Velnote.exe", "velnote.ini", "path=", "path64=",
                   "AskOpenBinFile", "I can't find the", "I can't create a file", release_version]:
        check(needed in text, f"readme.txt does not mention {needed!r}")


def fixed_file_versions(name, data):
    """File and product version of the PE file's VS_FIXEDFILEINFO, as dotted text."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if not check(at >= 0, f"{name} has no version resource"):
        return None, None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, at + 8)

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    return dotted(file_ms, file_ls), dotted(product_ms, product_ls)


def check_sums(release):
    lines = read(os.path.join(release, "SHA256SUMS")).decode("ascii").splitlines()
    listed = []
    for line in lines:
        digest, separator, name = line.partition("  ")
        if not check(separator and len(digest) == 64, f"SHA256SUMS line is not 'digest  name': {line!r}"):
            continue
        listed.append(name)
        path = os.path.join(release, name)
        if check(os.path.isfile(path), f"SHA256SUMS lists {name}, which is not beside it"):
            actual = hashlib.sha256(read(path)).hexdigest()
            check(actual == digest, f"SHA256SUMS has {digest} for {name}, the file has {actual}")
    return listed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--release", required=True, help="the release folder of the build root")
    parser.add_argument("--wlx32", required=True, help="the built 32-bit plug-in")
    parser.add_argument("--wlx64", required=True, help="the built 64-bit plug-in")
    parser.add_argument("--version", required=True, help="the project version, four numbers")
    args = parser.parse_args()

    release_version = ".".join(args.version.split(".")[:3])
    archive_name = f"Velnote-{release_version}.zip"
    archive_path = os.path.join(args.release, archive_name)
    if not check(os.path.isfile(archive_path), f"no {archive_name} in {args.release}"):
        return report()

    built = {"Velnote.wlx": read(args.wlx32), "Velnote.wlx64": read(args.wlx64)}
    with zipfile.ZipFile(archive_path) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        check(names == ENTRIES, f"archive entries {names}, expected {ENTRIES} in this order")
        check(archive.testzip() is None, "archive has an entry whose CRC does not match")
        # zip -X: no extra fields with owners and times that differ from one build to the next.
        check(all(info.extra == b"" for info in infos), "archive entries carry extra fields")
        check(len({info.date_time for info in infos}) == 1, "archive entries do not share one date")
        contents = {name: archive.read(name) for name in names if name in ENTRIES}

    for name, data in built.items():
        check(contents.get(name) == data, f"{name} in the archive differs from the built {name}")
        for kind, found in zip(("file", "product"), fixed_file_versions(name, contents.get(name, b""))):
            if found is not None:
                check(found == args.version, f"{name} {kind} version {found}, project version {args.version}")
    if "pluginst.inf" in contents:
        check_pluginst(contents["pluginst.inf"], args.version)
    if "readme.txt" in contents:
        check_readme(contents["readme.txt"], release_version)

    listed = check_sums(args.release)
    check(archive_name in listed, f"SHA256SUMS does not list {archive_name}")
    return report()


def report():
    for failure in failures:
        print("FAILED:", failure)
    print("release archive:", "0 failed" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Packs the release archive, the same bytes from the same inputs wherever and whenever it runs.

    make_zip.py OUT.zip FILE...

Entries keep the files' names and the given order, then SHA256SUMS of them. README.txt gets
Windows line ends. Every entry is stamped with SOURCE_DATE_EPOCH: from the environment, else
the time of the commit checked out in the working folder, else a fixed date (a copy without git).
"""
import hashlib
import os
import subprocess
import sys
import time
import zipfile

FALLBACK_EPOCH = 1767225600  # 2026-01-01 00:00:00 UTC
ZIP_EPOCH = 315532800  # 1980-01-01: a zip entry cannot carry an earlier time


def source_date_epoch():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        done = subprocess.run(["git", "log", "-1", "--format=%ct"], capture_output=True,
                              text=True, check=True)
        return int(done.stdout.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        return FALLBACK_EPOCH


def content(path):
    with open(path, "rb") as f:
        data = f.read()
    if os.path.basename(path) == "README.txt":
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def main(out, paths):
    stamp = time.gmtime(max(source_date_epoch(), ZIP_EPOCH))[:6]
    entries = [(os.path.basename(path), content(path)) for path in paths]
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in entries)
    entries.append(("SHA256SUMS", sums.encode()))

    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, data in entries:
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = 3  # Unix, so that the permissions below are read
            entry.external_attr = 0o100644 << 16  # a regular file, rw-r--r--
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)
    os.replace(partial, out)
    print(f"make_zip.py: wrote {out}")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])

#!/usr/bin/env python3
"""Packs the built tool into a binary wheel, so that `pip install` puts it on the PATH.

The executable goes in as a script (<name>-<version>.data/scripts/), which pip copies into the
environment's bin (Scripts on Windows) as it is: no Python code runs between the user and the
tool. Only the standard library is used, so the wheel builds offline.

  make_wheel.py --exe PATH --script NAME --tag PLATFORM --version V --readme README.md
                --license LICENSE --out DIR [--strip STRIP]
"""
import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

SUMMARY = "Sign ARM firmware (ELF, Intel HEX, raw .bin) for the boot ROM of LPC parts"


def digest(data):
    raw = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(raw).rstrip(b"=").decode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--script", required=True)
    ap.add_argument("--tag", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--readme", required=True)
    ap.add_argument("--license", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--strip")
    a = ap.parse_args()

    name = "vortle"
    dist = f"{name}-{a.version}"
    wheel_name = f"{dist}-py3-none-{a.tag}.whl"
    with open(a.exe, "rb") as f:
        exe = f.read()
    if a.strip:
        with tempfile.TemporaryDirectory() as tmp:
            copy = os.path.join(tmp, os.path.basename(a.exe))
            shutil.copyfile(a.exe, copy)
            subprocess.run([a.strip, "--strip-all", copy], check=True)
            with open(copy, "rb") as f:
                exe = f.read()
    with open(a.readme, encoding="utf-8") as f:
        readme = f.read()
    with open(a.license, "rb") as f:
        license_text = f.read()

    metadata = (
        "Metadata-Version: 2.1\n"
        f"Name: {name}\n"
        f"Version: {a.version}\n"
        f"Summary: {SUMMARY}\n"
        "Author: The Vortle Authors\n"
        "Author-email: vortle@users.noreply.invalid\n"
        "License: MIT\n"
        "Classifier: License :: OSI Approved :: MIT License\n"
        "Classifier: Programming Language :: C++\n"
        "Classifier: Topic :: Software Development :: Embedded Systems\n"
        "Description-Content-Type: text/markdown\n"
        "\n" + readme
    ).encode("utf-8")
    wheel = (
        "Wheel-Version: 1.0\n"
        "Generator: vortle make_wheel.py\n"
        "Root-Is-Purelib: false\n"
        f"Tag: py3-none-{a.tag}\n"
    ).encode()

    info = f"{dist}.dist-info"
    files = [
        (f"{dist}.data/scripts/{a.script}", exe, 0o755),
        (f"{info}/METADATA", metadata, 0o644),
        (f"{info}/WHEEL", wheel, 0o644),
        (f"{info}/LICENSE", license_text, 0o644),
    ]
    record = "".join(f"{p},{digest(d)},{len(d)}\n" for p, d, _ in files)
    record += f"{info}/RECORD,,\n"
    files.append((f"{info}/RECORD", record.encode(), 0o644))

    os.makedirs(a.out, exist_ok=True)
    path = os.path.join(a.out, wheel_name)
    tmp_path = path + ".tmp"
    # Fixed times and modes: the same inputs give the same wheel.
    with zipfile.ZipFile(tmp_path, "w", zipfile.ZIP_DEFLATED) as z:
        for p, d, mode in files:
            zi = zipfile.ZipInfo(p, date_time=(1980, 1, 1, 0, 0, 0))
            zi.external_attr = (0o100000 | mode) << 16
            zi.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(zi, d)
    os.replace(tmp_path, path)
    print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())

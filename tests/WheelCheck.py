#!/usr/bin/env python3
"""Checks a built wheel as pip and the wheel format see it, then installs and runs it.

  WheelCheck.py WHEEL SAMPLE.elf WORK linux
  WheelCheck.py WHEEL SAMPLE.elf WORK windows WINE
  WheelCheck.py WHEEL SAMPLE.elf WORK emulated QEMU aarch64
"""
import base64
import csv
import hashlib
import io
import os
import shutil
import subprocess
import sys
import zipfile

BANNER = "V1.4\nVORTLE - Signature Creator V1.4\n"


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def check_format(path):
    name = os.path.basename(path)
    dist, version, py, abi, plat = name[:-4].split("-")
    z = zipfile.ZipFile(path)
    info = f"{dist}-{version}.dist-info"
    names = set(z.namelist())
    rows = list(csv.reader(io.StringIO(z.read(f"{info}/RECORD").decode())))
    listed = {r[0] for r in rows}
    if listed != names:
        fail(f"RECORD lists {sorted(listed ^ names)} differently from the archive")
    for p, h, size in rows:
        if p.endswith("RECORD"):
            continue
        data = z.read(p)
        want = "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(
            b"=").decode()
        if h != want or int(size) != len(data):
            fail(f"{p}: RECORD says {h} {size}, the file is {want} {len(data)}")
    wheel = z.read(f"{info}/WHEEL").decode()
    if f"Tag: {py}-{abi}-{plat}\n" not in wheel or "Root-Is-Purelib: false" not in wheel:
        fail("WHEEL does not name the file's tag")
    meta = z.read(f"{info}/METADATA").decode()
    for field in (f"Name: {dist}", f"Version: {version}", "Summary: ", "License: MIT",
                  "Description-Content-Type: text/markdown"):
        if field not in meta:
            fail(f"METADATA lacks {field!r}")
    if "\n\n# vortle\n" not in meta:
        fail("METADATA lacks the README as its description")
    scripts = [n for n in names if "/scripts/" in n]
    if len(scripts) != 1:
        fail(f"expected one script, found {scripts}")
    mode = z.getinfo(scripts[0]).external_attr >> 16
    if plat != "win_amd64" and not mode & 0o111:
        fail("the tool is not executable in the wheel")
    return z, scripts[0]


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        fail(f"{cmd} exited {r.returncode}: {r.stdout}{r.stderr}")
    return r.stdout


def main():
    wheel, sample, work, kind = sys.argv[1:5]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    check_format(wheel)
    # The wheel tool's own check of the hashes, where an interpreter has it (Debian's
    # python3-wheel serves the system's interpreter).
    for py in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(py) and subprocess.run([py, "-m", "wheel", "version"],
                                                 capture_output=True).returncode == 0:
            run([py, "-m", "wheel", "unpack", "-d", os.path.join(work, "unpacked"), wheel])
            print("wheel unpack: hashes right")
            break
    if kind == "windows":
        # pip installs the Windows wheel offline into a folder of its own; Wine runs the tool.
        target = os.path.join(work, "target")
        run([sys.executable, "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
             "--only-binary=:all:", "--platform", "win_amd64", "--target", target, wheel])
        exe = os.path.join(target, "bin", "vortle.exe")
        out = run([sys.argv[5], exe, "--version"], env=dict(os.environ, WINEDEBUG="-all"))
        if not out.replace("\r\n", "\n").startswith(BANNER):
            fail(f"vortle.exe --version printed {out!r}")
        print("windows wheel: format right, installed offline, vortle.exe runs")
        return
    if kind == "emulated":
        # pip installs a wheel of another machine offline into a folder of its own; the
        # emulator runs the tool from there.
        qemu, machine = sys.argv[5], sys.argv[6]
        target = os.path.join(work, "target")
        run([sys.executable, "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
             "--only-binary=:all:", "--platform", f"manylinux_2_17_{machine}", "--target",
             target, wheel])
        tool = os.path.join(target, "bin", "vortle")
        if not run([qemu, tool, "--version"]).startswith(BANNER):
            fail("the emulated tool printed no banner")
        shutil.copyfile(sample, os.path.join(work, "fw.elf"))
        out = run([qemu, tool, "fw.elf", "BINARY"], cwd=work)
        if "*** Updated Signature over Range[32]" not in out:
            fail(f"signing under the emulator printed {out!r}")
        print(f"{machine} wheel: format right, installed offline, signs the sample under {qemu}")
        return
    env_dir = os.path.join(work, "env")
    run([sys.executable, "-m", "venv", env_dir])
    pip = os.path.join(env_dir, "bin", "pip")
    run([pip, "install", "--no-index", "--disable-pip-version-check", wheel])
    tool = os.path.join(env_dir, "bin", "vortle")
    if not run([tool, "--version"]).startswith(BANNER):
        fail("vortle --version from the environment printed no banner")
    shutil.copyfile(sample, os.path.join(work, "fw.elf"))
    out = run([tool, "fw.elf", "BINARY"], cwd=work)
    if "*** Updated Signature over Range[32]" not in out or not os.path.exists(
            os.path.join(work, "fw.BIN")):
        fail(f"signing from the environment printed {out!r}")
    print("linux wheel: format right, installed offline, signs the sample")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Runs two builds of the tool over the same inputs and command lines and reports every
difference in exit code, standard output, standard error and the files left in the folder.

    bench/differential.py OLD_VORTLE NEW_VORTLE [--work DIR]

Inputs: every unit of fuzz/corpus/engine (its first five bytes are the engine target's
options, the rest the file), every file of examples/ that the tool takes, and every unit of
fuzz/corpus/cmdline as an argument vector (NUL-separated) beside a copy of the sample firmware.
Both builds run from the same path, so that a command-line report echoes the same program."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(ROOT, "examples", "lpc1768-blinky", "blinky.elf")

# Command lines after the input name; each row runs in order in one folder.
SEQUENCES = [
    [[]],
    [["BINARY", "HEX"], ["VERIFY", "BINARY", "HEX"]],
    [["BIN(out.bin)", "HEX(out.hex)", "BA(0x2000)"]],
    [["VERIFY"]],
    [["BINARY", "CRP3"], ["BINARY", "VERIFY"], ["HEX", "VERIFY"]],
]


def inputs():
    engine = os.path.join(ROOT, "fuzz", "corpus", "engine")
    for name in sorted(os.listdir(engine)):
        data = open(os.path.join(engine, name), "rb").read()
        if len(data) < 6:
            continue
        body = data[5:]
        if data[0] & 64:
            leaf = "app.bin"
        elif body[:1] == b":":
            leaf = "app.hex"
        else:
            leaf = "app.elf"
        yield "engine/" + name, leaf, body
    for folder, _, files in os.walk(os.path.join(ROOT, "examples")):
        for f in sorted(files):
            if f.lower().endswith((".elf", ".hex", ".bin")):
                yield "examples/" + f, f, open(os.path.join(folder, f), "rb").read()


def digest(path):
    """Length and hash of the file's bytes, reading only its data extents (an image with a gap
    of gigabytes is a sparse file)."""
    h = hashlib.sha256()
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        fd = f.fileno()
        at = 0
        while at < size:
            try:
                at = os.lseek(fd, at, os.SEEK_DATA)
                end = os.lseek(fd, at, os.SEEK_HOLE)
            except OSError:
                break
            f.seek(at)
            h.update(at.to_bytes(8, "little"))
            left = end - at
            while left > 0:
                chunk = f.read(min(left, 1 << 20))
                if not chunk:
                    break
                h.update(chunk)
                left -= len(chunk)
            at = end
    return (size, h.hexdigest())


def snapshot(folder):
    files = {}
    for f in sorted(os.listdir(folder)):
        p = os.path.join(folder, f)
        files[f] = digest(p) if os.path.isfile(p) else "<not a file>"
    return files


def run(tool, folder, args):
    r = subprocess.run([tool] + args, cwd=folder, capture_output=True, timeout=60)
    return (r.returncode, r.stdout, r.stderr)


def outcomes(binary, work):
    """Every case's outcome with the binary copied to work/bin/vortle."""
    tool = os.path.join(work, "bin", "vortle")
    os.makedirs(os.path.dirname(tool), exist_ok=True)
    shutil.copy2(binary, tool)
    results = {}
    for label, leaf, body in inputs():
        for k, seq in enumerate(SEQUENCES):
            folder = os.path.join(work, "run")
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            with open(os.path.join(folder, leaf), "wb") as f:
                f.write(body)
            steps = [(run(tool, folder, [leaf] + args), snapshot(folder)) for args in seq]
            results[(label, k)] = steps
    cmdline = os.path.join(ROOT, "fuzz", "corpus", "cmdline")
    for name in sorted(os.listdir(cmdline)):
        data = open(os.path.join(cmdline, name), "rb").read()
        if b"/" in data or b"\\" in data:
            continue
        args = [a.decode("latin-1") for a in data.split(b"\0")][:63]
        if any("\0" in a for a in args):
            continue
        folder = os.path.join(work, "run")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy2(SAMPLE, os.path.join(folder, "app.elf"))
        try:
            results[("cmdline/" + name, 0)] = [(run(tool, folder, args), snapshot(folder))]
        except ValueError:  # an argument the system cannot pass
            continue
    return results


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--work", default=None)
    a = ap.parse_args()
    work = a.work or tempfile.mkdtemp(prefix="vortle-diff-")
    old = outcomes(os.path.abspath(a.old), work)
    new = outcomes(os.path.abspath(a.new), work)
    differ = [k for k in old if old[k] != new.get(k)]
    runs = sum(len(v) for v in old.values())
    print(f"{len(old)} cases, {runs} runs of each build: {len(differ)} differ")
    for k in differ[:20]:
        for i, (o, n) in enumerate(zip(old[k], new[k])):
            if o != n:
                print(f"  {k[0]} sequence {k[1]} step {i}:\n    old {o[0]!r}\n    new {n[0]!r}")
                break
    shutil.rmtree(work, ignore_errors=True)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())

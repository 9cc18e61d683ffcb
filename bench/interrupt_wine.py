#!/usr/bin/env python3
"""Interrupts the Windows tool under Wine at random moments while it writes both images of a
32 MiB firmware, and counts what each trial left behind.

Half the trials act while both temporary images exist, half at any moment of the run.
Half of each get SIGINT, which Wine hands to the program as Ctrl+C (the console handler
runs); the other half SIGKILL, which is how Wine's TerminateProcess ends a process (no handler
runs). A trial counts only once the tool itself runs. Each must end signed (exit 0, both images)
or stopped (Ctrl+C's STATUS_CONTROL_C_EXIT, whose low byte Wine gives as 0x3A; or the kill),
with no temporary file and never one image of the pair. Not a timed test: run it by hand.

    python3 bench/interrupt_wine.py build/windows/vortle.exe [TRIALS]
"""
import os
import random
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CONTROL_C_EXIT = 0xC000013A & 0xFF


def firmware(path, size=32 << 20):
    b = bytearray(0x1000 + size)

    def put(at, v, w):
        b[at:at + w] = v.to_bytes(w, "little")

    b[0:7] = b"\x7fELF\x01\x01\x01"
    for at, v, w in [(16, 2, 2), (18, 40, 2), (20, 1, 4), (28, 52, 4), (32, 0x80, 4), (40, 52, 2),
                     (42, 32, 2), (44, 1, 2), (46, 40, 2), (48, 2, 2), (50, 1, 2), (52, 1, 4),
                     (56, 0x1000, 4), (64, 0, 4), (68, size, 4), (72, size, 4), (76, 5, 4),
                     (0x80 + 44, 3, 4), (0x80 + 56, 0xD0, 4), (0x80 + 60, 11, 4),
                     (0x80 + 40, 1, 4)]:
        put(at, v, w)
    b[0xD0:0xDB] = b"\0.shstrtab\0"
    for i in range(8):
        put(0x1000 + 4 * i, 0x10008000 + 0x101 * i, 4)
    with open(path, "wb") as f:
        f.write(b)


def main():
    exe = os.path.abspath(sys.argv[1])
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(exe), "wineprefix"))
    work = tempfile.mkdtemp(prefix="vortle-interrupt-")
    firmware(os.path.join(work, "fw.elf"))
    rng = random.Random(12345)
    counts = dict(trials=0, stopped=0, signed=0, leftovers=0, halves=0, wrong=0)
    try:
        for t in range(trials):
            for name in os.listdir(work):
                if name != "fw.elf":
                    os.remove(os.path.join(work, name))
            shutil.copy(os.path.join(work, "fw.elf"), os.path.join(work, "app.elf"))
            sig = signal.SIGINT if t % 2 == 0 else signal.SIGKILL
            p = subprocess.Popen(["wine", exe, "app.elf", "BINARY", "HEX"], cwd=work, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            # The act lands only once the tool runs its own code (its console handler is in
            # place before its first line), then at a random moment of its work.
            until = time.monotonic() + 30
            if not select.select([p.stdout], [], [], 30)[0]:
                print(f"trial {t}: the tool printed nothing in 30 s")
            if t % 4 < 2:
                # While both temporary images exist, then a little later or at once.
                while p.poll() is None and time.monotonic() < until and len(
                        [n for n in os.listdir(work) if n.startswith("vtl")]) < 2:
                    time.sleep(0.001)
                time.sleep(rng.uniform(0, 0.05))
            else:
                time.sleep(rng.uniform(0, 2.0))
            if p.poll() is None:
                os.kill(p.pid, sig)
            p.stdout.read()
            code = p.wait()
            # Wine's server closes a killed process's handles (and so deletes its temporary
            # files) a moment after the process is gone: what stays past 2 s stays for good.
            settle = time.monotonic() + 2
            while time.monotonic() < settle and any(n.startswith("vtl") for n in os.listdir(work)):
                time.sleep(0.01)
            names = set(os.listdir(work)) - {"fw.elf", "app.elf"}
            temps = [n for n in names if n.startswith("vtl")]
            pair = {"app.BIN", "app.HEX"} & names
            stopped = code == (CONTROL_C_EXIT if sig == signal.SIGINT else -signal.SIGKILL)
            counts["trials"] += 1
            counts["stopped"] += stopped
            counts["signed"] += code == 0
            counts["leftovers"] += bool(temps)
            counts["halves"] += len(pair) == 1
            wrong = (code == 0 and len(pair) != 2) or (code != 0 and not stopped)
            counts["wrong"] += wrong
            if temps or len(pair) == 1 or wrong:
                print(f"trial {t} ({sig.name}): exit {code}, left {sorted(names)}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("{trials} trials: {stopped} stopped, {signed} signed; {leftovers} left a temporary "
          "file, {halves} left half a pair, {wrong} ended with a wrong exit code".format(**counts))
    return 0 if counts["leftovers"] + counts["halves"] + counts["wrong"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

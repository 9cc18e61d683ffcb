#!/usr/bin/env python3
"""Every command and snippet of the README, docs/recipes.md and the manual page's EXAMPLES is
run here, taken from the file itself, or is marked as not run with the reason beside it.

A marked block has, on the line before it, "<!-- not run by the tests: REASON -->" (Markdown)
or '.\\" not run by the tests: REASON' (the manual page); "<!-- output -->" marks a sample of
the tool's output, "<!-- run by tests/...: REASON -->" a block that the named test takes from
this file (the test must name the file). An unmarked shell block runs with sh -e in a fresh
folder that holds the sample firmware under the names the examples use, with the built tool
first on the PATH; a line that checks with VERIFY finds its file signed by the same line
without VERIFY. Any other unmarked block fails the test.

    DocSnippets.py <vortle> <repository> <scratch folder>
"""
import os
import re
import shutil
import subprocess
import sys

MARK = re.compile(r"<!-- (not run by the tests: .+|output|run by (tests/\S+): .+) -->$")
ROFF_MARK = re.compile(r'^\.\\" (not run by the tests: .+|run by (tests/\S+): .+)$')


def blocks_of_markdown(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\w*)$", lines[i])
        if m:
            j = i + 1
            while lines[j] != "```":
                j += 1
            before = next((lines[k] for k in range(i - 1, -1, -1) if lines[k].strip()), "")
            yield i + 1, m.group(1), "\n".join(lines[i + 1:j]), before
            i = j
        i += 1


def unroff(text):
    return text.replace("\\(aq", "'").replace("\\-", "-").replace("\\&", "")


def blocks_of_manual(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    start = lines.index(".SH EXAMPLES")
    i = start
    while i < len(lines) and not (i > start and lines[i].startswith(".SH ")):
        if lines[i] == ".EX":
            j = i + 1
            while lines[j] != ".EE":
                j += 1
            before = next((lines[k] for k in range(i - 1, start, -1)
                           if lines[k] not in (".PP", ".RS", ".RE")), "")
            body = unroff("\n".join(lines[i + 1:j]))
            lang = "sh" if body.startswith("vortle ") else "other"
            yield i + 1, lang, body, before
            i = j
        i += 1


def scratch(root, vortle, body, n):
    """A fresh folder with the sample firmware under the examples' names."""
    work = os.path.join(root, "block %d" % n)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "build"))
    os.makedirs(os.path.join(work, "out"))
    ex = os.path.join(SOURCE, "examples", "lpc1768-blinky")
    at2000 = "0x2000" in body
    app = "blinky-app2000.elf" if at2000 else "blinky.elf"
    for name, src in [("firmware.elf", "blinky.elf"), ("app.elf", app),
                      ("build/app.elf", app), ("zephyr.hex", "blinky.hex"),
                      ("zephyr.s19", "blinky.s19"), ("firmware.bin", "blinky.bin")]:
        shutil.copy(os.path.join(ex, src), os.path.join(work, name))
    return work


def run_shell(vortle, body, n, root):
    work = scratch(root, vortle, body, n)
    script = []
    for line in body.split("\n"):
        if " VERIFY" in line:
            # The file is signed first, as the build before the check signs it.
            script.append(line.replace(" VERIFY", "").replace("|| exit 1", "").split("#")[0])
        script.append(line)
    env = dict(os.environ, PATH=os.path.dirname(vortle) + os.pathsep + os.environ["PATH"])
    r = subprocess.run(["sh", "-e", "-c", "\n".join(script)], cwd=work, env=env,
                       capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def main():
    global SOURCE
    vortle, SOURCE, root = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    failures, ran, marked, n = [], 0, 0, 0
    docs = [("README.md", blocks_of_markdown, MARK),
            ("docs/recipes.md", blocks_of_markdown, MARK),
            ("docs/vortle.1", blocks_of_manual, ROFF_MARK)]
    for doc, blocks, mark in docs:
        for line, lang, body, before in blocks(os.path.join(SOURCE, doc)):
            n += 1
            where = "%s:%d" % (doc, line)
            m = mark.search(before.strip())
            if m:
                marked += 1
                test = m.group(2)
                if test and doc not in open(os.path.join(SOURCE, test), encoding="utf-8").read():
                    failures.append("%s: %s does not take the block from %s" % (where, test, doc))
                continue
            if lang != "sh":
                failures.append("%s: a %s block that is neither run nor marked" % (where, lang or "plain"))
                continue
            rc, out = run_shell(vortle, body, n, root)
            ran += 1
            if rc != 0:
                failures.append("%s: exit code %d\n%s\n%s" % (where, rc, body, out))
    for f in failures:
        print("FAILED " + f)
    print("%d blocks run, %d marked, %d failed" % (ran, marked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

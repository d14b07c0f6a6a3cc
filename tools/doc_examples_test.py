#!/usr/bin/env python3
"""Runs every configuration example of a Markdown page through katr_check.

usage: doc_examples_test.py PAGE.md WORK_DIR [EMULATOR...] KATR_CHECK

Each ```jot block is written to WORK_DIR/example.jot and checked with
`katr_check --quiet example.jot`. When a ```text block follows it (only blank
lines between), the checker's messages (standard error) must be exactly that
block and the exit status 1; otherwise there must be no message and exit
status 0. A ```console block runs its "$ katr_check ..." lines on the last
jot block's file; the lines up to the next "$ " line are the expected output
(standard error, then standard output). Prints one line per failing example
and a closing count.
"""
import os
import re
import subprocess
import sys


def examples(page):
    """(line number, configuration, expected messages or None) per jot block."""
    blocks = []  # (info string, first line number, text, index of the line after the fence)
    lines = page.split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\w*)\s*$", lines[i])
        if not m:
            i += 1
            continue
        start = i + 1
        j = start
        while j < len(lines) and lines[j].rstrip() != "```":
            j += 1
        blocks.append((m.group(1), start + 1, "\n".join(lines[start:j]), j + 1))
        i = j + 1
    found = []
    for k, (info, first, text, after) in enumerate(blocks):
        if info == "console" and found:
            for m in re.finditer(r"^\$ katr_check (.*)\n((?:(?!\$ ).*(?:\n|$))*)", text + "\n", re.M):
                found.append((first, found[-1][1], (m.group(1).split(), m.group(2))))
            continue
        if info != "jot":
            continue
        expected = None
        if k + 1 < len(blocks) and blocks[k + 1][0] == "text":
            between = lines[after:blocks[k + 1][1] - 2]
            if all(not l.strip() for l in between):
                expected = blocks[k + 1][2]
        found.append((first, text + "\n", expected))
    return found


def main():
    page, work = sys.argv[1], sys.argv[2]
    command = sys.argv[3:-1] + [os.path.abspath(sys.argv[-1])]
    os.makedirs(work, exist_ok=True)
    with open(page, encoding="utf-8") as f:
        cases = examples(f.read())
    passed = failed = 0
    for line, config, expected in cases:
        with open(os.path.join(work, "example.jot"), "w", encoding="utf-8", newline="\n") as f:
            f.write(config)
        if isinstance(expected, tuple):  # a console line: its own arguments
            args, expected = expected
            run = subprocess.run(command + args, cwd=work, capture_output=True, timeout=120)
            got = (run.stderr + run.stdout).decode("utf-8", "replace").replace("\r\n", "\n").rstrip("\n")
            want_rc = 0
        else:
            run = subprocess.run(command + ["--quiet", "example.jot"], cwd=work, capture_output=True, timeout=120)
            got = run.stderr.decode("utf-8", "replace").replace("\r\n", "\n").rstrip("\n")
            want_rc = 1 if expected is not None else 0
        want = (expected or "").rstrip("\n")
        if got == want and run.returncode == want_rc:
            passed += 1
        else:
            failed += 1
            print(f"{page}:{line}: example fails (exit status {run.returncode}, expected {want_rc})")
            print("  expected:\n    " + want.replace("\n", "\n    "))
            print("  got:\n    " + got.replace("\n", "\n    "))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())

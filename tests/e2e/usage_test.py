#!/usr/bin/env python3
"""The program without arguments prints the usage text and the contact block and exits 0;
-pause without a terminal prints the prompt, does not wait and runs no pass."""
import os
import subprocess
import sys


def run(program, *arguments):
    done = subprocess.run([program, *arguments], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr


def main():
    program = sys.argv[1]
    name = os.path.splitext(os.path.basename(program))[0]
    failures = []

    code, out, err = run(program)
    lines = out.split("\n")
    if code != 0:
        failures.append("usage exit code %d" % code)
    if not out.startswith("引数\n　%s.exe[ -mode extract|merge|disaply|filter]" % name):
        failures.append("usage start: %r" % out[:80])
    if "\n連絡先他\n　" not in out or not out.endswith("\n"):
        failures.append("no contact block: %r" % out[-120:])
    if len(lines) != 27 + 3 + 1:
        failures.append("usage has %d lines" % len(lines))
    if err:
        failures.append("stderr: %r" % err)

    code, out, _ = run(program, "-pause")
    if code != 0 or out != "－ 続行するには何かキーを押してください . . .\r\n":
        failures.append("pause: %d %r" % (code, out))

    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (2 - min(2, len(failures)), min(2, len(failures))))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

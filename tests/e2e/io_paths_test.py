#!/usr/bin/env python3
"""Every way a worker may read and write gives the same bytes: a file read into the worker's block
(QV_MAP_FILES=0) or walked in mapped views, by the worker alone (QV_IO_THREADS=0) or with threads
(QV_IO_THREADS=1: a thread populating the next view or reading ahead, and a writer thread), as
the program chooses by itself (nothing set), reads and views smaller than a slice (-bufsize
48128), and a stream sent to standard output through a pipe (the writer thread of an output that
may stall). The stream written and the console text, progress lines included, are compared byte
for byte on every real recording of the test data."""
import glob
import os
import subprocess
import sys
import tempfile

from e2e_checks import check, summary

HERE = os.path.dirname(os.path.abspath(__file__))
STREAMS = sorted(glob.glob(os.path.join(HERE, "..", "data", "arib-ts", "*.ts")))

# Mode, the option that names its output, extra options.
MODES = [
    ("display", None, ["-detail"]),
    ("extract", "-cappath", ["-detail"]),
    ("filter", "-filterpath", []),
    ("through", "-throughpath", []),
    ("merge", "-mergepath", []),
]

ALONE = {"QV_IO_THREADS": "0"}
THREADS = {"QV_IO_THREADS": "1"}
READS = {"QV_MAP_FILES": "0"}

VARIANTS = [
    ("reads, worker alone", {**ALONE, **READS}, []),
    ("views, worker alone", ALONE, []),
    ("views, threads", THREADS, []),
    ("reads, threads", {**THREADS, **READS}, []),
    ("the program's choice", {}, []),
    ("small reads", {**ALONE, **READS}, ["-bufsize", "48128"]),
    ("small views", THREADS, ["-bufsize", "48128"]),
]


def run(program, arguments, environment, stdout=subprocess.PIPE):
    env = dict(os.environ)
    env.pop("QV_IO_THREADS", None)
    env.pop("QV_MAP_FILES", None)
    env.update(environment)
    return subprocess.run([program] + arguments, stdout=stdout, stderr=subprocess.PIPE,
                          timeout=120, env=env)


def read(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def compare_variants(program, work, stream, mode, output_option, extra):
    name = os.path.basename(stream)
    arguments = ["-mode", mode, stream] + extra
    if mode == "merge":
        caption = os.path.join(work, "caption.ts")
        run(program, ["-mode", "extract", stream, "-cappath", caption, "-noprogress"], {})
        if not os.path.exists(caption):
            return  # no captions in this recording: nothing to merge
        arguments += ["-cappath", caption]
    results = []
    for label, environment, options in VARIANTS:
        output = os.path.join(work, "out-%s.ts" % len(results))
        args = arguments + options + ([output_option, output] if output_option else [])
        done = run(program, args, environment)
        results.append((label, done.stdout, read(output) if output_option else b"", done.returncode))
    first = results[0]
    check("%s %s: some output" % (name, mode), len(first[1]) > 0 or len(first[2] or b"") > 0)
    for label, text, data, code in results[1:]:
        check("%s %s %s: console text" % (name, mode, label), text == first[1],
              "%d vs %d bytes" % (len(text), len(first[1])))
        check("%s %s %s: stream" % (name, mode, label), data == first[2])
        check("%s %s %s: exit code" % (name, mode, label), code == first[3],
              "%d vs %d" % (code, first[3]))
    if output_option and mode != "merge":
        # The stream to standard output through a pipe, with the console text on standard error.
        piped = run(program, arguments + [output_option, "CON"], {})
        check("%s %s through a pipe: stream" % (name, mode), piped.stdout == first[2],
              "%d vs %d bytes" % (len(piped.stdout), len(first[2] or b"")))


def main():
    program = sys.argv[1]
    check("test recordings found", len(STREAMS) > 0)
    with tempfile.TemporaryDirectory() as work:
        for stream in STREAMS:
            for mode, output_option, extra in MODES:
                compare_variants(program, work, stream, mode, output_option, extra)
    return summary()


if __name__ == "__main__":
    sys.exit(main())

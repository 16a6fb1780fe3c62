#!/usr/bin/env python3
"""The layer check fails on an include that runs upward or sideways, and on a room it does not
know; it passes a tree whose includes all point down. Runs the check on scratch trees."""
import os
import subprocess
import sys
import tempfile


HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "..", "..", "tools", "check_layers.py")
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from e2e_checks import check, summary  # noqa: E402


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, "src", path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)


def run_check(files):
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, files)
        run = subprocess.run([sys.executable, CHECK, "--root", root], stdout=subprocess.PIPE,
                             text=True)
        return run.returncode, run.stdout


DOWNWARD = {
    "base/console_output.h": '#include "platform/console.h"\n',
    "ts/packet_header.cpp": '#include "ts/packet_header.h"\n#include "base/byte_buffer.h"\n',
    "pump/stream_pump.cpp": '#include "caption/caption_pes.h"\n#include "external/plugin_host.h"\n',
    "app/main.cpp": '#include <cstdio>\n#include "modes/worker_entries.h"\n',
}


def main():
    code, out = run_check(DOWNWARD)
    check("downward includes pass", code == 0, out)

    upward = dict(DOWNWARD)
    upward["ts/eit.cpp"] = '// a table parser calling into the program\n  #  include "app/console_control.h"\n'
    code, out = run_check(upward)
    check("upward include fails", code == 1, out)
    check("upward include named", "src/ts/eit.cpp:2: #  include \"app/console_control.h\"" in out,
          out)

    sideways = dict(DOWNWARD)
    sideways["subtitle/encoder.cpp"] = '#include "caption/caption_pes.h"\n'
    code, out = run_check(sideways)
    check("include between rooms of one layer fails", code == 1 and "subtitle/encoder.cpp" in out,
          out)

    unknown = dict(DOWNWARD)
    unknown["gadgets/thing.cpp"] = '#include "base/console_output.h"\n'
    code, out = run_check(unknown)
    check("unknown room fails", code == 1 and "src/gadgets" in out, out)

    # The real tree holds.
    run = subprocess.run([sys.executable, CHECK], stdout=subprocess.PIPE, text=True)
    check("the project's own tree holds", run.returncode == 0, run.stdout)
    return summary()


if __name__ == "__main__":
    sys.exit(main())

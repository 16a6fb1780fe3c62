#!/usr/bin/env python3
"""Checks that no include of the program's sources runs upward.

The rooms of src/ form layers, bottom to top; a file may include headers of its own room and of
rooms below it, never of a room above it or beside it. Prints every offending include and exits
with 1 when there is one; with --root, checks another tree (the tests use it on a scratch copy).
"""
import argparse
import os
import re
import sys

# Bottom to top; rooms on one line share a layer (they may not include each other).
LAYERS = [
    ["platform"],
    ["base"],
    ["arib"],
    ["ts"],
    ["caption", "subtitle", "external"],
    ["pump"],
    ["modes"],
    ["app"],
]
RANK = {room: level for level, rooms in enumerate(LAYERS) for room in rooms}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/[^"]+"')


def check_file(path, room):
    """Yields (line number, text) of each include in `path` that leaves the allowed rooms."""
    with open(path, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target == room:
                continue
            if target not in RANK or RANK[target] >= RANK[room]:
                yield number, line.strip()


def check_tree(root):
    """Returns the offending includes of root/src as lines of text; unknown rooms count too."""
    problems = []
    src = os.path.join(root, "src")
    for room in sorted(os.listdir(src)):
        folder = os.path.join(src, room)
        if not os.path.isdir(folder):
            continue
        if room not in RANK:
            problems.append("src/%s: a room that is not in the layer list of %s" %
                            (room, os.path.basename(__file__)))
            continue
        for directory, _, names in os.walk(folder):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(directory, name)
                for number, text in check_file(path, room):
                    problems.append("%s:%d: %s" % (os.path.relpath(path, root), number, text))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    problems = check_tree(parser.parse_args().root)
    for problem in problems:
        print("upward include: " + problem)
    layers = " -> ".join("/".join(rooms) for rooms in LAYERS)
    if problems:
        print("%d include(s) run upward; the layers, bottom to top: %s" % (len(problems), layers))
        return 1
    print("layers hold: " + layers)
    return 0


if __name__ == "__main__":
    sys.exit(main())

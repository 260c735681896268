#!/usr/bin/env python3
"""Keeps the source folders one-way floors: reads every #include "..." of the program's sources and
fails, naming file:line, when an include runs up a floor, sideways between neighbours or into a
folder that is on no floor, when the folders' includes close a circle, or when a floor below the
windows creates a window. tests/ and tools/ may include anything.
Usage: tools/check-layers.py [ROOT]"""
import os
import re
import sys

# Bottom to top; folders in one tuple stand side by side and must not include each other.
FLOORS = [("framework",), ("media",), ("timestore",), ("engine",), ("res",), ("ui",), ("app", "verify")]
WINDOW_FLOORS = {"ui", "app"}
RANK = {folder: rank for rank, floor in enumerate(FLOORS) for folder in floor}
SOURCE = re.compile(r"\.(c|cpp|h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
WINDOW_CALL = re.compile(r"\b(CreateWindowExW?|CreateWindowW?|CreateDialog\w*|DialogBox\w*|RegisterClass\w*)\s*\(")
ANYTHING_GOES = {"tests", "tools", "build", "docs", "cmake", "dist"}


def sources(root):
    for top in sorted(os.listdir(root)):
        path = os.path.join(root, top)
        if top.startswith(".") or top in ANYTHING_GOES or not os.path.isdir(path):
            continue
        for folder, _, files in os.walk(path):
            for name in sorted(files):
                if SOURCE.search(name):
                    yield top, os.path.relpath(os.path.join(folder, name), root)


def check(root):
    problems, edges = [], {}
    for floor, rel in sources(root):
        if floor not in RANK:
            problems.append("%s:1: folder %s/ is on no floor" % (rel, floor))
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                if floor not in WINDOW_FLOORS and WINDOW_CALL.search(line.split("//")[0]):
                    problems.append("%s:%d: a window in %s/, below the windows: %s" % (rel, number, floor, line.strip()))
                match = INCLUDE.match(line)
                if not match or "/" not in match.group(1):
                    continue  # same folder, or a generated or third-party header on the include path
                target = match.group(1).split("/")[0]
                if target == floor:
                    continue
                edges.setdefault(floor, {}).setdefault(target, "%s:%d" % (rel, number))
                if target not in RANK:
                    problems.append("%s:%d: includes %s from %s/, which is on no floor" % (rel, number, match.group(1), target))
                elif RANK[target] > RANK[floor]:
                    problems.append("%s:%d: %s/ includes %s from the floor above (%s/)" % (rel, number, floor, match.group(1), target))
                elif RANK[target] == RANK[floor]:
                    problems.append("%s:%d: %s/ includes %s from its neighbour %s/" % (rel, number, floor, match.group(1), target))
    problems += circles(edges)
    return problems


def circles(edges):
    found, state = [], {}

    def visit(folder, path):
        state[folder] = "open"
        for target in sorted(edges.get(folder, {})):
            if state.get(target) == "open":
                loop = path[path.index(target):] + [target]
                where = ", ".join(edges[a][b] for a, b in zip(loop, loop[1:]))
                found.append("%s: circle %s" % (where, " -> ".join(loop)))
            elif target not in state:
                visit(target, path + [target])
        state[folder] = "done"

    for folder in sorted(edges):
        if folder not in state:
            visit(folder, [folder])
    return found


if __name__ == "__main__":
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = check(root)
    for problem in problems:
        print(problem)
    floors = " -> ".join("|".join(floor) for floor in FLOORS)
    if problems:
        print("layers: FAILED, %d problem(s); the floors are %s" % (len(problems), floors))
        sys.exit(1)
    print("layers: every include runs down (%s), no circle, no window below ui" % floors)

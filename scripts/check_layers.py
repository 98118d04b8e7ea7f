#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks that every #include "folder/..." runs down the layers of the module and of the host.

Each source file in a listed folder is read. An include of another folder passes when that folder
sits in a lower layer of the same stack; folders of one layer are peers and include neither each
other. A circle between folders is reported with one include for each of its steps. Every fault is
printed as file:line; the exit status is 1 when there is one, else 0.

Usage: scripts/check_layers.py [--root DIR]      (DIR defaults to this script's repository)
"""

import argparse
import os
import re
import sys

# The module, from the bottom up; folders on one line are peers. sdk/ is the host's plug-in
# interface, headers only.
MODULE_LAYERS = [
    ["sdk"],
    ["base"],
    ["mesh", "lights"],
    ["vparam"],
    ["instance"],
    ["shading"],
    ["entry"],
]

# ===== The host's layers: edit this list as host/ is restructured ================================
# Folders host/<name>, from the bottom up; folders on one line are peers. Every one of them may
# also include sdk/, and none the module's folders: the host loads the plug-in, never compiles it.
HOST_LAYERS = [
    ["util"],
    ["io", "state"],
    ["image", "animation", "presets"],
    ["scene", "texture", "codecs"],
    ["trace", "vparm"],
    ["panel"],
    ["services"],
    ["plugin"],
    ["render"],
    ["serve"],
    ["cli"],
]

# ===== Known exceptions: includes that run back up today ==========================================
# (from folder, to folder): their includes pass, and a circle they close is noted, not failed.
# Remove an entry once its includes are gone; the check notes an entry that no longer occurs.
KNOWN_EXCEPTIONS = set()

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def stacks_from(module_layers, host_layers):
    """The two stacks as lists of layers of folder names relative to the root; sdk/ is below both."""
    host = [["sdk"]] + [["host/" + name for name in layer] for layer in host_layers]
    return [module_layers, host]


def folder_of(path):
    """The folder a relative path belongs to: host/<name>/... or <name>/...; None for a top file."""
    parts = path.split("/")
    if parts[0] == "host":
        return "host/" + parts[1] if len(parts) > 2 else None
    return parts[0] if len(parts) > 1 else None


def includes(root, folder):
    """Each (file, line number, included path) of the quoted includes in a folder's sources."""
    for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
        dirnames.sort()
        for name in sorted(filenames):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if match:
                        yield path, number, match.group(1)


def find_circle(graph, members):
    """One circle through the first of members, every step an edge of graph inside members."""
    start = min(members)
    paths = {start: [start]}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for nxt in sorted(graph.get(node, ())):
            if nxt == start:
                return paths[node] + [start]
            if nxt in members and nxt not in paths:
                paths[nxt] = paths[node] + [nxt]
                queue.append(nxt)
    return [start]


def strongly_connected(graph):
    """The components of more than one folder (Tarjan's algorithm), each a set."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = set()
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.add(top)
                if top == node:
                    break
            if len(component) > 1:
                found.append(component)

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def check(root, stacks, exceptions):
    """Returns (faults, notes): lists of messages about the tree at root."""
    faults, notes = [], []
    rank = {}  # folder -> (stack number, layer number), its first stack deciding
    for s, layers in enumerate(stacks):
        for level, layer in enumerate(layers):
            for folder in layer:
                rank.setdefault(folder, (s, level))

    # Folders under a parent that the lists name (host/) must each be listed.
    parents = {f.rsplit("/", 1)[0] for f in rank if "/" in f}
    for parent in sorted(parents):
        where = os.path.join(root, parent)
        for name in sorted(os.listdir(where)) if os.path.isdir(where) else []:
            folder = parent + "/" + name
            if os.path.isdir(os.path.join(where, name)) and folder not in rank:
                faults.append("%s/: folder in no layer list" % folder)

    edges = {}  # (from folder, to folder) -> its first include, as "file:line"
    for folder in sorted(rank):
        for path, number, included in includes(root, folder):
            target = folder_of(included)
            if target is None or target == folder:
                continue
            if target not in rank and not os.path.isdir(os.path.join(root, target)):
                continue  # a library's header, not one of ours
            where = "%s:%d" % (path, number)
            edges.setdefault((folder, target), where)
            if (folder, target) in exceptions:
                continue
            stack, own = stacks[rank[folder][0]], rank[folder][1]
            level = next((i for i, layer in enumerate(stack) if target in layer), None)
            if level is None:
                why = "%s is not in the layers of %s" % (target, folder)
            elif level > own:
                why = "%s is above %s" % (target, folder)
            elif level == own:
                why = "%s is beside %s (same layer)" % (target, folder)
            else:
                continue
            faults.append('%s: #include "%s": %s' % (where, included, why))

    # Circles: failed unless a known exception closes them.
    graph, unexcused = {}, {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
        if (a, b) not in exceptions:
            unexcused.setdefault(a, set()).add(b)
    bad = strongly_connected(unexcused)
    for component in bad:
        circle = find_circle(unexcused, component)
        steps = ", ".join(edges[(a, b)] for a, b in zip(circle, circle[1:]))
        caught = ""
        if len(component) > len(circle) - 1:
            caught = "; all in one: " + ", ".join(sorted(component))
        faults.append("circle: %s (%s)%s" % (" -> ".join(circle), steps, caught))
    for component in strongly_connected(graph):
        if not any(component >= c for c in bad):
            notes.append("known circle: %s" % " -> ".join(find_circle(graph, component)))
    for a, b in sorted(exceptions):
        if (a, b) not in edges:
            notes.append("known exception %s -> %s no longer occurs: remove it" % (a, b))
    return faults, notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--root", default=os.path.dirname(here), help="the repository's top folder")
    args = parser.parse_args()
    faults, notes = check(args.root, stacks_from(MODULE_LAYERS, HOST_LAYERS), KNOWN_EXCEPTIONS)
    for note in notes:
        print("note: " + note)
    for fault in faults:
        print(fault)
    print("layers: %d fault%s" % (len(faults), "" if len(faults) == 1 else "s"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

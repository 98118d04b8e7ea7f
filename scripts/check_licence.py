#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks that every source file of the repository names its licence in an SPDX line near its top.

Source files are the tracked C++ sources and headers, scripts, CMake files, the page's HTML, CSS
and JavaScript and the linker's export map (test data, corpora, documents and JSON are not). Each
must hold "SPDX-License-Identifier: Apache-2.0" in its first three lines. Prints each file that
does not; the exit status is 1 when there is one. With --add, writes the line where it is missing,
in the file's own comment syntax (after a #! line or a doctype).

Usage: scripts/check_licence.py [--add] [--root DIR]
"""

import argparse
import os
import subprocess
import sys

TAG = "SPDX-License-Identifier: Apache-2.0"
SKIPPED_FOLDERS = ("fuzz/corpus/", "tests/host/data/", "examples/", "presets/", "docs/")


def comment_for(path):
    """The line that carries the tag in this kind of file, or None when the file is not source."""
    name = os.path.basename(path)
    ext = os.path.splitext(name)[1]
    if ext in (".cpp", ".h", ".js"):
        return "// " + TAG
    if ext in (".css", ".map"):
        return "/* " + TAG + " */"
    if ext == ".html":
        return "<!-- " + TAG + " -->"
    if ext in (".py", ".sh", ".cmake") or name == "CMakeLists.txt" or path == ".ci/run":
        return "# " + TAG
    return None


def source_files(root):
    tracked = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True, check=True)
    for path in tracked.stdout.splitlines():
        if path.startswith(SKIPPED_FOLDERS) or not os.path.isfile(os.path.join(root, path)):
            continue
        line = comment_for(path)
        if line:
            yield path, line


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--add", action="store_true", help="add the line where it is missing")
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args = parser.parse_args()
    missing = 0
    for path, line in source_files(args.root):
        full = os.path.join(args.root, path)
        with open(full, encoding="utf-8") as f:
            text = f.read()
        if TAG in "\n".join(text.splitlines()[:3]):
            continue
        if not args.add:
            print(f"{path}:1: no \"{TAG}\" line")
            missing += 1
            continue
        lines = text.splitlines(keepends=True)
        # After a #! line, and after an HTML page's doctype.
        at = 1 if lines and (lines[0].startswith("#!") or lines[0].lower().startswith("<!doctype")) else 0
        lines.insert(at, line + "\n")
        with open(full, "w", encoding="utf-8") as f:
            f.write("".join(lines))
    print(f"licence lines: {missing} missing")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())

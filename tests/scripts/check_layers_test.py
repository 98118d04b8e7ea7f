#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Tests of scripts/check_layers.py on small trees written for each case."""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in scripts/
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_layers  # noqa: E402

# sdk < base < (a, b peers) < top for the module; sdk < host/low < host/high for the host.
STACKS = check_layers.stacks_from([["sdk"], ["base"], ["a", "b"], ["top"]], [["low"], ["high"]])
UPWARD = {("host/low", "host/high")}

CLEAN = {
    "sdk/s.h": "",
    "base/x.h": '#include "sdk/s.h"\n',
    "a/y.cpp": '#include "a/y.h"\n#include "local.h"\n#include <vector>\n'
               '#include "nlohmann/json.hpp"\n#include "base/x.h"\n// #include "top/t.h"\n',
    "top/t.cpp": '#include "a/y.h"\n#include "b/z.h"\n',
    "host/high/h.cpp": '#include "host/low/l.h"\n#include "sdk/s.h"\n',
    "host/low/l.h": "",
}

# (name, files over CLEAN, exceptions, faults expected as substrings, notes expected as substrings)
CASES = [
    ("down the layers", {}, set(), [], []),
    ("up a layer", {"base/x.cpp": '#include "base/x.h"\n\n#include "a/y.h"\n'}, set(),
     ['base/x.cpp:3: #include "a/y.h": a is above base'], []),
    ("spaced directive", {"sdk/s.h": '  #  include "base/x.h"\n'}, set(),
     ["sdk/s.h:1", "base is above sdk"], []),
    ("between peers", {"a/y.h": '#include "b/z.h"\n'}, set(), ["a/y.h:1", "b is beside a"], []),
    ("host into the module", {"host/low/l.cpp": '#include "base/x.h"\n'}, set(),
     ["host/low/l.cpp:1", "base is not in the layers of host/low"], []),
    ("into a folder no layer holds", {"tests/t.h": "", "base/x.cpp": '#include "tests/t.h"\n'}, set(),
     ["base/x.cpp:1", "tests is not in the layers of base"], []),
    ("unlisted host folder", {"host/new/n.cpp": ""}, set(), ["host/new/: folder in no layer list"], []),
    ("circle", {"a/y.h": '#include "b/z.h"\n', "b/z.h": '#include "a/y.h"\n'}, set(),
     ["b is beside a", "a is beside b", "circle: a -> b -> a (a/y.h:1, b/z.h:1)"], []),
    ("circle through three", {"base/x.h": '#include "top/t.h"\n', "b/z.h": '#include "base/x.h"\n'}, set(),
     ["top is above base",
      "circle: a -> base -> top -> a (a/y.cpp:5, base/x.h:1, top/t.cpp:1); all in one: a, b, base, top"], []),
    ("known exception", {"host/low/l.h": '#include "host/high/h.h"\n'}, UPWARD, [],
     ["known circle: host/high -> host/low -> host/high"]),
    ("stale exception", {}, UPWARD, [], ["known exception host/low -> host/high no longer occurs"]),
]


class CheckLayers(unittest.TestCase):
    def test_cases(self):
        for name, files, exceptions, want_faults, want_notes in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                for path, text in dict(CLEAN, **files).items():
                    os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                    with open(os.path.join(root, path), "w") as f:
                        f.write(text)
                faults, notes = check_layers.check(root, STACKS, exceptions)
                for want, got in ((want_faults, faults), (want_notes, notes)):
                    for text in want:
                        self.assertTrue(any(text in line for line in got), "%r not in %r" % (text, got))
                    if not want:
                        self.assertEqual(got, [])
                if want_faults:
                    self.assertNotEqual(faults, [])

    def test_lists_name_each_folder_once(self):
        stacks = check_layers.stacks_from(check_layers.MODULE_LAYERS, check_layers.HOST_LAYERS)
        folders = [f for stack in stacks for layer in stack for f in layer if f != "sdk"]
        self.assertEqual(len(folders), len(set(folders)))


if __name__ == "__main__":
    unittest.main()

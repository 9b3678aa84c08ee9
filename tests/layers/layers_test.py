#!/usr/bin/python3
"""The arrows between the parts of the code (docs/ARCHITECTURE.md): a file includes headers only
from its own folder and the folders its folder may reach. The module's folders and the tools'
never meet but through the host interface, the recorder's contract and the exclusive open.

    layers_test.py SOURCE_ROOT
"""
import os
import re
import sys
import unittest

# Each folder with the folders whose headers it may include (its own always).
HOST_SIDE = ["host_binding/include", "contract", "file_access"]
ALLOWED = {
    "host_binding/include": [],
    "contract": [],
    "file_access": [],
    "host_binding": ["host_binding/include"],
    "recorder": ["host_binding", *HOST_SIDE],
    "library": ["recorder", "host_binding", *HOST_SIDE],
    "tools/common": [],
    "tools/midi": ["tools/common"],
    "tools/recording": ["tools/midi", "tools/common", "contract"],
    "tools/grid": ["tools/midi", "tools/common"],
    "tools/view": ["tools/recording", "tools/grid", "tools/midi", "tools/common", "contract"],
    "tools/quorb": ["tools/recording", "tools/grid", "tools/midi", "tools/view", "tools/common",
                    "contract"],
    "tools/stand_in_host": [*HOST_SIDE, "tools/recording", "tools/midi", "tools/common"],
    "testing": ["tools/stand_in_host", *HOST_SIDE, "tools/midi", "tools/common"],
    "bench": ["testing", "tools/stand_in_host", "tools/grid", *HOST_SIDE, "tools/midi",
              "tools/common"],
}
SOURCE = re.compile(r"\.(h|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root, folder):
    """The C++ files of `folder` itself, not of the folders inside it that have rules of their
    own."""
    top = os.path.join(root, folder)
    for here, dirs, files in os.walk(top):
        rel = os.path.relpath(here, root).replace(os.sep, "/")
        dirs[:] = [d for d in dirs if f"{rel}/{d}" not in ALLOWED]
        for name in files:
            if SOURCE.search(name):
                yield os.path.join(here, name)


def header_homes(root):
    """Each header's folder by its name (the build puts every folder on the include path by
    name, so names are unique)."""
    homes = {}
    for folder in ALLOWED:
        for path in sources(root, folder):
            if path.endswith(".h"):
                name = os.path.basename(path)
                assert name not in homes, f"two headers named {name}"
                homes[name] = folder
    return homes


class Layers(unittest.TestCase):
    def test_every_include_follows_an_arrow(self):
        homes = header_homes(ROOT)
        wrong = []
        for folder, reach in ALLOWED.items():
            for path in sources(ROOT, folder):
                with open(path, encoding="utf-8") as f:
                    for name in INCLUDE.findall(f.read()):
                        home = homes.get(os.path.basename(name))
                        if home is not None and home != folder and home not in reach:
                            wrong.append(f"{os.path.relpath(path, ROOT)} includes {name} "
                                         f"from {home}/: no arrow {folder}/ -> {home}/")
        self.assertEqual([], wrong)


if __name__ == "__main__":
    ROOT = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]], verbosity=2)

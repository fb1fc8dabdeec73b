#!/usr/bin/python3
"""Checks that the rooms of src/ include one another only downwards.

    check_layers.py SRC_DIR

Each room (a folder of src/) has a level; a file may include its own room and
any room of a lower level, never one of its own level or above. Exits 1 and
names every include that runs back up or sideways."""

import glob
import os
import re
import sys

LEVEL = {
    "util": 0, "platform": 1, "db": 2, "net": 3, "import": 3, "export": 3,
    "settings": 4, "server": 5, "kept": 5, "server_checks": 6, "sync": 7, "cli": 8,
    "gui": 8,
}


def main(src):
    bad = 0
    for path in sorted(glob.glob(os.path.join(src, "*", "*.[ch]*"))):
        room = os.path.basename(os.path.dirname(path))
        if room not in LEVEL:
            print("unknown room: %s" % path)
            bad += 1
            continue
        with open(path, encoding="utf-8") as source:
            text = source.read()
        for match in re.finditer(r'#include "([a-z_]+)/', text):
            other = match.group(1)
            if other == room or other not in LEVEL:
                continue
            if LEVEL[other] >= LEVEL[room]:
                print("%s includes %s/ (level %d, its own is %d)"
                      % (path, other, LEVEL[other], LEVEL[room]))
                bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))

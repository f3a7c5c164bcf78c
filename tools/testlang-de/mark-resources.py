#!/usr/bin/env python3
"""Writes the resource script of a whole test language: every string, menu and dialog text of
the program's resource scripts, each marked with "[de] " in front, so that a test sees which
module a text came from. Files the scripts name (icons, bitmaps, documents) stay the program's.

usage: mark-resources.py RESOURCES_DIR OUTPUT_RC
"""
import re
import sys

MARK = "[de] "
# The fragments with nothing to translate, or with nothing a language library may hold.
SKIPPED = {"messages.rc", "version.rc"}
FILE_RESOURCE = re.compile(r'^\s*\w+\s+(ICON|BITMAP|RCDATA|CURSOR|RT_MANIFEST)\s+"')
LITERAL = re.compile(r'"((?:[^"]|"")*)"')
UNMARKED = re.compile(r'^\s*(FONT|#)')


def mark_line(line):
    if UNMARKED.match(line):
        return line
    found = LITERAL.search(line)
    if not found or found.group(1) == "":
        return line
    return line[:found.start(1)] + MARK + line[found.start(1):]


def main():
    folder, output = sys.argv[1], sys.argv[2]
    with open(folder + "/Norvane.rc", encoding="utf-8") as f:
        fragments = re.findall(r'^#include "(\w+\.rc)"', f.read(), re.M)
    out = ["// Generated from the program's resource scripts: do not edit.",
           "#include <windows.h>", "#include <commctrl.h>", '#include "resource.h"',
           "#pragma code_page(65001)", ""]
    for name in fragments:
        if name in SKIPPED:
            continue
        with open(folder + "/" + name, encoding="utf-8") as f:
            for line in f.read().splitlines():
                if FILE_RESOURCE.match(line) or line.lstrip().startswith("CREATEPROCESS_MANIFEST"):
                    continue
                out.append(mark_line(line))
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()

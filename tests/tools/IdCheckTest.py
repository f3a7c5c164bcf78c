#!/usr/bin/env python3
"""tools/idcheck against fixture trees (tests/tools/data/idcheck), one for each kind of fault it must find
and one clean tree that holds every allowed case, each with the exact lines it must print."""
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "..", "..", "tools", "idcheck", "idcheck.py")

CASES = [
    # Offsets, other spaces, controls of other dialogs, strings in comments and texts, a test's
    # own missing string: nothing to report.
    ("clean", []),
    ("duplicate", [
        "resources/ids_two.h:4: IDS_SAVE (300) has the value of IDS_OPEN (resources/ids_one.h:3) in the string ids",
    ]),
    ("undefined", [
        "resources/ids.h:3: IDS_MISSING (301) names no string in the string tables",
    ]),
    ("twice", [
        "resources/strings_b.rc:3: string 300 is defined twice (first at resources/strings_a.rc:3)",
        "resources/strings_b.rc:4: IDS_UNKNOWN is no id of the headers",
        "tests/unit/Unit.rc:3: string 300 is the program's string of resources/strings_a.rc:3",
    ]),
    ("messages", [
        "framework/PrivateMessages.h:4: WM_SEARCH_NOTIFY (1025) has the value of WM_READER_NOTIFY "
        "(framework/PrivateMessages.h:2) in the messages",
        "app/Worker.cpp:3: WM_USER+7 outside framework/PrivateMessages.h",
    ]),
    ("controls", [
        "resources/dialogs.rc:9: IDC_TITLE (1000) has the value of IDC_NAME (resources/dialogs.rc:8) "
        "in the controls of IDD_SECOND",
    ]),
]


class IdCheck(unittest.TestCase):
    def test_each_fixture_gives_exactly_its_lines(self):
        for name, expected in CASES:
            with self.subTest(fixture=name):
                run = subprocess.run([sys.executable, CHECK, os.path.join(HERE, "data", "idcheck", name)],
                                     capture_output=True, text=True)
                self.assertEqual(run.stderr, "")
                self.assertEqual(run.stdout.splitlines(), expected)
                self.assertEqual(run.returncode, 1 if expected else 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)

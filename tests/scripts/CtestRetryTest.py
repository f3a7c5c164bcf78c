#!/usr/bin/env python3
"""The counting of scripts/ctest-retry.py on small ctest projects of host shell commands: a
test that did not run, a skip the allow-list does not name and a test executable below its
floor each fail the run; an allowed skip and a test whose first start was silent do not."""
import os
import subprocess
import sys
import tempfile
import unittest

RETRY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "ctest-retry.py")

PASS = 'add_test(NAME {name} COMMAND sh -c "echo ok")\n'
SKIP = ('add_test(NAME {name} COMMAND sh -c "echo \'[  SKIPPED ] no device\'")\n'
        'set_tests_properties({name} PROPERTIES SKIP_REGULAR_EXPRESSION "\\\\[  SKIPPED \\\\]")\n')
MISSING = 'add_test(NAME {name} COMMAND ${{CMAKE_CURRENT_BINARY_DIR}}/never-built)\n'
# Ends with no output the first time, passes the second.
SILENT_ONCE = 'add_test(NAME {name} COMMAND sh -c "[ -e started ] && echo ok || {{ touch started; exit 1; }}")\n'


def run_counting(tests, floors="", allowed=""):
    """Returns (exit status, counts-file lines, output) of ctest-retry.py over the project."""
    with tempfile.TemporaryDirectory() as root:
        source, build = os.path.join(root, "s"), os.path.join(root, "b")
        os.makedirs(source)
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.20)\nproject(counting NONE)\nenable_testing()\n")
            for kind, name in tests:
                f.write(kind.format(name=name))
        subprocess.run(["cmake", "-S", source, "-B", build], check=True, capture_output=True)
        for name, text in (("floors", floors), ("allowed", allowed)):
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        counts = os.path.join(root, "counts")
        done = subprocess.run([sys.executable, RETRY, "--floors", os.path.join(root, "floors"), "--allowed-skips",
                               os.path.join(root, "allowed"), build, counts, "-j2"],
                              capture_output=True, text=True)
        with open(counts) as f:
            return done.returncode, f.read().splitlines(), done.stdout


class Counting(unittest.TestCase):
    def test_each_rule(self):
        allowed = "# reasons\nm.Skip.Allowed the device is missing here\n"
        cases = [
            # tests, floors, exit status, counts line, a reason line
            ([(PASS, "m.A.One"), (PASS, "m.A.Two"), (SKIP, "m.Skip.Allowed")], "m 2\n", 0, "2 0 1 0", None),
            ([(PASS, "m.A.One"), (MISSING, "m.A.Gone")], "", 1, "1 1 0 0", "1 tests failed"),
            ([(PASS, "m.A.One"), (SKIP, "m.Skip.Unlisted")], "", 1, "1 1 0 0", "1 tests failed"),
            ([(PASS, "m.A.One"), (SKIP, "m.Skip.Allowed")], "m 2\n", 1, "1 0 1 0",
             "1 m.* tests passed, fewer than the 2 of tests/min-test-count"),
            ([(PASS, "m.A.One"), (PASS, "n.A.One")], "m 1\nn 1\nq 1\n", 1, "2 0 0 0",
             "0 q.* tests passed, fewer than the 1 of tests/min-test-count"),
            ([(PASS, "m.A.One"), (SILENT_ONCE, "m.A.Silent")], "m 2\n", 0, "2 0 0 1", None),
        ]
        for tests, floors, rc, counts, reason in cases:
            with self.subTest(tests=[n for _, n in tests], floors=floors):
                got_rc, lines, out = run_counting(tests, floors, allowed)
                self.assertEqual((got_rc, lines[0]), (rc, counts), out)
                if reason:
                    self.assertIn(reason, lines[1:], out)
                else:
                    self.assertEqual(lines[1:], [], out)
                retried = "== tests that needed a retry: none" in out
                self.assertEqual(retried, not counts.endswith(" 1"), out)


if __name__ == "__main__":
    unittest.main()

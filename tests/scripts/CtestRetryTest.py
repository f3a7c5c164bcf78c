#!/usr/bin/env python3
"""The counting of scripts/ctest-retry.py on small ctest projects of host shell commands and one
Windows program under this build's Wine: a test that did not run, a skip the allow-list does not
name, a test executable below its floor or without one, a test silent again on its retry, more
than two silent tests, a silent test not started through wine-run and a silent start that wrote
lines of its own (a crash report, std::terminate, a failed assert) or ended with abort's code
each fail the run, even when another test executable's test of the same name started later and
passed; an allowed skip and a test whose start Wine killed silently do not."""
import concurrent.futures
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
# A start as cmake/wine-run makes it, dead with no output: it leaves wine-stderr/ a file with the
# start line (naming this script as its program), the line given and its exit code; with "once"
# it passes from its second start on.
START = ('# $1 the gtest filter of the test, $2 the line Wine writes at the start, $3 once or always\n'
         'if [ "$3" = once ] && [ -e "$1.started" ]; then echo ok; exit 0; fi\n'
         'touch "$1.started"\n'
         'mkdir -p wine-stderr\n'
         'printf "== 00:00:00 start $$ %s\\n%s\\n== exit 1\\n" "$0 $*" "$2" '
         '>"wine-stderr/$(date +%s%N)-$$.log"\n'
         'exit 1\n')
SILENT = 'add_test(NAME {name} COMMAND sh ${{CMAKE_CURRENT_SOURCE_DIR}}/start.sh {filter} "" always)\n'
START_DEATH = ('add_test(NAME {name} COMMAND sh ${{CMAKE_CURRENT_SOURCE_DIR}}/start.sh {filter} '
               '"wine client error:dc8: sendmsg: Socket operation on non-socket" once)\n')
UNHANDLED = ('add_test(NAME {name} COMMAND sh ${{CMAKE_CURRENT_SOURCE_DIR}}/start.sh {filter} '
             '"wine: Unhandled exception 0x80000003 in thread 2c at address 00000001400016A0" once)\n')
# A test of no Windows program: nothing tells how it died.
PY_SILENT = 'add_test(NAME {name} COMMAND python3 -c "import sys; sys.exit(1)")\n'


def crash_once(how):
    """tests/scripts/CrashOnce.cpp under Wine: its static constructor ends the first start so."""
    return ('add_test(NAME {name} COMMAND /usr/bin/env NORVANE_WINE_STDERR=${{CMAKE_CURRENT_BINARY_DIR}}/wine-stderr '
            '{wine_run} {crash_once} --gtest_filter={filter} --crash=' + how + ')\n')


CRASH_ONCE, TERMINATE_ONCE, ABORT_ONCE, ASSERT_ONCE = (crash_once(how) for how in
                                                       ("page-fault", "terminate", "abort", "assert"))
# Another test executable (a copy of the same program) holding the crashing test's name: it starts
# after m.A.Crash and passes, since that one's first start has been.
NAMESAKE = ('file(COPY_FILE {crash_once} ${{CMAKE_CURRENT_BINARY_DIR}}/namesake.exe)\n'
            'add_test(NAME {name} COMMAND /usr/bin/env NORVANE_WINE_STDERR=${{CMAKE_CURRENT_BINARY_DIR}}/wine-stderr '
            '{wine_run} ${{CMAKE_CURRENT_BINARY_DIR}}/namesake.exe --gtest_filter={filter} --crash=page-fault)\n'
            'set_tests_properties({name} PROPERTIES DEPENDS m.A.Crash)\n')
CRASHES = (UNHANDLED, CRASH_ONCE, TERMINATE_ONCE, ABORT_ONCE, ASSERT_ONCE)
CRASH_LINE = "wine: Unhandled page fault on write access to 0000000000000000 at address"


def run_counting(tests, floors="", allowed=""):
    """Returns (exit status, counts-file lines, output) of ctest-retry.py over the project."""
    with tempfile.TemporaryDirectory() as root:
        source, build = os.path.join(root, "s"), os.path.join(root, "b")
        os.makedirs(source)
        with open(os.path.join(source, "start.sh"), "w") as f:
            f.write(START)
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.20)\nproject(counting NONE)\nenable_testing()\n")
            for kind, name in tests:
                f.write(kind.format(name=name, filter=name.split(".", 1)[1],
                                    wine_run=os.environ.get("NORVANE_WINE_RUN", "no-wine-run"),
                                    crash_once=os.environ.get("NORVANE_CRASH_ONCE", "no-crashonce.exe")))
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
        silent_three = [(START_DEATH, f"m.A.Silent{i}") for i in range(3)]
        cases = [
            # tests, floors, exit status, counts line, a reason line, a text of the output
            ([(PASS, "m.A.One"), (PASS, "m.A.Two"), (SKIP, "m.Skip.Allowed")], "m 2\n", 0, "2 0 1 0", None, None),
            ([(PASS, "m.A.One"), (MISSING, "m.A.Gone")], "m 1\n", 1, "1 1 0 0", "1 tests failed", None),
            ([(PASS, "m.A.One"), (SKIP, "m.Skip.Unlisted")], "m 1\n", 1, "1 1 0 0", "1 tests failed", None),
            ([(PASS, "m.A.One"), (SKIP, "m.Skip.Allowed")], "m 2\n", 1, "1 0 1 0",
             "1 m.* tests passed, fewer than the 2 of tests/min-test-count", None),
            ([(PASS, "m.A.One"), (PASS, "n.A.One")], "m 1\nn 1\nq 1\n", 1, "2 0 0 0",
             "0 q.* tests passed, fewer than the 1 of tests/min-test-count", None),
            ([(PASS, "m.A.One"), (PASS, "n.A.One")], "m 1\n", 1, "2 0 0 0",
             "the n.* tests have no line in tests/min-test-count", None),
            ([(PASS, "m.A.One"), (START_DEATH, "m.A.Silent")], "m 2\n", 0, "2 0 0 1", None,
             "== tests that needed a retry (their process ended with no output): m.A.Silent (passed)"),
            ([(PASS, "m.A.One"), (SILENT, "m.A.Silent")], "m 1\n", 1, "1 1 0 1", "1 tests failed",
             "m.A.Silent (failed)"),
            ([(PASS, "m.A.One"), *silent_three], "m 4\n", 1, "4 0 0 3", "3 tests needed a retry, more than 2", None),
            ([(PASS, "m.A.One"), (UNHANDLED, "m.A.Crash")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "   wine: Unhandled exception 0x80000003"),
            ([(PASS, "m.A.One"), (CRASH_ONCE, "m.A.Crash")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "   " + CRASH_LINE),
            ([(PASS, "m.A.One"), (TERMINATE_ONCE, "m.A.Crash")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "   terminate called after throwing an instance of 'std::runtime_error'\n   "
             "  what():  the first start fails"),
            ([(PASS, "m.A.One"), (ABORT_ONCE, "m.A.Crash")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "   == exit 3 (the C runtime's abort"),
            ([(PASS, "m.A.One"), (ASSERT_ONCE, "m.A.Crash")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "   Assertion failed: !firstStart, file "),
            ([(CRASH_ONCE, "m.A.Crash"), (NAMESAKE, "n.A.Crash")], "m 0\nn 1\n", 1, "1 1 0 0", "1 tests failed",
             "   " + CRASH_LINE),
            ([(PASS, "m.A.One"), (PY_SILENT, "m.A.Python")], "m 1\n", 1, "1 1 0 0", "1 tests failed",
             "== m.A.Python ended with no output and was not started through wine-run: not run again"),
        ]
        # Each project in a folder of its own: they run side by side.
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            runs = list(pool.map(lambda case: run_counting(case[0], case[1], allowed), cases))
        for (tests, floors, rc, counts, reason, text), (got_rc, lines, out) in zip(cases, runs):
            with self.subTest(tests=[n for _, n in tests], floors=floors):
                self.assertEqual((got_rc, lines[0]), (rc, counts), out)
                if reason:
                    self.assertIn(reason, lines[1:], out)
                else:
                    self.assertEqual(lines[1:], [], out)
                retried = "== tests that needed a retry: none" in out
                self.assertEqual(retried, counts.endswith(" 0"), out)
                if text:
                    self.assertIn(text, out)
                if any(kind in CRASHES for kind, _ in tests):
                    self.assertIn("m.A.Crash show a crash of its own: not run again", out)
                    self.assertNotIn("m.A.Crash ran again", out)
                    self.assertIn("== failed in the end: m.A.Crash", out)
                if (START_DEATH, "m.A.Silent") in tests:
                    self.assertIn("m.A.Silent (passed)", out)


if __name__ == "__main__":
    unittest.main()

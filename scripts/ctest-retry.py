#!/usr/bin/env python3
"""Runs ctest once, then runs again, by name, only the failed tests whose process ended with no
output at all: now and then Wine ends a test process before it prints its first line, while
the same test passes alone. A test that printed anything, or ran out of time, failed for real
and is not run again. At most two more rounds.

    ctest-retry.py <build-dir> <counts-file> [ctest arguments...]

Prints ctest's own output of every round, then which tests needed another round, which were
skipped and which failed in the end. Writes
"<passed> <failed> <skipped> <retried>" to counts-file. Exit status: 0 when every test passed
in the end and no more than two needed another round, 1 otherwise.
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

MAX_ROUNDS = 2          # further rounds after the first
MAX_RETRIED = 2         # more tests than this needing a retry fail the run
MAX_RETRY_NAMES = 50    # past this many silent failures something else is wrong: no retry

TIMEOUT_LINE = re.compile(r"Test\s+#\d+: (.+?) \.*\s*\*\*\*Timeout")


def run_round(build, args, junit):
    """Runs ctest, echoing its output; returns {name: (status, output)} and the timed-out names."""
    if os.path.exists(junit):
        os.remove(junit)
    process = subprocess.Popen(["ctest", *args, "--output-junit", junit], cwd=build, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    timed_out = set()
    for line in process.stdout:
        sys.stdout.write(line)
        sys.stdout.flush()
        match = TIMEOUT_LINE.search(line)
        if match:
            timed_out.add(match.group(1))
    process.wait()
    results = {}
    try:
        root = ElementTree.parse(junit).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print(f"== no test report from ctest ({error})", flush=True)
        return None, timed_out
    for case in root.iter("testcase"):
        out = case.find("system-out")
        results[case.get("name")] = (case.get("status"), (out.text or "") if out is not None else "")
    return results, timed_out


def name_regex(names):
    """An anchored ctest regular expression that matches exactly these names."""
    def escape(name):
        return "".join("\\" + c if c in ".[]()*+?^$|\\" else c for c in name)
    return "^(" + "|".join(escape(n) for n in sorted(names)) + ")$"


def without_selection(args):
    """The ctest arguments without a test selection of their own (-R, -E, -I, -L)."""
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-R", "-E", "-I", "-L", "--tests-regex", "--exclude-regex", "--tests-information", "--label-regex"):
            skip = True
            continue
        out.append(a)
    return out


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    build, counts_file, args = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3:]
    testing = os.path.join(build, "Testing")
    os.makedirs(testing, exist_ok=True)

    results, timed_out = run_round(build, args, os.path.join(testing, "round0.xml"))
    if results is None:
        with open(counts_file, "w") as f:
            f.write("0 0 0 0\n")
        return 1
    final = {name: status for name, (status, _) in results.items()}

    def silent(round_results, round_timed_out):
        return sorted(n for n, (status, output) in round_results.items()
                      if status == "fail" and not output.strip() and n not in round_timed_out)

    needed = []        # tests that needed another round, in the order first seen
    to_retry = silent(results, timed_out)
    for round_number in range(1, MAX_ROUNDS + 1):
        if not to_retry:
            break
        needed += [n for n in to_retry if n not in needed]
        if len(to_retry) > MAX_RETRY_NAMES:
            print(f"== {len(to_retry)} test processes ended with no output: not run again", flush=True)
            break
        print(f"== round {round_number + 1}: running again {len(to_retry)} test(s) whose process ended with no output",
              flush=True)
        again, again_timed_out = run_round(
            build, [*without_selection(args), "-R", name_regex(to_retry)],
            os.path.join(testing, f"round{round_number}.xml"))
        if again is None:
            break
        for name in to_retry:
            final[name] = again.get(name, ("fail", ""))[0]
        to_retry = silent({n: again[n] for n in to_retry if n in again}, again_timed_out)

    passed = sum(1 for s in final.values() if s == "run")
    failed = sum(1 for s in final.values() if s == "fail")
    skipped = len(final) - passed - failed
    if needed:
        print("== tests that needed a retry (their process ended with no output): " + ", ".join(
            f"{n} ({'passed' if final[n] == 'run' else 'failed'})" for n in needed), flush=True)
    else:
        print("== tests that needed a retry: none", flush=True)
    if skipped:
        print("== skipped (their reasons are in their output above): " + ", ".join(
            sorted(n for n, s in final.items() if s not in ("run", "fail"))), flush=True)
    if failed:
        print("== failed in the end: " + ", ".join(sorted(n for n, s in final.items() if s == "fail")), flush=True)
    if len(needed) > MAX_RETRIED:
        print(f"== {len(needed)} tests needed a retry, more than {MAX_RETRIED}: the run fails", flush=True)
    with open(counts_file, "w") as f:
        f.write(f"{passed} {failed} {skipped} {len(needed)}\n")
    return 0 if failed == 0 and len(needed) <= MAX_RETRIED else 1


if __name__ == "__main__":
    sys.exit(main())

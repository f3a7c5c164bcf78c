#!/usr/bin/env python3
"""Runs ctest once, then runs again, by name, only the failed tests whose process ended with no
output at all because Wine died while it started it. A test that printed anything, or ran out of
time, failed for real and is not run again. So did a silent one not started through
<build-dir>/wine-run (nothing tells how it died), and one whose start wrote anything to its stderr
but the few lines Wine writes when it dies starting a process, or that ended with the C runtime's
abort code: that process ran code of its own (a crash report, std::terminate, a failed assert, a
message before an exit), and what it wrote is printed. At most two more rounds; each retried
test runs alone with Wine's error channel on, and what its silent start and its retry wrote to
<build-dir>/wine-stderr/ is printed.

    ctest-retry.py [--floors FILE] [--allowed-skips FILE] <build-dir> <counts-file> [ctest arguments...]

Counting: a test passed when it ran and passed. A test that did not run (ctest's "Not Run": a
missing executable or required file, a disabled test) counts as failed, as does a skipped test
not named in the allowed-skips file ("<test name> <reason>" lines). The floors file holds
"<prefix> <count>" lines: at least that many tests whose name starts with "<prefix>." must pass,
and a test whose name has a prefix without a line fails the run.

Prints ctest's own output of every round, then which tests needed another round, which were
skipped and which failed in the end. Writes "<passed> <failed> <skipped> <retried>" to the
counts file, followed by one line for each reason the run fails. Exit status: 0 when none.
"""
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

MAX_ROUNDS = 2          # further rounds after the first
MAX_RETRIED = 2         # more tests than this needing a retry fail the run
MAX_RETRY_NAMES = 50    # past this many silent failures something else is wrong: no retry
RETRY_WINEDEBUG = "-all,err+all"

TIMEOUT_LINE = re.compile(r"Test\s+#\d+: (.+?) \.*\s*\*\*\*Timeout")
# The first line of a start's file in wine-stderr/: what wine-run was given, joined by blanks.
START_LINE = re.compile(r"== \S+ start \d+ (.+)$")
# What Wine writes when a process dies while Wine starts it, before code of ours runs. Only these
# leave a silent start open to a retry; each entry says where it was seen.
START_DEATH_LINES = (
    # Silent starts of tests of a few milliseconds under -j8 (CommandTexts.*, MifareKeySlots,
    # TransferPresets...), even with WINEDEBUG=-all: the client found its server socket gone.
    re.compile(r"wine client error:[0-9a-f]+: sendmsg: Socket operation on non-socket"),
)
# The retry turns Wine's error channel on (RETRY_WINEDEBUG): those lines are Wine's.
WINE_CHANNEL_LINE = re.compile(r"^(?:[0-9a-f]{4}:){0,2}(?:err|fixme|warn|trace):[\w-]+:")
# msvcrt's abort() (and so std::terminate and a failed assert) ends the process with 3; under Wine
# its "abnormal program termination" goes to a console, which a test process has not.
ABORT_EXIT = 3
# What ctest writes into <skipped message=...> when the test itself asked to be skipped.
SKIP_MESSAGES = ("SKIP_REGULAR_EXPRESSION_MATCHED", "SKIP_RETURN_CODE")


def run_round(build, args, junit, env=None):
    """Runs ctest, echoing its output; returns {name: (status, skip message, output)} and the timed-out names."""
    if os.path.exists(junit):
        os.remove(junit)
    process = subprocess.Popen(["ctest", *args, "--output-junit", junit], cwd=build, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                               env=env)
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
        skipped = case.find("skipped")
        results[case.get("name")] = (case.get("status"), skipped.get("message", "") if skipped is not None else "",
                                     (out.text or "") if out is not None else "")
    return results, timed_out


def name_regex(names):
    """An anchored ctest regular expression that matches exactly these names."""
    def escape(name):
        return "".join("\\" + c if c in ".[]()*+?^$|\\" else c for c in name)
    return "^(" + "|".join(escape(n) for n in sorted(names)) + ")$"


def without_selection(args):
    """The ctest arguments without a test selection of their own (-R, -E, -I, -L) and without -j."""
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-R", "-E", "-I", "-L", "-j", "--parallel", "--tests-regex", "--exclude-regex",
                 "--tests-information", "--label-regex"):
            skip = True
            continue
        if re.fullmatch(r"(-j|--parallel=?)\d+", a):
            continue
        out.append(a)
    return out


def test_commands(build, names):
    """{name: command as ctest runs it} for these tests; a test ctest cannot tell is left out."""
    if not names:
        return {}
    try:
        done = subprocess.run(["ctest", "--show-only=json-v1", "-R", name_regex(names)], cwd=build,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
        tests = json.loads(done.stdout).get("tests", [])
    except (OSError, ValueError, AttributeError):
        return {}
    return {t["name"]: t["command"] for t in tests if isinstance(t, dict) and t.get("name") in names
            and isinstance(t.get("command"), list)}


def read_pairs(path):
    """The "<word> <rest>" lines of a file, without blank lines and # comments."""
    pairs = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                word, _, rest = line.partition(" ")
                pairs[word] = rest.strip()
    return pairs


class WineStderr:
    """<build-dir>/wine-stderr/: cmake/wine-run gives each program it starts a file of its own there,
    "<start time in microseconds>-<pid>.log": a line "== <time> start <pid> <command>", what the
    process (and any process Wine started on demand for it) wrote to stderr, and "== exit <code>"."""

    def __init__(self, build):
        self.folder = os.path.join(build, "wine-stderr")

    def clear(self):
        """What earlier runs left there tells nothing of this one."""
        for name in self.names():
            try:
                os.remove(os.path.join(self.folder, name))
            except OSError:
                pass

    def names(self):
        try:
            return set(os.listdir(self.folder))
        except OSError:
            return set()

    def lines(self, name):
        try:
            with open(os.path.join(self.folder, name), "rb") as f:
                return f.read().decode("utf-8", "replace").splitlines()
        except OSError:
            return []

    def starts_of(self, command, names):
        """The files among names of the starts of a test's command, oldest first: those whose program
        and arguments end the command. Two test executables may hold the same test name, so the
        gtest filter alone would take the other one's start for this one's."""
        if not command:
            return []
        whole = " " + " ".join(command)
        out = []
        for name in sorted(names):
            match = START_LINE.match((self.lines(name) or [""])[0])
            if match and whole.endswith(" " + match.group(1)):
                out.append(name)
        return out


def own_lines(lines, retry=False):
    """What a start wrote that is not Wine dying while it started the process: empty when the
    start may be run again."""
    own = []
    for line in lines:
        if line.startswith("== ") and " start " in line:
            continue
        if line.startswith("== exit "):
            if line == f"== exit {ABORT_EXIT}":
                own.append(line + " (the C runtime's abort: std::terminate, abort() or a failed assert)")
            continue
        if not line.strip() or any(p.search(line) for p in START_DEATH_LINES):
            continue
        if retry and WINE_CHANNEL_LINE.search(line):
            continue
        own.append(line)
    return own


def print_block(title, lines):
    print(f"== {title}:" if lines else f"== {title}: nothing", flush=True)
    for line in lines:
        print("   " + line, flush=True)


def main():
    argv = sys.argv[1:]
    floors_file = skips_file = None
    while argv and argv[0] in ("--floors", "--allowed-skips") and len(argv) > 1:
        if argv[0] == "--floors":
            floors_file = argv[1]
        else:
            skips_file = argv[1]
        argv = argv[2:]
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build, counts_file, args = os.path.abspath(argv[0]), argv[1], argv[2:]
    testing = os.path.join(build, "Testing")
    os.makedirs(testing, exist_ok=True)
    floors = {k: int(v) for k, v in read_pairs(floors_file).items()} if floors_file else {}
    allowed_skips = read_pairs(skips_file) if skips_file else {}
    stderr_log = WineStderr(build)
    stderr_log.clear()

    results, timed_out = run_round(build, args, os.path.join(testing, "round0.xml"))
    if results is None:
        with open(counts_file, "w") as f:
            f.write("0 0 0 0\nctest gave no report\n")
        return 1
    first_starts = stderr_log.names()
    final = {name: (status, message) for name, (status, message, _) in results.items()}

    def silent(round_results, round_timed_out):
        return sorted(n for n, (status, _, output) in round_results.items()
                      if status == "fail" and not output.strip() and n not in round_timed_out)

    needed = []        # tests that needed another round, in the order first seen
    crashes = []       # silent tests that ran code of their own: failed, not run again
    outside = []       # silent tests not started through wine-run: failed, not run again
    to_retry = silent(results, timed_out)
    commands = {}
    if len(to_retry) <= MAX_RETRY_NAMES:
        commands = test_commands(build, to_retry)
        for name in list(to_retry):
            starts = stderr_log.starts_of(commands.get(name), first_starts)
            if not starts:
                outside.append(name)
                to_retry.remove(name)
                print(f"== {name} ended with no output and was not started through wine-run: "
                      "not run again", flush=True)
                continue
            lines = stderr_log.lines(starts[-1])
            own = own_lines(lines)
            if own:
                crashes.append(name)
                to_retry.remove(name)
                print_block(f"Wine's lines at the silent start of {name} show a crash of its own: "
                            "not run again", lines + [line for line in own if line not in lines])
            else:
                print_block(f"Wine's lines at the silent start of {name} (wine-stderr/{starts[-1]})", lines)
    for round_number in range(1, MAX_ROUNDS + 1):
        if not to_retry:
            break
        needed += [n for n in to_retry if n not in needed]
        if len(to_retry) > MAX_RETRY_NAMES:
            print(f"== {len(to_retry)} test processes ended with no output: not run again", flush=True)
            break
        print(f"== round {round_number + 1}: running again, one at a time with WINEDEBUG={RETRY_WINEDEBUG}, "
              f"{len(to_retry)} test(s) whose process ended with no output", flush=True)
        env = dict(os.environ, WINEDEBUG=RETRY_WINEDEBUG)
        again_silent = []
        for name in to_retry:
            before = stderr_log.names()
            again, again_timed_out = run_round(
                build, [*without_selection(args), "-j1", "-R", name_regex([name])],
                os.path.join(testing, f"round{round_number}.xml"), env)
            retry_starts = sorted(stderr_log.names() - before)
            print_block(f"Wine's lines while {name} ran again (wine-stderr/)",
                        [line for start in retry_starts for line in stderr_log.lines(start)])
            if again is None:
                continue
            status, message, _ = again.get(name, ("fail", "", ""))
            final[name] = (status, message)
            for n in silent({n: again[n] for n in [name] if n in again}, again_timed_out):
                starts = stderr_log.starts_of(commands.get(n), retry_starts)
                lines = own_lines(stderr_log.lines(starts[-1]), retry=True) if starts else []
                if lines:
                    print_block(f"Wine's lines of the retry of {n} show a crash of its own: not run again", lines)
                else:
                    again_silent.append(n)
        to_retry = again_silent

    def is_skip(status, message):
        return status == "notrun" and message.startswith(SKIP_MESSAGES)

    passed = sorted(n for n, (s, _) in final.items() if s == "run")
    skipped = sorted(n for n, (s, m) in final.items() if is_skip(s, m) and n in allowed_skips)
    unlisted = sorted(n for n, (s, m) in final.items() if is_skip(s, m) and n not in allowed_skips)
    not_run = sorted(n for n, (s, m) in final.items() if s not in ("run", "fail") and not is_skip(s, m))
    failed = sorted(n for n, (s, _) in final.items() if s == "fail")
    reasons = []
    if needed:
        print("== tests that needed a retry (their process ended with no output): " + ", ".join(
            f"{n} ({'passed' if final[n][0] == 'run' else 'failed'})" for n in needed), flush=True)
    else:
        print("== tests that needed a retry: none", flush=True)
    if skipped:
        print("== skipped, as tests/allowed-skips allows: " + ", ".join(
            f"{n} ({allowed_skips[n]})" for n in skipped), flush=True)
    if unlisted:
        print("== skipped without a place in tests/allowed-skips (counted as failed): " + ", ".join(unlisted),
              flush=True)
    if not_run:
        print("== did not run (counted as failed): " + ", ".join(
            f"{n} ({final[n][1] or final[n][0]})" for n in not_run), flush=True)
    if failed:
        print("== failed in the end: " + ", ".join(failed), flush=True)
    if crashes:
        print("== crashed before their first line of output (not run again): " + ", ".join(crashes), flush=True)
    if outside:
        print("== ended with no output, not started through wine-run (not run again): " + ", ".join(outside),
              flush=True)
    if floors_file:
        unfloored = sorted({n.split(".", 1)[0] for n in final} - set(floors))
        for prefix in unfloored:
            reasons.append(f"the {prefix}.* tests have no line in tests/min-test-count")
    for prefix, floor in sorted(floors.items()):
        count = sum(1 for n in passed if n.startswith(prefix + "."))
        if count < floor:
            reasons.append(f"{count} {prefix}.* tests passed, fewer than the {floor} of tests/min-test-count")
    if len(needed) > MAX_RETRIED:
        reasons.append(f"{len(needed)} tests needed a retry, more than {MAX_RETRIED}")
    n_failed = len(failed) + len(not_run) + len(unlisted)
    if n_failed:
        reasons.insert(0, f"{n_failed} tests failed")
    for reason in reasons:
        print(f"== {reason}", flush=True)
    with open(counts_file, "w") as f:
        f.write(f"{len(passed)} {n_failed} {len(skipped)} {len(needed)}\n")
        for reason in reasons:
            f.write(reason + "\n")
    return 0 if not reasons else 1


if __name__ == "__main__":
    sys.exit(main())

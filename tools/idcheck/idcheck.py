#!/usr/bin/env python3
"""Checks the resource ids and the private window messages of a source tree.

    idcheck.py ROOT

Reads, below ROOT:
  resources/*.h                 the program's id headers (#define NAME value)
  resources/*.rc                its string tables and dialog templates
  framework/PrivateMessages.h   the private messages (constexpr UINT WM_NAME = ...;)
  the program's source folders  for WM_USER+n written outside PrivateMessages.h
  tests/<folder>/*.h, *.rc      a test executable's own ids, linked beside the program's

and reports, one line each, "file:line: text":
  - two names with one value in one id space (strings, commands, dialogs, menus, icons,
    bitmaps, data, messages; controls within one dialog template);
  - a string id (IDS_ name) that no string table of the program defines;
  - a string table entry defined twice, or a name no header defines;
  - WM_USER+n outside framework/PrivateMessages.h.
A name ending in _BASE is an offset (base + n) and may share a real id's value. The ids of a
test folder are checked against the program's; their strings may be missing on purpose.
Exits 1 when anything was reported.
"""
import ast
import os
import re
import sys

PROGRAM_FOLDERS = ["core", "framework", "config", "reader", "transfer", "comm", "app", "pages"]
MESSAGES_HEADER = "framework/PrivateMessages.h"

# Prefix of a name -> its id space. Longer prefixes first: ID_ would match IDS_ otherwise.
SPACES = [
    ("IDS_", "string ids"),
    ("IDD_", "dialog ids"),
    ("IDM_", "menu ids"),
    ("IDI_", "icon ids"),
    ("IDB_", "bitmap ids"),
    ("IDR_", "data ids"),
    ("IDA_", "accelerator ids"),
    ("IDC_", None),            # controls: one space per dialog template
    ("ID_", "command ids"),
]

# The few system ids an .rc names in a dialog (winuser.h).
SYSTEM_IDS = {"IDOK": 1, "IDCANCEL": 2, "IDABORT": 3, "IDRETRY": 4, "IDIGNORE": 5, "IDYES": 6, "IDNO": 7,
              "IDCLOSE": 8, "IDHELP": 9, "IDC_STATIC": -1}

DEFINE_RE = re.compile(r"^\s*#\s*define\s+(ID[A-Z]?_\w+)\s+(.+?)\s*(?://.*)?$")
MESSAGE_RE = re.compile(r"^\s*constexpr\s+UINT\s+(WM_\w+)\s*=\s*([^;]+);")
WM_USER_RE = re.compile(r"\bWM_USER\s*\+\s*\d+")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


class Name:
    def __init__(self, name, value, where):
        self.name, self.value, self.where = name, value, where


def space_of(name):
    for prefix, space in SPACES:
        if name.startswith(prefix):
            return space
    return None


def evaluate(text, known):
    """Value of a #define: an integer, or + and - over integers and known names."""
    def walk(node):
        if isinstance(node, ast.Expression):
            return walk(node.body)
        if isinstance(node, ast.Constant) and isinstance(node.value, int):
            return node.value
        if isinstance(node, ast.Name) and node.id in known:
            return known[node.id]
        if isinstance(node, ast.BinOp) and isinstance(node.op, (ast.Add, ast.Sub)):
            left, right = walk(node.left), walk(node.right)
            return left + right if isinstance(node.op, ast.Add) else left - right
        raise ValueError(text)
    return walk(ast.parse(text.strip(), mode="eval"))


def strip_comments(text, keep_strings=True):
    """The text without comments (line breaks kept); string literals stay or become ""."""
    def replace(m):
        token = m.group(0)
        if token.startswith('"'):
            return token if keep_strings else '""'
        return "\n" * token.count("\n")
    return re.sub(r'/\*.*?\*/|//[^\n]*|"(?:\\.|[^"\\\n])*"', replace, text, flags=re.S)


class Checker:
    def __init__(self, root):
        self.root = root
        self.problems = []

    def rel(self, path):
        return os.path.relpath(path, self.root).replace(os.sep, "/")

    def report(self, path, line, text):
        self.problems.append("%s:%d: %s" % (self.rel(path), line, text))

    # Headers ------------------------------------------------------------------------------

    def read_headers(self, paths, names):
        known = dict(SYSTEM_IDS)
        known.update({n.name: n.value for n in names})
        for path in paths:
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = DEFINE_RE.match(line)
                    if not m:
                        continue
                    try:
                        value = evaluate(m.group(2), known)
                    except (ValueError, SyntaxError):
                        self.report(path, number, "%s: cannot read the value %s" % (m.group(1), m.group(2)))
                        continue
                    known[m.group(1)] = value
                    names.append(Name(m.group(1), value, (path, number)))
        return names

    def check_duplicates(self, names, space_of_name, first_index=0):
        """Names from first_index on are checked against every earlier one in their space."""
        seen = {}
        for i, n in enumerate(names):
            space = space_of_name(n.name)
            if space is None or n.name.endswith("_BASE"):
                continue
            key = (space, n.value)
            other = seen.get(key)
            if other is None:
                seen[key] = n
            elif i >= first_index and other.name != n.name:
                self.report(n.where[0], n.where[1], "%s (%d) has the value of %s (%s:%d) in the %s"
                            % (n.name, n.value, other.name, self.rel(other.where[0]), other.where[1], space))

    # Resource scripts ---------------------------------------------------------------------

    def read_scripts(self, paths, values):
        """String table entries {id: (path, line)} and the control lists of dialog templates."""
        strings, dialogs = {}, []
        for path in paths:
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            block, depth, dialog = None, 0, None
            for number, raw in enumerate(lines, 1):
                line = strip_comments(raw).strip()
                if not line or line.startswith("#"):
                    continue
                words = line.split()
                if block is None:
                    if words[0] == "STRINGTABLE":
                        block = "strings"
                    elif len(words) > 1 and words[1] in ("DIALOG", "DIALOGEX"):
                        block, dialog = "dialog", (words[0], [])
                        dialogs.append(dialog)
                    continue
                if words[0] in ("BEGIN", "{"):
                    depth += 1
                    continue
                if words[0] in ("END", "}"):
                    depth -= 1
                    if depth == 0:
                        block = None
                    continue
                if depth == 0:
                    continue   # STYLE, CAPTION, FONT of a dialog
                if block == "strings":
                    key = re.split(r"[\s,]", line, 1)[0]
                    value = self.resolve(path, number, key, values)
                    if value is None:
                        continue
                    if value in strings:
                        first = strings[value]
                        self.report(path, number, "string %d is defined twice (first at %s:%d)"
                                    % (value, self.rel(first[0]), first[1]))
                    else:
                        strings[value] = (path, number)
                else:
                    control = control_id(line)
                    if control is not None:
                        dialog[1].append((control, path, number))
        return strings, dialogs

    def resolve(self, path, number, key, values):
        if re.fullmatch(r"-?\d+", key):
            return int(key)
        if key in values:
            return values[key]
        self.report(path, number, "%s is no id of the headers" % key)
        return None

    def check_dialogs(self, dialogs, values):
        for name, controls in dialogs:
            seen = {}
            for control, path, number in controls:
                value = self.resolve(path, number, control, values)
                if value is None or value == -1:
                    continue
                other = seen.setdefault(value, (control, path, number))
                if other[0] != control:
                    self.report(path, number, "%s (%d) has the value of %s (%s:%d) in the controls of %s"
                                % (control, value, other[0], self.rel(other[1]), other[2], name))

    # Messages -----------------------------------------------------------------------------

    def check_messages(self):
        header = os.path.join(self.root, MESSAGES_HEADER)
        names = []
        lines = open(header, encoding="utf-8").read().split("\n") if os.path.exists(header) else []
        for number, line in enumerate(lines, 1):
            m = MESSAGE_RE.match(line)
            if m:
                try:
                    value = evaluate(m.group(2), {"WM_USER": 0x400})
                except (ValueError, SyntaxError):
                    self.report(header, number, "%s: cannot read the value %s" % (m.group(1), m.group(2)))
                    continue
                names.append(Name(m.group(1), value, (header, number)))
        self.check_duplicates(names, lambda name: "messages")
        for folder in PROGRAM_FOLDERS:
            for path in sorted(walk(os.path.join(self.root, folder), (".h", ".cpp"))):
                if self.rel(path) == MESSAGES_HEADER:
                    continue
                with open(path, encoding="utf-8") as f:
                    text = strip_comments(f.read(), keep_strings=False)
                for number, line in enumerate(text.split("\n"), 1):
                    m = WM_USER_RE.search(line)
                    if m:
                        self.report(path, number, "%s outside %s" % (re.sub(r"\s", "", m.group(0)), MESSAGES_HEADER))

    # The whole check ----------------------------------------------------------------------

    def run(self):
        resources = os.path.join(self.root, "resources")
        headers = ordered_headers(resources)
        program = self.read_headers(headers, [])
        self.check_duplicates(program, space_of)
        values = dict(SYSTEM_IDS)
        values.update({n.name: n.value for n in program})
        strings, dialogs = self.read_scripts(sorted(walk(resources, (".rc",), deep=False)), values)
        self.check_dialogs(dialogs, values)
        for n in program:
            if space_of(n.name) == "string ids" and not n.name.endswith("_BASE") and n.value not in strings:
                self.report(n.where[0], n.where[1], "%s (%d) names no string in the string tables" % (n.name, n.value))
        self.check_messages()
        self.check_test_folders(program, strings)
        return self.problems

    def check_test_folders(self, program, program_strings):
        tests = os.path.join(self.root, "tests")
        if not os.path.isdir(tests):
            return
        for folder in sorted(os.listdir(tests)):
            path = os.path.join(tests, folder)
            scripts = sorted(walk(path, (".rc",), deep=False)) if os.path.isdir(path) else []
            if not scripts:
                continue
            names = self.read_headers(sorted(walk(path, (".h",), deep=False)), list(program))
            self.check_duplicates(names, space_of, first_index=len(program))
            values = dict(SYSTEM_IDS)
            values.update({n.name: n.value for n in names})
            strings, dialogs = self.read_scripts(scripts, values)
            self.check_dialogs(dialogs, values)
            for value, (where, number) in sorted(strings.items()):
                if value in program_strings:
                    first = program_strings[value]
                    self.report(where, number, "string %d is the program's string of %s:%d"
                                % (value, self.rel(first[0]), first[1]))


def control_id(line):
    """The id of one control statement of a dialog template, or None."""
    m = re.match(r"([A-Z0-9]+)\s+(.*)$", line)
    if not m:
        return None
    keyword, rest = m.groups()
    params = [p.strip() for p in re.findall(r'"(?:""|[^"])*"|[^,]+', rest)]
    with_text = {"LTEXT", "RTEXT", "CTEXT", "PUSHBUTTON", "DEFPUSHBUTTON", "GROUPBOX", "CHECKBOX", "AUTOCHECKBOX",
                 "RADIOBUTTON", "AUTORADIOBUTTON", "STATE3", "AUTO3STATE", "PUSHBOX", "CONTROL", "ICON"}
    without_text = {"EDITTEXT", "COMBOBOX", "LISTBOX", "SCROLLBAR"}
    if keyword in with_text and len(params) > 1:
        return params[1]
    if keyword in without_text and params:
        return params[0]
    return None


def walk(folder, suffixes, deep=True):
    if not os.path.isdir(folder):
        return
    for base, dirs, files in os.walk(folder):
        for name in files:
            if name.endswith(suffixes):
                yield os.path.join(base, name)
        if not deep:
            break


def ordered_headers(resources):
    """The id headers in the order resource.h includes them, then any other header."""
    order = []
    umbrella = os.path.join(resources, "resource.h")
    if os.path.exists(umbrella):
        with open(umbrella, encoding="utf-8") as f:
            for line in f:
                m = INCLUDE_RE.match(line)
                if m:
                    order.append(os.path.join(resources, m.group(1)))
    first = [umbrella] if os.path.exists(umbrella) else []
    rest = sorted(p for p in walk(resources, (".h",), deep=False) if p not in order and p != umbrella)
    return first + [p for p in order if os.path.exists(p)] + rest


def main(argv):
    if len(argv) != 2:
        print("usage: idcheck.py ROOT", file=sys.stderr)
        return 2
    problems = Checker(os.path.abspath(argv[1])).run()
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

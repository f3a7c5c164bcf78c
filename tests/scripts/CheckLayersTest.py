#!/usr/bin/env python3
"""The layer check on small trees of its own: clean ones pass, each kind of upward include fails."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")


def run_check(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        done = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
        return done.returncode, done.stdout


class CheckLayers(unittest.TestCase):
    def test_allowed_includes_pass(self):
        rc, out = run_check({
            "core/A.h": '#include <windows.h>\n',
            "config/B.cpp": '#include "config/B.h"\n#include "framework/Wnd.h"\n#include "core/A.h"\n',
            "transfer/C.cpp": '#include "comm/Port.h"\n#include "config/Format.h"\n#include "resources/resource.h"\n',
            "pages/source/D.cpp": '#include "pages/PageHost.h"\n#include "reader/Reader.h"\n',
            "app/E.cpp": '#include "pages/source/D.h"\n#include "transfer/C.h"\n',
            "tests/transfer/T.cpp": '#include "tests/support/TempFolder.h"\n#include "transfer/C.h"\n',
        })
        self.assertEqual((rc, out), (0, ""))

    def test_each_upward_or_sibling_include_fails(self):
        cases = [
            ("config/Format.cpp", "transfer/FormatEngine.h"),
            ("core/Json.cpp", "framework/Wnd.h"),
            ("transfer/HttpDest.cpp", "reader/ReaderModels.h"),
            ("reader/Reader.cpp", "transfer/Portavo.h"),
            ("pages/source/KeysPage.cpp", "app/NorvaneApp.h"),
            ("pages/options/FormatsPage.cpp", "pages/source/KeysPage.h"),
            ("pages/PageHost.h", "pages/source/KeysPage.h"),
            ("tests/config/X.cpp", "transfer/FormatEngine.h"),
            ("tests/core/Y.cpp", "tests/app/AppTestSupport.h"),
        ]
        for src, target in cases:
            with self.subTest(src=src, target=target):
                rc, out = run_check({src: f'#include "{target}"\n'})
                self.assertEqual(rc, 1)
                self.assertEqual(out.strip(), f'{src}:1: includes "{target}"')


if __name__ == "__main__":
    unittest.main()

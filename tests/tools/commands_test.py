"""Every command the documents name starts: each is run with --help, its
cheapest mode, and must end with 0 and say what it is. A command whose
import or start-up broke fails here instead of in a user's hands."""
import os
import re
import subprocess
import sys
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DOCUMENTS = ("README.md", "bench/README.md", "docs", "tools/module-emulator/README.md", "data/README.md")

# command as the documents write it: (argv from the checkout, a word its help shows)
COMMANDS = {
    "bench/run.py": ([sys.executable, "bench/run.py", "--help"], "--runs"),
    "tools/soak.py": ([sys.executable, "tools/soak.py", "--help"], "--fresh-prefixes"),
    "tools/fault_matrix.py": ([sys.executable, "tools/fault_matrix.py", "--help"], "--long"),
    "tools/quillon-linux": (["tools/quillon-linux", "--help"], "--exe PATH"),
    "tools/module-emulator/module_emulator.py": (
        [sys.executable, "tools/module-emulator/module_emulator.py", "--help"], "--scenario"),
    "tools/demo.py": ([sys.executable, "tools/demo.py", "--help"], "make demo"),
    "tools/fuzz-long.sh": (["tools/fuzz-long.sh", "--help"], "SECONDS_PER_TARGET"),
    "tools/make-package.py": ([sys.executable, "tools/make-package.py", "--help"], "usage"),
    "tools/install-deps.sh": (["bash", "tools/install-deps.sh", "test", "--list"], "wine"),
    "tools/make_test.py": ([sys.executable, "tools/make_test.py", "--help"], "--jobs"),
    "tools/flaky.py": ([sys.executable, "tools/flaky.py", "--help"], "--load"),
    "tools/check-reproducible.sh": (["tools/check-reproducible.sh", "--help"], "SHA-256"),
    "tools/compare-release.sh": (["tools/compare-release.sh", "--help"], "SIGNED.exe LOCAL.exe"),
}

# Files of tools/ the documents name as code to read or to ship, not to run:
# modules with no command line of their own.
MODULES = {
    "tools/module-emulator/emu/behaviour.py",  # where the emulator answers commands
    "tools/wine_desktop/desktop_hold.py",  # the launcher's and the Wine tests' desktop hold
    "tools/wine_desktop/wine_server.py",  # and their Wine server
}

# A script path in a document: a file of tools/ or bench/ that can be run.
NAMED = re.compile(r"\b((?:tools|bench)/[A-Za-z0-9_./-]+\.(?:py|sh)|tools/quillon-linux)\b")


def documents():
    for name in DOCUMENTS:
        path = os.path.join(ROOT, name)
        if os.path.isdir(path):
            for entry in sorted(os.listdir(path)):
                if entry.endswith(".md"):
                    yield os.path.join(path, entry)
        elif os.path.exists(path):
            yield path


class Commands(unittest.TestCase):
    def test_every_documented_command_starts(self):
        for name, (argv, word) in sorted(COMMANDS.items()):
            with self.subTest(name):
                run = subprocess.run(argv, cwd=ROOT, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, timeout=60,
                                     env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
                self.assertEqual(run.returncode, 0, run.stdout[-2000:])
                self.assertIn(word, run.stdout)

    def test_every_command_the_documents_name_is_checked_here(self):
        named = set()
        for path in documents():
            with open(path, encoding="utf-8") as f:
                for found in NAMED.findall(f.read()):
                    if os.path.isfile(os.path.join(ROOT, found)):
                        named.add(found)
        self.assertEqual(sorted(named - set(COMMANDS) - MODULES), [], "documented commands without a start-up check")
        for module in sorted(MODULES):
            with open(os.path.join(ROOT, module), encoding="utf-8") as f:
                self.assertNotIn("__main__", f.read(), module + " runs as a command: check that it starts")


if __name__ == "__main__":
    unittest.main()

"""The launcher's command line, the display it chooses, and its exit codes
as the usage text and the README list them."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

from quillon_linux import args, codes, display
from quillon_linux.common import Failure

TOOLS = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENTRY = os.path.join(TOOLS, "quillon-linux")
README = os.path.join(TOOLS, "..", "README.md")


class Arguments(unittest.TestCase):
    def test_launcher_flags_are_taken_out_and_quillon_s_kept_in_order(self):
        options = args.parse_args(["--exe", "Q.exe", "-q", "--trace=t.txt", "--headless", "-t", "/dev/ttyACM0"])
        self.assertEqual((options["exe"], options["trace"], options["headless"], options["help"]),
                         ("Q.exe", "t.txt", True, False))
        self.assertEqual(options["args"], ["-q", "-t", "/dev/ttyACM0"])
        with self.assertRaises(Failure):
            args.parse_args(["-q", "--exe"])

    def test_unattended_as_quillon_s_scanner_reads_the_letters(self):
        cases = (
            (["-q"], True), (["-i"], True), (["-fq"], True), (["pkg.bin", "-i"], True),
            ([], False), (["-f"], False), (["-h"], False),
            # A port's name is -t's value, not options.
            (["-t", "-qi"], False), (["-tqi"], False), (["-ft", "/dev/ttyACM0"], False),
            (["-t", "/dev/ttyACM0", "-q"], True),
        )
        for argv, expected in cases:
            with self.subTest(argv=argv):
                self.assertEqual(args.unattended(argv), expected)

    def test_linux_paths_become_windows_ones(self):
        with tempfile.NamedTemporaryFile(suffix=".bin") as package:
            port_of = {"/dev/ttyACM1": "COM5"}.get
            out = args.windows_args([package.name, "-q", "-t", "/dev/ttyACM1", "-t/dev/ttyACM1", "-tCOM9"],
                                    lambda node: port_of(node) or node)
        self.assertEqual(out, ["Z:" + package.name.replace("/", "\\"), "-q", "-t", "COM5", "-tCOM5", "-tCOM9"])
        self.assertEqual(args.named_ports(["-t", "/dev/ttyUSB2", "-tCOM9", "-t/dev/ttyACM0"]),
                         ["/dev/ttyUSB2", "/dev/ttyACM0"])


class DisplayChoice(unittest.TestCase):
    def test_unattended_runs_get_a_display_of_their_own_dialogs_need_the_desktop(self):
        cases = (
            # unattended, --headless, DISPLAY, Xvfb installed -> kind
            ((True, False, ":0", True), "private"),
            ((True, False, None, True), "private"),
            ((True, True, ":0", True), "private"),
            ((True, False, ":0", False), "user"),
            ((True, False, None, False), "refuse"),
            ((True, True, ":0", False), "refuse"),
            ((False, False, ":0", True), "user"),
            ((False, False, None, True), "refuse"),
            ((False, True, ":0", True), "refuse"),
        )
        for given, kind in cases:
            with self.subTest(given=given):
                self.assertEqual(display.plan(*given)[0], kind)

    def test_each_refusal_says_what_to_do(self):
        self.assertIn("-q (update) or -i (inventory)", display.plan(False, False, None, True)[1])
        self.assertIn("-q (update) or -i (inventory)", display.plan(False, True, ":0", True)[1])
        self.assertIn("sudo apt-get install xvfb", display.plan(True, False, None, False)[1])
        self.assertIn("would end with 1 if that display ended", display.plan(True, False, ":0", False)[1])


class ExitCodes(unittest.TestCase):
    def test_the_table_covers_quillon_s_codes_the_launcher_s_and_the_signals(self):
        listed = [code for entry, _ in codes.TABLE for code in entry]
        self.assertEqual(sorted(listed), list(range(0, 11)) + list(range(20, 29)) + [129, 130, 143])

    def test_usage_and_readme_list_the_table(self):
        self.assertIn(codes.summary(), args.USAGE)
        with open(README) as f:
            readme = f.read()
        linux = readme[readme.index("### On Linux"):]
        self.assertIn(codes.summary(indent="    "), linux)
        self.assertIsNone(re.search(r"20 (to|\.\.) 27", linux), "the old inventory range")

    def test_help_needs_no_wine_root_or_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX")}
        env["PATH"] = "/nonexistent"
        done = subprocess.run([sys.executable, ENTRY, "--help"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.strip(), args.USAGE)
        self.assertEqual(done.stderr, "")

    def test_a_run_with_dialogs_and_no_display_ends_10_before_anything_else(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        done = subprocess.run([sys.executable, ENTRY, "--exe", ENTRY], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
        if "Wine is not installed" in done.stderr:
            self.skipTest("Wine is not installed: the launcher stops before its display")
        self.assertEqual(done.returncode, codes.LAUNCHER)
        self.assertIn("quillon-linux: " + display.NO_DISPLAY, done.stderr)
        self.assertEqual(done.stdout, "")


if __name__ == "__main__":
    unittest.main()

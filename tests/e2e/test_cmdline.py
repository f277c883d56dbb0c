"""The command line of the real Quillon.exe under Wine: exit codes, boxes, log bytes."""
import re
import unittest
import xml.etree.ElementTree as ElementTree

from quillon_e2e.harness import EXE, WineSession
from quillon_e2e.pe_resources import RT_MANIFEST, image_flags, imported_dlls, resources

BANNER = b"===FW upgrade started ===\r\r\n"
USAGE = "usage: Quillon.exe [filename] [-t COM1]"


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("cmdline").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        import os
        path = self.session.log_path()
        if os.path.exists(path):
            os.unlink(path)

    def answer(self, process, caption, text):
        found = self.session.wait_dialog(lambda c, texts: c == caption and any(text in t for t in texts))
        self.assertIsNotNone(found, "no box %r with %r; dialogs: %r" % (caption, text, self.session.dialogs()))
        self.assertTrue(self.session.click(caption, "OK"))

    def test_help_exits_1_and_leaves_only_the_banner(self):
        result = self.session.run(EXE, ["-h"], timeout=60)
        self.assertEqual(result.code, 1)
        self.assertEqual(self.session.log_bytes(), BANNER)
        self.assertEqual(self.session.dialogs(), [])

    def test_quiet_unknown_port_exits_1_without_a_window(self):
        process = self.session.start(EXE, ["-q", "-t", "LPT1"])
        result = process.wait(60)
        self.assertEqual(result.code, 1)
        self.assertEqual(self.session.log_bytes(), BANNER)

    def test_unknown_port_shows_its_error(self):
        process = self.session.start(EXE, ["-t", "LPT1"])
        self.answer(process, "ERROR", "Error: unknown serial port")
        self.assertEqual(process.wait(60).code, 1)

    def test_unknown_option_shows_unknown_char_then_usage(self):
        process = self.session.start(EXE, ["-x"])
        self.assertIsNotNone(self.session.wait_dialog(lambda c, texts: "Unknown char" in texts))
        # A message box, whose text is its static control 0xFFFF.
        self.assertIn((0xFFFF, "Static", "Unknown char"), self.session.texts(""))
        self.answer(process, "", "Unknown char")
        self.answer(process, "Usage", USAGE)
        self.assertEqual(process.wait(60).code, 1)
        self.assertEqual(self.session.log_bytes(), BANNER)

    def test_option_after_the_file_name_is_a_second_file(self):
        process = self.session.start(EXE, ["pkg.bin", "-q"])
        self.answer(process, "Usage", USAGE)
        self.assertEqual(process.wait(60).code, 1)

    def test_two_runs_append_two_banners(self):
        self.assertEqual(self.session.run(EXE, ["-h"]).code, 1)
        self.assertEqual(self.session.run(EXE, ["-h"]).code, 1)
        self.assertEqual(self.session.log_bytes(), BANNER + BANNER)

    def test_a_quiet_run_writes_its_header_and_result_block(self):
        # The simulated module names no product number, so the version
        # rules refuse it: code 2, recorded after the run header and the
        # OK the quiet run pressed by itself.
        result = self.session.run(EXE, ["-q", "-t", "SIMULATOR"], timeout=120)
        self.assertEqual(result.code, 2)
        log = self.session.log_bytes()
        self.assertTrue(log.startswith(BANNER), log)
        header = re.search(rb"Time: \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\r\n"
                           rb"Quillon: Quillon [^\r]+ R\w+\r\r\n"
                           rb"Driver version: \r\r\n"
                           rb"Driver package version: \r\r\n"
                           rb"FW version: R1A013 -> R1D06\r\r\n"
                           rb"HW version:  \r\r\n"
                           rb"QuillonDlg OK Pressed\r\r\n", log)
        self.assertIsNotNone(header, log)
        self.assertTrue(log.endswith(b"\r\r\nRESULT (2): This version is not supported\r\r\n"
                                     b"\r\r\n=== FW Update finished ===\r\r\n\r\r\n"), log)
        self.assertEqual(log.count(b"RESULT ("), 1)

class Manifest(unittest.TestCase):
    """What Windows reads from the built program before it starts it."""

    def test_asks_for_administrator_rights_and_common_controls_6(self):
        found = resources(EXE, RT_MANIFEST)
        # The loader reads a program's manifest from resource 1.
        self.assertEqual([name for name, _ in found], [1])
        root = ElementTree.fromstring(found[0][1])
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        levels = [e.get("level") for e in root.iter(v3 + "requestedExecutionLevel")]
        self.assertEqual(levels, ["requireAdministrator"])
        controls = [e.attrib for e in root.iter(v1 + "assemblyIdentity")
                    if e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(len(controls), 1, controls)
        self.assertEqual(controls[0].get("version"), "6.0.0.0")
        self.assertEqual(controls[0].get("publicKeyToken"), "6595b64144ccf1df")

    def test_image_flags_randomise_and_forbid_executing_data(self):
        self.assertEqual(image_flags(EXE), {"DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA"})

    def test_imports_only_windows_known_dlls(self):
        # Windows loads a KnownDLL from System32 whatever lies beside the
        # program; any other imported DLL would be taken from the program's
        # folder before WinMain could limit the search. comctl32 may be
        # imported: the manifest binds it from the side-by-side store.
        known = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "setupapi.dll", "user32.dll", "gdi32.dll",
                 "shell32.dll", "ole32.dll", "ws2_32.dll", "comctl32.dll"}
        imports, delayed = imported_dlls(EXE)
        self.assertIn("kernel32.dll", [name.lower() for name in imports], "the table was read")
        self.assertEqual([name for name in imports if name.lower() not in known], [])
        self.assertEqual(delayed, [])


if __name__ == "__main__":
    unittest.main()

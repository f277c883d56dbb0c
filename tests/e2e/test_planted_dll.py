"""DLLs planted beside Quillon.exe, as in a Downloads folder anyone can
write to, are never loaded. Each planted DLL leaves a mark in C:\\ when it
is loaded; Wine is told to prefer them over its own (name=n,b), which is
Windows' order for a DLL that is not one of its KnownDLLs. An interactive
update, the inventory and the usage box must then leave no mark and end
exactly as they do without the planted files.

Planted: the DLLs that the program's process loads by name after WinMain
and that are no KnownDLL of Windows (found with WINEDEBUG=+pid,+loaddll):
  UxTheme.dll    the progress bar's theme, and Wine's own windows;
  comctl32.dll   the progress bar's class (the manifest binds version 6
                 from the side-by-side store).
Left out, because Wine itself loads them before WinMain, as imports of its
own system DLLs that Windows keeps among its KnownDLLs or does not have:
version.dll (Wine's user32), ucrtbase.dll (Wine's msvcrt), win32u.dll and
zlib1.dll (Wine's gdi32 and user32), and winex11.drv (Wine's display
driver). Planting those tests Wine, not the program.
"""
import glob
import json
import os
import re
import shutil
import unittest

from quillon_e2e.harness import BUILD_DIR, EXE, WineSession
from quillon_e2e.module import EmulatedModule
from test_update import BANNER, CAPTION, REGAINED, RELEASED, TIME, header, result, run_log

PLANTED = ["UxTheme.dll", "comctl32.dll"]
PLANTED_DLL = os.path.join(BUILD_DIR, "planted.dll")
USAGE = "usage: Quillon.exe [filename] [-t COM1]"


def setUpModule():
    global session, downloads
    session = WineSession("planted-dll").__enter__()
    session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
    downloads = os.path.join(session.root, "Downloads")
    os.makedirs(downloads)
    shutil.copy(EXE, downloads)
    for name in PLANTED:
        shutil.copy(PLANTED_DLL, os.path.join(downloads, name))
    overrides = ",".join(os.path.splitext(name)[0].lower() for name in PLANTED) + "=n,b"
    session.env["WINEDLLOVERRIDES"] = ";".join(filter(None, [session.env.get("WINEDLLOVERRIDES"), overrides]))


def tearDownModule():
    session.close()


class PlantedDlls(unittest.TestCase):
    exe = property(lambda self: os.path.join(downloads, os.path.basename(EXE)))

    def setUp(self):
        session.forget_log()
        for mark in self.marks():
            os.unlink(mark)

    def tearDown(self):
        self.assertEqual([os.path.basename(m) for m in self.marks()], [], "a planted DLL was loaded")

    @staticmethod
    def marks():
        return glob.glob(os.path.join(session.drive_c, "planted-*.mark"))

    def wait_for(self, predicate, what, timeout=60):
        found = session.wait_dialog(predicate, timeout=timeout)
        self.assertIsNotNone(found, "no %s; dialogs: %r" % (what, session.dialogs()))
        return found

    def test_an_interactive_update(self):
        with EmulatedModule(session, "default") as module:
            process = session.start(self.exe, [])
            try:
                self.wait_for(lambda c, texts: c == CAPTION and "Norvane M7120x" in texts, "main dialog")
                outcome = session.click_through_update(process, CAPTION)
            finally:
                if process.running():
                    process.popen.kill()
        self.assertEqual(outcome.code, 0, outcome.trace[-40:])
        log = session.log_bytes()
        expected = run_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"),
                           b"QuillonDlg OK Pressed\r\r\n", b"Quillon: Optional assignment 1 done\r\r\n",
                           REGAINED, result(0, b"Upgrade finishied succesfully"))
        self.assertIsNotNone(re.fullmatch(expected, log), log.decode("latin-1"))
        self.assertEqual(module.events("identity")[-1]["software_version"], "R1D06")
        self.assertFalse([t for t in outcome.trace if "DLL search" in t], "the search was limited")

    def test_the_inventory(self):
        with EmulatedModule(session, "default"):
            outcome = session.run(self.exe, ["-i"], timeout=120)
        self.assertEqual(outcome.code, 0, outcome.trace[-30:])
        with open(os.path.join(session.drive_c, "FWInventory.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)["status"], "applicable")

    def test_the_usage_box(self):
        # Two file names: the usage box alone.
        process = session.start(self.exe, ["one.bin", "two.bin"])
        try:
            box = self.wait_for(lambda c, texts: c == "Usage", "usage box")
            self.assertIn(USAGE, [t.strip() for t in box[1]])
            self.assertTrue(session.click("Usage", "OK"))
            outcome = process.wait(60)
        finally:
            if process.running():
                process.popen.kill()
        self.assertEqual(outcome.code, 1)
        self.assertEqual(session.log_bytes(), BANNER)


if __name__ == "__main__":
    unittest.main()

"""The whole run of the real Quillon.exe under Wine against the emulated
module: from the main dialog to the exit code, unattended and with the
dialogs clicked, and the upgrade log's exact bytes."""
import os
import re
import time
import unittest

from quillon_e2e.harness import EXE, WINE, WineSession
from quillon_e2e.module import EmulatedModule, write_package

CAPTION = "Quillon CXC 173 0961/1 R1A"
PACKAGE_KEY = "HKLM\\SOFTWARE\\Norvane\\WirelessModule"

BANNER = b"===FW upgrade started ===\r\r\n"
RELEASED = b"Send DISCONNECT_KVT\r\r\nDone DISCONNECT_KVT\r\r\n"
REGAINED = b"Send CONNECT_KVT\r\r\nDone CONNECT_KVT\r\r\n"
# ctime's form; its own line feed lands as CR LF.
TIME = rb"Time: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\r\n"


def header(firmware, hardware, package_version=b""):
    return (b"Quillon: " + CAPTION.encode() + b"\r\r\n"
            b"Driver version: \r\r\n"
            b"Driver package version: " + package_version + b"\r\r\n"
            b"FW version: " + firmware + b" -> R1D06\r\r\n"
            b"HW version: " + hardware + b"\r\r\n")


def result(code, text):
    return b"\r\r\nRESULT (%d): %s\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n" % (code, text)


def run_log(*middle_parts):
    """A pattern of one whole run: banner, release, the middle (the time
    line where TIME stands), regain and what follows."""
    return b"".join(part if part is TIME else re.escape(part) for part in middle_parts)


class Update(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("update").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        self.session.forget_log()

    def tearDown(self):
        self.session.forget_serialcomm()
        self.session.run_quiet([WINE, "reg", "delete", PACKAGE_KEY, "/f"], timeout=120)

    def assert_log(self, *parts):
        log = self.session.log_bytes()
        self.assertIsNotNone(re.fullmatch(run_log(*parts), log), log.decode("latin-1"))

    def shot(self, name):
        self.session.screenshot(os.path.join(self.session.artifacts, name + ".png"))

    def wait_for(self, predicate, what, timeout=60):
        found = self.session.wait_dialog(predicate, timeout=timeout)
        self.assertIsNotNone(found, "no %s; dialogs: %r" % (what, self.session.dialogs()))
        return found

    def test_quiet_run_updates_the_module_and_exits_0(self):
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        code = self.session.run_quiet([WINE, "reg", "add", PACKAGE_KEY, "/v", "Version", "/t", "REG_SZ",
                                       "/d", "7.1.2.0", "/f"], timeout=120)
        self.assertEqual(code, 0)
        with EmulatedModule(self.session, "default") as module:
            outcome = self.session.run(EXE, ["-q"], timeout=600)
        self.assertEqual(outcome.code, 0, outcome.trace[-40:])
        self.assert_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J", b"7.1.2.0"),
                        b"QuillonDlg OK Pressed\r\r\n", b"Quillon: Optional assignment 1 done\r\r\n",
                        REGAINED, result(0, b"Upgrade finishied succesfully"))
        packages = [(p["kind"], p["verdict"], p["applied"]) for p in module.events("package")]
        self.assertEqual(len(packages), 2, packages)
        self.assertTrue(packages[0][2], "the full package was installed: %r" % packages)
        self.assertEqual(len(module.events("offline")), 2, "one restart after each package")
        self.assertEqual(module.events("identity")[-1]["software_version"], "R1D06")
        self.assertEqual(self.session.dialogs(), [])

    def test_every_quiet_path_ends_with_its_code_and_log(self):
        package = os.path.join(self.session.root, "fw R1D06.bin")
        write_package(package, "R1D06", 3 * 8192 + 500)
        package_path = self.session.wine_path(package).encode()
        done = b"Quillon: Optional assignment 1 done\r\r\n"
        ok = b"QuillonDlg OK Pressed\r\r\n"
        unknown = header(b"", b" ")
        # name, scenario (None: no module), arguments, code, the log between release and regain
        rows = [
            ("no module", None, ["-q"], 1, [unknown, ok]),
            ("unsupported module", "unsupported_hardware", ["-q"], 2,
             [header(b"R1D05", b"QHW 552 08/106 R1D"), ok]),
            ("SIM state unreadable", {"commands": {"AT*QESFUD?": "ERROR", "AT+CPIN?": "ERROR"}}, ["-q"], 3,
             [header(b"R1D05", b"QHW 552 08/101 R1J"), ok]),
            ("damaged firmware: update mode at start and after its restart", "damaged_firmware", ["-q"], 1,
             [unknown, ok]),
            ("forced mode", {"identity": {"product_number": "QHW 552 08/106", "imei": "0044 0170 1234 567"}},
             ["-q", "-f"], 0, [header(b"R1D05", b"QHW 552 08/106 R1J"), ok, b"\r\nFORCED UPGRADE\r\n", done]),
            ("file mode", "default", ["-q", self.session.wine_path(package)], 0,
             [header(b"R1D05", b"QHW 552 08/101 R1J").replace(b"-> R1D06", b"-> " + package_path), ok, done]),
        ]
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        for name, scenario, args, code, middle in rows:
            with self.subTest(name):
                self.session.forget_log()
                if scenario is None:
                    outcome = self.session.run(EXE, args, timeout=300)
                else:
                    with EmulatedModule(self.session, scenario):
                        outcome = self.session.run(EXE, args, timeout=300)
                self.assertEqual(outcome.code, code, outcome.trace[-30:])
                texts = {0: b"Upgrade finishied succesfully", 1: b"Unknown error",
                         2: b"This version is not supported", 3: b"Sim missing"}
                self.assert_log(BANNER, RELEASED, TIME, *middle, REGAINED, result(code, texts[code]))

    def test_the_user_clicks_through_to_the_success_box(self):
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        with EmulatedModule(self.session, "default") as module:
            process = self.session.start(EXE, [])
            try:
                self.wait_for(lambda c, texts: c == CAPTION and "Norvane M7120x" in texts, "main dialog")
                fields = {control: text for control, _, text in self.session.texts(CAPTION)}
                self.assertEqual([fields.get(i) for i in (1005, 1006, 1008, 1007, 1009, 1010)],
                                 ["Norvane M7120x", "QHW 552 08/101 R1J", "354712030154886", "R1D05",
                                  "Sep 21 2009 16:04:12", "R1D06"])
                self.shot("main-dialog")
                self.assertTrue(self.session.click(CAPTION, "OK"))
                self.wait_for(lambda c, texts: c == "Warning", "warning")
                self.shot("warning")
                self.assertTrue(self.session.click("Warning", "OK"))
                # Shot once the worker has moved the dialog past its first status.
                self.wait_for(lambda c, texts: c == "Update full package to R1D06"
                              and not any(t.startswith("Connecting the device") for t in texts), "progress dialog")
                self.shot("progress")
                self.wait_for(lambda c, texts: c == "Update successful", "success box", timeout=300)
                self.shot("success")
                self.assertTrue(self.session.click("Update successful", "OK"))
                outcome = process.wait(120)
            finally:
                if process.running():
                    process.popen.kill()
        self.assertEqual(outcome.code, 0, outcome.trace[-40:])
        self.assert_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"),
                        b"QuillonDlg OK Pressed\r\r\n", b"Quillon: Optional assignment 1 done\r\r\n",
                        REGAINED, result(0, b"Upgrade finishied succesfully"))
        self.assertEqual(module.events("identity")[-1]["software_version"], "R1D06")

    def test_a_refused_chunk_shows_its_box_over_the_progress_dialog(self):
        # Not quiet: the worker's failure box is seen, owned by the progress
        # dialog, and only its OK ends the run.
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        with EmulatedModule(self.session, "reject_chunk_3") as module:
            process = self.session.start(EXE, [])
            try:
                self.wait_for(lambda c, texts: c == CAPTION and "Norvane M7120x" in texts, "main dialog")
                self.assertTrue(self.session.click(CAPTION, "OK"))
                self.wait_for(lambda c, texts: c == "Warning", "warning")
                self.assertTrue(self.session.click("Warning", "OK"))
                self.wait_for(lambda c, texts: c == "Update Failed", "failure box", timeout=300)
                box = [text for _, cls, text in self.session.texts("Update Failed") if cls == "Static"]
                self.assertIn("Please check that you have the right update package.", box)
                self.assertEqual(self.session.owner("Update Failed"), "Update full package to R1D06")
                self.shot("failure")
                self.assertTrue(process.running(), "the run waits for the box")
                self.assertTrue(self.session.click("Update Failed", "OK"))
                outcome = process.wait(120)
            finally:
                if process.running():
                    process.popen.kill()
        self.assertEqual(outcome.code, 5, outcome.trace[-40:])
        self.assert_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"),
                        b"QuillonDlg OK Pressed\r\r\n", REGAINED, result(5, b"Update failed"))
        # The box comes after the module was restarted out of its loader.
        self.assertEqual([e["reason"] for e in module.events("offline")], ["restart"])
        self.assertEqual(module.commands().count("AT*Q2RESET"), 1)

    def test_quiet_run_with_a_sim_that_wants_its_pin_exits_4(self):
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        with EmulatedModule(self.session, "pin_required") as module:
            outcome = self.session.run(EXE, ["-q"], timeout=300)
        self.assertEqual(outcome.code, 4, outcome.trace[-40:])
        self.assert_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"),
                        b"QuillonDlg OK Pressed\r\r\n", REGAINED, result(4, b"Pin error"))
        commands = module.commands()
        self.assertIn("AT+CPIN?", commands)
        self.assertFalse([c for c in commands if c.startswith("AT+CPIN=")], "no code is sent in quiet mode")
        self.assertFalse([c for c in commands if c.startswith("AT*QESFUD=")], "no update started")

    def test_a_silent_module_is_polled_and_the_dialog_still_answers_cancel(self):
        # Every poll probes the silent port with "AT+CGMM" and "vers=1";
        # the click is served once the poll under way is over.
        probes = len("AT+CGMM\r\nvers=1\r\n")
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        with EmulatedModule(self.session, "mute") as module:
            process = self.session.start(EXE, [])
            try:
                self.wait_for(lambda c, texts: c == CAPTION and "No module found" in texts, "main dialog")
                heard = lambda: sum(e["bytes"] for e in module.events("ignored"))
                deadline = time.monotonic() + 120
                while heard() < 3 * probes and time.monotonic() < deadline and process.running():
                    time.sleep(0.2)  # the module's record of the next poll
                self.assertGreaterEqual(heard(), 3 * probes, "fewer than three polls reached the module")
                self.assertTrue(self.session.click(CAPTION, "Cancel"))
                outcome = process.wait(60)
            finally:
                if process.running():
                    process.popen.kill()
        self.assertEqual(outcome.code, 1)
        self.assertGreaterEqual(len([t for t in outcome.trace if "Write [AT+CGMM]" in t]), 3, outcome.trace)
        self.assert_log(BANNER, RELEASED, b"QuillonDlg Cancel Pressed\r\r\n", REGAINED, result(1, b"Unknown error"))

    def test_ok_without_a_module_exits_1(self):
        process = self.session.start(EXE, [])
        try:
            self.wait_for(lambda c, texts: c == CAPTION and "No module found" in texts, "main dialog")
            self.assertTrue(self.session.click(CAPTION, "OK"))
            outcome = process.wait(60)
        finally:
            if process.running():
                process.popen.kill()
        self.assertEqual(outcome.code, 1)
        self.assert_log(BANNER, RELEASED, TIME, header(b"", b" "), b"QuillonDlg OK Pressed\r\r\n", REGAINED,
                        result(1, b"Unknown error"))


if __name__ == "__main__":
    unittest.main()

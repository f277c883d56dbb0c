"""The power rule on the real exe under Wine, with the laptop's supplies
faked for the program alone: on its battery at 10 %, a quiet run ends with
9 and sends nothing, the interactive run asks for the adapter and updates
once it is plugged in, and the inventory says battery-low."""
import json
import os
import re
import unittest

from quillon_e2e import power_supply
from quillon_e2e.harness import EXE, WineSession
from quillon_e2e.module import EmulatedModule
from test_update import BANNER, CAPTION, REGAINED, RELEASED, TIME, header, result, run_log

REFUSAL = ("The laptop is running on its battery, which is at 10 %. "
           "Connect the AC adapter, then press OK again.")
# What a module hears once an update starts: a mode switch, a frame, a restart.
CHANGES = {"mode", "header", "header_refused", "package", "offline"}

WHY_NOT = power_supply.unavailable()


def setUpModule():
    global session
    if WHY_NOT is not None:
        raise unittest.SkipTest(WHY_NOT)
    session = WineSession("power").__enter__()
    session.reg_add_serialcomm("\\Device\\mdm0", "COM7")


def tearDownModule():
    if WHY_NOT is None:
        session.close()


class OnBatteryAtTen(unittest.TestCase):
    def setUp(self):
        session.forget_log()
        self.power = power_supply.FakePowerSupply(session.root, online=False, percent=10)

    def assert_log(self, *parts):
        log = session.log_bytes()
        self.assertIsNotNone(re.fullmatch(run_log(*parts), log), log.decode("latin-1"))

    def assert_nothing_sent(self, module):
        changed = [e for e in module.events() if e.get("event") in CHANGES]
        self.assertEqual(changed, [])
        self.assertFalse([c for c in module.commands() if c.startswith("AT*QESFUD=") or c == "AT*Q2RESET"])

    def test_a_quiet_run_ends_with_9_and_sends_nothing(self):
        with EmulatedModule(session, "default") as module:
            outcome = session.run(EXE, ["-q"], timeout=300, power=self.power)
        self.assertEqual(outcome.code, 9, outcome.trace[-30:])
        self.assert_nothing_sent(module)
        self.assert_log(BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"),
                        b"QuillonDlg OK Pressed\r\r\n", REGAINED, result(9, b"Battery low"))
        self.assertTrue([t for t in outcome.trace if "WARNING" in t and "On battery at 10 %" in t], outcome.trace)

    def test_the_user_is_asked_to_plug_in_and_the_next_ok_updates(self):
        with EmulatedModule(session, "default") as module:
            process = session.start(EXE, [], power=self.power)
            try:
                found = session.wait_dialog(lambda c, texts: c == CAPTION and "Norvane M7120x" in texts, 60)
                self.assertIsNotNone(found, session.dialogs())
                self.assertTrue(session.click(CAPTION, "OK"))
                self.assertIsNotNone(session.wait_dialog(lambda c, t: c == "Warning", 60), session.dialogs())
                self.assertTrue(session.click("Warning", "OK"))
                box = session.wait_dialog(lambda c, texts: c == "Warning" and REFUSAL in texts, 60)
                self.assertIsNotNone(box, session.dialogs())
                self.assertEqual(session.owner("Warning"), CAPTION)
                session.screenshot(os.path.join(session.artifacts, "battery-low.png"))
                self.assertTrue(session.click("Warning", "OK"))
                self.assert_nothing_sent(module)
                self.assertNotIn(b"RESULT", session.log_bytes())
                self.power.set_online(True)
                outcome = session.click_through_update(process, CAPTION)
            finally:
                if process.running():
                    process.popen.kill()
        self.assertEqual(outcome.code, 0, outcome.trace[-40:])
        ok = b"QuillonDlg OK Pressed\r\r\n"
        hardware = header(b"R1D05", b"QHW 552 08/101 R1J")
        self.assert_log(BANNER, RELEASED, TIME, hardware, ok, TIME, hardware, ok,
                        b"Quillon: Optional assignment 1 done\r\r\n", REGAINED,
                        result(0, b"Upgrade finishied succesfully"))
        self.assertEqual(module.events("identity")[-1]["software_version"], "R1D06")

    def test_the_inventory_says_battery_low(self):
        report_path = os.path.join(session.drive_c, "FWInventory.json")
        with EmulatedModule(session, "default") as module:
            outcome = session.run(EXE, ["-i"], timeout=120, power=self.power)
        self.assertEqual(outcome.code, 28, outcome.trace[-30:])
        with open(report_path, encoding="utf-8") as f:
            report = json.load(f)
        self.assertEqual(report["status"], "battery-low")
        self.assertEqual(report["exitCode"], 28)
        self.assertEqual(report["power"], {"ac": "offline", "batteryPercent": 10})
        self.assertEqual(report["schema"], 1)
        self.assert_nothing_sent(module)


if __name__ == "__main__":
    unittest.main()

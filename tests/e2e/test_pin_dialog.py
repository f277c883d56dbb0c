"""The real PIN dialog under Wine over the emulated module's locked SIM (dialog_check pin): typed and pasted codes,
"Wrong pin", the label after a refusal, and the three ways to cancel."""
import os
import unittest

from quillon_e2e.harness import BUILD_DIR, WineSession
from quillon_e2e.module import EmulatedModule, scenario_path
from emu import scenario as scenarios  # module.py puts the emulator on the path

DIALOG_CHECK = os.path.join(BUILD_DIR, "dialog_check.exe")
PORT = "\\\\.\\COM7"
CODE, LABEL = 1000, 1001
IDCANCEL = 2

WM_CLOSE, WM_QUERYENDSESSION = 0x10, 0x11
WM_KEYDOWN, VK_ESCAPE = 0x100, 0x1B

SIM = scenarios.load(scenario_path("pin_required"))["pin"]
PUK_SIM = scenarios.load(scenario_path("puk_required"))["pin"]
WRONG = "0000" if SIM["pin"] != "0000" else "9999"


def setUpModule():
    global session
    session = WineSession("pin-dialog").__enter__()


def tearDownModule():
    session.close()


class PinDialog(unittest.TestCase):
    def run_dialog(self, scenario, user):
        """Runs the dialog over the module; user(self) plays the person. Returns (code, module)."""
        with EmulatedModule(session, scenario) as module:
            process = session.start(DIALOG_CHECK, ["pin", PORT])
            try:
                self.wait_label("Pin:" if scenario == "pin_required" else "Puk:")
                user(self)
            finally:
                result = process.wait(60)
        self.assertIsNotNone(result.code, "dialog_check did not end")
        lines = result.stdout.split("\n")
        self.assertEqual(lines[0].strip(), "open 0", result.stdout)
        return int(lines[1].split()[1]), module

    def wait_label(self, label):
        found = session.wait_dialog(lambda caption, texts: caption == "PIN" and texts[:1] == [label], timeout=60)
        self.assertIsNotNone(found, "no PIN dialog saying %r: %r" % (label, session.dialogs()))

    def code_field(self):
        return {control_id: text for control_id, _, text in session.texts("PIN")}[CODE]

    def enter(self, code, paste=False):
        """Types (or pastes) a code and presses OK."""
        if paste:
            self.assertTrue(session.set_text("PIN", CODE, code))
        else:
            self.assertEqual(session.probe("type", "PIN", CODE, code)[0], 0)
        self.assertTrue(session.click("PIN", "OK"))

    def refused(self, label):
        """The warning for a refused code, owned by the dialog; then the label it leaves."""
        box = session.wait_dialog(lambda caption, texts: caption == "ERROR", timeout=30)
        self.assertIsNotNone(box, session.dialogs())
        self.assertIn("Wrong pin", box[1])
        self.assertTrue(session.click("ERROR", "OK"))
        self.wait_label(label)
        self.assertEqual(self.code_field(), "")

    def entries(self, module):
        return [(e["code"], e["accepted"]) for e in module.events("pin")]

    def test_letters_wrong_code_then_the_right_one(self):
        def user(test):
            # Letters cannot be typed; a paste gets them in, but they are never sent.
            session.probe("type", "PIN", CODE, "12ab")
            test.assertEqual(test.code_field(), "12")
            test.enter("12ab", paste=True)
            test.refused("PIN:")
            test.enter(WRONG)
            test.refused("PIN:")
            test.enter(SIM["pin"])

        code, module = self.run_dialog("pin_required", user)
        self.assertEqual(code, 1)
        self.assertEqual(self.entries(module), [(WRONG, False), (SIM["pin"], True)])

    def test_last_pin_try_asks_for_the_puk_then_escape_cancels(self):
        def user(test):
            # Logoff is not held off by this dialog.
            code, lines = session.probe("send", "PIN", WM_QUERYENDSESSION, 0, 0)
            test.assertNotEqual(lines, ["0"])
            for left in range(SIM["tries"] - 1, -1, -1):
                test.enter(WRONG)
                test.refused("PIN:" if left else "PUK:")
            session.probe("post", "PIN", WM_KEYDOWN, VK_ESCAPE, 0)

        code, module = self.run_dialog("pin_required", user)
        self.assertEqual(code, IDCANCEL)
        self.assertEqual(self.entries(module), [(WRONG, False)] * SIM["tries"])

    def test_puk_refused_then_cancel_button(self):
        def user(test):
            test.enter(WRONG)
            test.refused("PUK:")
            test.assertTrue(session.click("PIN", "Cancel"))

        code, module = self.run_dialog("puk_required", user)
        self.assertEqual(code, IDCANCEL)
        self.assertEqual(self.entries(module), [(WRONG, False)])

    def test_puk_opens_the_sim(self):
        code, module = self.run_dialog("puk_required", lambda test: test.enter(PUK_SIM["puk"]))
        self.assertEqual(code, 1)
        self.assertEqual(self.entries(module), [(PUK_SIM["puk"], True)])

    def test_close_box_cancels(self):
        code, module = self.run_dialog("pin_required", lambda test: session.probe("post", "PIN", WM_CLOSE, 0, 0))
        self.assertEqual(code, IDCANCEL)
        self.assertEqual(module.events("pin"), [])


if __name__ == "__main__":
    unittest.main()

"""The real progress dialog under Wine, driven by a stand-in worker (dialog_check): its texts and bars through a
transfer, a screenshot with the green bar, and a dialog that neither the user nor a logoff, shutdown or suspend
can close."""
import os
import re
import subprocess
import unittest

from quillon_e2e.harness import BUILD_DIR, WineSession

DIALOG_CHECK = os.path.join(BUILD_DIR, "dialog_check.exe")

STAGE_BAR, PERCENT_BAR, STATUS, PERCENT_TEXT = 1005, 1002, 1004, 1006
GREEN = "00ff00"
NOTICE = ("The update procedure has now started. You must NOT power off the machine until the procedure has "
          "finished")
TITLE = "Update full package to R1D07"

WM_NULL, WM_CLOSE, WM_QUERYENDSESSION, WM_ENDSESSION = 0x0, 0x10, 0x11, 0x16
WM_KEYDOWN, VK_ESCAPE = 0x100, 0x1B
WM_SYSCOMMAND, SC_CLOSE = 0x112, 0xF060
WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, BROADCAST_QUERY_DENY = 0x218, 0, 0x424D5144


def setUpModule():
    global session
    session = WineSession("progress").__enter__()


def tearDownModule():
    session.close()


def green_pixels(png):
    """How many pixels of the screenshot are pure green."""
    out = subprocess.run(["convert", png, "-alpha", "off", "-fill", "black", "+opaque", "#00FF00", "-fill", "white",
                          "-opaque", "#00FF00", "-format", "%[fx:round(mean*w*h)]", "info:"],
                         capture_output=True, text=True, timeout=60, check=True).stdout
    return int(out.strip())


class ProgressDialog(unittest.TestCase):
    def setUp(self):
        for name in ("go1", "go2"):
            path = os.path.join(session.root, name)
            if os.path.exists(path):
                os.unlink(path)

    def release(self, hold):
        """Lets the stand-in worker go on past its hold."""
        open(os.path.join(session.root, "go%d" % hold), "w").close()

    def controls(self, caption):
        return {control_id: text for control_id, _, text in session.texts(caption) if control_id != -1}

    def statics(self, caption):
        return [text for control_id, kind, text in session.texts(caption) if control_id == -1]

    def bar(self, caption, control_id):
        """(position, low, high, colour) of a progress bar."""
        code, lines = session.probe("bar", caption, control_id)
        self.assertEqual(code, 0, lines)
        position, low, high, color = lines[0].split("\t")
        return int(position), int(low), int(high), color

    def send(self, caption, message, wparam=0, lparam=0):
        code, lines = session.probe("send", caption, message, wparam, lparam)
        self.assertEqual(code, 0, "no dialog %r" % caption)
        return int(lines[0])

    def wait_for(self, caption, control_id, text, timeout=30):
        found = session.wait_dialog(lambda c, texts: c == caption and text in texts, timeout=timeout)
        self.assertIsNotNone(found, "no %r showing %r: %r" % (caption, text, session.dialogs()))
        return self.controls(caption)[control_id]

    def test_transfer_is_shown_and_the_dialog_cannot_be_closed(self):
        process = session.start(DIALOG_CHECK, ["progress", "1"])

        # Before the worker does anything: the template's texts and stage 0.
        self.wait_for("Dialog", PERCENT_TEXT, "0 %")
        self.assertEqual(self.statics("Dialog"), [NOTICE, "Status:"])
        self.assertEqual(self.controls("Dialog")[STATUS], "Connecting the device  ")
        self.assertEqual(self.bar("Dialog", STAGE_BAR)[:3], (0, 0, 6))
        self.assertEqual(self.bar("Dialog", PERCENT_BAR), (0, 0, 100, GREEN))

        # Mid-transfer, at 42%.
        self.release(1)
        self.wait_for(TITLE, PERCENT_TEXT, "42%")
        status = self.controls(TITLE)[STATUS]
        self.assertRegex(status, r"^Send update package 4304k/10240k  \d+ kbytes/sec  $")
        self.assertEqual(self.bar(TITLE, STAGE_BAR)[0], 2)
        self.assertEqual(self.bar(TITLE, PERCENT_BAR), (42, 0, 100, GREEN))
        shot = os.path.join(session.artifacts, "progress-mid-transfer.png")
        session.screenshot(shot)
        # 42% of a 254-unit bar is some thousand pixels, not a stray few.
        self.assertGreater(green_pixels(shot), 1000, "the percent bar is not green: " + shot)

        # The close box, Escape and Alt+F4 do nothing...
        for message, wparam in ((WM_CLOSE, 0), (WM_KEYDOWN, VK_ESCAPE), (WM_SYSCOMMAND, SC_CLOSE)):
            code, _ = session.probe("post", TITLE, message, wparam, 0)
            self.assertEqual(code, 0)
        # ...and logoff, shutdown and suspend are refused.
        self.assertEqual(self.send(TITLE, WM_QUERYENDSESSION), 0)
        self.assertEqual(self.send(TITLE, WM_ENDSESSION), 0)
        self.assertEqual(self.send(TITLE, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND), BROADCAST_QUERY_DENY)
        # The dialog takes a sent message before a posted one, and one
        # posted message between two sent ones: past these sends, all three
        # posts have been handled.
        self.assertEqual(self.send(TITLE, WM_NULL), 0)
        self.assertEqual(self.controls(TITLE)[PERCENT_TEXT], "42%")
        self.assertTrue(process.running())

        # Only the worker ends it.
        self.release(2)
        result = process.wait(60)
        self.assertEqual(result.code, 0, result.stderr[-2000:])
        self.assertEqual(result.stdout.split(), ["hold", "1", "hold", "2", "result", "1", "0"])
        self.assertFalse([caption for caption, _ in session.dialogs() if caption == TITLE])

    def test_failure_end_leaves_a_code(self):
        self.release(1)
        self.release(2)
        result = session.run(DIALOG_CHECK, ["progress", "2"], timeout=60)
        self.assertEqual(result.code, 0, result.stderr[-2000:])
        self.assertEqual(re.findall(r"result (-?\d+) (-?\d+)", result.stdout), [("2", "1")])

    def test_dialog_without_a_worker_ends_itself(self):
        # It says the worker never started (3), so that its caller waits
        # for no thread and names the run's code itself; it names none.
        result = session.run(DIALOG_CHECK, ["noworker"], timeout=60)
        self.assertEqual(result.code, 0, result.stderr[-2000:])
        self.assertEqual(result.stdout.split(), ["result", "3", "0"])


if __name__ == "__main__":
    unittest.main()

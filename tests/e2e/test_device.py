"""Quillon.exe opens its module device under Wine: the simulator without a
port, the mode bits the probes find and a port neither probe opens,
discovery past an absent candidate, and a silent module given up after its
probes. (How the emulated module follows its port across a restart is the
emulator's own test; the whole runs in test_update rely on it.)"""
import re
import unittest

from quillon_e2e.harness import EXE, WineSession
from quillon_e2e.module import EmulatedModule

# No upgrade rule admits this board, so a quiet run ends right after the
# module is identified, however far the updater has grown.
REFUSED_BOARD = "unsupported_hardware"

_TICK = re.compile(r" \((-?\d+)\) ")


def messages(result, source="devices"):
    """The messages of one source file's trace lines, without line ends."""
    head = "..\\..\\..\\src\\%s:" % source
    found = []
    for line in result.trace:
        if line.startswith(head) and "INFO: " in line:
            found.append(line.split("INFO: ", 1)[1].rstrip("\r\n"))
    return found


def tick_of(result, text, after=0):
    """The millisecond tick of the first trace line that holds text, or of
    the after-th line following it."""
    for index, line in enumerate(result.trace):
        if text in line:
            if index + after >= len(result.trace):
                raise AssertionError("nothing traced after %r" % text)
            return int(_TICK.search(result.trace[index + after]).group(1))
    raise AssertionError("no trace line with %r" % text)


class DeviceOpen(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("device").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def tearDown(self):
        # Tests share the session: a port one test announced must not be
        # discovered by the next.
        self.session.forget_serialcomm()

    def run_quillon(self, args, scenario=None):
        if scenario is None:
            result = self.session.run(EXE, args, timeout=120)
            module = None
        else:
            with EmulatedModule(self.session, scenario) as module:
                result = self.session.run(EXE, args, timeout=120)
        self.assertIsNotNone(result.code, "Quillon.exe did not end")
        return result, module

    def test_simulator_needs_no_port(self):
        result, _ = self.run_quillon(["-q", "-t", "SIMULATOR"])
        self.assertEqual(messages(result)[:2], ["deviceStatusBits = 00000000"] * 2, result.trace)
        opened = [m for m in messages(result) if m.startswith("FD opened") or m.startswith("Try to open")]
        self.assertEqual(opened, [], "the simulator opens no port and looks for none")

    def test_status_bits_follow_the_probes(self):
        at_mode = ["deviceStatusBits = 00000000", "deviceStatusBits = 00000002"]
        # name, scenario, the mode found (None: neither), status bits, the
        # first commands, and one reply of the module: (index, lines, final)
        rows = [
            ("AT mode, the module's own model", REFUSED_BOARD, "AT mode found", at_mode, ["AT+CGMM"],
             (0, ["Norvane M7120x Mobile Broadband Module"], "OK")),
            # Its firmware does not start: the one restart brings back the
            # loader, found again at once, and the quiet run ends with 1.
            ("update mode, found by the loader's own probe and restarted once", "damaged_firmware",
             "ITP mode found", ["deviceStatusBits = 00000001", "deviceStatusBits = 00000001"],
             ["AT+CGMM", "vers=1", "AT*Q2RESET"], None),
            ("neither probe succeeds: the port is refused", "cgmm_error", None, [], ["AT+CGMM", "vers=1"],
             (1, None, "ERROR")),
        ]
        # Discovery finds the loader again after its restart, so the quiet
        # run need not wait out the module's return.
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        for name, scenario, mode, bits, commands, reply in rows:
            with self.subTest(name):
                result, module = self.run_quillon(["-q", "-t", "COM7"], scenario)
                found = messages(result)
                modes = [m for m in found if m in ("AT mode found", "ITP mode found")]
                self.assertEqual(sorted(set(modes)), [mode] if mode else [], result.trace)
                if mode == "AT mode found":
                    self.assertIn("C module", found)
                status = [m for m in found if m.startswith("deviceStatusBits")]
                self.assertEqual(status[:2], bits, result.trace)
                self.assertEqual(module.commands()[:len(commands)], commands)
                self.assertLessEqual(module.commands().count("AT*Q2RESET"), 1, "never restarted twice")
                if reply is not None:
                    index, lines, final = reply
                    answered = module.events("reply")[index]
                    self.assertEqual(answered["final"], final)
                    if lines is not None:
                        self.assertEqual(answered["lines"], lines)
        # The scenario named its fault only: the module is otherwise the default one.
        self.assertEqual(module.events("start")[0]["identity"]["product_number"], "QHW 552 08/101")

    def test_discovery_passes_over_a_candidate_that_does_not_open(self):
        # COM42 has no device behind it; the module sits on COM7.
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM42")
        self.session.reg_add_serialcomm("\\Device\\mdm1", "COM7")
        result, module = self.run_quillon(["-q"], REFUSED_BOARD)
        found = messages(result)
        self.assertEqual(found[:3], ["Try to open device 0 of 2 found", "FD opened 0",
                                     "Try to open device 1 of 2 found"], result.trace)
        self.assertIn("AT mode found", found)
        self.assertNotIn("ITP mode found", found)
        self.assertIn("C module", found)
        self.assertEqual(module.commands()[0], "AT+CGMM")

    def test_silent_module_is_given_up_after_a_second_per_probe(self):
        result, module = self.run_quillon(["-q", "-t", "COM7"], "mute")
        found = messages(result)
        self.assertNotIn("AT mode found", found)
        self.assertNotIn("ITP mode found", found)
        self.assertFalse([m for m in found if m.startswith("deviceStatusBits")], "no device was made")
        # The silent module only counts what reached it: both probes with
        # their CR LF, "AT+CGMM" and then "vers=1".
        # How the line splits them into reads is the pty's business.
        self.assertEqual(sum(e["bytes"] for e in module.events("ignored")), len("AT+CGMM\r\nvers=1\r\n"))
        # Each probe waits one read attempt of a second for its reply. A
        # loaded machine may stretch that, but not by the further whole
        # seconds a longer time-out would add. The vers=1 wait ends with the
        # line traced when it gives up.
        waits = {
            "AT+CGMM": tick_of(result, "Write [vers=1]") - tick_of(result, "Write [AT+CGMM]"),
            "vers=1": tick_of(result, "Write [vers=1]", after=1) - tick_of(result, "Write [vers=1]"),
        }
        print("probe waits: %s" % ", ".join("%s %d ms" % item for item in waits.items()))
        for probe, waited in waits.items():
            with self.subTest(probe):
                self.assertGreaterEqual(waited, 900, result.trace)
                self.assertLess(waited, 2500, result.trace)


if __name__ == "__main__":
    unittest.main()

"""Quillon.exe finds and opens the emulated module: by -t COM7 and by discovery."""
import unittest

from harness import EXE, WineSession
from module import EmulatedModule

# A /106 board: no upgrade rule admits it, so a quiet run ends right after
# identification however far the updater has grown.
REFUSED_BOARD = "unsupported_hardware"


def traced(result, text):
    return [line for line in result.trace if line.rstrip("\r\n").endswith(text)]


class OpenEmulatedModule(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("module-open").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def tearDown(self):
        # Tests share the session: a port one test announced must not be
        # discovered by the next.
        self.session.forget_serialcomm()

    def run_quillon(self, scenario, args):
        with EmulatedModule(self.session, scenario) as module:
            result = self.session.run(EXE, args, timeout=120)
        self.assertIsNotNone(result.code, "Quillon.exe did not end")
        return result, module

    def assert_at_mode(self, result, module):
        self.assertTrue(traced(result, "AT mode found"), result.trace)
        self.assertTrue(traced(result, "C module"), result.trace)
        self.assertFalse(traced(result, "ITP mode found"))
        self.assertEqual(module.commands()[0], "AT+CGMM")
        first_reply = module.events("reply")[0]
        self.assertEqual((first_reply["lines"], first_reply["final"]),
                         (["Norvane M7120x Mobile Broadband Module"], "OK"))

    def test_named_port(self):
        result, module = self.run_quillon(REFUSED_BOARD, ["-q", "-t", "COM7"])
        self.assert_at_mode(result, module)

    def test_discovery_through_the_registry(self):
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        result, module = self.run_quillon(REFUSED_BOARD, ["-q"])
        self.assertTrue([line for line in result.trace if "Try to open device" in line], result.trace)
        self.assert_at_mode(result, module)

    def test_loader_is_found_by_its_own_probe_and_restarted_once(self):
        # Its firmware does not start: the restart brings back the loader,
        # which discovery finds at once, and the quiet run ends with 1.
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        result, module = self.run_quillon("damaged_firmware", ["-q", "-t", "COM7"])
        self.assertTrue(traced(result, "ITP mode found"), result.trace)
        self.assertFalse(traced(result, "AT mode found"))
        self.assertEqual(module.commands()[:3], ["AT+CGMM", "vers=1", "AT*Q2RESET"])
        self.assertEqual(module.commands().count("AT*Q2RESET"), 1)
        self.assertEqual(result.code, 1)

    def test_port_refused_when_neither_probe_succeeds(self):
        result, module = self.run_quillon("cgmm_error", ["-q", "-t", "COM7"])
        self.assertFalse(traced(result, "AT mode found") or traced(result, "ITP mode found"), result.trace)
        self.assertEqual(module.commands()[:2], ["AT+CGMM", "vers=1"])
        self.assertEqual(module.events("reply")[1]["final"], "ERROR")


if __name__ == "__main__":
    unittest.main()

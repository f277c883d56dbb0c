"""Scenario files: the shipped ones load, and mistakes in one are refused."""
import glob
import os
import unittest

from .support import Peer  # noqa: F401  (puts the emulator on the path)
from emu import scenario

SHIPPED = os.path.join(os.path.dirname(__file__), "..", "..", "..", "tests", "e2e", "scenarios")


class Shipped(unittest.TestCase):
    def test_every_shipped_scenario_loads_and_says_what_it_is(self):
        files = sorted(glob.glob(os.path.join(SHIPPED, "*.json")))
        self.assertIn("default.json", [os.path.basename(f) for f in files])
        for path in files:
            with self.subTest(os.path.basename(path)):
                s = scenario.load(path)
                self.assertTrue(s["description"])


class Refused(unittest.TestCase):
    ROWS = [
        ("misspelt top-level key", {"start_mod": "update"}),
        ("misspelt nested key", {"update": {"fault": []}}),
        ("identity field that does not exist", {"identity": {"serial": "1"}}),
        ("after field that does not exist", {"after": {"version": "R1D06"}}),
        ("version command printing an unknown field", {"version_commands": {"AT*QVERS": ["firmware"]}}),
        ("override that is not a reply", {"commands": {"AT+CGMM": "NO CARRIER"}}),
        ("override with a zero count", {"commands": {"AT+CGMM": {"final": "ERROR", "times": 0}}}),
        ("unknown PIN state", {"pin": {"state": "PH-SIM PIN"}}),
        ("PIN given as a number", {"pin": {"pin": 1234}}),
        ("fault without an action", {"update": {"faults": [{"chunk": 1}]}}),
        ("fault at chunk 0", {"update": {"faults": [{"chunk": 0, "action": "reject"}]}}),
        ("fault with an unknown action", {"update": {"faults": [{"chunk": 1, "action": "explode"}]}}),
        ("negative restart delay", {"restart": {"delay": -1}}),
        ("restart delay as text", {"restart": {"delay": "soon"}}),
        ("protocol version out of range", {"protocol_version": -1}),
        ("identity given as a list", {"identity": ["R1D05"]}),
        ("noise of a negative length", {"commands": {"AT+CGMM": {"garbage": -1}}}),
        ("long line given as text", {"commands": {"AT+CGMM": {"long_line": "1 MB"}}}),
        ("drop that is not a flag", {"commands": {"AT+CGMM": {"drop": "yes"}}}),
        ("unknown override key", {"commands": {"AT+CGMM": {"delay": 1}}}),
        ("ring every zero seconds", {"ring": 0}),
        ("firmware neither intact nor damaged", {"firmware": "broken", "start_mode": "update"}),
        ("damaged firmware running in AT mode", {"firmware": "damaged"}),
    ]

    def test_mistakes_are_named(self):
        for name, data in self.ROWS:
            with self.subTest(name):
                with self.assertRaises(scenario.ScenarioError):
                    scenario.from_dict(data)

    def test_unreadable_file_is_a_scenario_error(self):
        with self.assertRaises(scenario.ScenarioError):
            scenario.load(os.path.join(SHIPPED, "no-such-scenario.json"))


class Delays(unittest.TestCase):
    def test_per_restart_list_repeats_its_last_entry(self):
        s = scenario.from_dict({"restart": {"delay": [1, 5]}})
        self.assertEqual([scenario.restart_delay(s, i) for i in range(3)], [1.0, 5.0, 5.0])
        self.assertIsNone(scenario.restart_delay(scenario.from_dict({"restart": {"delay": "never"}}), 0))

    def test_healing_brings_restarts_back_and_keeps_a_quick_comeback_quick(self):
        # (scenario delay, delay once healed)
        rows = [("never", 3.0), (12, 3.0), ([3, "never"], 3.0), (1, 1), (0.5, 0.5)]
        for delay, healed in rows:
            with self.subTest(delay=delay):
                s = scenario.healed(scenario.from_dict({"restart": {"delay": delay}}))
                self.assertEqual(scenario.restart_delay(s, 1), healed)

    def test_healing_keeps_damaged_firmware(self):
        s = scenario.from_dict({"firmware": "damaged", "start_mode": "update"})
        self.assertEqual(scenario.healed(s)["firmware"], "damaged")


if __name__ == "__main__":
    unittest.main()

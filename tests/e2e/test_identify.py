"""Identification and the SIM queries through the real device and AT layers under Wine, against the emulated module."""
import os
import re
import unittest

from quillon_e2e.harness import BUILD_DIR, WineSession
from quillon_e2e.module import EmulatedModule, scenario_path
from emu import scenario as scenarios  # module.py puts the emulator on the path

MODULE_CHECK = os.path.join(BUILD_DIR, "module_check.exe")
PORT = "\\\\.\\COM7"
NO_MODULE_FOUND = "No module found"

# ModuleInfo's fields in its order, with the emulator's name for each.
FIELDS = (
    ("model", "model"),
    ("productNumber", "product_number"),
    ("revision", "revision"),
    ("imei", "imei"),
    ("softwareVersion", "software_version"),
    ("buildDate", "build_date"),
)
LABEL_FIELDS = {scenarios.LABELS[key]: key for _, key in FIELDS}

_ESCAPE = re.compile(r"\\(x[0-9a-f]{2}|.)")
_ESCAPES = {"r": "\r", "n": "\n", "\\": "\\"}


def unescape(text):
    return _ESCAPE.sub(lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x" else _ESCAPES[m.group(1)],
                       text)


def parse(stdout):
    """module_check's steps: ("identify", {field: value}) or the words of the line."""
    lines = [line.rstrip("\r") for line in stdout.splitlines() if line.strip()]
    steps, i = [], 0
    while i < len(lines):
        if lines[i] == "identify":
            info = {}
            for line in lines[i + 1:i + 1 + len(FIELDS)]:
                m = re.fullmatch(r"(\w+)=\[(.*)\]", line)
                if m:
                    info[m.group(1)] = unescape(m.group(2))
            steps.append(("identify", info))
            i += 1 + len(FIELDS)
        else:
            words = re.findall(r"\[.*\]$|\S+", lines[i])
            if words[0] == "open":
                steps.append(("open", int(words[1]), int(words[2], 16)))
            else:
                steps.append(tuple(words[:1] + [unescape(w[1:-1]) if w.startswith("[") else int(w)
                                                for w in words[1:]]))
            i += 1
    return steps


def printed_by(scenario, command):
    """The identity fields a scenario's module prints for a version command."""
    override = scenario["commands"].get(command)
    if override is None:
        keys = scenario["version_commands"].get(command, [])
        return {key: scenario["identity"][key] for key in keys if scenario["identity"][key] is not None}
    printed = {}
    for line in override["lines"]:
        label, _, value = line.partition(". ")
        printed[LABEL_FIELDS[label]] = value
    return printed


def setUpModule():
    global session
    session = WineSession("identify").__enter__()


def tearDownModule():
    session.close()


class Check:
    """Runs module_check against a fresh emulated module of a scenario."""

    def check(self, scenario, *steps):
        with EmulatedModule(session, scenario) as module:
            result = session.run(MODULE_CHECK, [PORT] + list(steps), timeout=120)
        detail = "module_check %s on %s:\n%s\n%s" % (" ".join(steps), scenario, result.stdout,
                                                     result.stderr[-2000:])
        self.assertEqual(result.code, 0, detail)
        out = parse(result.stdout)
        self.assertEqual(out[0], ("open", 0, 2), detail)  # AT mode, and the model named this updater's module
        return out[1:], module, detail


class Identify(Check, unittest.TestCase):
    # Which version command's reply supplies each field (None: the field
    # keeps its fresh value), and the version commands asked in order.
    # Every row is run twice in one process: with the module's echo on,
    # then after "ATE0".
    QVERS = {name: "AT*QVERS" for name, _ in FIELDS}
    MODEL_FROM_OLD = dict(QVERS, model="AT*QVER", buildDate="AT*QVER")
    ROWS = (
        ("default", QVERS, ["AT*QVERS"]),
        ("identify_untrimmed_values", QVERS, ["AT*QVERS"]),
        ("qvers_error", {name: "AT*QVER2" for name, _ in FIELDS}, ["AT*QVERS", "AT*QVER2"]),
        ("qvers_without_model", MODEL_FROM_OLD, ["AT*QVERS", "AT*QVER"]),
        ("identify_model_from_old_command", MODEL_FROM_OLD, ["AT*QVERS", "AT*QVER"]),
        ("identify_old_command_fails", dict(QVERS, model=None, buildDate=None), ["AT*QVERS", "AT*QVER"]),
        ("identify_no_version_command", {name: None for name, _ in FIELDS}, ["AT*QVERS", "AT*QVER2"]),
    )

    def expected(self, scenario_name, sources):
        scenario = scenarios.load(scenario_path(scenario_name))
        info = {}
        for name, key in FIELDS:
            command = sources[name]
            fresh = NO_MODULE_FOUND if name == "model" else ""
            info[name] = fresh if command is None else printed_by(scenario, command)[key]
        return info

    def test_identity_comes_back_field_by_field_with_echo_on_and_off(self):
        for scenario, sources, asked in self.ROWS:
            with self.subTest(scenario=scenario):
                out, module, detail = self.check(scenario, "identify", "echo-off", "identify")
                expected = self.expected(scenario, sources)
                self.assertEqual([step[0] for step in out], ["identify", "echo-off", "identify"], detail)
                self.assertEqual(out[0][1], expected, "echo on: " + detail)
                self.assertEqual(out[1], ("echo-off", 0), detail)
                self.assertEqual(out[2][1], expected, "after ATE0: " + detail)
                self.assertEqual(module.commands(), ["AT+CGMM"] + asked + ["ATE0"] + asked)


class SimQueries(Check, unittest.TestCase):
    def pin_entries(self, module):
        """Each PIN entry command the module saw, with what followed it on
        the line before the next command."""
        seen = []
        for event in module.events():
            if event["event"] == "command":
                seen.append([event["text"]])
            elif event["event"] == "empty_line" and seen:
                seen[-1].append("")
        return [entry for entry in seen if entry[0].startswith("AT+CPIN=")]

    def test_code_opens_a_locked_sim(self):
        # The state before, the scenario's key of the code that opens it.
        for scenario_name, code_key, locked in (("pin_required", "pin", 2), ("puk_required", "puk", 3)):
            with self.subTest(scenario=scenario_name):
                code = scenarios.load(scenario_path(scenario_name))["pin"][code_key]
                out, module, detail = self.check(scenario_name, "pin", "qesfud", "enterpin", code, "pin", "qesfud")
                self.assertEqual(out, [("pin", 0, locked), ("qesfud", 4), ("enterpin", 0, code),
                                       ("pin", 0, 1), ("qesfud", 0)], detail)
                # On the wire: the quoted code, CR LF, and one empty line.
                self.assertEqual(self.pin_entries(module), [['AT+CPIN="%s"' % code, ""]])
                self.assertEqual([(e["code"], e["accepted"], e["state"]) for e in module.events("pin")],
                                 [(code, True, "READY")])

    def test_wrong_pins_lock_the_sim_behind_its_puk(self):
        pin = scenarios.load(scenario_path("pin_required"))["pin"]
        wrong = "0000" if pin["pin"] != "0000" else "9999"
        steps = []
        for _ in range(pin["tries"]):
            steps += ["enterpin", wrong, "pin"]
        out, module, detail = self.check("pin_required", *steps)
        states = [2] * (pin["tries"] - 1) + [3]
        self.assertEqual(out, [step for state in states for step in (("enterpin", 4, wrong), ("pin", 0, state))],
                         detail)
        self.assertEqual([(e["accepted"], e["tries"]) for e in module.events("pin")],
                         [(False, left) for left in range(pin["tries"] - 1, -1, -1)])
        self.assertEqual(self.pin_entries(module), [['AT+CPIN="%s"' % wrong, ""]] * pin["tries"])

    def test_code_that_could_leave_its_quotes_is_not_sent(self):
        # Sent as typed, each would reach the module: the emulator strips
        # the stray quote and takes the right PIN, or runs the second line.
        pin = scenarios.load(scenario_path("pin_required"))["pin"]["pin"]
        for code in (pin + '"', pin + '"\r\nAT+CPIN="' + pin):
            with self.subTest(code=code):
                out, module, detail = self.check("pin_required", "enterpin", code, "pin")
                self.assertEqual(out, [("enterpin", 4, code), ("pin", 0, 2)], detail)
                self.assertEqual(self.pin_entries(module), [])
                self.assertEqual(module.events("pin"), [])

    def test_unlocked_module_answers_the_update_state_query(self):
        out, module, detail = self.check("default", "pin", "qesfud")
        self.assertEqual(out, [("pin", 0, 1), ("qesfud", 0)], detail)
        self.assertEqual(module.commands(), ["AT+CGMM", "AT+CPIN?", "AT*QESFUD?"])


if __name__ == "__main__":
    unittest.main()

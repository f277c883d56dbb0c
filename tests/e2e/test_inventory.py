"""The inventory (`Quillon.exe -i`) under Wine against the emulated module:
the report on a pipe and in C:\\FWInventory.json, the exit code, the upgrade
log left as it was, and no command outside the inventory's list."""
import json
import os
import re
import select
import subprocess
import time
import unittest

from quillon_e2e.harness import EXE, WINE, WineSession
from quillon_e2e.module import EmulatedModule

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def inventory_commands():
    """The texts of the commands the inventory may send, from the code's one
    list (src/app/inventory/inventory_commands.cpp), each name looked up in
    the wire contract (src/module_interface.h)."""
    with open(os.path.join(SOURCE, "src", "app", "inventory", "inventory_commands.cpp")) as f:
        listing = re.search(r"inventoryCommands\[[^\]]*\] = \{(.*?)\};", f.read(), re.S).group(1)
    with open(os.path.join(SOURCE, "src", "module_interface.h")) as f:
        texts = dict(re.findall(r'ModuleCommand (\w+) = \{"([^"]*)"', f.read()))
    return [texts[name] for name in re.findall(r"&(\w+)", listing)]


ALLOWED = set(inventory_commands())
# Events of a module that was changed: a mode switch, a PIN entry, a frame.
CHANGES = {"mode", "pin", "header", "header_refused", "package", "offline"}
LOG = b"===FW upgrade started ===\r\r\n\r\r\nRESULT (4): Pin error\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n"
TOOL = "Quillon CXC 173 0961/1 R1A"


def setUpModule():
    global session
    session = WineSession("inventory").__enter__()


def tearDownModule():
    session.close()


def run_piped(args, timeout=120):
    """Runs the exe with its standard output on a pipe. The session's server
    is warm, so no service process holds the pipe; still, the read never
    waits past the deadline, so a pipe that stays open cannot hang the test."""
    err_path = os.path.join(session.root, "inventory-%d.err" % time.monotonic_ns())
    with open(err_path, "w") as err:
        popen = subprocess.Popen([WINE, EXE] + list(args), env=session.env, cwd=session.root,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err)
    session.children.append(popen)
    out = b""
    deadline = time.monotonic() + timeout
    fd = popen.stdout.fileno()
    while time.monotonic() < deadline:
        if select.select([fd], [], [], 0.2)[0]:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            out += chunk
        elif popen.poll() is not None and not select.select([fd], [], [], 2)[0]:
            break  # ended, and the pipe stays quiet: whoever holds it writes nothing more
    popen.stdout.close()
    try:
        code = popen.wait(timeout=max(deadline - time.monotonic(), 1))
    except subprocess.TimeoutExpired:
        popen.kill()
        popen.wait()
        code = None
    return code, out


class Inventory(unittest.TestCase):
    def setUp(self):
        with open(session.log_path(), "wb") as f:
            f.write(LOG)
        self.report_path = os.path.join(session.drive_c, "FWInventory.json")
        if os.path.exists(self.report_path):
            os.unlink(self.report_path)

    def tearDown(self):
        session.forget_serialcomm()

    def inventory(self, scenario, code, status, args=("-i",)):
        """Runs one inventory; returns the report and the module's commands."""
        if scenario is None:
            commands, events = [], []
            got, out = run_piped(args)
        else:
            with EmulatedModule(session, scenario) as module:
                session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
                got, out = run_piped(args)
            commands, events = module.commands(), module.events()
        detail = "%s: stdout %r, commands %r" % (scenario, out[:400], commands)
        self.assertEqual(got, code, detail)
        report = json.loads(out.decode("utf-8"))
        with open(self.report_path, "rb") as f:
            self.assertEqual(f.read(), out, "the file holds what stdout got")
        self.assertFalse(os.path.exists(self.report_path + ".tmp"))
        self.assertEqual(report["schema"], 1)
        self.assertEqual(report["tool"], TOOL)
        self.assertEqual(report["status"], status, detail)
        self.assertEqual(report["exitCode"], code)
        self.assertEqual(report["lastRun"], {"code": 4, "text": "Pin error"})
        self.assertEqual(session.log_bytes(), LOG, "the upgrade log is untouched")
        self.assertLessEqual(set(commands), ALLOWED, detail)
        self.assertEqual([e for e in events if e["event"] in CHANGES], [], detail)
        return report, commands

    def test_applicable(self):
        report, commands = self.inventory("default", 0, "applicable")
        self.assertEqual(report["module"]["port"], "COM7")
        self.assertEqual(report["module"]["mode"], "at")
        self.assertEqual(report["module"]["softwareVersion"], "R1D05")
        self.assertEqual(report["target"]["version"], "R1D06")
        package = report["target"]["packages"][0]
        self.assertEqual((package["from"], package["to"]), ("", "R1D06"))
        self.assertEqual(len(package["sha256"]), 64)
        self.assertIn("AT*QESFUD?", commands)

    def test_current(self):
        report, _ = self.inventory("already_r1d06", 20, "current", args=("-q", "-i"))
        self.assertEqual(report["module"]["softwareVersion"], "R1D06")

    def test_not_supported_gives_the_refusal_text_in_utf8(self):
        report, commands = self.inventory("unsupported_hardware", 22, "not-supported")
        self.assertIn("doesn\u2019t support", report["reason"])
        self.assertIsNone(report["target"])
        self.assertNotIn("AT+CPIN?", commands)

    def test_pin_required(self):
        report, commands = self.inventory("pin_required", 26, "pin-required")
        self.assertEqual(report["sim"], "pin")
        self.assertEqual(commands[-2:], ["AT*QESFUD?", "AT+CPIN?"])

    def test_update_mode(self):
        report, _ = self.inventory("start_in_update_mode", 24, "update-mode")
        self.assertEqual(report["module"]["mode"], "update")
        self.assertIsNone(report["target"])

    def test_no_module(self):
        report, _ = self.inventory(None, 21, "no-module")
        self.assertIsNone(report["module"])


if __name__ == "__main__":
    unittest.main()

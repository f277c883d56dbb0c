"""The emulator as a program on a real pseudo-terminal: link, exchange, restart, exit."""
import errno
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest

from .support import accepted, request
from emu import package

PROGRAM = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "module_emulator.py")


class Emulator:
    """One emulator process, read line by line from its stdout."""

    def __init__(self, workdir, scenario, *extra):
        self.workdir = workdir
        self.record = os.path.join(workdir, "record.jsonl")
        path = os.path.join(workdir, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        self.popen = subprocess.Popen([sys.executable, PROGRAM, "--scenario", path, "--record", self.record]
                                      + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._pending = b""

    def line(self, timeout=10):
        deadline = time.monotonic() + timeout
        while b"\n" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.popen.stdout], [], [], left)[0]:
                raise AssertionError("no line from the emulator within %s s" % timeout)
            chunk = os.read(self.popen.stdout.fileno(), 4096)
            if not chunk:
                raise AssertionError("emulator ended: %r" % self.popen.stderr.read())
            self._pending += chunk
        text, self._pending = self._pending.split(b"\n", 1)
        return text.decode()

    def stop(self):
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGTERM)
        try:
            return self.popen.wait(timeout=10)
        finally:
            if self.popen.poll() is None:
                self.popen.kill()
                self.popen.wait()
            self.popen.stdout.close()
            self.popen.stderr.close()

    def events(self):
        with open(self.record) as f:
            return [json.loads(line) for line in f]


class Port:
    """The updater's end: the slave opened through the link, raw."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def read(self, count, timeout=5):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            data += os.read(self.fd, count - len(data))
        return data

    def command(self, text, final=b"\r\nOK\r\n"):
        os.write(self.fd, text + b"\r\n")
        data = b""
        while not data.endswith(final) and not data.endswith(b"\r\nERROR\r\n"):
            more = self.read(1)
            if not more:
                break
            data += more
        return data

    def hung_up(self, timeout=5):
        """True once the module has closed its end."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if select.select([self.fd], [], [], 0.1)[0]:
                try:
                    if os.read(self.fd, 1) == b"":
                        return True
                except OSError as e:
                    return e.errno == errno.EIO
        return False

    def close(self):
        os.close(self.fd)


class OnThePty(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="module-emulator-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, scenario, *extra):
        emulator = Emulator(self.dir, scenario, *extra)
        self.addCleanup(emulator.stop)
        return emulator

    def test_update_restart_and_clean_exit(self):
        link = os.path.join(self.dir, "com7")
        ready = os.path.join(self.dir, "ready")
        emulator = self.start({"restart": {"delay": 0.5, "drop_delay": 0.1}}, "--link", link, "--ready-file", ready)
        first = emulator.line()
        self.assertTrue(first.startswith("READY /dev/"), first)
        pty = first.split(" ", 1)[1]
        self.assertEqual(os.readlink(link), pty)
        with open(ready) as f:
            self.assertEqual(f.read().strip(), pty)

        port = Port(link)
        reply = port.command(b"AT+CGMM")
        self.assertTrue(reply.startswith(b"AT+CGMM\r\r\n") and b"M7120x" in reply and reply.endswith(b"\r\nOK\r\n"),
                        reply)
        port.command(b"ATE0")
        self.assertEqual(port.command(b"AT*QESFUD=3"), b"\r\nOK\r\n")
        image = package.build("R1D06", 20000)
        for start in range(0, len(image), 8192):
            chunk = image[start:start + 8192]
            os.write(port.fd, request(len(chunk)) + chunk)
            self.assertEqual(port.read(24), accepted(request(len(chunk))))
        self.assertEqual(port.read(24 + 6), accepted(request(len(image) % 8192)) + b"\r\nOK\r\n")

        self.assertEqual(port.command(b"AT*Q2RESET"), b"\r\nOK\r\n")
        self.assertTrue(port.hung_up(), "the old port stays alive")
        port.close()
        self.assertEqual(emulator.line(), "OFFLINE")
        self.assertFalse(os.path.lexists(link))
        self.assertFalse(os.path.exists(ready))
        second = emulator.line()
        self.assertTrue(second.startswith("READY /dev/"), second)
        self.assertEqual(os.readlink(link), second.split(" ", 1)[1])

        port = Port(link)
        reply = port.command(b"AT*QVERS")
        port.close()
        self.assertIn(b"Software Version. R1D06\r\n", reply)

        self.assertEqual(emulator.stop(), 0)
        self.assertFalse(os.path.lexists(link))
        self.assertFalse(os.path.exists(ready))
        events = emulator.events()
        self.assertEqual(events[-1]["event"], "stop")
        package_event = [e for e in events if e["event"] == "package"][0]
        self.assertEqual((package_event["verdict"], package_event["bytes"], package_event["applied"]),
                         ("intact", 20000, True))
        self.assertEqual([e["event"] for e in events if e["event"] in ("online", "offline")],
                         ["online", "offline", "online"])

    def test_a_host_gone_mid_frame_leaves_a_loader_the_next_host_can_restart(self):
        # The host is gone after half a frame: the module drops it once the
        # line is quiet, and the next host's probes reach its loader.
        link = os.path.join(self.dir, "com7")
        emulator = self.start({"restart": {"delay": 0.5, "drop_delay": 0.1}}, "--link", link)
        emulator.line()
        port = Port(link)
        port.command(b"ATE0")
        port.command(b"AT*QESFUD=3")
        image = package.build("R1D06", 8 * 8192)
        os.write(port.fd, request(8192) + image[:8192])
        self.assertEqual(port.read(24), accepted(request(8192)))
        os.write(port.fd, request(8192) + image[8192:12000])
        port.close()
        time.sleep(2.0)                                  # past the quiet gap
        port = Port(link)
        self.assertEqual(port.command(b"AT+CGMM"), b"\r\nERROR\r\n", "a loader, not a payload")
        self.assertEqual(port.command(b"vers=1"), b"\r\nOK\r\n")
        self.assertEqual(port.command(b"AT*Q2RESET"), b"\r\nOK\r\n")
        port.close()
        self.assertEqual(emulator.line(), "OFFLINE")
        emulator.line()
        port = Port(link)
        reply = port.command(b"AT*QVERS")
        port.close()
        self.assertIn(b"Software Version. R1D05\r\n", reply, "the old firmware, intact")
        events = emulator.events()
        self.assertEqual(len([e for e in events if e["event"] == "frame_dropped"]), 1)
        self.assertEqual([e["verdict"] for e in events if e["event"] == "package"], ["interrupted"])

    def test_wine_link_follows_the_pty_and_goes_with_the_module(self):
        prefix = os.path.join(self.dir, "prefix")
        emulator = self.start({"restart": {"delay": "never", "drop_delay": 0}}, "--prefix", prefix, "--com", "12")
        pty = emulator.line().split(" ", 1)[1]
        link = os.path.join(prefix, "dosdevices", "com12")
        self.assertEqual(os.readlink(link), pty)
        port = Port(link)
        port.command(b"AT*Q2RESET")
        self.assertEqual(emulator.line(), "OFFLINE")
        port.close()
        self.assertFalse(os.path.lexists(link))
        # Off the bus for good, it still ends cleanly on SIGTERM.
        self.assertEqual(emulator.stop(), 0)
        self.assertEqual(emulator.events()[-1]["event"], "stop")

    def test_healed_module_that_never_came_back_returns_at_once(self):
        link = os.path.join(self.dir, "com7")
        emulator = self.start({"restart": {"delay": "never", "drop_delay": 0}}, "--link", link)
        emulator.line()
        port = Port(link)
        port.command(b"AT*Q2RESET")
        self.assertEqual(emulator.line(), "OFFLINE")
        port.close()
        emulator.popen.send_signal(signal.SIGUSR1)
        self.assertTrue(emulator.line().startswith("READY /dev/"))
        self.assertEqual(emulator.line(), "HEALED")
        port = Port(link)
        self.assertIn(b"M7120x", port.command(b"AT+CGMM"))
        port.close()
        self.assertEqual(emulator.stop(), 0)
        self.assertEqual([e["event"] for e in emulator.events() if e["event"] in ("healed", "online")],
                         ["online", "healed", "online"])

    def test_link_of_another_owner_is_left_alone(self):
        link = os.path.join(self.dir, "com7")
        emulator = self.start({}, "--link", link)
        emulator.line()
        os.unlink(link)
        os.symlink("/dev/null", link)
        self.assertEqual(emulator.stop(), 0)
        self.assertEqual(os.readlink(link), "/dev/null")

    def test_bad_scenario_exits_2_and_names_the_key(self):
        link = os.path.join(self.dir, "com7")
        emulator = Emulator(self.dir, {"restart": {"dealy": 1}}, "--link", link)
        code = emulator.popen.wait(timeout=10)
        err = emulator.popen.stderr.read().decode()
        emulator.stop()
        self.assertEqual(code, 2)
        self.assertIn("restart.dealy", err)
        self.assertFalse(os.path.lexists(link))


if __name__ == "__main__":
    unittest.main()

"""The serial layer on a real Wine COM port, with a pseudo-terminal playing the module."""
import os
import re
import select
import threading
import time
import tty
import unittest

from quillon_e2e.harness import BUILD_DIR, WineSession

SERIAL_CHECK = os.path.join(BUILD_DIR, "serial_check.exe")
PORT = "\\\\.\\COM7"


class PtyPeer:
    """The module's end of a pseudo-terminal: records what arrives and
    answers whole lines from a table of replies."""

    def __init__(self, replies=None):
        self.master, self.slave = os.openpty()
        # Holding the slave open keeps the master readable between the
        # updater's opens; raw, so nothing is echoed or translated.
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.replies = replies or {}
        self.received = bytearray()
        self._pending = bytearray()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop.is_set():
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                time.sleep(0.05)
                continue
            self.received += data
            self._pending += data
            while b"\r" in self._pending:
                line, _, rest = bytes(self._pending).partition(b"\r")
                self._pending = bytearray(rest)
                reply = self.replies.get(line)
                if reply is not None:
                    os.write(self.master, reply)

    def hang_up(self):
        """The module drops off the bus: its end of the line goes away."""
        self._stop.set()
        self._thread.join()
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def close(self):
        self.hang_up()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None


def steps(result):
    """serial_check's output lines, split into words (the last kept whole)."""
    lines = [line.rstrip("\r") for line in result.stdout.splitlines()]
    return [line.split(" ", 3) for line in lines if line]


def wait_for_line(process, prefix, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        with open(process.out_path, "r", errors="replace") as f:
            if any(line.startswith(prefix) for line in f.read().splitlines()):
                return True
        if not process.running():
            return False
        time.sleep(0.05)
    return False


class SerialPort(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("serial").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def tearDown(self):
        # Tests share the session: a port one test announced must not be
        # discovered by the next.
        self.session.forget_serialcomm()

    def peer(self, replies=None):
        peer = PtyPeer(replies)
        self.addCleanup(peer.close)
        self.session.link_com(7, peer.path)
        return peer

    def check(self, *args, timeout=60):
        result = self.session.run(SERIAL_CHECK, list(args), timeout=timeout)
        self.assertEqual(result.code, 0, "serial_check failed: %r\n%s" % (result.stdout, result.stderr[-2000:]))
        return result

    def test_open_write_and_read_a_line(self):
        peer = self.peer({b"AT+CGMM": b"\r\nM7120x\r\n\r\nOK\r\n"})
        result = self.check("open", PORT, "write", "AT+CGMM\\r", "read", "64", "3000", "version", "close")
        out = steps(result)
        self.assertEqual(out[0], ["open", "1"])
        self.assertEqual(out[1], ["write", "8"])
        self.assertEqual(out[2][0:2], ["read", "16"])
        self.assertEqual(out[2][3], "\\r\\nM7120x\\r\\n\\r\\nOK\\r\\n")
        # The vendor request fails on a pty: the text comes back empty.
        self.assertEqual(out[3], ["version", "[]"])
        self.assertEqual(bytes(peer.received), b"AT+CGMM\r")

        messages = [t for t in result.trace if t.startswith("..\\..\\..\\src\\winserial:")]
        opened = r" SerialOpen: \d\d:\d\d:\d\d  \(-?\d+\) DEBUG: New connection 1, 0x[0-9A-F]+\n\n$"
        self.assertTrue(any(re.search(opened, t) for t in messages), messages)
        self.assertTrue(any(re.search(r" DEBUG: dwMaxTxQueue=\d+\n\n$", t) for t in messages), messages)
        self.assertFalse([t for t in messages if "WARNING" in t], messages)

    def test_silent_port_spends_whole_attempts_and_polls_return_at_once(self):
        self.peer()
        result = self.check("open", PORT, "read", "24", "3000", "read", "24", "500", "read", "24", "0", "close")
        out = steps(result)
        self.assertEqual(out[0], ["open", "1"])
        three, poll, zero = out[1], out[2], out[3]
        print("three attempts %s ms, a poll %s ms" % (three[2], poll[2]))
        self.assertEqual(three[1], "0")
        # Three attempts of about one second each; loose bounds for a busy machine.
        self.assertGreaterEqual(int(three[2]), 2700, three)
        self.assertLess(int(three[2]), 9000, three)
        self.assertEqual(poll[1], "0")
        self.assertLess(int(poll[2]), 500, poll)
        self.assertEqual(zero[1:3], ["0", "0"])

    def test_vanished_port_ends_a_read_without_limit(self):
        peer = self.peer()
        process = self.session.start(SERIAL_CHECK, ["open", PORT, "read", "1", "-1", "close"])
        self.assertTrue(wait_for_line(process, "open 1", 60), "the port did not open")
        # Not a wait for an event but the span under test: more than one
        # whole attempt on a present, silent port, which must not end the read.
        time.sleep(1.5)
        self.assertTrue(process.running(), "the read ended on a present port")
        hung_up = time.time()
        peer.hang_up()
        result = process.wait(60)
        noticed = time.time() - hung_up

        self.assertEqual(result.code, 0, result.stderr[-2000:])
        read = steps(result)[1]
        self.assertEqual(read[0:2], ["read", "-1"], read)
        # Four failed attempts of about a second, with three 100-ms pauses.
        self.assertLess(noticed, 15, "the vanished port was noticed only after %.1f s" % noticed)
        print("vanished port noticed after %.1f s" % noticed)
        failures = [t for t in result.trace if "SerialRead: " in t and "WARNING: Read failed GetLastError" in t]
        self.assertEqual(len(failures), 4, result.trace)
        self.assertTrue(all(t.endswith("GetLastError 21\n") for t in failures), failures)
        # The port the server opened hung up under it: a server that had
        # taken it as its terminal would have got a SIGHUP and written out
        # all its objects.
        server = self.session.server.pid
        self.assertNotEqual(os.getsid(server), server, "the Wine server leads a session of its own")
        self.assertEqual(os.getpgid(server), server, "the Wine server has a process group of its own")
        with open(os.path.join(self.session.root, "wineserver.log"), "rb") as f:
            self.assertEqual(f.read(), b"", "the Wine server wrote out its objects at the hang-up")

    def test_discovery_finds_the_port_through_serialcomm(self):
        peer = self.peer({b"AT": b"\r\nOK\r\n"})
        self.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        self.session.reg_add_serialcomm("\\Device\\Serial9", "COM9")
        result = self.check("ports", "mdm", "open", "@0", "write", "AT\\r", "read", "6", "3000", "close")
        out = steps(result)
        ports = [line[1] for line in out if line[0] == "port"]
        self.assertIn("[\\\\.\\COM7]", ports)
        self.assertNotIn("[\\\\.\\COM9]", ports)
        # Interface paths come first; under Wine there are none of the module's.
        self.assertEqual(ports[-1], "[\\\\.\\COM7]")
        self.assertIn(["open", "1"], out)
        self.assertIn(["read", "6"], [line[0:2] for line in out])
        self.assertEqual(bytes(peer.received), b"AT\r")
        matched = " SerialGetPorts: .* DEBUG: " + re.escape("match port(%s), %d\n\n" % (PORT, len(ports))) + "$"
        self.assertTrue(any(re.search(matched, t) for t in result.trace), result.trace)

    def test_interface_source_walks_a_real_modem_interface(self):
        name = "Halvard M7120x Mobile Broadband Data Modem (COM7)"
        result = self.check("add-modem", name, "interfaces", "friendly")
        out = steps(result)
        self.assertEqual(out[0], ["add-modem", "0"])
        listed = [line for line in out if line[0] == "interface"]
        self.assertEqual(len(listed), 1, out)
        self.assertTrue(listed[0][2].startswith("[\\\\?\\root#modem#"), listed)
        self.assertEqual(listed[0][3], "[%s]" % name)
        # Discovery's own walk takes the interface's detail into its record
        # without complaint. (Wine keeps no device type for a device, so the
        # interface is then passed over as not a modem.)
        self.assertIn(["friendly", "0"], out)
        warnings = [t for t in result.trace if "WARNING" in t]
        self.assertEqual(warnings, [])


if __name__ == "__main__":
    unittest.main()

"""The emulated module inside a Wine session: its COM link, a round trip, a restart."""
import errno
import os
import select
import time
import tty
import unittest

from harness import WineSession
from module import EmulatedModule


def exchange(path, command, timeout=5):
    """Writes one command on the port's Linux side and reads up to the final line."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    try:
        tty.setraw(fd)
        os.write(fd, command + b"\r\n")
        reply = b""
        deadline = time.monotonic() + timeout
        while not (reply.endswith(b"\r\nOK\r\n") or reply.endswith(b"\r\nERROR\r\n")):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                break
            try:
                more = os.read(fd, 4096)
            except OSError as e:
                if e.errno != errno.EIO:
                    raise
                more = b""
            if not more:
                break
            reply += more
        return reply
    finally:
        os.close(fd)


class ModuleLink(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("module-link").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def test_com7_follows_the_module_across_a_restart(self):
        with EmulatedModule(self.session, {"restart": {"delay": 1, "drop_delay": 0.1}}) as module:
            link = module.link()
            self.assertEqual(os.readlink(link), module.pty)
            reply = exchange(link, b"AT+CGMM")
            self.assertIn(b"M7120x", reply)
            self.assertTrue(reply.endswith(b"\r\nOK\r\n"), reply)

            exchange(link, b"AT*Q2RESET")
            module.wait_offline()
            self.assertFalse(os.path.lexists(link), "com7 outlives the module's pty")
            second = module.wait_ready()
            self.assertEqual(os.readlink(link), second)
            self.assertIn(b"Software Version. R1D05", exchange(link, b"AT*QVERS"))
            self.assertEqual(module.commands(), ["AT+CGMM", "AT*Q2RESET", "AT*QVERS"])
        self.assertFalse(os.path.lexists(link), "com7 left behind")
        self.assertEqual(module.events()[-1]["event"], "stop")

    def test_a_scenario_by_name(self):
        with EmulatedModule(self.session, "cgmm_error") as module:
            self.assertEqual(exchange(module.link(), b"AT+CGMM"), b"AT+CGMM\r\r\nERROR\r\n")
            self.assertEqual(module.events("start")[0]["identity"]["product_number"], "QHW 552 08/101")


if __name__ == "__main__":
    unittest.main()

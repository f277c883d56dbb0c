"""What a misbehaving module sends in AT mode (noise, an endless line, a
reply cut off by a drop, incoming-call lines, no SIM), and how its faults go
away when it is healed."""
import unittest

from .support import Peer

OK_LINE = b"\r\nOK\r\n"
ERROR_LINE = b"\r\nERROR\r\n"
QESFUD_OK = b"\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n"


class ScriptedNoise(unittest.TestCase):
    def peer(self, rule):
        peer = Peer(commands={"AT*QVERS": rule})
        peer.module.echo = False
        return peer

    def test_garbage_replaces_the_final_line_and_is_the_same_every_run(self):
        first = self.peer({"garbage": 64}).send(b"AT*QVERS\r\n")
        again = self.peer({"garbage": 64}).send(b"AT*QVERS\r\n")
        self.assertEqual(len(first), 64)
        self.assertEqual(first, again)
        self.assertNotIn(b"OK", first)

    def test_garbage_after_lines_with_a_final_line_when_asked(self):
        reply = self.peer({"lines": ["Model. Norvane M7120x"], "garbage": 10, "final": "OK"}).send(b"AT*QVERS\r\n")
        self.assertTrue(reply.startswith(b"\r\nModel. Norvane M7120x\r\n"), reply)
        self.assertTrue(reply.endswith(OK_LINE), reply)
        self.assertEqual(len(reply), len(b"\r\nModel. Norvane M7120x\r\n") + 10 + len(OK_LINE))

    def test_long_line_of_the_asked_length_before_the_final_line(self):
        reply = self.peer({"long_line": 1048576}).send(b"AT*QVERS\r\n")
        self.assertTrue(reply.startswith(b"\r\n0123456789"))
        self.assertTrue(reply.endswith(b"\r\n" + OK_LINE))
        self.assertEqual(len(reply), 2 + 1048576 + 2 + len(OK_LINE))
        self.assertNotIn(b"\r", reply[2:2 + 1048576])

    def test_only_the_first_times_are_scripted(self):
        peer = self.peer({"garbage": 8, "times": 1})
        self.assertEqual(len(peer.send(b"AT*QVERS\r\n")), 8)
        self.assertIn(b"Software Version. R1D05", peer.send(b"AT*QVERS\r\n"))


class DropMidReply(unittest.TestCase):
    def test_half_a_reply_then_off_the_bus_and_back_whole(self):
        peer = Peer(commands={"AT*QVERS": {"lines": ["Model. Norvane M7120x"], "drop": True, "times": 1}},
                    restart={"delay": 2})
        peer.module.echo = False
        self.assertEqual(peer.send(b"AT*QVERS\r\n"), b"\r\nModel. Norvane M7120x\r\n")
        self.assertEqual(peer.offline, [2.0])
        self.assertEqual(peer.events("fault")[0]["action"], "drop")
        peer.come_back()
        peer.module.echo = False
        self.assertTrue(peer.send(b"AT*QVERS\r\n").endswith(OK_LINE))


class Ring(unittest.TestCase):
    def test_ring_lines_between_replies_in_at_mode_only(self):
        peer = Peer(ring=0.5)
        peer.module.echo = False
        self.assertEqual(peer.wait(0.5), b"\r\nRING\r\n")
        self.assertEqual(peer.wait(0.2), b"")
        self.assertEqual(peer.send(b"AT\r\n"), OK_LINE)
        self.assertEqual(peer.wait(0.3), b"\r\nRING\r\n")
        peer.update_mode()
        self.assertEqual(peer.wait(0.5) + peer.wait(0.5), b"")

    def test_no_ring_while_hung(self):
        peer = Peer(ring=0.5, silent=True)
        self.assertEqual(peer.wait(0.5) + peer.wait(0.5), b"")


class NoSim(unittest.TestCase):
    def test_pin_and_update_state_queries_fail_and_no_code_opens_it(self):
        peer = Peer(pin={"state": "NO SIM"})
        peer.module.echo = False
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), ERROR_LINE)
        self.assertEqual(peer.send(b"AT*QESFUD?\r\n"), ERROR_LINE)
        self.assertEqual(peer.send(b'AT+CPIN="1234"\r\n\r\n'), ERROR_LINE)


class Heal(unittest.TestCase):
    def test_scripted_replies_end_and_the_sim_is_ready(self):
        peer = Peer(commands={"AT*QESFUD?": "silent", "AT+CGMM": "ERROR"}, pin={"state": "SIM PIN"}, ring=0.5)
        peer.module.echo = False
        self.assertEqual(peer.send(b"AT*QESFUD?\r\n"), b"")
        peer.module.heal(peer.now)
        self.assertEqual(peer.send(b"AT*QESFUD?\r\n"), QESFUD_OK)
        self.assertIn(b"M7120x", peer.send(b"AT+CGMM\r\n"))
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"\r\n+CPIN: READY\r\n\r\nOK\r\n")
        self.assertEqual(peer.wait(1), b"")
        self.assertEqual(peer.events("healed")[0]["pin"], "READY")

    def test_a_hung_loader_answers_again_but_stays_in_update_mode(self):
        peer = Peer()
        peer.update_mode()
        peer.module.hung = True
        self.assertEqual(peer.send(b"AT+CGMM\r\n"), b"")
        peer.module.heal(peer.now)
        self.assertEqual(peer.send(b"AT+CGMM\r\n"), ERROR_LINE)
        self.assertEqual(peer.send(b"vers=1\r\n"), OK_LINE)
        self.assertEqual(peer.events("healed")[0]["mode"], "update")

    def test_restarts_come_back_and_build_dates_change_afterwards(self):
        peer = Peer(restart={"delay": "never", "drop_delay": 0}, keep_build_date=True,
                    after={"software_version": "R1D05"})
        peer.module.heal(peer.now)
        self.assertFalse(peer.module.s["keep_build_date"])
        self.assertEqual(peer.module.s["after"], {})
        peer.send(b"AT*Q2RESET\r\n")
        peer.wait(0)
        self.assertEqual(peer.offline, [3.0])


if __name__ == "__main__":
    unittest.main()

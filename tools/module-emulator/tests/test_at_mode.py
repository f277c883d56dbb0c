"""AT mode: the reply bytes the updater parses, echo, PIN handling, overrides."""
import unittest

from .support import Peer

QVERS_LINES = (b"Model. Norvane M7120x\r\n"
               b"Product Number. QHW 552 08/101\r\n"
               b"Revision. R1J\r\n"
               b"IMEI Data. 354712030154886\r\n"
               b"Software Version. R1D05\r\n"
               b"Build Date. Sep 21 2009 16:04:12\r\n")


class ReplyForms(unittest.TestCase):
    # (name, scenario, command as written, reply with echo off)
    ROWS = [
        ("model line names the family", {}, b"AT+CGMM\r\n",
         b"\r\nNorvane M7120x Mobile Broadband Module\r\n\r\nOK\r\n"),
        ("lower case is the same command", {}, b"at+cgmm\r\n",
         b"\r\nNorvane M7120x Mobile Broadband Module\r\n\r\nOK\r\n"),
        ("configured model line", {"identity": {"cgmm": "C6640 Minicard"}}, b"AT+CGMM\r\n",
         b"\r\nC6640 Minicard\r\n\r\nOK\r\n"),
        ("update-state line, magic protocol", {}, b"AT*QESFUD?\r\n",
         b"\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n"),
        ("update-state line, older protocol", {"protocol_version": 16}, b"AT*QESFUD?\r\n",
         b"\r\n*QESFUD: {state 0, version 0x00000010}\r\n\r\nOK\r\n"),
        ("full version reply", {}, b"AT*QVERS\r\n", b"\r\n" + QVERS_LINES + b"\r\nOK\r\n"),
        ("second version command", {}, b"AT*QVER2\r\n", b"\r\n" + QVERS_LINES + b"\r\nOK\r\n"),
        ("short version reply", {}, b"AT*QVER\r\n",
         b"\r\nModel. Norvane M7120x\r\nSoftware Version. R1D05\r\n"
         b"Build Date. Sep 21 2009 16:04:12\r\n\r\nOK\r\n"),
        ("absent field prints no line", {"identity": {"model": None, "imei": None},
                                         "version_commands": {"AT*QVERS": ["model", "imei", "revision"]}},
         b"AT*QVERS\r\n", b"\r\nRevision. R1J\r\n\r\nOK\r\n"),
        ("SIM ready", {}, b"AT+CPIN?\r\n", b"\r\n+CPIN: READY\r\n\r\nOK\r\n"),
        ("SIM wants PIN", {"pin": {"state": "SIM PIN"}}, b"AT+CPIN?\r\n", b"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"),
        ("SIM wants PUK", {"pin": {"state": "SIM PUK"}}, b"AT+CPIN?\r\n", b"\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n"),
        ("update-state query refused while the SIM is locked", {"pin": {"state": "SIM PIN"}},
         b"AT*QESFUD?\r\n", b"\r\nERROR\r\n"),
        ("unlocked SIM need not block it", {"pin": {"state": "SIM PIN", "blocks_update_query": False}},
         b"AT*QESFUD?\r\n", b"\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n"),
        ("other open kinds only answer", {}, b"AT*QESFUD=1\r\n", b"\r\nOK\r\n"),
        ("back", {}, b"AT+BACK\r\n", b"\r\nOK\r\n"),
        ("unknown command", {}, b"AT+COPS?\r\n", b"\r\nERROR\r\n"),
        ("unknown command answered OK when configured", {"unknown_reply": "OK"}, b"AT+COPS?\r\n", b"\r\nOK\r\n"),
        ("update-mode probe means nothing in AT mode", {}, b"vers=1\r\n", b"\r\nERROR\r\n"),
        ("model command failing", {"commands": {"AT+CGMM": "ERROR"}}, b"AT+CGMM\r\n", b"\r\nERROR\r\n"),
        ("version command failing", {"commands": {"at*qvers": "ERROR"}}, b"AT*QVERS\r\n", b"\r\nERROR\r\n"),
        ("command never answered", {"commands": {"AT+CGMM": "silent"}}, b"AT+CGMM\r\n", b""),
        ("scripted reply", {"commands": {"AT+CGMM": {"lines": ["X", "Y"], "final": "OK"}}}, b"AT+CGMM\r\n",
         b"\r\nX\r\nY\r\n\r\nOK\r\n"),
        ("module that answers nothing", {"silent": True}, b"AT+CGMM\r\n", b""),
    ]

    def test_replies_with_echo_off(self):
        for name, scenario, command, expected in self.ROWS:
            with self.subTest(name):
                peer = Peer(**scenario)
                peer.module.echo = False
                self.assertEqual(peer.send(command), expected)

    def test_reply_does_not_depend_on_how_the_bytes_arrive(self):
        for name, scenario, command, expected in self.ROWS:
            with self.subTest(name):
                peer = Peer(**scenario)
                peer.module.echo = False
                self.assertEqual(peer.send(command, bytewise=True), expected)


class Echo(unittest.TestCase):
    def test_echo_until_ate0_and_back_with_ate1(self):
        peer = Peer()
        self.assertEqual(peer.send(b"AT\r\n"), b"AT\r\r\nOK\r\n")
        self.assertEqual(peer.send(b"ATE0\r\n"), b"ATE0\r\r\nOK\r\n")
        self.assertEqual(peer.send(b"AT\r\n"), b"\r\nOK\r\n")
        self.assertEqual(peer.send(b"ATE1\r\n"), b"\r\nOK\r\n")
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"AT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n")

    def test_command_waits_for_its_carriage_return(self):
        peer = Peer()
        self.assertEqual(peer.send(b"AT+CG"), b"")
        self.assertEqual(peer.send(b"MM"), b"")
        self.assertTrue(peer.send(b"\r\n").endswith(b"\r\nOK\r\n"))
        self.assertEqual([e["text"] for e in peer.events("command")], ["AT+CGMM"])

    def test_two_commands_in_one_write_get_two_replies(self):
        peer = Peer()
        peer.module.echo = False
        self.assertEqual(peer.send(b"AT\r\nAT+COPS?\r\n"), b"\r\nOK\r\n\r\nERROR\r\n")


class SlowReplies(unittest.TestCase):
    def test_every_answer_comes_its_delay_after_its_command_in_order(self):
        peer = Peer(reply_delay=0.8)
        self.assertEqual(peer.send(b"ATE0\r\n"), b"", "nothing at once")
        peer.wait(0.4)
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"")
        self.assertEqual(peer.wait(0.4), b"ATE0\r\r\nOK\r\n", "the first answer, 0.8 s after its command")
        self.assertIn(b"+CPIN: READY", peer.wait(0.4), "then the second, 0.8 s after its own")
        self.assertEqual(peer.wait(1.0), b"")


class Pin(unittest.TestCase):
    def test_pin_entry_with_its_extra_empty_line_gets_one_reply(self):
        peer = Peer(pin={"state": "SIM PIN", "pin": "4711"})
        peer.module.echo = False
        self.assertEqual(peer.send(b'AT+CPIN="4711"\r\n\r\n'), b"\r\nOK\r\n")
        self.assertEqual(len(peer.events("empty_line")), 1)
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"\r\n+CPIN: READY\r\n\r\nOK\r\n")
        self.assertTrue(peer.send(b"AT*QESFUD?\r\n").endswith(b"\r\nOK\r\n"))

    def test_three_wrong_pins_lock_the_sim_and_the_puk_unlocks_it(self):
        peer = Peer(pin={"state": "SIM PIN", "pin": "4711", "puk": "87654321"})
        peer.module.echo = False
        for code, state in (("0000", "SIM PIN"), ("", "SIM PIN"), ("1234", "SIM PUK")):
            self.assertEqual(peer.send(b'AT+CPIN="%s"\r\n\r\n' % code.encode()), b"\r\nERROR\r\n")
            self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"\r\n+CPIN: %s\r\n\r\nOK\r\n" % state.encode())
        # Once locked, even the right PIN is refused; the PUK alone opens it.
        self.assertEqual(peer.send(b'AT+CPIN="4711"\r\n\r\n'), b"\r\nERROR\r\n")
        self.assertEqual(peer.send(b'AT+CPIN="87654321"\r\n\r\n'), b"\r\nOK\r\n")
        self.assertEqual(peer.send(b"AT+CPIN?\r\n"), b"\r\n+CPIN: READY\r\n\r\nOK\r\n")

    def test_a_code_for_a_ready_sim_is_refused(self):
        peer = Peer()
        peer.module.echo = False
        self.assertEqual(peer.send(b'AT+CPIN="1234"\r\n\r\n'), b"\r\nERROR\r\n")

    def test_sim_asks_again_after_a_restart(self):
        peer = Peer(pin={"state": "SIM PIN", "pin": "4711"}, restart={"delay": 1, "drop_delay": 0})
        peer.send(b'AT+CPIN="4711"\r\n\r\n')
        peer.send(b"AT*Q2RESET\r\n")
        peer.wait(0)
        peer.come_back()
        self.assertIn(b"+CPIN: SIM PIN", peer.send(b"AT+CPIN?\r\n"))


class Overrides(unittest.TestCase):
    def test_update_state_query_fails_for_the_first_tries_only(self):
        peer = Peer(commands={"AT*QESFUD?": {"final": "ERROR", "times": 2}})
        peer.module.echo = False
        replies = [peer.send(b"AT*QESFUD?\r\n") for _ in range(3)]
        self.assertEqual(replies[:2], [b"\r\nERROR\r\n"] * 2)
        self.assertEqual(replies[2], b"\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n")


class StartInUpdateMode(unittest.TestCase):
    def test_loader_answers_its_probe_but_not_the_model_query(self):
        peer = Peer(start_mode="update")
        self.assertEqual(peer.send(b"AT+CGMM\r\n"), b"\r\nERROR\r\n")
        self.assertEqual(peer.send(b"vers=1\r\n"), b"\r\nOK\r\n")


if __name__ == "__main__":
    unittest.main()

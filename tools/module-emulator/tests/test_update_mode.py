"""Update mode: framed messages, package checks, faults and the restart after."""
import hashlib
import struct
import unittest

from .support import MAGIC_FULL_CHUNK, Peer, accepted, request

OK_LINE = b"\r\nOK\r\n"
ERROR_LINE = b"\r\nERROR\r\n"


def image(version, length, header_version=1):
    """A package built here from the maker header's layout alone."""
    body = bytes((i * 7 + 3) & 0xFF for i in range(length - 64))
    head = (b"QLNPKG\x00\x01" + struct.pack(">II", header_version, length)
            + version.encode("ascii").ljust(16, b"\x00") + hashlib.sha256(body).digest())
    return head + body


def flipped(data, offset):
    raw = bytearray(data)
    raw[offset] ^= 0x01
    return bytes(raw)


FULL = image("R1D06", 2 * 8192 + 100)           # three chunks, the last one short


class Messages(unittest.TestCase):
    def test_each_chunk_is_answered_with_its_header_and_result_1(self):
        peer = Peer()
        peer.update_mode()
        replies = peer.transfer(FULL)
        self.assertEqual(replies[0], accepted(MAGIC_FULL_CHUNK))
        self.assertEqual(replies[0], bytes.fromhex("5A4D524B 00000020 00000001 00000001 FFFFFFFF 00002000"))
        self.assertEqual(replies[1], accepted(MAGIC_FULL_CHUNK))
        # After the last chunk: its answer, one more answer, then a final line.
        last = accepted(request(100))
        self.assertEqual(replies[2], last + last + OK_LINE)

    def test_headers_and_chunks_split_into_single_bytes(self):
        peer = Peer()
        peer.update_mode()
        last = accepted(request(100))
        self.assertEqual(peer.transfer(FULL, bytewise=True),
                         [accepted(MAGIC_FULL_CHUNK), accepted(MAGIC_FULL_CHUNK), last + last + OK_LINE])

    def test_command_code_form_for_a_module_that_is_not_at_0x20(self):
        peer = Peer(protocol_version=0x10)
        peer.update_mode()
        replies = peer.transfer(FULL, form="command")
        self.assertEqual(replies[0], bytes.fromhex("0000002A 00000010 00000001 00000001 FFFFFFFF 00002000"))
        self.assertEqual(peer.events("package")[0]["verdict"], "intact")

    def test_record_decodes_every_header(self):
        peer = Peer()
        peer.update_mode()
        peer.transfer(FULL)
        headers = peer.events("header")
        self.assertEqual([h["payload"] for h in headers], [8192, 8192, 100])
        self.assertEqual([h["chunk"] for h in headers], [1, 2, 3])
        self.assertEqual({(h["form"], h["command_code"], h["version"], h["req_resp"], h["result_code"],
                           h["seq_nr"]) for h in headers},
                         {("magic", "5a4d524b", 0x20, 1, 0, 0xFFFFFFFF)})
        package = peer.events("package")[0]
        self.assertEqual((package["bytes"], package["chunks"], package["sha256"]),
                         (len(FULL), 3, hashlib.sha256(FULL).hexdigest()))


class RefusedHeaders(unittest.TestCase):
    ROWS = [
        ("magic form to a module at 0x10", {"protocol_version": 0x10}, request(8)),
        ("command-code form to a module at 0x20", {}, request(8, "command")),
        ("wrong version field", {}, MAGIC_FULL_CHUNK[:4] + struct.pack(">I", 0x10) + MAGIC_FULL_CHUNK[8:20]
         + struct.pack(">I", 8)),
        ("a reply instead of a request", {}, accepted(request(8))),
        ("sequence number used", {}, request(8)[:16] + struct.pack(">I", 1) + struct.pack(">I", 8)),
    ]

    def test_refused_with_the_configured_result_and_the_payload_skipped(self):
        for name, scenario, header in self.ROWS:
            with self.subTest(name):
                peer = Peer(**scenario)
                peer.update_mode()
                out = peer.send(header + b"12345678")
                self.assertEqual(out, accepted(header, 2) + ERROR_LINE)
                self.assertEqual(len(peer.events("header_refused")), 1)
                # The stream is still in step: a sound header after it works.
                form = "command" if scenario.get("protocol_version") == 0x10 else "magic"
                good = request(8, form)
                self.assertTrue(peer.send(good + b"ABCDEFGH").startswith(accepted(good)))

    def test_impossible_payload_lengths_are_refused(self):
        for payload in (0, 8193, 0xFFFFFFFF):
            with self.subTest(payload=payload):
                peer = Peer(update={"bad_header_result": 5})
                peer.update_mode()
                header = request(payload)
                self.assertEqual(peer.send(header + b"junk"), accepted(header, 5) + ERROR_LINE)
                # Nothing said until the line has been quiet for a moment.
                self.assertEqual(peer.send(b"AT\r\n"), b"")
                peer.wait(1)
                self.assertEqual(peer.send(b"AT\r\n"), OK_LINE)


class Packages(unittest.TestCase):
    # (name, scenario, bytes sent, expected verdict, kind, final result)
    ROWS = [
        ("intact full package", {}, FULL, "intact", "full", 1),
        ("optional image", {}, image("OPTIONAL", 13994), "intact", "optional", 1),
        ("package of exactly two chunks", {}, image("R1D06", 16384), "intact", "full", 1),
        ("damaged body", {}, flipped(FULL, 9000), "damaged", "full", 4),
        ("damaged digest", {}, flipped(FULL, 40), "damaged", "full", 4),
        ("unknown header version", {}, image("R1D06", 9000, header_version=2), "damaged", "unknown", 4),
        ("version field not text", {}, FULL[:16] + b"\xff" * 16 + FULL[32:], "damaged", "unknown", 4),
        ("overlong: more than announced", {}, image("R1D06", 8000) + b"xyz", "overlong", "full", 4),
        ("no maker header, length configured", {"update": {"length_without_header": 9000}},
         bytes(9000), "no_header", "unknown", 4),
        ("bad image acknowledged when so configured", {"update": {"bad_image_result": 1}},
         flipped(FULL, 9000), "damaged", "full", 1),
    ]

    def test_verdict_and_final_reply(self):
        for name, scenario, data, verdict, kind, result in self.ROWS:
            with self.subTest(name):
                peer = Peer(**scenario)
                peer.update_mode()
                replies = peer.transfer(data)
                last = request(len(data) % 8192 or 8192)
                line = OK_LINE if result == 1 else ERROR_LINE
                self.assertEqual(replies[-1], accepted(last) + accepted(last, result) + line)
                package = peer.events("package")[0]
                self.assertEqual((package["verdict"], package["kind"]), (verdict, kind))
                self.assertEqual(package["applied"], verdict == "intact" and kind == "full")

    def test_truncated_package_is_given_up_after_a_quiet_spell(self):
        peer = Peer(update={"idle_timeout": 2.0})
        peer.update_mode()
        replies = peer.transfer(FULL[:8192 + 10])
        self.assertEqual(replies[-1], accepted(request(10)))
        self.assertEqual(peer.wait(1.9), b"")
        self.assertEqual(peer.wait(0.2), accepted(request(10), 4) + ERROR_LINE)
        self.assertEqual(peer.events("package")[0]["verdict"], "truncated")

    def test_headerless_file_without_a_length_ends_when_the_line_falls_quiet(self):
        peer = Peer()
        peer.update_mode()
        peer.transfer(bytes(100))
        self.assertEqual(peer.wait(6), accepted(request(100), 4) + ERROR_LINE)
        self.assertEqual(peer.events("package")[0]["verdict"], "no_header")

    def test_second_package_is_counted_separately(self):
        peer = Peer()
        peer.update_mode()
        peer.transfer(FULL)
        peer.transfer(image("OPTIONAL", 13994))
        self.assertEqual([(p["package"], p["kind"]) for p in peer.events("package")],
                         [(1, "full"), (2, "optional")])


class Faults(unittest.TestCase):
    # (name, fault, replies to chunks 1..3 of FULL)
    FIRST, SECOND = accepted(MAGIC_FULL_CHUNK), MAGIC_FULL_CHUNK
    ROWS = [
        ("reject chunk 2 with 3", {"chunk": 2, "action": "reject", "result": 3},
         [FIRST, accepted(SECOND, 3) + ERROR_LINE]),
        ("error text at chunk 1", {"chunk": 1, "action": "error_text"}, [ERROR_LINE]),
        ("silent from chunk 2", {"chunk": 2, "action": "silent"}, [FIRST, b"", b""]),
        ("reject the final reply", {"chunk": "final", "action": "reject", "result": 4},
         [FIRST, FIRST, accepted(request(100)) + accepted(request(100), 4) + ERROR_LINE]),
        ("fault for another package", {"package": 2, "chunk": 1, "action": "reject"},
         [FIRST, FIRST, accepted(request(100)) * 2 + OK_LINE]),
        ("noise in place of the reply to chunk 2", {"chunk": 2, "action": "garbage"},
         [FIRST, bytes.fromhex("24da9d683295ddd16ba47b4f9dc8c3ce5838e0bb6894a2a3"), accepted(request(100))]),
    ]

    def test_faults_replace_the_answer(self):
        for name, fault, expected in self.ROWS:
            with self.subTest(name):
                peer = Peer(update={"faults": [fault]})
                peer.update_mode()
                replies = []
                for start in range(0, len(FULL), 8192):
                    chunk = FULL[start:start + 8192]
                    replies.append(peer.send(request(len(chunk)) + chunk))
                    if replies[-1].endswith(ERROR_LINE):
                        break
                self.assertEqual(replies, expected)

    def test_silent_module_also_ignores_commands_until_it_restarts(self):
        peer = Peer(update={"faults": [{"chunk": 1, "action": "silent"}]}, restart={"delay": 1})
        peer.update_mode()
        peer.transfer(FULL)
        self.assertEqual(peer.send(b"AT*Q2RESET\r\n"), b"")
        self.assertEqual(peer.wait(10), b"")
        self.assertEqual(peer.offline, [])
        self.assertEqual(peer.module.identity["software_version"], "R1D05")

    def test_drop_mid_transfer_leaves_the_bus_and_returns_unchanged(self):
        peer = Peer(update={"faults": [{"chunk": 2, "action": "drop"}]}, restart={"delay": 4})
        peer.update_mode()
        replies = peer.transfer(FULL)
        self.assertEqual(replies, [accepted(MAGIC_FULL_CHUNK), b"", b""])
        self.assertEqual(peer.offline, [4.0])
        peer.come_back()
        self.assertIn(b"Software Version. R1D05", peer.send(b"AT*QVERS\r\n"))
        self.assertEqual(peer.events("package")[0]["verdict"], "dropped")


class Restart(unittest.TestCase):
    def install(self, **scenario):
        peer = Peer(restart={"delay": 2, "drop_delay": 0.3}, **scenario)
        peer.update_mode()
        peer.transfer(FULL)
        return peer

    def restart(self, peer, command=b"AT*Q2RESET\r\n"):
        reply = peer.send(command)
        self.assertEqual(peer.offline, [], "drops before its reply can be read")
        peer.wait(0.3)
        return reply

    def test_installed_version_and_build_date_show_only_after_the_restart(self):
        peer = self.install()
        self.assertIn(b"Software Version. R1D05", peer.send(b"AT+BACK\r\nAT*QVERS\r\n"))
        self.assertTrue(self.restart(peer).endswith(OK_LINE))
        self.assertEqual(peer.offline, [2.0])
        self.assertEqual(peer.send(b"AT\r\n"), b"", "heard while off the bus")
        peer.come_back()
        reply = peer.send(b"AT*QVERS\r\n")
        self.assertTrue(reply.startswith(b"AT*QVERS\r"), "echo is on again after a restart")
        self.assertIn(b"Software Version. R1D06\r\n", reply)
        self.assertIn(b"Build Date. Jan 12 2010 10:41:37\r\n", reply)

    def test_identity_after_an_update(self):
        # (name, scenario, image, software version and build date after the restart)
        rows = [
            ("build date kept", {"keep_build_date": True}, FULL, "R1D06", "Sep 21 2009 16:04:12"),
            ("same version reinstalled", {"identity": {"software_version": "R1D06"}}, FULL,
             "R1D06", "Sep 21 2009 16:04:12"),
            ("scenario names the identity after", {"after": {"build_date": "Feb 2 2010"}}, FULL,
             "R1D06", "Feb 2 2010"),
            ("optional image changes nothing", {}, image("OPTIONAL", 13994), "R1D05", "Sep 21 2009 16:04:12"),
            ("damaged package changes nothing", {}, flipped(FULL, 100), "R1D05", "Sep 21 2009 16:04:12"),
        ]
        for name, scenario, data, version, date in rows:
            with self.subTest(name):
                peer = Peer(restart={"delay": 1}, **scenario)
                peer.update_mode()
                peer.transfer(data)
                self.restart(peer)
                peer.come_back()
                self.assertEqual((peer.module.identity["software_version"], peer.module.identity["build_date"]),
                                 (version, date))

    def test_restart_delays_per_restart_and_never(self):
        peer = Peer(restart={"delay": [1, "never"], "drop_delay": 0})
        peer.send(b"AT*Q2RESET\r\n")
        peer.wait(0)
        peer.come_back()
        peer.send(b"AT*Q2RESET\r\n")
        peer.wait(0)
        self.assertEqual(peer.offline, [1.0, None])

    def test_a_module_slow_to_restart_answers_until_it_drops(self):
        # Its loader keeps answering "vers=1" between the OK and leaving the
        # bus; a second restart command then does not put the drop off.
        peer = Peer(start_mode="update", restart={"delay": 1, "drop_delay": 2.5, "answers_until_drop": True})
        self.assertTrue(peer.send(b"AT*Q2RESET\r\n").endswith(OK_LINE))
        peer.wait(1.0)
        self.assertTrue(peer.send(b"vers=1\r\n").endswith(OK_LINE), "still on the bus, in its loader")
        self.assertTrue(peer.send(b"AT*Q2RESET\r\n").endswith(OK_LINE))
        self.assertEqual(peer.offline, [])
        peer.wait(1.6)
        self.assertEqual(peer.offline, [1.0], "gone 2.5 s after the first restart command")
        self.assertEqual(peer.send(b"vers=1\r\n"), b"", "heard while off the bus")

    def test_reset_mid_package_abandons_it(self):
        peer = Peer(restart={"delay": 1})
        peer.update_mode()
        peer.transfer(FULL[:8192])
        self.restart(peer)
        peer.come_back()
        self.assertEqual(peer.events("package")[0]["verdict"], "aborted")
        self.assertEqual(peer.module.identity["software_version"], "R1D05")


class Interrupted(unittest.TestCase):
    """A package that did not arrive whole: the firmware it was to replace
    stays and starts again, unless the fault damaged it."""

    def restart(self, peer):
        peer.send(b"AT*Q2RESET\r\n")
        peer.wait(0.3)
        return peer.come_back()

    def mode_after(self, peer):
        """What the module answers the updater's two open probes."""
        return peer.send(b"AT+CGMM\r\n"), peer.send(b"vers=1\r\n")

    def test_a_restart_after_a_refused_cut_or_interrupted_package_starts_the_old_firmware(self):
        # (name, scenario, bytes of FULL sent, drops off the bus by itself)
        rows = [
            ("refused at chunk 2", {"update": {"faults": [{"chunk": 2, "action": "reject", "result": 3}]}},
             len(FULL), False),
            ("cut short by the host", {}, 8192 + 100, False),
            ("power lost at chunk 2", {"update": {"faults": [{"chunk": 2, "action": "cut"}]}}, len(FULL), True),
        ]
        for name, scenario, length, drops in rows:
            with self.subTest(name):
                peer = Peer(restart={"delay": 1}, **scenario)
                peer.update_mode()
                peer.transfer(FULL[:length])
                if drops:
                    self.assertEqual(peer.offline, [1.0], "off the bus with no restart command")
                    peer.come_back()
                    cgmm, vers = self.mode_after(peer)
                    self.assertEqual((cgmm, vers), (ERROR_LINE, OK_LINE), "back in its loader")
                    self.assertNotIn("AT*Q2RESET", [e["text"] for e in peer.events("command")])
                self.restart(peer)
                self.assertEqual(peer.module.mode, "at")
                self.assertIn(b"Software Version. R1D05", peer.send(b"AT*QVERS\r\n"))
                self.assertFalse(peer.events("package")[0]["applied"])

    def test_damaged_firmware_brings_every_restart_back_in_update_mode(self):
        peer = Peer(restart={"delay": 1}, update={"faults": [{"chunk": 2, "action": "damage"}]})
        peer.update_mode()
        replies = peer.transfer(FULL)
        self.assertEqual(replies[1:], [b"", b""])
        self.assertEqual(peer.offline, [1.0])
        self.assertEqual(peer.events("package")[0]["verdict"], "interrupted")
        peer.come_back()
        for restart in range(3):
            with self.subTest(restart=restart):
                self.assertEqual(self.mode_after(peer), (ERROR_LINE, OK_LINE))
                self.assertEqual(peer.send(b"AT+BACK\r\n"), ERROR_LINE, "no firmware to go back to")
                self.restart(peer)
        peer.module.heal(peer.now)
        self.restart(peer)
        self.assertEqual(peer.module.mode, "update", "healing mends no firmware")

    def test_a_module_that_starts_with_damaged_firmware_is_mended_only_by_a_whole_package(self):
        peer = Peer(firmware="damaged", start_mode="update", restart={"delay": 1})
        self.assertEqual(self.mode_after(peer), (ERROR_LINE, OK_LINE))
        peer.transfer(FULL[:8192])
        self.restart(peer)
        self.assertEqual(peer.module.mode, "update")
        peer.transfer(FULL)
        self.restart(peer)
        self.assertEqual(peer.module.mode, "at")
        self.assertIn(b"Software Version. R1D06", peer.send(b"AT*QVERS\r\n"))

    def test_a_held_reply_leaves_a_module_that_hears_the_next_host(self):
        peer = Peer(update={"faults": [{"chunk": 2, "action": "hold"}]}, restart={"delay": 1})
        peer.update_mode()
        replies = peer.transfer(FULL[:2 * 8192])
        self.assertEqual(replies, [accepted(MAGIC_FULL_CHUNK), b""])
        self.assertEqual(peer.wait(10), b"", "nothing more, not even after a quiet spell")
        self.assertEqual(peer.events("package")[0]["verdict"], "held")
        self.assertEqual(self.mode_after(peer), (ERROR_LINE, OK_LINE))
        self.restart(peer)
        self.assertEqual(peer.module.mode, "at")

    def test_a_half_received_frame_is_dropped_once_the_line_falls_quiet(self):
        # (name, what the vanished host left on the line)
        rows = [
            ("half a payload", request(8192) + FULL[:3000]),
            ("half a header", request(8192)[:10]),
        ]
        for name, left in rows:
            with self.subTest(name):
                peer = Peer()
                peer.update_mode()
                peer.send(left)
                self.assertEqual(peer.wait(1.4), b"")
                self.assertEqual(peer.events("frame_dropped"), [])
                peer.wait(0.2)
                self.assertEqual(len(peer.events("frame_dropped")), 1)
                self.assertEqual(peer.send(b"AT+CGMM\r\n"), ERROR_LINE)
                self.assertEqual(peer.send(b"vers=1\r\n"), OK_LINE, "the next host's probe is heard")

    def test_a_probe_within_the_gap_is_still_taken_for_payload(self):
        peer = Peer()
        peer.update_mode()
        peer.send(request(8192) + FULL[:3000])
        peer.wait(1.0)
        self.assertEqual(peer.send(b"vers=1\r\n"), b"")
        self.assertEqual(peer.module.chunk_left, 8192 - 3000 - len(b"vers=1\r\n"))


if __name__ == "__main__":
    unittest.main()

"""What the module does with the bytes it receives: AT mode, update mode, restart.

Pure of I/O: `feed`, `poll` and `come_back` take the time and return actions
("send", bytes) and ("offline", seconds or None) for the line to carry out,
so every exchange can be tested byte for byte without a terminal.
"""
import random

from . import package, wire
from .scenario import LABELS, NEW_BUILD_DATE, healed, restart_delay

CR, LF = 0x0D, 0x0A
MAX_LINE = 1024
RESYNC_QUIET = 0.5      # seconds of silence after which a garbled stream is trusted again
FRAME_QUIET = 1.5       # seconds of silence after which a half-received frame is given up
ERROR_TEXT = b"\r\nERROR\r\n"
RING_LINE = b"\r\nRING\r\n"
NOISE_SEED = 0x5EED     # the same noise every run, so a record can be compared


class _Transfer:
    """One package on its way in: counts, hashes and the last request header."""

    def __init__(self, index):
        self.index = index
        self.chunks = 0
        self.header = None
        self.receiver = package.Receiver()


class Module:
    def __init__(self, scenario, record, now):
        self.s = scenario
        self.record = record
        self.identity = dict(scenario["identity"])
        self.pending = None             # identity that takes effect at the next restart
        self.restarts = 0
        self.override_counts = {}
        pin = scenario["pin"]
        self.pin_state, self.pin_code, self.tries = pin["state"], pin["pin"], pin["tries"]
        self.packages = 0
        self.offline = False
        # A package interrupted part way can leave firmware that no longer
        # starts: every restart then ends in the loader (update mode).
        self.damaged = scenario["firmware"] == "damaged"
        self.back_in_update_mode = False    # cut off part way: the loader comes up first
        self.rings = 0
        self._noise_source = random.Random(NOISE_SEED)
        self._out = []
        self._start_line(scenario["start_mode"], now)
        record("start", mode=self.mode, identity=dict(self.identity), pin=self.pin_state,
               protocol_version=scenario["protocol_version"], description=scenario["description"])

    # --- what the line calls ----------------------------------------------------
    def feed(self, data, now):
        self._out, self._now = [], now
        if self.hung or (self.resetting and not self.s["restart"]["answers_until_drop"]):
            self.record("ignored", bytes=len(data))
            return self._out
        if self.discarding:
            self.timers["resync"] = now + RESYNC_QUIET
            self.record("discarded", bytes=len(data))
            return self._out
        self.timers.pop("idle", None)
        self.inbuf += data
        while self._step():
            pass
        self._arm_idle()
        self._arm_frame()
        return self._out

    def poll(self, now):
        self._out, self._now = [], now
        for name, when in sorted(self.timers.items(), key=lambda item: item[1]):
            if when > now or name not in self.timers:
                continue
            del self.timers[name]
            if name == "offline":
                self._go_offline("restart")
            elif name == "idle" and self.package is not None:
                self.record("idle", package=self.package.index, bytes=self.package.receiver.received)
                self._finish_package()
            elif name == "resync":
                self.discarding = False
            elif name == "frame":
                self._drop_frame()
            elif name == "ring":
                self._ring()
            elif name == "reply":
                self._release_replies()
        return self._out

    def deadline(self):
        return min(self.timers.values()) if self.timers else None

    def heal(self, now):
        """The module's faults are gone (see scenario.healed); what they left
        behind stays: its mode, a package it took, a restart under way."""
        self._out, self._now = [], now
        self.s = healed(self.s)
        self.hung = False
        self.override_counts = {}
        if self.pin_state != "READY":
            self.pin_state, self.tries = "READY", self.s["pin"]["tries"]
        self.timers.pop("ring", None)
        self.record("healed", mode=self.mode, offline=self.offline, pin=self.pin_state)
        return self._out

    def come_back(self, now):
        """Back on the bus after a restart or a drop, with any installed firmware."""
        self._out, self._now = [], now
        self.restarts += 1
        if self.pending:
            self.identity.update(self.pending)
            self.pending = None
        if self.s["pin"]["relock_on_restart"] and self.s["pin"]["state"] != "READY" \
                and self.pin_state == "READY":
            self.pin_state = "SIM PIN"
        self.offline = False
        loader = self.damaged or self.back_in_update_mode
        self.back_in_update_mode = False
        self._start_line("update" if loader else "at", now)
        if loader:
            self.record("mode", mode="update", firmware="damaged" if self.damaged else "intact")
        self.record("identity", restarts=self.restarts, pin=self.pin_state, **self.identity)
        return self._out

    # --- line state ----------------------------------------------------------------
    def _start_line(self, mode, now):
        self._now = now
        self.mode = mode
        self.echo = mode == "at"
        self.inbuf = bytearray()
        self.package = None
        self.chunk_left = 0             # payload bytes still due for the current chunk
        self.skip_left = 0              # payload bytes of a refused header
        self.discarding = False
        self.resetting = False
        self.hung = self.s["silent"]
        self.timers = {}
        self.held = []                  # (when, bytes) of answers not yet due
        self._arm_ring()

    def _send(self, data):
        if data:
            self._out.append(("send", bytes(data)))

    def _go_offline(self, reason):
        delay = restart_delay(self.s, self.restarts)
        self.offline = True
        self.timers.clear()
        self.held = []  # what a module had not said yet is lost with it
        self.record("offline", reason=reason, back_after=delay)
        self._out.append(("offline", delay))

    def _restart(self):
        self.resetting = True
        if self.package is not None:
            self._end_package("aborted")
        # The reply goes out before the port drops, as a module answers and
        # then resets; a second restart command meanwhile changes nothing.
        if "offline" in self.timers and self.s["restart"]["answers_until_drop"]:
            return
        held = {"reply": self.timers["reply"]} if "reply" in self.timers else {}
        self.timers = dict(held, offline=self._now + self.s["restart"]["drop_delay"])

    # --- parsing the stream ----------------------------------------------------------
    def _step(self):
        buf = self.inbuf
        if self.discarding:
            self.record("discarded", bytes=len(buf))
            buf.clear()
            return False
        if (self.resetting and not self.s["restart"]["answers_until_drop"]) or self.hung or self.offline:
            buf.clear()
            return False
        if self.mode == "update" and (self.chunk_left or self.skip_left):
            return bool(buf) and self._take_payload()
        if self.mode == "update":
            while buf and buf[0] in (CR, LF):
                del buf[0]
            if not buf:
                return False
            if buf[0] in (wire.MAGIC_START[0], wire.COMMAND_START[0]):
                if len(buf) < 4:
                    return False
                if bytes(buf[:4]) in (wire.MAGIC_START, wire.COMMAND_START):
                    if len(buf) < wire.HEADER_SIZE:
                        return False
                    raw = bytes(buf[:wire.HEADER_SIZE])
                    del buf[:wire.HEADER_SIZE]
                    self._on_header(raw)
                    return True
        end = buf.find(b"\r")
        if end < 0:
            if len(buf) > MAX_LINE:
                self.record("overlong_line", mode=self.mode, bytes=len(buf))
                buf.clear()
            return False
        text = bytes(buf[:end]).replace(b"\n", b"").decode("latin-1")
        del buf[:end + 1]
        self._on_line(text)
        return True

    # --- text commands ------------------------------------------------------------
    def _on_line(self, text):
        if not text.strip():
            # The PIN entry carries an extra CR LF: a modem ignores empty lines.
            self.record("empty_line", mode=self.mode)
            return
        self.record("command", mode=self.mode, text=text)
        if self.mode == "update" and self.package is not None:
            self._end_package("aborted")
        echo = (text + "\r").encode("latin-1") if self.echo and self.mode == "at" else b""
        override = self._override(text)
        if override is not None:
            self._scripted_reply(echo, text, override)
        elif self.mode == "at":
            self._at_command(text, echo)
        else:
            self._update_command(text)

    def _override(self, text):
        rule = self.s["commands"].get(text.upper())
        if rule is None:
            return None
        count = self.override_counts.get(text.upper(), 0) + 1
        self.override_counts[text.upper()] = count
        if rule["times"] is not None and count > rule["times"]:
            return None
        return rule

    def _scripted_reply(self, echo, text, rule):
        """A scenario's answer: its lines, then a line of rule["long_line"]
        characters and rule["garbage"] bytes of noise, then its final line;
        with rule["drop"] the module falls off the bus instead of ending."""
        lines = list(rule["lines"])
        if rule["long_line"]:
            lines.append(("0123456789" * (rule["long_line"] // 10 + 1))[:rule["long_line"]])
        out = echo + wire.at_reply(lines, None)
        if rule["garbage"]:
            out += self._noise(rule["garbage"])
        out += wire.at_reply([], rule["final"])
        self._send(out)
        self.record("reply", mode=self.mode, lines=list(rule["lines"]), final=rule["final"],
                    long_line=rule["long_line"], garbage=rule["garbage"], drop=rule["drop"])
        if rule["drop"]:
            self.record("fault", command=text, action="drop")
            self._go_offline("drop")

    def _noise(self, count):
        return bytes(self._noise_source.getrandbits(8) for _ in range(count))

    def _arm_ring(self):
        if self.s["ring"] is not None and not self.offline:
            self.timers["ring"] = self._now + self.s["ring"]

    def _ring(self):
        """An incoming call: a modem says so between replies, in AT mode."""
        if self.mode == "at" and not (self.hung or self.resetting or self.offline):
            self._send(RING_LINE)
            self.rings += 1
        self._arm_ring()

    def _reply(self, echo, lines, final):
        data = echo + wire.at_reply(lines, final)
        if self.s["reply_delay"] > 0:
            self.held.append((self._now + self.s["reply_delay"], data))
            self.timers["reply"] = self.held[0][0]
        else:
            self._send(data)
        self.record("reply", mode=self.mode, lines=list(lines), final=final)

    def _release_replies(self):
        while self.held and self.held[0][0] <= self._now:
            self._send(self.held.pop(0)[1])
        if self.held:
            self.timers["reply"] = self.held[0][0]

    def _at_command(self, text, echo):
        cmd = text.upper()
        ident = self.identity
        if cmd == "AT":
            self._reply(echo, [], "OK")
        elif cmd == "ATE0":
            self.echo = False
            self._reply(echo, [], "OK")
        elif cmd in ("ATE", "ATE1"):
            self.echo = True
            self._reply(echo, [], "OK")
        elif cmd == "AT+CGMM":
            if ident["cgmm"] is None:
                self._reply(echo, [], "ERROR")
            else:
                self._reply(echo, [ident["cgmm"]], "OK")
        elif cmd in self.s["version_commands"]:
            fields = self.s["version_commands"][cmd]
            lines = ["%s. %s" % (LABELS[f], ident[f]) for f in fields if ident[f] is not None]
            self._reply(echo, lines, "OK")
        elif cmd == "AT+CPIN?":
            if self.pin_state == "NO SIM":
                self._reply(echo, [], "ERROR")
            else:
                self._reply(echo, ["+CPIN: " + self.pin_state], "OK")
        elif cmd.startswith("AT+CPIN="):
            self._reply(echo, [], self._enter_code(text[len("AT+CPIN="):]))
        elif cmd == "AT*QESFUD?":
            if self.s["pin"]["blocks_update_query"] and self.pin_state != "READY":
                self._reply(echo, [], "ERROR")
            else:
                self._reply(echo, [wire.qesfud_line(self.s["protocol_version"])], "OK")
        elif cmd in ("AT*QESFUD=1", "AT*QESFUD=2", "AT+BACK"):
            self._reply(echo, [], "OK")
        elif cmd == "AT*QESFUD=3":
            self._reply(echo, [], "OK")
            self.mode = "update"
            self.record("mode", mode="update")
        elif cmd == "AT*Q2RESET":
            self._reply(echo, [], "OK")
            self._restart()
        else:
            self._reply(echo, [], self.s["unknown_reply"])

    def _update_command(self, text):
        """The loader understands only a few lines between messages."""
        cmd = text.upper()
        if cmd in ("VERS=1", "AT", "ATE0", "ATE", "ATE1", "AT*QESFUD=3"):
            self._reply(b"", [], "OK")
        elif cmd == "AT*QESFUD?":
            self._reply(b"", [wire.qesfud_line(self.s["protocol_version"])], "OK")
        elif cmd == "AT+BACK" and self.damaged:
            # No firmware to go back to.
            self._reply(b"", [], "ERROR")
        elif cmd == "AT+BACK":
            self._reply(b"", [], "OK")
            self.mode = "at"
            self.record("mode", mode="at")
        elif cmd == "AT*Q2RESET":
            self._reply(b"", [], "OK")
            self._restart()
        else:
            self._reply(b"", [], "ERROR")

    def _enter_code(self, argument):
        values = [v.strip().strip('"') for v in argument.split(",")]
        before = self.pin_state
        if self.pin_state == "SIM PIN":
            if values[0] == self.pin_code and len(values) == 1:
                self.pin_state, self.tries = "READY", self.s["pin"]["tries"]
            else:
                self.tries -= 1
                if self.tries <= 0:
                    self.pin_state = "SIM PUK"
        elif self.pin_state == "SIM PUK" and values[0] == self.s["pin"]["puk"]:
            # A single value unlocks too: the updater sends the PUK alone.
            self.pin_state, self.tries = "READY", self.s["pin"]["tries"]
            if len(values) > 1:
                self.pin_code = values[1]
        accepted = before != "READY" and self.pin_state == "READY"
        self.record("pin", code=values[0], accepted=accepted, state=self.pin_state, tries=self.tries)
        return "OK" if accepted else "ERROR"

    # --- update mode: messages and packages -------------------------------------------
    def _on_header(self, raw):
        header = wire.decode_header(raw)
        if self.package is None:
            self.packages += 1
            self.package = _Transfer(self.packages)
        p = self.package
        chunk = p.chunks + 1
        self.record("header", package=p.index, chunk=chunk, **header)
        problems = wire.header_problems(header, self.s["protocol_version"])
        if not problems:
            p.header = raw
            self.chunk_left = header["payload"]
            return
        self.record("header_refused", package=p.index, chunk=chunk, problems=problems)
        self._refuse(raw, self.s["update"]["bad_header_result"], p.index, chunk)
        self._end_package("refused")
        if 1 <= header["payload"] <= wire.MAX_PAYLOAD:
            self.skip_left = header["payload"]
        else:
            # No telling where the next message starts: wait for a quiet line.
            self.discarding = True
            self.timers["resync"] = self._now + RESYNC_QUIET
            self.inbuf.clear()

    def _take_payload(self):
        buf = self.inbuf
        if self.skip_left:
            n = min(self.skip_left, len(buf))
            del buf[:n]
            self.skip_left -= n
            return True
        n = min(self.chunk_left, len(buf))
        self.package.receiver.add(bytes(buf[:n]))
        del buf[:n]
        self.chunk_left -= n
        if self.chunk_left == 0:
            self._on_chunk()
        return True

    def _on_chunk(self):
        p = self.package
        p.chunks += 1
        if self._fault(p.index, p.chunks, p.header):
            return
        self._reply_header(p.header, 1, p.index, p.chunks)
        expected = self._expected_length(p)
        if expected is not None and p.receiver.received >= expected:
            self._finish_package()

    def _expected_length(self, p):
        declared = p.receiver.declared_length()
        if declared is not None:
            return declared
        if p.receiver.has_magic() and len(p.receiver.head) < package.HEADER_SIZE:
            return None     # the maker header is still arriving
        return self.s["update"]["length_without_header"]

    def _finish_package(self):
        """The package ended: one more reply, then the final result line."""
        p = self.package
        verdict, kind, version = p.receiver.verdict()
        if self._fault(p.index, "final", p.header or bytes(wire.HEADER_SIZE)):
            return
        intact = verdict == "intact"
        result = 1 if intact else self.s["update"]["bad_image_result"]
        self._reply_header(p.header, result, p.index, "final")
        self._reply(b"", [], "OK" if result in (0, 1) else "ERROR")
        applied = intact and kind == "full"
        if applied:
            self.pending = self._identity_after(version)
            self.damaged = False
        self._end_package(verdict, applied=applied)

    def _identity_after(self, version):
        same = version == self.identity["software_version"]
        keep = same or self.s["keep_build_date"]
        after = {"software_version": version,
                 "build_date": self.identity["build_date"] if keep else NEW_BUILD_DATE}
        after.update(self.s["after"])
        if self.s["keep_build_date"]:
            after["build_date"] = self.identity["build_date"]
        return after

    def _fault(self, index, chunk, raw):
        """Carries out a scenario's fault for this chunk; True when it replaced
        the normal answer."""
        for fault in self.s["update"]["faults"]:
            if fault["package"] == index and fault["chunk"] == chunk:
                break
        else:
            return False
        action = fault["action"]
        self.record("fault", package=index, chunk=chunk, action=action, result=fault["result"])
        if action == "reject":
            self._refuse(raw, fault["result"], index, chunk)
            self._end_package("rejected")
        elif action == "error_text":
            self._send(ERROR_TEXT)
            self.record("reply_text", package=index, chunk=chunk, text=ERROR_TEXT.decode())
            self._end_package("error_text")
        elif action == "silent":
            self._end_package("silent")
            self.hung = True
        elif action == "drop":
            self._end_package("dropped")
            self._go_offline("drop")
        elif action == "hold":
            # Busy with its flash when its host is gone: the chunk is
            # taken, its reply never comes, and the module goes on hearing
            # the line; the package ends there.
            self._end_package("held")
        elif action in ("cut", "damage"):
            # Power lost, or the host gone, part way: off the bus with no
            # restart command, back in the loader. A cut leaves the old
            # firmware, which the next restart starts; a damaging one leaves
            # firmware that never starts again.
            self._end_package("interrupted")
            self.damaged = self.damaged or action == "damage"
            self.back_in_update_mode = True
            self._go_offline(action)
        elif action == "garbage":
            noise = self._noise(wire.HEADER_SIZE)
            self._send(noise)
            self.record("reply_garbage", package=index, chunk=chunk, hex=noise.hex())
            self._end_package("garbage")
        return True

    def _refuse(self, raw, result, index, chunk):
        self._reply_header(raw, result, index, chunk)
        self._reply(b"", [], "ERROR")

    def _reply_header(self, raw, result, index, chunk):
        self._send(wire.reply_header(raw, result))
        self.record("reply_header", package=index, chunk=chunk, result_code=result)

    def _end_package(self, verdict, applied=False):
        p = self.package
        _, kind, version = p.receiver.verdict()
        self.record("package", package=p.index, verdict=verdict, kind=kind, version=version,
                    applied=applied, bytes=p.receiver.received, chunks=p.chunks,
                    sha256=p.receiver.sha256())
        self.package = None
        self.chunk_left = 0
        self.timers.pop("idle", None)

    def _arm_frame(self):
        """A frame still arriving when the line falls quiet is given up, as
        a loader resyncs: its host is gone, and the next host's probes must
        not be taken for the rest of its payload."""
        half = self.mode == "update" and (self.chunk_left or self.skip_left or self.inbuf)
        if half and not self.offline:
            self.timers["frame"] = self._now + FRAME_QUIET
        else:
            self.timers.pop("frame", None)

    def _drop_frame(self):
        left = self.chunk_left or self.skip_left
        self.record("frame_dropped", mode=self.mode, payload_left=left, buffered=len(self.inbuf))
        if self.package is not None:
            self._end_package("interrupted")
        self.chunk_left = self.skip_left = 0
        self.inbuf.clear()

    def _arm_idle(self):
        """A package that stops short is given up after a quiet spell, as a
        loader does, instead of leaving the updater waiting for ever."""
        idle = self.s["update"]["idle_timeout"]
        if self.package is not None and idle is not None and not self.offline:
            self.timers["idle"] = self._now + idle

"""Drives the module's behaviour on a virtual clock, as the line would."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from emu.behaviour import Module  # noqa: E402
from emu.record import Record  # noqa: E402
from emu.scenario import from_dict  # noqa: E402

# Request headers for a full chunk, in wire order, as the updater sends them.
MAGIC_FULL_CHUNK = bytes.fromhex("5A4D524B 00000020 00000001 00000000 FFFFFFFF 00002000")
COMMAND_FULL_CHUNK = bytes.fromhex("0000002A 00000010 00000001 00000000 FFFFFFFF 00002000")


def request(payload, form="magic"):
    base = MAGIC_FULL_CHUNK if form == "magic" else COMMAND_FULL_CHUNK
    return base[:20] + struct.pack(">I", payload)


def accepted(header, result=1):
    """The header with the low byte of its result code set, nothing else."""
    raw = bytearray(header)
    raw[12:16] = struct.pack(">I", result)
    return bytes(raw)


class Peer:
    def __init__(self, **scenario):
        self.now = 0.0
        self.record = Record(None, lambda: self.now)
        self.module = Module(from_dict(scenario), self.record, self.now)
        self.offline = []       # back_after of every drop off the bus

    def _apply(self, actions):
        # In order, as the line carries them out: what was sent before a
        # drop still goes out, nothing may follow it.
        out = b""
        online = not self.module.offline or any(a[0] == "offline" for a in actions)
        for action in actions:
            if action[0] == "send":
                if not online:
                    raise AssertionError("module sent while off the bus")
                out += action[1]
            else:
                online = False
                self.offline.append(action[1])
        return out

    def send(self, data, bytewise=False):
        if bytewise:
            return b"".join(self._apply(self.module.feed(data[i:i + 1], self.now)) for i in range(len(data)))
        return self._apply(self.module.feed(data, self.now))

    def wait(self, seconds):
        self.now += seconds
        return self._apply(self.module.poll(self.now))

    def come_back(self):
        return self._apply(self.module.come_back(self.now))

    def update_mode(self):
        """Echo off and into update mode, as the updater opens its link."""
        self.send(b"ATE0\r\n")
        assert self.send(b"AT*QESFUD=3\r\n") == b"\r\nOK\r\n"

    def transfer(self, image, form="magic", bytewise=False):
        """Sends image in 8192-byte chunks; returns the reply bytes per chunk."""
        replies = []
        for start in range(0, len(image), 8192):
            chunk = image[start:start + 8192]
            replies.append(self.send(request(len(chunk), form) + chunk, bytewise))
        return replies

    def events(self, name):
        return [e for e in self.record.events if e["event"] == name]

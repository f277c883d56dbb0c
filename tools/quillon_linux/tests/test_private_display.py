"""The launcher's private display takes only the clients that show its
cookie, and leaves nothing behind: a real Xvfb, asked over its socket as an
X client asks, with no Wine and no root."""
import os
import socket
import stat
import struct
import unittest

from quillon_linux import display


def connection_answer(name, cookie):
    """The first byte of the server's answer to an X connection set-up with
    this cookie (None: no authorization): 1 success, 0 refused."""
    auth_name, auth_data = (display.COOKIE_NAME, cookie) if cookie is not None else (b"", b"")

    def padded(data):
        return data + b"\0" * (-len(data) % 4)

    request = struct.pack("<BxHHHHxx", ord("l"), 11, 0, len(auth_name), len(auth_data))
    request += padded(auth_name) + padded(auth_data)
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
        client.settimeout(10)
        client.connect("/tmp/.X11-unix/X" + name.lstrip(":"))
        client.sendall(request)
        return client.recv(1)[0]


def read_cookie(path):
    with open(path, "rb") as f:
        data = f.read()
    family, = struct.unpack(">H", data[:2])
    fields, at = [], 2
    for _ in range(4):
        length, = struct.unpack(">H", data[at:at + 2])
        fields.append(data[at + 2:at + 2 + length])
        at += 2 + length
    return family, fields, at == len(data)


class AuthorityFile(unittest.TestCase):
    def test_one_wild_entry_with_the_cookie(self):
        entry = display.authority_entry(b"0123456789abcdef")
        self.assertEqual(entry[:2], b"\xff\xff")
        self.assertEqual(entry, b"\xff\xff\0\0\0\0\0\x12MIT-MAGIC-COOKIE-1\0\x100123456789abcdef")


@unittest.skipUnless(display.have_xvfb(), "Xvfb is not installed")
class PrivateDisplay(unittest.TestCase):
    def test_only_the_cookie_opens_it_and_nothing_is_left(self):
        private = display.PrivateDisplay()
        try:
            name = private.start()
            folder, authority = private.folder, private.authority
            self.assertEqual(stat.S_IMODE(os.stat(authority).st_mode), 0o600)
            family, (address, number, cookie_name, cookie), whole = read_cookie(authority)
            self.assertEqual((family, address, number, cookie_name, len(cookie), whole),
                             (display.FAMILY_WILD, b"", b"", display.COOKIE_NAME, 16, True))
            self.assertEqual(connection_answer(name, None), 0, "a client with no cookie was let in")
            self.assertEqual(connection_answer(name, bytes(16)), 0, "a client with a wrong cookie was let in")
            self.assertEqual(connection_answer(name, cookie), 1, "the cookie did not open the display")
            child = private.child
        finally:
            private.end()
        self.assertIsNotNone(child.poll(), "Xvfb still runs after end()")
        self.assertFalse(os.path.exists(folder), "the cookie's folder is left behind")


if __name__ == "__main__":
    unittest.main()

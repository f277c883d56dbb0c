"""The package images tests build: byte for byte the maker header's layout."""
import hashlib
import struct
import unittest

from .support import Peer
from emu import package


class Builder(unittest.TestCase):
    def test_header_fields_in_wire_order(self):
        data = package.build("R1D06", 13994)
        self.assertEqual(len(data), 13994)
        self.assertEqual(data[0:8], b"QLNPKG\x00\x01")
        self.assertEqual(data[8:12], b"\x00\x00\x00\x01")
        self.assertEqual(data[12:16], struct.pack(">I", 13994))
        self.assertEqual(data[16:32], b"R1D06" + b"\x00" * 11)
        self.assertEqual(data[32:64], hashlib.sha256(data[64:]).digest())

    def test_optional_image_fills_its_version_field(self):
        self.assertEqual(package.build("OPTIONAL", 13994)[16:32], b"OPTIONAL" + b"\x00" * 8)

    def test_too_short_for_its_header(self):
        with self.assertRaises(ValueError):
            package.build("R1D06", 63)

    def test_the_module_installs_what_the_builder_makes(self):
        peer = Peer()
        peer.update_mode()
        peer.transfer(package.build("R1E01", 20000))
        self.assertEqual(peer.events("package")[0]["verdict"], "intact")
        self.assertEqual(peer.module.pending["software_version"], "R1E01")


if __name__ == "__main__":
    unittest.main()

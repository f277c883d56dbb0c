"""The placeholder images a build generates pass the module's own check, so
the two independent definitions of the maker header cannot drift apart."""
import os
import unittest

from .support import Peer

PACKAGE_DIR = os.environ.get("QUILLON_PACKAGE_DIR")


@unittest.skipUnless(PACKAGE_DIR, "QUILLON_PACKAGE_DIR names no generated images")
class BuiltImages(unittest.TestCase):
    # (file, length, verdict, kind, version, applied)
    ROWS = [
        ("full_package.bin", 10212846, "intact", "full", "R1D06", True),
        ("optional_image.bin", 13994, "intact", "optional", "OPTIONAL", False),
    ]

    def test_module_takes_each_image_as_its_kind(self):
        for name, length, verdict, kind, version, applied in self.ROWS:
            with self.subTest(name):
                with open(os.path.join(PACKAGE_DIR, name), "rb") as f:
                    data = f.read()
                self.assertEqual(len(data), length)
                peer = Peer()
                peer.update_mode()
                replies = peer.transfer(data)
                self.assertTrue(replies[-1].endswith(b"\r\nOK\r\n"))
                package = peer.events("package")[0]
                self.assertEqual((package["verdict"], package["kind"], package["version"], package["applied"]),
                                 (verdict, kind, version, applied))


if __name__ == "__main__":
    unittest.main()

"""Which ttys become COM ports, on device trees of the tests' own."""
import os
import shutil
import tempfile
import unittest
from unittest import mock

from quillon_linux import ports
from quillon_linux.tests.sysfs_tree import SysfsTree


class PortChoice(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-ports-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.tree = SysfsTree(self.dir)
        patcher = mock.patch.dict(os.environ, {"QUILLON_SYSFS_ROOT": self.tree.root})
        patcher.start()
        self.addCleanup(patcher.stop)
        # The module: an AT port on CDC ACM, and a USB-serial module's AT
        # port below its interface.
        self.module_usb = self.tree.add("ttyACM0", "02", "01", "cdc_acm", "Mobile Broadband Module")
        self.tree.add("ttyUSB2", "ff", "ff", "option", "Sierra Module")
        # Not the module: a board whose CDC ACM port takes no AT commands,
        # a console cable, and a port the kernel shows no USB device for.
        self.tree.add("ttyACM1", "02", "00", "cdc_acm", "Dev Board")
        self.tree.add("ttyUSB0", "ff", "00", "ftdi_sio", "USB Serial Console")

    def test_the_kernel_names_the_modem_ports_and_why_the_others_are_not(self):
        cases = (
            ("/dev/ttyACM0", "its USB interface is a modem taking AT commands (CDC ACM)", None),
            ("/dev/ttyUSB2", "its driver is option, a mobile-broadband one", None),
            ("/dev/ttyACM1", None, "driver cdc_acm, not a modem's"),
            ("/dev/ttyUSB0", None, "driver ftdi_sio, not a modem's"),
            ("/dev/ttyS0", None, "not a USB modem port"),
        )
        for node, modem, other in cases:
            with self.subTest(node=node):
                self.assertEqual(ports.modem_by_sysfs(node), modem)
                if other is not None:
                    self.assertEqual(ports.not_a_modem(node), other)

    def test_modemmanager_s_list_first_then_the_kernel(self):
        nodes = ["/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB0", "/dev/ttyUSB2"]
        # ModemManager vouches for the board's port: its word comes first.
        listed = {"ttyACM1": "ModemManager lists it as a port of modem 3 (at)"}
        used, skipped = ports.choose_ports(nodes, [], listed)
        self.assertEqual(used, [("/dev/ttyACM0", "its USB interface is a modem taking AT commands (CDC ACM)"),
                                ("/dev/ttyACM1", listed["ttyACM1"]),
                                ("/dev/ttyUSB2", "its driver is option, a mobile-broadband one")])
        self.assertEqual(skipped, [("/dev/ttyUSB0", "driver ftdi_sio, not a modem's")])

    def test_a_port_named_with_t_is_the_only_one_used_whatever_it_is(self):
        nodes = ["/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB0"]
        used, skipped = ports.choose_ports(nodes, ["/dev/ttyUSB0"], {"ttyACM0": "listed"})
        self.assertEqual(used, [("/dev/ttyUSB0", "named with -t")])
        self.assertEqual([node for node, _ in skipped], ["/dev/ttyACM0", "/dev/ttyACM1"])

    def test_a_link_is_judged_by_the_tty_it_points_to(self):
        # A udev alias such as /dev/modem: its own name is not in the tree.
        os.makedirs(os.path.join(self.dir, "dev"))
        alias = os.path.join(self.dir, "dev", "modem")
        os.symlink(os.path.join(self.dir, "dev", "ttyACM0"), alias)
        self.assertIsNotNone(ports.modem_by_sysfs(alias))
        self.assertEqual(ports.choose_ports([alias], [], {"ttyACM0": "listed"})[0], [(alias, "listed")])
        self.assertEqual(ports.usb_device_dir(alias), os.path.realpath(self.module_usb))

    def test_describe_names_the_usb_device_behind_a_port(self):
        self.assertEqual(ports.describe("/dev/ttyACM0"), "/dev/ttyACM0 (USB 1a2b 0001 Mobile Broadband Module)")
        self.assertEqual(ports.describe("/dev/ttyS0"), "/dev/ttyS0")

    def test_candidates_in_number_order_per_family(self):
        dev = os.path.join(self.dir, "dev")
        os.makedirs(dev)
        for name in ("ttyUSB10", "ttyACM10", "ttyUSB9", "ttyACM2"):
            open(os.path.join(dev, name), "w").close()
        # A link left behind by a gone device is no candidate.
        os.symlink(os.path.join(dev, "gone"), os.path.join(dev, "ttyACM3"))
        with mock.patch.dict(os.environ, {"QUILLON_DEV_ROOT": dev}):
            found = ports.candidate_ports()
        self.assertEqual(found, [os.path.join(dev, name) for name in ("ttyACM2", "ttyACM10", "ttyUSB9", "ttyUSB10")])


if __name__ == "__main__":
    unittest.main()

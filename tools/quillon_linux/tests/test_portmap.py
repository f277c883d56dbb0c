"""COM ports that follow the module's ttys through its restarts, on a
prefix of the tests' own (a dosdevices folder and a SERIALCOMM table)."""
import os
import shutil
import tempfile
import unittest
from unittest import mock

from quillon_linux import portmap
from quillon_linux.portmap import PortMap, Watcher
from quillon_linux.tests.sysfs_tree import SysfsTree


class FakePrefix:
    """What the port map needs of a Wine prefix: its dosdevices links and
    the SERIALCOMM values, which here are a dict."""

    def __init__(self, root, values=None, links=()):
        self.path = root
        os.makedirs(os.path.join(root, "dosdevices"))
        for name, target in links:
            os.symlink(target, self.dosdevice(name))
        self.values = dict(values or {})
        self.server_ours = True

    def serialcomm(self):
        return dict(self.values)

    def set_value(self, name, data):
        self.values[name] = data
        return True

    def delete_value(self, name):
        self.values.pop(name, None)

    def dosdevice(self, name):
        return os.path.join(self.path, "dosdevices", name)

    def link(self, com):
        path = self.dosdevice(com.lower())
        return os.readlink(path) if os.path.islink(path) else None


class Following(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-portmap-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.tree = SysfsTree(self.dir)
        patcher = mock.patch.dict(os.environ, {"QUILLON_SYSFS_ROOT": self.tree.root})
        patcher.start()
        self.addCleanup(patcher.stop)
        said = mock.patch.object(portmap, "say")
        self.said = said.start()
        self.addCleanup(said.stop)
        # Wine's own scan gave COM1; another program's modem entry is COM4.
        self.prefix = FakePrefix(os.path.join(self.dir, "prefix"), {"\\Device\\Serial0": "COM1",
                                                                     "\\Device\\mdm0": "COM4"},
                                 links=[("com1", "/dev/ttyS0")])
        self.ports = PortMap(self.prefix)

    def watch(self, looks):
        """A watcher that sees each list of ttys in turn, from the module's
        first port."""
        watcher = Watcher(self.ports, looks[0], look=iter(looks[1:]).__next__)
        self.ports.update(looks[0], report=False)
        return watcher

    def test_new_com_ports_start_above_every_one_in_use_with_free_modem_names(self):
        self.assertEqual(self.ports.base, 5)
        self.ports.update(["/dev/ttyACM0", "/dev/ttyACM2"])
        self.assertEqual(self.prefix.values["\\Device\\mdm1"], "COM5")
        self.assertEqual(self.prefix.values["\\Device\\mdm2"], "COM6")
        self.assertEqual((self.prefix.link("COM5"), self.prefix.link("COM6")), ("/dev/ttyACM0", "/dev/ttyACM2"))
        self.assertEqual(self.ports.port_of("/dev/ttyACM2"), "COM6")
        self.assertEqual(self.ports.port_of("/dev/ttyUSB0"), "/dev/ttyUSB0", "a port it does not map is left")

    def test_the_module_back_under_the_next_number_keeps_its_com_port(self):
        watcher = self.watch([["/dev/ttyACM0"], [], ["/dev/ttyACM1"], [], ["/dev/ttyACM2"]])
        self.assertEqual(watcher.step(), ["COM5: /dev/ttyACM0 is gone"])
        self.assertIsNone(self.prefix.link("COM5"))
        self.assertEqual(watcher.step(), ["COM5 -> /dev/ttyACM1"])
        watcher.step()
        self.assertEqual(watcher.step(), ["COM5 -> /dev/ttyACM2"])
        self.assertEqual(self.prefix.link("COM5"), "/dev/ttyACM2")
        self.assertEqual(sorted(self.prefix.values), ["\\Device\\Serial0", "\\Device\\mdm0", "\\Device\\mdm1"],
                         "one modem entry for the whole run")

    def test_a_port_that_appears_beside_the_module_only_if_the_kernel_says_modem(self):
        self.tree.add("ttyUSB0", "ff", "00", "ftdi_sio", "USB Serial Console")
        self.tree.add("ttyACM3", "02", "01", "cdc_acm", "Second Modem Port")
        watcher = self.watch([["/dev/ttyACM0"], ["/dev/ttyACM0", "/dev/ttyUSB0"],
                              ["/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyACM3"]])
        self.assertEqual(watcher.step(), [])
        self.said.assert_called_with("/dev/ttyUSB0 appeared; not the module's (driver ftdi_sio, not a modem's), "
                                     "not used")
        self.assertEqual(watcher.step(), ["COM6 -> /dev/ttyACM3"])

    def test_a_console_cable_that_appears_while_the_module_is_gone_takes_its_place(self):
        # Once the run has started, a port that appears while the module's
        # is gone is taken to be the module coming back.
        watcher = self.watch([["/dev/ttyACM0"], [], ["/dev/ttyUSB0"]])
        watcher.step()
        self.assertEqual(watcher.step(), ["COM5 -> /dev/ttyUSB0"])

    def test_a_link_removed_by_anything_else_is_put_back(self):
        self.ports.update(["/dev/ttyACM0"], report=False)
        os.unlink(self.prefix.dosdevice("com5"))
        self.assertEqual(self.ports.update(["/dev/ttyACM0"], report=False), [])
        self.assertEqual(self.prefix.link("COM5"), "/dev/ttyACM0")

    def test_remove_takes_the_links_and_on_a_server_not_ours_the_entries(self):
        self.ports.update(["/dev/ttyACM0"], report=False)
        self.prefix.server_ours = False
        self.ports.remove()
        self.assertIsNone(self.prefix.link("COM5"))
        self.assertEqual(self.prefix.link("COM1"), "/dev/ttyS0", "Wine's own port stays")
        self.assertNotIn("\\Device\\mdm1", self.prefix.values)
        self.assertIn("\\Device\\mdm0", self.prefix.values, "another program's entry stays")

    def test_a_failing_look_ends_the_watch_and_is_kept_for_the_end_of_the_run(self):
        def look():
            raise OSError("no /dev")
        watcher = Watcher(self.ports, [], look=look)
        with mock.patch.object(portmap, "WATCH_INTERVAL_S", 0.01):
            watcher.start()
            watcher.join(timeout=10)
        self.assertFalse(watcher.is_alive())
        self.assertEqual(str(watcher.error), "no /dev")


if __name__ == "__main__":
    unittest.main()

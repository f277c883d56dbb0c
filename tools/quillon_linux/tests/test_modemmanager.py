"""ModemManager's answers read from recorded mmcli -K output, and the hold
asked of a client of the tests' own."""
import os
import shutil
import stat
import sys
import tempfile
import unittest
from unittest import mock

from quillon_linux import modemmanager

RECORDED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mmcli")


def recorded(name):
    with open(os.path.join(RECORDED, name)) as f:
        return f.read()


# A client that answers from the recorded files: -L -K, -m PATH -K, and a
# hold that ends on SIGINT. FAKE_MMCLI_CALLS records every call.
FAKE_MMCLI = r'''#!%s
import os, signal, sys, time
args = sys.argv[1:]
with open(os.environ["FAKE_MMCLI_CALLS"], "a") as f:
    f.write(" ".join(args) + "\n")
held = os.path.exists(os.environ["FAKE_MMCLI_CALLS"] + ".held")
if args == ["-L", "-K"]:
    sys.stdout.write(open(os.path.join(os.environ["FAKE_MMCLI_DIR"], "list-none.txt" if held else os.environ["FAKE_MMCLI_LIST"])).read())
elif args[:1] == ["-m"]:
    sys.stdout.write(open(os.path.join(os.environ["FAKE_MMCLI_DIR"], "modem-%%s.txt" %% args[1].rsplit("/", 1)[-1])).read())
elif args[0].startswith("--inhibit-device="):
    ended = []
    signal.signal(signal.SIGINT, lambda n, f: ended.append(n))
    open(os.environ["FAKE_MMCLI_CALLS"] + ".held", "w").close()
    while not ended:
        time.sleep(0.05)
    os.unlink(os.environ["FAKE_MMCLI_CALLS"] + ".held")
else:
    sys.exit(1)
''' % sys.executable


class Parsing(unittest.TestCase):
    def test_modem_list(self):
        self.assertEqual(modemmanager.modem_paths(recorded("list-two.txt")),
                         ["/org/freedesktop/ModemManager1/Modem/0", "/org/freedesktop/ModemManager1/Modem/3"])
        self.assertEqual(modemmanager.modem_paths(recorded("list-none.txt")), [])
        self.assertEqual(modemmanager.modem_paths(""), [])

    def test_a_modem_s_ports_and_device(self):
        details = recorded("modem-0.txt")
        self.assertEqual(modemmanager.modem_ports(details),
                         [("cdc-wdm0", "(qmi)"), ("ttyUSB0", "(qcdm)"), ("ttyUSB2", "(at)"), ("wwan0", "(net)")])
        # Not the device identifier, whose key starts the same; the value
        # keeps its own colons.
        self.assertEqual(modemmanager.modem_device(details), "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-3")
        self.assertIsNone(modemmanager.modem_device(recorded("list-two.txt")))


class WithAClient(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-mmcli-")
        self.addCleanup(shutil.rmtree, self.dir)
        client = os.path.join(self.dir, "mmcli")
        with open(client, "w") as f:
            f.write(FAKE_MMCLI)
        os.chmod(client, stat.S_IRWXU)
        self.calls = os.path.join(self.dir, "calls")
        self.env = {"QUILLON_MMCLI": client, "FAKE_MMCLI_CALLS": self.calls, "FAKE_MMCLI_DIR": RECORDED,
                    "FAKE_MMCLI_LIST": "list-two.txt"}

    def called(self):
        with open(self.calls) as f:
            return f.read().splitlines()

    def test_listed_ports_name_their_modem_and_kind(self):
        with mock.patch.dict(os.environ, self.env):
            listed = modemmanager.listed_ports()
        self.assertEqual(listed["ttyUSB2"], "ModemManager lists it as a port of modem 0 (at)")
        self.assertEqual(listed["ttyACM2"], "ModemManager lists it as a port of modem 3 (at)")
        self.assertEqual(len(listed), 6)

    def test_no_client_no_ports(self):
        with mock.patch.dict(os.environ, {"QUILLON_MMCLI": os.path.join(self.dir, "none")}):
            self.assertEqual(modemmanager.listed_ports(), {})

    def test_the_hold_is_on_the_device_of_the_modem_that_has_the_port(self):
        with mock.patch.dict(os.environ, self.env), mock.patch.object(modemmanager, "say") as said:
            hold = modemmanager.Inhibition()
            hold.start(["/dev/ttyACM2"])
            try:
                self.assertEqual(hold.uid, "/sys/devices/pci0000:00/0000:00:1d.7/usb2/2-5")
                self.assertIsNotNone(hold.child)
                self.assertIsNone(hold.child.poll(), "held for the whole run")
            finally:
                hold.end()
        self.assertIn("--inhibit-device=/sys/devices/pci0000:00/0000:00:1d.7/usb2/2-5", self.called())
        self.assertFalse(os.path.exists(self.calls + ".held"), "the hold ended with end()")
        self.assertEqual([c.args[0] for c in said.call_args_list][-2:],
                         ["ModemManager: holding off the module", "ModemManager: the module is its own again"])

    def test_no_modem_with_the_port_and_no_usb_device_no_hold(self):
        with mock.patch.dict(os.environ, dict(self.env, QUILLON_SYSFS_ROOT=self.dir)), \
                mock.patch.object(modemmanager, "say") as said:
            hold = modemmanager.Inhibition()
            hold.start(["/dev/ttyACM7"])
        self.assertIsNone(hold.child)
        said.assert_called_with("ModemManager: runs, but manages none of the module's ports; nothing to hold off")


if __name__ == "__main__":
    unittest.main()

"""tools/quillon-linux, the one command a Linux user runs, against the
emulated module on a ttyACM<N> node, as a real module's port appears.

The node is a symlink to the emulator's pty in a folder of device nodes of
the test's own, which the launcher reads instead of /dev
(QUILLON_DEV_ROOT), so the tests need no root and run side by side, each
with its own numbers; N is the lowest free one, as the kernel gives it. At
each restart the node goes away and comes back; one case brings the module
back under the next number, as a real one does while its old node is still
held open. A fake mmcli early on PATH records what the launcher asks of
ModemManager and holds its inhibition until it is ended. A fake sysfs tree
says which USB interface and driver stand behind each node; another serial
device beside the module (a pty of the test's own) shows which ports the
launcher gives Quillon.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import types
import unittest

from quillon_e2e import harness
from quillon_e2e.harness import EXE, WineSession
from quillon_e2e.leftovers import leftovers
from quillon_e2e.module import EmulatedModule
from test_update import BANNER, RELEASED, REGAINED, TIME, header, result, run_log

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCHER = os.path.join(HERE, "..", "..", "tools", "quillon-linux")
LONG_RUNS = os.environ.get("QUILLON_LONG_RUNS") == "1"
FAKE_UID = "/sys/devices/pci0000:00/0000:00:1d.7/usb2/2-5"

FAKE_MMCLI = r'''import json, os, signal, sys, time
record, state = os.environ["FAKE_MMCLI_RECORD"], os.environ["FAKE_MMCLI_STATE"]
def note(**entry):
    with open(record, "a") as f:
        f.write(json.dumps(dict(entry, t=time.time(), pid=os.getpid())) + "\n")
args = sys.argv[1:]
note(event="call", args=args)
inhibited = os.path.exists(state)
if args == ["-L", "-K"]:
    print("modem-list.length   : %d" % (0 if inhibited else 1))
    if not inhibited:
        print("modem-list.value[1] : /org/freedesktop/ModemManager1/Modem/3")
elif args[:1] == ["-m"] and not inhibited:
    print("modem.dbus-path              : /org/freedesktop/ModemManager1/Modem/3")
    print("modem.generic.device         : %s" % os.environ["FAKE_MMCLI_UID"])
    ports = os.environ["FAKE_MMCLI_PORTS"].split(",")
    print("modem.generic.ports.length   : %d" % len(ports))
    for i, port in enumerate(ports):
        print("modem.generic.ports.value[%d] : %s (at)" % (i + 1, port))
elif len(args) == 1 and args[0].startswith("--inhibit-device="):
    ended = []
    for s in (signal.SIGINT, signal.SIGTERM):
        signal.signal(s, lambda n, f: ended.append(n))
    open(state, "w").close()
    print("successfully inhibited device with uid '%s'" % args[0].split("=", 1)[1], flush=True)
    while not ended:
        time.sleep(0.05)
    os.unlink(state)
    note(event="ended", signal=ended[0])
else:
    sys.exit(1)
'''


class FakeSysfs:
    """A sysfs tree of the launcher's own (QUILLON_SYSFS_ROOT): per tty a
    USB device, its interface with class, protocol and driver, and for a
    USB-serial driver the port below the interface, as the kernel lays
    them out."""

    def __init__(self, root):
        self.root = os.path.join(root, "sysfs")
        self.devices = 0
        os.makedirs(os.path.join(self.root, "class", "tty"))

    def add(self, node, interface_class, protocol, driver, product):
        self.devices += 1
        name = os.path.basename(node)
        usb = os.path.join(self.root, "devices", "pci0000:00", "0000:00:14.0", "usb1", "1-%d" % self.devices)
        interface = os.path.join(usb, "1-%d:1.0" % self.devices)
        os.makedirs(interface)
        for directory, values in ((usb, {"idVendor": "1a2b", "idProduct": "0001", "product": product}),
                                  (interface, {"bInterfaceClass": interface_class, "bInterfaceProtocol": protocol})):
            for key, value in values.items():
                with open(os.path.join(directory, key), "w") as f:
                    f.write(value + "\n")
        bus = "usb" if name.startswith("ttyACM") else "usb-serial"
        drivers = os.path.join(self.root, "bus", bus, "drivers", driver)
        os.makedirs(drivers, exist_ok=True)
        device = interface
        if bus == "usb-serial":
            device = os.path.join(interface, name)
            os.makedirs(device)
        os.symlink(drivers, os.path.join(device, "driver"))
        os.makedirs(os.path.join(self.root, "class", "tty", name))
        os.symlink(device, os.path.join(self.root, "class", "tty", name, "device"))


class OtherDevice:
    """A serial device that is no modem, on a node of its own (the
    lowest free ttyACM number unless told): a pty whose every byte the
    test reads back."""

    def __init__(self, dev, node=None):
        self.master, slave = os.openpty()
        self.slave = slave
        n = 0
        while node is None:
            if not os.path.lexists(os.path.join(dev, "ttyACM%d" % n)):
                node = os.path.join(dev, "ttyACM%d" % n)
            n += 1
        self.node = node
        os.symlink(os.ttyname(slave), node)
        os.set_blocking(self.master, False)

    def received(self):
        data = b""
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except (BlockingIOError, OSError):
                return data
            if not chunk:
                return data
            data += chunk

    def remove(self):
        if os.path.islink(self.node):
            os.unlink(self.node)
        os.close(self.master)
        os.close(self.slave)


def number(node):
    return int(re.search(r"(\d+)$", node).group(1))


class DevNodes:
    """ttyACM<N> links in dev that follow the emulator's pty.

    next_number: the module comes back under the next free number, as when
    its old node is still held open; otherwise under the lowest free one.
    """

    def __init__(self, dev, next_number=False):
        self.dev = dev
        self.next_number = next_number
        self.made = []
        self.held = set()
        self.current = None
        self.lock = threading.Lock()

    def lowest_free(self):
        n = 0
        while n in self.held or os.path.lexists(self.node(n)):
            n += 1
        return n

    def node(self, n):
        return os.path.join(self.dev, "ttyACM%d" % n)

    def follow(self, event, pty):
        with self.lock:
            if event == "READY":
                path = self.node(self.lowest_free())
                os.symlink(pty, path)
                self.made.append(path)
                self.current = path
            elif self.current is not None:
                os.unlink(self.current)
                if self.next_number:
                    self.held.add(number(self.current))
                self.current = None

    def remove(self):
        with self.lock:
            for path in self.made:
                if os.path.islink(path):
                    os.unlink(path)
            self.made = []
            self.current = None


class LinuxLauncher(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = WineSession("linux-launcher")
        cls.display._start_xvfb(timeout=30)
        cls.pristine = harness._pristine_prefix()
        cls.runs = 0

    @classmethod
    def tearDownClass(cls):
        cls.display._stop_xvfb()

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillon-launcher-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.bin)
        self.dev = os.path.join(self.root, "dev")
        os.makedirs(self.dev)
        self.mmcli_record = os.path.join(self.root, "mmcli.jsonl")
        type(self).runs += 1
        self.marker = "%s/linux-launcher-%d-%d" % (os.environ[harness.RUN_MARKER], os.getpid(), self.runs)
        self.artifacts = os.path.join(harness.ARTIFACTS, "linux-launcher", self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts)

    def clone_prefix(self):
        prefix = os.path.join(self.root, "prefix")
        harness._clone_prefix(self.pristine, prefix)
        return prefix

    def fake_mmcli(self, ports):
        path = os.path.join(self.bin, "mmcli")
        with open(path, "w") as f:
            # This Python by its own path: a version manager's shim found
            # by "env python3" costs some 0.4 CPU-s a call.
            f.write("#!%s\n" % sys.executable + FAKE_MMCLI)
        os.chmod(path, 0o755)
        return {"FAKE_MMCLI_RECORD": self.mmcli_record, "FAKE_MMCLI_STATE": os.path.join(self.root, "inhibited"),
                "FAKE_MMCLI_UID": FAKE_UID, "FAKE_MMCLI_PORTS": ",".join(ports)}

    def mmcli_entries(self):
        try:
            with open(self.mmcli_record) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []

    def other_device(self, node=None):
        other = OtherDevice(self.dev, node)
        self.addCleanup(other.remove)
        return other

    def fake_sysfs(self):
        return FakeSysfs(self.root)

    def launch(self, extra_env, args=("-q",), timeout=600, interrupt_when=None, while_running=None,
               launcher=LAUNCHER, exe=EXE):
        """Runs the launcher to its end; interrupt_when: a condition on
        which it gets a Ctrl+C (SIGINT) once; while_running: called with
        the launcher's messages so far at each look. Returns the launcher's
        own messages (standard error); self.stdout gets its standard
        output."""
        home = os.path.join(self.root, "home")
        os.makedirs(home, exist_ok=True)
        # The fake mmcli, when there is one, answers before any real one.
        env = dict(os.environ, HOME=home, DISPLAY=self.display.display,
                   PATH=self.bin + ":" + os.environ.get("PATH", ""),
                   QUILLON_DEV_ROOT=self.dev, PYTHONDONTWRITEBYTECODE="1", **{harness.RUN_MARKER: self.marker})
        env.update(extra_env)
        for name in [name for name, value in env.items() if value is None]:
            del env[name]
        if "QUILLON_PREFIX" not in extra_env:
            env.pop("QUILLON_PREFIX", None)
        trace = os.path.join(self.root, "trace.txt")
        out_path = os.path.join(self.artifacts, "launcher.err")
        stdout_path = os.path.join(self.artifacts, "launcher.out")
        with open(out_path, "w") as err, open(stdout_path, "wb") as out:
            popen = subprocess.Popen([sys.executable, launcher, "--exe", exe, "--trace", trace] + list(args),
                                     env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            deadline = time.monotonic() + timeout
            while popen.poll() is None and time.monotonic() < deadline:
                if interrupt_when is not None and interrupt_when():
                    popen.send_signal(signal.SIGINT)
                    interrupt_when = None
                if while_running is not None:
                    with open(out_path) as f:
                        while_running(f.read())
                time.sleep(0.2)
            code = popen.poll()
            if code is None:
                popen.send_signal(signal.SIGTERM)
                popen.wait(timeout=120)
        with open(out_path) as f:
            output = f.read()
        with open(stdout_path, "rb") as f:
            self.stdout = f.read()
        if os.path.exists(trace):
            shutil.copy(trace, self.artifacts)
        left = leftovers(self.marker)
        return code, output, trace, left

    def upgrade_log(self, output):
        m = re.search(r"upgrade log: (\S+)", output)
        self.assertIsNotNone(m, output)
        with open(m.group(1), "rb") as f:
            return f.read()

    def no_mmcli(self):
        """The environment of a machine without ModemManager."""
        return {"QUILLON_MMCLI": os.path.join(self.bin, "no-such-mmcli")}

    def update_through_the_launcher(self, next_number, mmcli, sysfs=None, other=None, args=("-q",), env=None,
                                    watch=None, scenario="default", **launch):
        """mmcli: the fake ModemManager lists the module's first port;
        sysfs: the tree the launcher reads (an empty one when None);
        other: a device beside the module that must get nothing; env: more
        of the launcher's environment; watch: called with the module, gives
        the launcher's while_running."""
        nodes = DevNodes(self.dev, next_number)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        started = time.time()
        with EmulatedModule(session, scenario, follow=nodes.follow) as module:
            first = nodes.current
            env = dict({"QUILLON_PREFIX": self.clone_prefix(),
                        "QUILLON_SYSFS_ROOT": (sysfs or self.fake_sysfs()).root}, **(env or {}))
            env.update(self.fake_mmcli([os.path.basename(first)]) if mmcli else self.no_mmcli())
            if watch is not None:
                launch["while_running"] = watch(module)
            code, output, trace, left = self.launch(env, args=[a if a != "FIRST" else first for a in args], **launch)
            came_back_as = [e["pty"] for e in module.events("online")]
            first_byte = min(e["t"] for e in module.events("command"))
            last_event = max(e["t"] for e in module.events())
        with open(trace, errors="replace") as f:
            trace_text = f.read()
        self.assertEqual(code, 0, output + "\n".join(harness.trace_lines(trace_text)[-30:]))
        self.assertEqual(left, [], "the launcher left these running")
        log = self.upgrade_log(output)
        self.assertIsNotNone(re.fullmatch(run_log(
            BANNER, RELEASED, TIME, header(b"R1D05", b"QHW 552 08/101 R1J"), b"QuillonDlg OK Pressed\r\r\n",
            b"Quillon: Optional assignment 1 done\r\r\n", REGAINED, result(0, b"Upgrade finishied succesfully")),
            log), log.decode("latin-1"))
        self.assertEqual(module.events("identity")[-1]["software_version"], "R1D06")
        self.assertEqual(len(came_back_as), 3, "on the bus at the start and after each restart")
        self.assertIn("OutputDebugStringA", trace_text, "the trace was saved")
        numbers = [number(p) for p in nodes.made]
        self.assertEqual(numbers, [numbers[0] + i for i in range(3)] if next_number else [numbers[0]] * 3)
        for path in nodes.made:
            self.assertIn(path, output, "the launcher followed the module to %s" % path)
        if other is not None:
            self.assertEqual(other.received(), b"", "the other device got nothing")
            self.assertNotIn("-> %s" % other.node, output, "the other device got no COM port")
            self.assertIn("skipping %s" % other.node, output)
        return output, started + first_byte, started + last_event

    def test_update_with_modemmanager_held_off(self):
        output, first_byte, last_event = self.update_through_the_launcher(next_number=False, mmcli=True)
        entries = self.mmcli_entries()
        inhibit = [e for e in entries if e["event"] == "call" and e["args"] == ["--inhibit-device=" + FAKE_UID]]
        self.assertEqual(len(inhibit), 1, entries)
        self.assertLess(inhibit[0]["t"], first_byte, "inhibited before the module's first byte")
        ended = [e for e in entries if e["event"] == "ended"]
        self.assertEqual([e["pid"] for e in ended], [inhibit[0]["pid"]], entries)
        self.assertGreater(ended[0]["t"], last_event - 1.0, "the inhibition lasted the whole run")

    def test_module_back_under_the_next_number(self):
        # A board on the lowest number, a CDC ACM port without AT commands,
        # which ModemManager does not list: discovery would try it first.
        sysfs = self.fake_sysfs()
        other = self.other_device()
        sysfs.add(other.node, "02", "00", "cdc_acm", "Dev Board")
        output, _, _ = self.update_through_the_launcher(next_number=True, mmcli=True, sysfs=sysfs, other=other)
        self.assertEqual(len([e for e in self.mmcli_entries() if e["event"] == "ended"]), 1)
        self.assertRegex(output, r"using %s/ttyACM\d+.*: ModemManager lists it" % re.escape(self.dev))

    def module_ports_in_sysfs(self, sysfs, but):
        """The module's possible nodes, as the kernel shows a modem's."""
        for n in range(16):
            node = os.path.join(self.dev, "ttyACM%d" % n)
            if node != but:
                sysfs.add(node, "02", "01", "cdc_acm", "Mobile Broadband Module")

    def test_without_modemmanager_the_kernel_says_which_port_is_the_module(self):
        # A USB-serial console cable beside the module.
        sysfs = self.fake_sysfs()
        other = self.other_device(os.path.join(self.dev, "ttyUSB0"))
        sysfs.add(other.node, "ff", "00", "ftdi_sio", "USB Serial Console")
        self.module_ports_in_sysfs(sysfs, other.node)
        output, _, _ = self.update_through_the_launcher(next_number=True, mmcli=False, sysfs=sysfs, other=other)
        self.assertIn("ModemManager: not installed", output)
        self.assertRegex(output, r"using %s/ttyACM\d+.*: its USB interface is a modem taking AT commands"
                         % re.escape(self.dev))
        self.assertIn("skipping %s" % other.node, output)

    def test_a_port_named_with_t_is_used_whatever_it_is(self):
        # Neither ModemManager nor the kernel vouch for the module's port.
        sysfs = self.fake_sysfs()
        other = self.other_device()
        sysfs.add(other.node, "02", "01", "cdc_acm", "Another Modem")
        output, _, _ = self.update_through_the_launcher(next_number=False, mmcli=False, sysfs=sysfs,
                                                        args=("-q", "-t", "FIRST"))
        self.assertRegex(output, r"using %s/ttyACM\d+.*: named with -t" % re.escape(self.dev))
        self.assertIn("skipping %s" % other.node, output)
        self.assertNotIn("-> %s" % other.node, output)
        self.assertEqual(other.received(), b"", "the port not named got nothing")

    def test_no_port_qualifies_names_t(self):
        sysfs = self.fake_sysfs()
        other = self.other_device()
        sysfs.add(other.node, "02", "00", "cdc_acm", "Dev Board")
        env = dict(self.no_mmcli(), QUILLON_PREFIX=self.clone_prefix(), QUILLON_SYSFS_ROOT=sysfs.root)
        code, output, trace, left = self.launch(env)
        self.assertIn("skipping %s" % other.node, output)
        self.assertRegex(output, r"none of these ports is known to be the module's.*-t %s" % re.escape(other.node))
        self.assertNotIn("-> %s" % other.node, output)
        self.assertEqual(other.received(), b"")
        self.assertEqual(left, [])

    def inventory(self, env=None, **launch):
        """-i against a module that already runs the target: its report
        alone on standard output, and 20."""
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        with EmulatedModule(session, "already_r1d06", follow=nodes.follow):
            env = dict(self.fake_mmcli([os.path.basename(nodes.current)]), QUILLON_PREFIX=self.clone_prefix(),
                       QUILLON_SYSFS_ROOT=self.fake_sysfs().root, **(env or {}))
            code, output, trace, left = self.launch(env, args=("-i",), **launch)
        self.assertEqual(code, 20, output)
        report = json.loads(self.stdout.decode("utf-8"))  # nothing else on standard output
        self.assertEqual((report["status"], report["exitCode"]), ("current", 20))
        self.assertEqual(report["module"]["softwareVersion"], "R1D06")
        self.assertIn("quillon-linux: Quillon ended with exit code 20", output)
        self.assertEqual(left, [])
        return output

    def test_inventory_report_on_standard_output(self):
        self.inventory()

    def test_inventory_with_no_display(self):
        # As over SSH: no DISPLAY, no desktop session at all.
        output = self.inventory({"DISPLAY": None})
        self.assertIn("a display of its own for this unattended run", output)

    def test_quiet_update_with_no_display(self):
        output, _, _ = self.update_through_the_launcher(next_number=False, mmcli=True, env={"DISPLAY": None})
        self.assertIn("a display of its own for this unattended run", output)

    def test_the_desktop_s_display_ends_in_the_middle_of_the_flash(self):
        # The user's display: an X server of the test's own, ended while
        # the package is on the wire, as at a logout. Xlib ends every
        # client of a display that goes away. The module answers each chunk
        # a little late, so that the package is seconds on the wire.
        desktop = WineSession("linux-launcher-desktop")
        desktop._start_xvfb(timeout=30)
        self.addCleanup(desktop._stop_xvfb)
        ended, seen = [], []

        def watch(module):
            seen.append(module)

            def end_the_desktop_mid_flash(messages):
                chunks = len(module.events("header", package=1))
                if not ended and chunks >= 50:
                    desktop._stop_xvfb()
                    ended.append(chunks)
            return end_the_desktop_mid_flash

        self.update_through_the_launcher(next_number=False, mmcli=True, env={"DISPLAY": desktop.display},
                                         watch=watch, scenario={"reply_delay": 0.005})
        self.assertTrue(ended, "the display ended while the package was on the wire")
        self.assertLess(ended[0], len(seen[0].events("header", package=1)) - 100, "well before its last chunk")

    def unbuilt_checkout(self, beside_exe):
        """The launcher's files as a Linux machine gets them, with no build
        anywhere, and a release folder with beside_exe next to Quillon.exe.
        Returns (launcher, exe)."""
        tools = os.path.join(HERE, "..", "..", "tools")
        checkout = os.path.join(self.root, "checkout", "tools")
        shutil.copytree(os.path.join(tools, "quillon_linux"), os.path.join(checkout, "quillon_linux"),
                        ignore=shutil.ignore_patterns("tests", "__pycache__"))
        os.makedirs(os.path.join(checkout, "wine_desktop"))
        for name in ("desktop_hold.py", "wine_server.py"):
            shutil.copy(os.path.join(tools, "wine_desktop", name), os.path.join(checkout, "wine_desktop"))
        shutil.copy(LAUNCHER, checkout)
        release = os.path.join(self.root, "release")
        os.makedirs(release)
        for name in ["Quillon.exe"] + list(beside_exe):
            shutil.copy(os.path.join(os.path.dirname(EXE), name), release)
        return os.path.join(checkout, "quillon-linux"), os.path.join(release, "Quillon.exe")

    def test_a_release_exe_with_its_desktop_program_needs_no_build(self):
        launcher, exe = self.unbuilt_checkout(["desktop_ready.exe"])
        output, _, _ = self.update_through_the_launcher(next_number=False, mmcli=True, launcher=launcher, exe=exe)
        self.assertNotIn("is not checked or held", output)

    def test_a_release_exe_alone_runs_and_says_what_it_gives_up(self):
        launcher, exe = self.unbuilt_checkout([])
        output = self.inventory(launcher=launcher, exe=exe)
        self.assertIn("no desktop_ready.exe beside %s, nor in a build of this checkout: Wine's desktop is not "
                      "checked or held" % exe, output)

    def test_a_run_with_dialogs_and_no_display_names_q_and_i(self):
        code, output, _, left = self.launch({"DISPLAY": None, "QUILLON_PREFIX": self.clone_prefix()}, args=())
        self.assertEqual(code, 10, output)
        self.assertIn("no display (DISPLAY is not set): run it from your desktop session, or run it unattended "
                      "with -q (update) or -i (inventory)", output)
        self.assertEqual(left, [])

    def without_modemmanager(self, env, while_running=None):
        sysfs = self.fake_sysfs()
        self.module_ports_in_sysfs(sysfs, None)
        env = dict(env, QUILLON_SYSFS_ROOT=sysfs.root, **self.no_mmcli())
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        with EmulatedModule(session, "default", follow=nodes.follow):
            code, output, trace, left = self.launch(env, while_running=while_running)
        self.assertEqual(code, 0, output)
        self.assertIn("ModemManager: not installed", output)
        self.assertEqual(left, [])
        self.assertIn(b"RESULT (0): Upgrade finishied succesfully", self.upgrade_log(output))
        return output

    def test_without_modemmanager(self):
        self.without_modemmanager({"QUILLON_PREFIX": self.clone_prefix()})

    def broken_explorer(self, prefix):
        """The prefix's explorer cannot start: its desktop gets a window
        that no explorer owns, and no process on it can make a window for
        as long as the server runs. Returns the call that mends it."""
        explorer = os.path.join(prefix, "drive_c", "windows", "system32", "explorer.exe")
        # The clone's own name for it moves; the pristine prefix keeps it.
        os.rename(explorer, explorer + ".away")
        with open(explorer, "wb") as f:
            f.write(b"not an image")
        return lambda: os.replace(explorer + ".away", explorer)

    def test_a_desktop_left_without_explorer_is_started_again(self):
        # Without the check Quillon's main dialog is not made, and the run
        # ends with 1 right after the opening probe. Explorer is mended only
        # once the launcher has seen the spoilt desktop.
        prefix = self.clone_prefix()
        mend = self.broken_explorer(prefix)
        mended = []

        def mend_once_seen(messages):
            if "starting Wine again" in messages and not mended:
                mend()
                mended.append(True)

        output = self.without_modemmanager({"QUILLON_PREFIX": prefix}, while_running=mend_once_seen)
        # Mended while the server restarts, or just after: once or twice.
        self.assertIn("Wine's desktop gives no windows", output)

    def test_a_desktop_that_never_gets_explorer_ends_10_with_nothing_sent(self):
        prefix = self.clone_prefix()
        self.broken_explorer(prefix)
        sysfs = self.fake_sysfs()
        self.module_ports_in_sysfs(sysfs, None)
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        with EmulatedModule(session, "default", follow=nodes.follow) as module:
            code, output, _, left = self.launch(dict(self.no_mmcli(), QUILLON_PREFIX=prefix,
                                                     QUILLON_SYSFS_ROOT=sysfs.root))
            commands = module.events("command")
        self.assertEqual(code, 10, output)
        self.assertIn("its desktop started without explorer 3 times", output)
        self.assertIn("nothing was sent to the module", output)
        self.assertEqual(output.count("starting Wine again"), 2, output)
        self.assertEqual(commands, [], "the module got nothing")
        self.assertNotIn("running Quillon.exe", output)
        self.assertEqual(left, [])

    def test_first_use_boots_its_own_prefix(self):
        if not LONG_RUNS:
            self.skipTest("long run (a Wine prefix is booted): set QUILLON_LONG_RUNS=1")
        # No QUILLON_PREFIX: the launcher boots its own below HOME.
        self.without_modemmanager({})
        self.assertTrue(os.path.exists(os.path.join(self.root, "home", ".local", "share", "quillon", "prefix",
                                                    "system.reg")))

    def test_ctrl_c_stops_quillon_and_ends_the_hold(self):
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        with EmulatedModule(session, "default", follow=nodes.follow) as module:
            env = dict(self.fake_mmcli([os.path.basename(nodes.current)]), QUILLON_PREFIX=self.clone_prefix())
            code, output, trace, left = self.launch(env, interrupt_when=lambda: module.events("header"))
        self.assertEqual(code, 130, output)
        self.assertIn("run quillon-linux again to finish it", output)
        self.assertEqual(left, [], "the launcher left these running")
        self.assertEqual(len([e for e in self.mmcli_entries() if e["event"] == "ended"]), 1, output)
        self.assertEqual(os.listdir(os.path.join(self.root, "prefix", "dosdevices")).count("com3"), 0,
                         "the launcher's COM port went with it")

    def test_own_error_after_the_hold_still_ends_it(self):
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        nodes.follow("READY", "/dev/null")
        not_a_prefix = os.path.join(self.root, "papers")
        os.makedirs(not_a_prefix)
        open(os.path.join(not_a_prefix, "letter.txt"), "w").close()
        env = dict(self.fake_mmcli([os.path.basename(nodes.current)]), QUILLON_PREFIX=not_a_prefix)
        code, output, trace, left = self.launch(env)
        self.assertEqual(code, 10, output)
        self.assertIn("is neither empty nor a Wine prefix", output)
        entries = self.mmcli_entries()
        self.assertIn(["--inhibit-device=" + FAKE_UID], [e["args"] for e in entries if e["event"] == "call"])
        self.assertEqual(len([e for e in entries if e["event"] == "ended"]), 1, entries)
        self.assertEqual(left, [])

    def test_module_that_never_comes_back_ends_8_and_the_hold(self):
        if not LONG_RUNS:
            self.skipTest("long run (17 minutes of polls): set QUILLON_LONG_RUNS=1")
        nodes = DevNodes(self.dev)
        self.addCleanup(nodes.remove)
        session = types.SimpleNamespace(prefix=None, artifacts=self.artifacts)
        with EmulatedModule(session, {"restart": {"delay": "never"}}, follow=nodes.follow):
            env = dict(self.fake_mmcli([os.path.basename(nodes.current)]), QUILLON_PREFIX=self.clone_prefix())
            code, output, trace, left = self.launch(env, timeout=2400)
        self.assertEqual(code, 8, output)
        self.assertEqual(left, [])
        self.assertIn(b"RESULT (8): Timeout", self.upgrade_log(output))
        self.assertEqual(len([e for e in self.mmcli_entries() if e["event"] == "ended"]), 1)


if __name__ == "__main__":
    unittest.main()

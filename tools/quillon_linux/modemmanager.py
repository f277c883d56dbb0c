"""ModemManager: the ports it lists for its modems, and a hold that keeps
it off the module for the whole run.

The parsers read mmcli's key-value output (-K) as text, so the native
tests give them recorded output.
"""
import ctypes
import os
import shutil
import signal
import subprocess
import time

from .common import Failure, say
from .ports import usb_device_dir


def mmcli_path():
    # Tests give a client of their own.
    return os.environ.get("QUILLON_MMCLI") or "mmcli"


def keyvalues(text):
    """mmcli -K's "key : value" lines as [(key, value)]."""
    pairs = []
    for line in text.splitlines():
        if ":" in line:
            key, value = line.split(":", 1)
            pairs.append((key.strip(), value.strip()))
    return pairs


def modem_paths(listing):
    """The modems' object paths in `mmcli -L -K`."""
    return [v for k, v in keyvalues(listing) if k.startswith("modem-list.value") and v.startswith("/")]


def modem_ports(details):
    """[(tty name, kind)] of the ports in `mmcli -m MODEM -K`."""
    ports = []
    for key, value in keyvalues(details):
        if key.startswith("modem.generic.ports.value"):
            name, _, kind = value.partition(" ")
            ports.append((name, kind.strip()))
    return ports


def modem_device(details):
    """The modem's device identifier in `mmcli -m MODEM -K`, or None."""
    device = [v for k, v in keyvalues(details) if k == "modem.generic.device"]
    return device[0] if device else None


def _mmcli(args, timeout=20):
    try:
        r = subprocess.run([mmcli_path()] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=timeout)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return r.stdout if r.returncode == 0 else None


def _modems():
    listing = _mmcli(["-L", "-K"])
    return None if listing is None else modem_paths(listing)


def listed_ports():
    """{tty name: why} for the ports ModemManager lists for its modems;
    empty when it does not run. Read before the hold: a held modem is no
    longer listed."""
    if shutil.which(mmcli_path()) is None:
        return {}
    ports = {}
    for modem in _modems() or []:
        for name, kind in modem_ports(_mmcli(["-m", modem, "-K"]) or ""):
            ports[name] = "ModemManager lists it as a port of modem %s %s" % (modem.rsplit("/", 1)[-1], kind)
    return ports


def _prctl_death_signal():
    # The hold must not outlive a launcher that is killed outright.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class Inhibition:
    """mmcli --inhibit-device=UID, held for the whole run. ModemManager
    keeps an inhibited device's identifier across its disappearances, so
    the hold covers the module's restarts."""

    def __init__(self):
        self.child = None
        self.uid = None

    def start(self, ports):
        if shutil.which(mmcli_path()) is None:
            say("ModemManager: not installed (no mmcli), nothing to keep off the module")
            return
        modems = _modems()
        if modems is None:
            say("ModemManager: not running, nothing to keep off the module")
            return
        names = {os.path.basename(p) for p in ports} | {os.path.basename(os.path.realpath(p)) for p in ports}
        managed = None
        for modem in modems:
            details = _mmcli(["-m", modem, "-K"])
            if details is None:
                continue
            device = modem_device(details)
            if device and {name for name, _ in modem_ports(details)} & names:
                managed = (modem, device)
                break
        if managed is not None:
            self.uid = managed[1]
        else:
            usb = [d for d in (usb_device_dir(p) for p in ports) if d]
            if not usb:
                say("ModemManager: runs, but manages none of the module's ports; nothing to hold off")
                return
            self.uid = usb[0]
        say("ModemManager: asking it to let go of %s for the whole run" % self.uid)
        self.child = subprocess.Popen([mmcli_path(), "--inhibit-device=%s" % self.uid], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                      start_new_session=True, preexec_fn=_prctl_death_signal)
        if not self._held(managed[0] if managed else None):
            error = self.child.stderr.read().decode(errors="replace").strip() if self.child.poll() is not None else ""
            self.end()
            if managed is not None:
                raise Failure("ModemManager did not let go of the module (%s); the update would have to "
                              "share its port. Stop it for the run: sudo systemctl stop ModemManager"
                              % (error or "no answer"))
            say("ModemManager: it does not know %s (%s); going on" % (self.uid, error or "no answer"))
            return
        say("ModemManager: holding off the module")

    def _held(self, modem):
        """The hold is in place once ModemManager dropped the modem (or,
        for a device it did not list, once mmcli stays up)."""
        deadline = time.monotonic() + 30
        up_since = time.monotonic()
        while time.monotonic() < deadline:
            if self.child.poll() is not None:
                return False
            if modem is not None:
                listed = _modems()
                if listed is not None and modem not in listed:
                    return True
            elif time.monotonic() - up_since >= 2:
                return True
            time.sleep(0.5)
        return self.child.poll() is None and modem is None

    def end(self):
        child, self.child = self.child, None
        if child is None:
            return
        for sig, wait in ((signal.SIGINT, 10), (signal.SIGTERM, 5), (signal.SIGKILL, 5)):
            if child.poll() is not None:
                break
            try:
                child.send_signal(sig)
                child.wait(timeout=wait)
            except subprocess.TimeoutExpired:
                continue
            except OSError:
                break
        child.stderr.close()
        say("ModemManager: the module is its own again")

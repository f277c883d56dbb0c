"""Which ttys are the module's, as the kernel's device tree shows them.

Only the module's ports become COM ports: those ModemManager lists for a
modem, else those whose USB interface says it is a modem (CDC ACM with AT
commands) or whose driver is a mobile-broadband one. Quillon sends AT
commands and its loader probe to every port it is given, and a console
cable, a GPS receiver or a board that resets when its port opens must not
get them.
"""
import glob
import grp
import os
import pwd
import re

PORT_NAMES = ("ttyACM*", "ttyUSB*")
# A USB interface that is a modem taking AT commands: CDC ACM (class 02)
# with the V.250 protocol (01).
CDC_CLASS = "02"
AT_PROTOCOL = "01"
# The kernel's serial drivers for mobile-broadband modules.
MODEM_DRIVERS = ("option", "option1", "qcserial", "sierra")


def sysfs_root():
    # Tests give a device tree of their own.
    return os.environ.get("QUILLON_SYSFS_ROOT") or "/sys"


def dev_root():
    # ...and device nodes of their own, so that tests side by side do not
    # see each other's modules come and go.
    return os.environ.get("QUILLON_DEV_ROOT") or "/dev"


def _number(path):
    m = re.search(r"(\d+)$", path)
    return int(m.group(1)) if m else -1


def candidate_ports():
    found = []
    for pattern in [os.path.join(dev_root(), name) for name in PORT_NAMES]:
        found += sorted(glob.glob(pattern), key=_number)
    return [p for p in found if os.path.exists(p)]


def tty_device_dir(node):
    """The sysfs directory of the device behind a tty (a USB interface, or
    a USB-serial port below one), or None."""
    for name in (os.path.basename(node), os.path.basename(os.path.realpath(node))):
        path = os.path.join(sysfs_root(), "class", "tty", name, "device")
        if os.path.exists(path):
            return os.path.realpath(path)
    return None


def usb_device_dir(node):
    """The sysfs directory of the USB device behind a tty, or None."""
    path = tty_device_dir(node)
    devices = os.path.realpath(os.path.join(sysfs_root(), "devices"))
    while path is not None and path.startswith(devices + os.sep):
        if os.path.exists(os.path.join(path, "idVendor")):
            return path
        path = os.path.dirname(path)
    return None


def _attribute(directory, name):
    try:
        with open(os.path.join(directory, name)) as f:
            return f.read().strip().lower()
    except OSError:
        return None


def _driver(directory):
    link = os.path.join(directory, "driver")
    return os.path.basename(os.path.realpath(link)) if os.path.exists(link) else None


def modem_by_sysfs(node):
    """Why the kernel's view makes node a modem's port, or None. A CDC ACM
    tty's device is its USB interface; a USB-serial tty's is a port below
    the interface, so both levels are read."""
    path = tty_device_dir(node)
    for _ in range(2):
        if path is None:
            break
        if (_attribute(path, "bInterfaceClass"), _attribute(path, "bInterfaceProtocol")) == (CDC_CLASS, AT_PROTOCOL):
            return "its USB interface is a modem taking AT commands (CDC ACM)"
        driver = _driver(path)
        if driver in MODEM_DRIVERS:
            return "its driver is %s, a mobile-broadband one" % driver
        path = os.path.dirname(path)
    return None


def not_a_modem(node):
    """What the kernel says node is instead, for the skipped list."""
    path = tty_device_dir(node)
    if path is None:
        return "not a USB modem port"
    driver = _driver(path) or _driver(os.path.dirname(path))
    return "driver %s, not a modem's" % driver if driver else "not a USB modem port"


def describe(node):
    usb = usb_device_dir(node)
    if usb is None:
        return node
    fields = []
    for name in ("idVendor", "idProduct", "manufacturer", "product"):
        try:
            with open(os.path.join(usb, name)) as f:
                fields.append(f.read().strip())
        except OSError:
            pass
    return "%s (USB %s)" % (node, " ".join(fields))


def choose_ports(nodes, named, listed):
    """(used, skipped), each [(node, why)]: the module's ports among nodes.
    named: the Linux ports given with -t, used whatever they are; listed:
    {tty name: why} of the ports ModemManager lists for a modem."""
    if named:
        used = [(node, "named with -t") for node in named]
        return used, [(node, "not named with -t") for node in nodes if node not in named]
    used, skipped = [], []
    for node in nodes:
        why = listed.get(os.path.basename(node)) or listed.get(os.path.basename(os.path.realpath(node)))
        why = why or modem_by_sysfs(node)
        if why:
            used.append((node, why))
        else:
            skipped.append((node, not_a_modem(node)))
    return used, skipped


def user_name(uid):
    try:
        return pwd.getpwuid(uid).pw_name
    except KeyError:
        return str(uid)


def port_access_problem(node):
    """None when this user may read and write node, else what to do."""
    if os.access(node, os.R_OK | os.W_OK):
        return None
    try:
        st = os.stat(node)
    except OSError as error:
        return "%s: %s" % (node, error.strerror)
    user = user_name(os.getuid())
    group_rw = st.st_mode & 0o060 == 0o060
    try:
        group = grp.getgrgid(st.st_gid)
    except KeyError:
        group = None
    if not group_rw or group is None or group.gr_gid == 0:
        return "%s may not be read and written by %s: run quillon-linux with sudo" % (node, user)
    if user in group.gr_mem:
        return ("%s is in group %s, but this session started before: log out and back in (or run "
                "'newgrp %s'), then try again" % (user, group.gr_name, group.gr_name))
    return ("%s belongs to group %s: join it with 'sudo usermod -aG %s %s', log out and back in, "
            "then try again (or run quillon-linux with sudo)" % (node, group.gr_name, group.gr_name, user))

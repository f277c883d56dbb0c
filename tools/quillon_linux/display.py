"""The display Quillon's windows go to.

Xlib ends a process whose X server goes away, and Wine's processes are
Xlib clients: a quiet update on the user's display would end with a bare 1
at a logout, a display-manager restart or a user switch, possibly in the
middle of the flash. So a run that no one watches (-q, -i) always gets a
display of its own, a private Xvfb that the launcher starts and ends like
the prefix's Wine processes, and never touches the user's. This is also
what lets it run with no desktop at all: over SSH, from cron, Ansible or
Salt. A run with dialogs needs the user's desktop.

The private display takes only clients that show its cookie: the launcher
often runs as root, and any local user who could connect to an open X
server could end its clients (XKillClient), the flashing Quillon among
them, or type into its windows.
"""
import ctypes
import os
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time

from .common import Failure

XVFB_INSTALL_LINE = "sudo apt-get install xvfb"
XVFB_ARGS = ("-screen", "0", "1024x768x24", "-nolisten", "tcp")
START_LIMIT_S = 30

NO_DISPLAY = ("no display (DISPLAY is not set): run it from your desktop session, or run it unattended with "
              "-q (update) or -i (inventory), which need no display")
HEADLESS_WITH_DIALOGS = ("--headless needs -q (update) or -i (inventory): without them Quillon asks its "
                         "questions in windows, which need your desktop")
NO_XVFB = ("-q and -i run on a display of their own, and Xvfb is not installed. Install it with:\n    %s"
           % XVFB_INSTALL_LINE)
USER_DISPLAY_ONLY = ("Xvfb is not installed (%s): this run uses your desktop's display %s, and would end "
                     "with 1 if that display ended")


def plan(unattended, headless, user_display, have_xvfb):
    """("private", None): start an Xvfb; ("user", note or None): the user's
    display; ("refuse", why)."""
    if not unattended:
        if headless:
            return "refuse", HEADLESS_WITH_DIALOGS
        if not user_display:
            return "refuse", NO_DISPLAY
        return "user", None
    if have_xvfb:
        return "private", None
    if user_display and not headless:
        return "user", USER_DISPLAY_ONLY % (XVFB_INSTALL_LINE, user_display)
    return "refuse", NO_XVFB


def have_xvfb():
    return shutil.which("Xvfb") is not None


COOKIE_NAME = b"MIT-MAGIC-COOKIE-1"
FAMILY_WILD = 0xFFFF  # any host; with no display number, any display


def authority_entry(cookie):
    """One Xauthority entry that gives this cookie for every display: the
    file format's big-endian lengths before each field."""
    def field(data):
        return struct.pack(">H", len(data)) + data
    return struct.pack(">H", FAMILY_WILD) + field(b"") + field(b"") + field(COOKIE_NAME) + field(cookie)


def write_authority(folder):
    """An Xauthority file, readable by its owner only, holding a fresh
    cookie; returns its path and the cookie."""
    cookie = os.urandom(16)
    path = os.path.join(folder, "Xauthority")
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "wb") as f:
        f.write(authority_entry(cookie))
    return path, cookie


def _die_with_parent():
    # The display must not outlive a launcher that is killed outright.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class PrivateDisplay:
    """An Xvfb of the launcher's own, on the first free display number."""

    def __init__(self):
        self.child = None
        self.name = None
        self.folder = None
        self.authority = None  # the Xauthority file its clients need (XAUTHORITY)

    def start(self):
        self.folder = tempfile.mkdtemp(prefix="quillon-display-")
        self.authority, _ = write_authority(self.folder)
        read_fd, write_fd = os.pipe()
        try:
            self.child = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-auth", self.authority]
                                          + list(XVFB_ARGS),
                                          pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                          start_new_session=True, preexec_fn=_die_with_parent)
            os.close(write_fd)
            write_fd = None
            number = b""
            deadline = time.monotonic() + START_LIMIT_S
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    raise Failure("Xvfb did not start within %d s" % START_LIMIT_S)
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise Failure("Xvfb ended as it started; is the display number space full?")
                number += chunk
            self.name = ":" + number.decode().strip()
            return self.name
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)

    def end(self):
        child, self.child = self.child, None
        if child is not None and child.poll() is None:
            os.killpg(child.pid, signal.SIGTERM)
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
        folder, self.folder = self.folder, None
        if folder is not None:
            shutil.rmtree(folder, ignore_errors=True)

"""The Wine prefix of the launcher's own, its server, and the desktop that
Quillon's windows need."""
import os
import shutil
import subprocess
import sys

from .common import Failure, say
from .ports import user_name

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "wine_desktop"))
import desktop_hold  # noqa: E402
import wine_server  # noqa: E402

INSTALL_LINE = "sudo apt-get install wine wine64 fonts-wine"
SERIALCOMM = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"


def find_wine():
    loader = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else shutil.which("wine")
    server = shutil.which("wineserver")
    boot = shutil.which("wineboot")
    if not loader or not server or not boot:
        raise Failure("Wine is not installed. Install it with:\n    %s" % INSTALL_LINE)
    return loader


def check_root(prefix):
    """Root in a user's prefix would leave it full of files that user can
    no longer change; Wine itself refuses a prefix it does not own."""
    if os.geteuid() != 0:
        return
    probe = prefix
    while not os.path.exists(probe):
        parent = os.path.dirname(probe)
        if parent == probe:
            return
        probe = parent
    owner = os.stat(probe).st_uid
    if owner != 0:
        raise Failure("refusing to run as root in %s: %s belongs to %s. Run it as %s (it says which "
                      "port permissions are missing), or give root a prefix of its own with QUILLON_PREFIX."
                      % (prefix, probe, user_name(owner), user_name(owner)))


class Prefix:
    def __init__(self, path, wine, display, authority=None):
        self.path = os.path.abspath(path)
        self.wine = wine
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all", WINEDLLOVERRIDES=wine_server.DLL_OVERRIDES,
                        DISPLAY=display)
        if authority is not None:
            self.env["XAUTHORITY"] = authority
        self.server_ours = False
        self.server = None
        self.server_log = os.path.join(self.path, "quillon-wineserver.log")
        self.desktop_log = os.path.join(self.path, "quillon-desktop.log")

    def quiet(self, argv, timeout=120, env=None):
        return subprocess.run(argv, env=env or self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def ensure(self):
        if os.path.exists(os.path.join(self.path, "system.reg")):
            return
        if os.path.isdir(self.path) and os.listdir(self.path):
            raise Failure("%s is neither empty nor a Wine prefix; choose another with QUILLON_PREFIX" % self.path)
        say("creating the Wine prefix %s (once; takes a minute)" % self.path)
        os.makedirs(self.path, exist_ok=True)
        # Without the overrides wineboot offers to install Mono and Gecko and
        # waits for an answer.
        with open(os.path.join(self.path, "quillon-wineboot.log"), "w") as log:
            code = subprocess.run(["wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=log, timeout=600).returncode
        self.quiet(["wineserver", "-w"], timeout=120)
        if code != 0 or not os.path.exists(os.path.join(self.path, "system.reg")):
            raise Failure("wineboot could not create the prefix (see %s/quillon-wineboot.log)" % self.path)

    def start_server(self):
        """A persistent server: SERIALCOMM is volatile and lives only as
        long as the server that holds it."""
        try:
            self.server = wine_server.start(self.env, self.server_log)
        except RuntimeError as error:
            raise Failure(str(error))
        self.server_ours = self.server is not None
        if not self.server_ours:
            say("a Wine server was already running in %s; using it and leaving it running" % self.path)
        # The first Wine process starts the prefix's services; they keep the
        # output they inherit, so it must not be ours.
        if self.quiet([self.wine, "cmd", "/c", "exit"]) != 0:
            raise Failure("Wine does not start in %s (see %s)" % (self.path, self.server_log))

    def take_desktop(self, program):
        """Quillon's windows need a desktop whose explorer is up: checked and
        held (see desktop_hold.py); a spoilt one only goes with its server.
        Returns the hold, to be ended once Quillon has."""
        # Wine's word on an explorer that failed goes to the log: the
        # explorer the program starts writes where the program does.
        hold = desktop_hold.DesktopHold(self.wine, program, dict(self.env, WINEDEBUG="-all,err+all,+explorer"),
                                        log=self.desktop_log)

        def restart():
            if not self.server_ours:
                raise Failure("Wine can make no window in %s: its desktop started without explorer. Another "
                              "program's Wine server runs there; end it (WINEPREFIX=%s wineserver -k) and try "
                              "again" % (self.path, self.path))
            say("Wine's desktop gives no windows (its explorer was slow to start, or did not); starting Wine again")
            self.stop_server()
            self.start_server()

        if not desktop_hold.take_desktop(hold, restart):
            raise Failure("Wine can make no window in %s: its desktop started without explorer %d times. Quillon "
                          "was not started and nothing was sent to the module (see %s)"
                          % (self.path, desktop_hold.ATTEMPTS, self.desktop_log))
        return hold

    def stop_server(self):
        if self.server_ours:
            wine_server.stop(self.env, self.server)
            self.server, self.server_ours = None, False

    def serialcomm(self):
        r = subprocess.run([self.wine, "reg", "query", SERIALCOMM], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
        values = {}
        for line in r.stdout.decode(errors="replace").splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] == "REG_SZ":
                values[parts[0]] = parts[2]
        return values

    def set_value(self, name, data):
        return self.quiet([self.wine, "reg", "add", SERIALCOMM, "/v", name, "/t", "REG_SZ", "/d", data, "/f"]) == 0

    def delete_value(self, name):
        self.quiet([self.wine, "reg", "delete", SERIALCOMM, "/v", name, "/f"])

    def dosdevice(self, name):
        return os.path.join(self.path, "dosdevices", name)

    def log_path(self):
        return os.path.join(self.path, "drive_c", "FWLog.txt")

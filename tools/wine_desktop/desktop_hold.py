"""Wine's desktop for Quillon: checked before it starts, held while it runs.

Wine gives a process its display driver once, at its first window, from the
desktop window that the prefix's explorer owns. A process that needs the
desktop when there is none starts explorer and waits for it at most 10 s;
if explorer is slower than that (a busy machine, a new prefix) or does not
start, Wine makes a desktop window that no explorer owns, and every window
made on that desktop fails from then on, in every process, for as long as
the prefix's server runs. Quillon's first window is its main dialog: such a
run ends with 1 right after its opening probe, having sent the module
nothing else.

desktop_ready.exe makes one window (never shown) and says whether it could;
then it stays on the desktop until its standard input closes, so the
desktop and its explorer stay up until Quillon has joined them and Quillon
never has to start an explorer of its own. A desktop that gave no window is
spoilt for the server's lifetime: the caller starts the server afresh.

Used by tools/quillon-linux and by the Wine tests' sessions.
"""
import os
import select
import signal
import subprocess
import time

PROGRAM_NAME = "desktop_ready.exe"
# Wine started afresh this many times in all for a desktop that gives no
# windows.
ATTEMPTS = 3
# Long enough for a first explorer on a busy machine: a process waits for a
# desktop window whose explorer is still coming up, however long it takes.
ANSWER_LIMIT_S = 180


class DesktopHold:
    def __init__(self, wine, program, env, log=None):
        self.wine = wine
        self.program = program
        self.env = env
        # Where the program's standard error goes: an explorer it starts
        # inherits it, so Wine's word on a desktop that failed is there.
        self.log = log
        self.child = None

    def take(self):
        """True when the desktop gives windows; it is then held until end()."""
        self.end()
        err = open(self.log, "ab") if self.log else subprocess.DEVNULL
        try:
            self.child = subprocess.Popen([self.wine, self.program], env=self.env, stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, stderr=err, start_new_session=True)
        finally:
            if self.log:
                err.close()
        answer = b""
        deadline = time.monotonic() + ANSWER_LIMIT_S
        while not answer.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.child.stdout], [], [], left)[0]:
                break
            chunk = os.read(self.child.stdout.fileno(), 64)
            if not chunk:
                break
            answer += chunk
        if answer.strip() == b"ready":
            return True
        self.end()
        return False

    def end(self):
        if self.child is None:
            return
        child, self.child = self.child, None
        try:
            child.stdin.close()
        except OSError:
            pass
        try:
            child.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
        child.stdout.close()


def take_desktop(hold, restart):
    """True once hold has the desktop; restart() starts the prefix's server
    afresh between attempts, ATTEMPTS in all."""
    for attempt in range(1, ATTEMPTS + 1):
        if hold.take():
            return True
        if attempt < ATTEMPTS:
            restart()
    return False

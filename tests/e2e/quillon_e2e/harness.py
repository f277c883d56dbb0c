"""Runs the real Quillon.exe under Wine for end-to-end tests.

A WineSession owns an Xvfb display, a fresh Wine prefix (hard-linked from a
pristine one that is booted once per build directory) and a persistent
wineserver. Leaving the `with` block tears all of it down, also when the
test failed, so nothing of a run is left behind.
"""
import fcntl
import os
import re
import runpy
import select
import shutil
import signal
import subprocess
import tempfile
import time

WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else "wine"
BUILD_DIR = os.environ.get("QUILLON_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "..", "build", "windows"))
EXE = os.environ.get("QUILLON_EXE", os.path.join(BUILD_DIR, "Quillon.exe"))
PROBE = os.path.join(BUILD_DIR, "probe.exe")
ARTIFACTS = os.path.join(BUILD_DIR, "e2e-artifacts")


# The launcher's check of Wine's desktop and hold on it, and its Wine
# server, shared.
_WINE_TOOLS = os.path.join(os.path.dirname(__file__), "..", "..", "..", "tools", "wine_desktop")
_desktop_hold = runpy.run_path(os.path.join(_WINE_TOOLS, "desktop_hold.py"))
_wine_server = runpy.run_path(os.path.join(_WINE_TOOLS, "wine_server.py"))
DESKTOP_PROGRAM = os.path.join(BUILD_DIR, _desktop_hold["PROGRAM_NAME"])

# Every process a test starts carries this marker in its environment, so
# the leftover check finds this run's processes and no one else's.
RUN_MARKER = "QUILLON_E2E_RUN"
os.environ.setdefault(RUN_MARKER, os.path.abspath(BUILD_DIR))

# Wine cuts a long debug string and marks the cut with "..." after the
# closing quote; such a line is kept, with the mark, rather than lost.
_DEBUGSTR = re.compile(r'OutputDebugStringA "(.*)"(\.\.\.)?\s*$')
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def unescape(text):
    """Undoes the C escapes Wine's debug channel writes."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n in _ESCAPES:
            out.append(_ESCAPES[n])
            i += 2
        elif n == "x":
            j = i + 2
            while j < len(text) and j < i + 4 and text[j] in "0123456789abcdefABCDEF":
                j += 1
            out.append(chr(int(text[i + 2:j], 16)))
            i = j
        elif n in "01234567":
            j = i + 1
            while j < len(text) and j < i + 4 and text[j] in "01234567":
                j += 1
            out.append(chr(int(text[i + 1:j], 8)))
            i = j
        else:
            out.append(n)
            i += 2
    return "".join(out)


def trace_lines(stderr_text):
    """The texts the program sent to OutputDebugStringA, in order."""
    lines = []
    for line in stderr_text.splitlines():
        m = _DEBUGSTR.search(line)
        if m:
            lines.append(unescape(m.group(1)) + (m.group(2) or ""))
    return lines


class Result:
    def __init__(self, code, stderr, stdout=""):
        self.code = code
        self.stderr = stderr
        self.stdout = stdout
        self.trace = trace_lines(stderr)

    def __repr__(self):
        return "Result(code=%r, trace=%d lines)" % (self.code, len(self.trace))


class Process:
    """A program started in the background inside a session."""

    def __init__(self, popen, out_path, err_path):
        self.popen = popen
        self.out_path = out_path
        self.err_path = err_path

    def wait(self, timeout):
        try:
            code = self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            self.popen.wait()
            code = None
        with open(self.out_path, "r", errors="replace") as f:
            out = f.read()
        with open(self.err_path, "r", errors="replace") as f:
            err = f.read()
        return Result(code, err, out)

    def running(self):
        return self.popen.poll() is None


# Where Wine packages keep Wine's own fonts (Debian's fonts-wine first).
WINE_FONT_DIRS = ("/usr/share/wine/fonts", "/usr/local/share/wine/fonts", "/opt/wine-stable/share/wine/fonts")


def _install_marlett(prefix):
    """Copies Wine's Marlett into the prefix's C:\\windows\\Fonts.

    Debian's Wine 8 never looks in its own data directory's fonts (no access
    to it shows under strace; a +font trace lists only C:\\windows\\Fonts and
    fontconfig's folders), and wineboot leaves C:\\windows\\Fonts empty.
    Without Marlett, Wine draws each caption's close button as Marlett's
    glyph letter "r" in a text font. Only Marlett goes in: Wine's Tahoma
    would change every dialog's text metrics, which is another question.
    """
    for source in WINE_FONT_DIRS:
        marlett = os.path.join(source, "marlett.ttf")
        if os.path.exists(marlett):
            fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
            os.makedirs(fonts, exist_ok=True)
            shutil.copy(marlett, fonts)
            return


def _pristine_prefix():
    """Boots the pristine prefix once per build directory, under a lock."""
    path = os.path.join(BUILD_DIR, "wine-pristine")
    os.makedirs(BUILD_DIR, exist_ok=True)
    with open(os.path.join(BUILD_DIR, "wine-pristine.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        # The marker names what the prefix holds: one made before Marlett
        # went in is made again.
        ready = os.path.join(path, ".ready-with-marlett")
        if os.path.exists(ready):
            return path
        shutil.rmtree(path, ignore_errors=True)
        env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all", WINEDLLOVERRIDES=_wine_server["DLL_OVERRIDES"])
        env.pop("DISPLAY", None)
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=300, **quiet)
        _install_marlett(path)
        # A virtual desktop makes Wine draw frames and captions itself, so
        # screenshots under a bare Xvfb show them.
        for key, name, data in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                                ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "1024x768")):
            subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f"],
                           env=env, check=True, timeout=120, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120, **quiet)
        open(ready, "w").close()
        return path


def _clone_prefix(pristine, target):
    # Hard links keep the copy cheap; the registry files are rewritten by
    # wineserver, so they get copies of their own.
    subprocess.run(["cp", "-al", pristine, target], check=True)
    for name in os.listdir(target):
        if name.endswith(".reg"):
            p = os.path.join(target, name)
            with open(p, "rb") as f:
                data = f.read()
            os.unlink(p)
            with open(p, "wb") as f:
                f.write(data)


class WineSession:
    """name: where the session's artifacts go, below build/windows/e2e-artifacts."""

    def __init__(self, name=None):
        self.name = name or os.environ.get("QUILLON_E2E_NAME", "session")
        self.xvfb = None
        self.root = None
        self.prefix = None
        self.display = None
        self.children = []
        self.desktop = None
        self.server = None
        self.serialcomm = []
        self.modules = []
        self._counter = 0
        self.artifacts = os.path.join(ARTIFACTS, self.name)

    # --- set-up and tear-down -------------------------------------------------
    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start(self):
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts, exist_ok=True)
        pristine = _pristine_prefix()
        self.root = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.prefix = os.path.join(self.root, "prefix")
        _clone_prefix(pristine, self.prefix)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self._start_xvfb(timeout=30)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display,
                        WINEDEBUG="-all,+debugstr", WINEDLLOVERRIDES=_wine_server["DLL_OVERRIDES"])
        self._start_wineserver()
        self._take_desktop()

    def _start_wineserver(self):
        # As the launcher starts it: a module's restart does not make it
        # write out all its objects (see wine_server.py).
        self.server = _wine_server["start"](self.env, os.path.join(self.root, "wineserver.log"))
        if self.server is None:
            raise RuntimeError("a Wine server already ran in the new prefix %s" % self.prefix)
        # Warm the prefix with output to files: Wine's service processes
        # inherit the first caller's output and would hold a pipe open.
        self.run_quiet([WINE, "cmd", "/c", "exit"], timeout=120)

    def _take_desktop(self):
        """A desktop whose explorer is up, held for the session: one left
        without explorer fails every window of every run on it (see
        tools/wine_desktop/desktop_hold.py), and only goes with its server."""
        self.desktop = _desktop_hold["DesktopHold"](WINE, DESKTOP_PROGRAM, self.env)

        def restart():
            self._stop_wineserver()
            self._start_wineserver()

        if not _desktop_hold["take_desktop"](self.desktop, restart):
            raise RuntimeError("Wine's desktop gave no windows %d times" % _desktop_hold["ATTEMPTS"])

    def _start_xvfb(self, timeout):
        read_fd, write_fd = os.pipe()
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
            os.close(write_fd)
            write_fd = None
            number = b""
            deadline = time.monotonic() + timeout
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    raise RuntimeError("Xvfb did not say its display within %d s" % timeout)
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise RuntimeError("Xvfb ended before it said its display")
                number += chunk
            self.display = ":" + number.decode().strip()
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)

    def close(self):
        """Tears everything down; each step runs even when one before it failed."""
        steps = [self._keep_artifacts, self._stop_children, self._release_desktop, self._stop_wineserver,
                 self._stop_xvfb, self._remove_root]
        failure = None
        for step in steps:
            try:
                step()
            except Exception as error:  # keep tearing down; report the first
                failure = failure or error
        if failure is not None:
            raise failure

    def _keep_artifacts(self):
        """What a run leaves for a person to look at when a test fails."""
        if not self.root or not os.path.isdir(self.root):
            return
        if self.display and self.xvfb is not None and self.xvfb.poll() is None:
            self.screenshot(os.path.join(self.artifacts, "screen.png"))
        if os.path.exists(self.log_path()):
            shutil.copy(self.log_path(), os.path.join(self.artifacts, "FWLog.txt"))
        for name in os.listdir(self.root):
            if name.startswith("run") or name == "wineserver.log":
                shutil.copy(os.path.join(self.root, name), self.artifacts)

    def _stop_children(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()

    def _release_desktop(self):
        if self.desktop is not None:
            self.desktop.end()

    def _stop_wineserver(self):
        if not self.prefix or not os.path.isdir(self.prefix):
            return
        _wine_server["stop"](dict(os.environ, WINEPREFIX=self.prefix), self.server)
        self.server = None

    def _stop_xvfb(self):
        if self.xvfb is None or self.xvfb.poll() is not None:
            return
        os.killpg(self.xvfb.pid, signal.SIGTERM)
        try:
            self.xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(self.xvfb.pid, signal.SIGKILL)
            self.xvfb.wait()

    def _remove_root(self):
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)
            self.root = None

    # --- running programs -------------------------------------------------------
    def _files(self):
        self._counter += 1
        out = os.path.join(self.root, "run%d.out" % self._counter)
        err = os.path.join(self.root, "run%d.err" % self._counter)
        return out, err

    def run_quiet(self, argv, timeout=60):
        return subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def start(self, exe, args=(), cwd=None, power=None):
        """power: a power_supply.FakePowerSupply the program reads instead of
        the machine's."""
        out, err = self._files()
        command = [WINE, exe] + list(args)
        if power is not None:
            command = power.wrap(command)
        with open(out, "w") as out_file, open(err, "w") as err_file:
            popen = subprocess.Popen(command, env=self.env, cwd=cwd or self.root,
                                     stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file)
        self.children.append(popen)
        return Process(popen, out, err)

    def run(self, exe, args=(), timeout=60, power=None):
        return self.start(exe, args, power=power).wait(timeout)

    # --- the machine around the program ----------------------------------------
    def log_path(self):
        return os.path.join(self.drive_c, "FWLog.txt")

    def forget_log(self):
        """A fresh upgrade log for the next run: only its records are read."""
        try:
            os.unlink(self.log_path())
        except FileNotFoundError:
            pass

    def log_bytes(self):
        try:
            with open(self.log_path(), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def link_com(self, number, target):
        link = os.path.join(self.prefix, "dosdevices", "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(target, link)

    def reg_add_serialcomm(self, name, port):
        done = self._reg("add", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "/v", name, "/t", "REG_SZ", "/d", port,
                         "/f")
        if done.returncode != 0:
            # It failed once in a loaded make test (exit 1) and never in 186
            # tries since. Wine's serial driver makes the key, volatile, when
            # it starts, under a parent that only the server's memory holds:
            # without it reg cannot make it either. So a failure says what
            # reg said, whether the key is there, and whether this session's
            # server is still the one it started.
            server = "runs" if self.server is not None and self.server.poll() is None else "has ended"
            there = self._reg("query", "HKLM\\HARDWARE\\DEVICEMAP").stdout[-400:]
            raise RuntimeError("reg add failed: %d; it said %r, %r; the server %s; HKLM\\HARDWARE\\DEVICEMAP holds %r"
                               % (done.returncode, done.stdout[-400:], done.stderr[-800:], server, there))
        self.serialcomm.append(name)

    def _reg(self, *args):
        return subprocess.run([WINE, "reg"] + list(args), env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=120)

    def forget_serialcomm(self):
        """Removes the serial-port values this session added, so tests that
        share a session do not see each other's ports."""
        while self.serialcomm:
            name = self.serialcomm.pop()
            self._reg("delete", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "/v", name, "/f")

    def wine_path(self, linux_path):
        return "Z:" + os.path.abspath(linux_path).replace("/", "\\")

    def screenshot(self, png_path):
        os.makedirs(os.path.dirname(os.path.abspath(png_path)), exist_ok=True)
        subprocess.run(["import", "-display", self.display, "-window", "root", png_path],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=False)

    # --- driving windows ----------------------------------------------------------
    def probe(self, *args, timeout=60):
        """Runs probe.exe; returns (exit code, its output lines)."""
        result = self.run(PROBE, [str(a) for a in args], timeout=timeout)
        lines = [l.rstrip("\r") for l in result.stdout.splitlines()]
        if result.code != 0:
            # In the test's output, for a failure that only sees a False or a
            # None: what the probe saw instead (a dialog it did not find
            # names the dialogs there were).
            print("probe %s: exit %s %s" % (" ".join(str(a) for a in args), result.code, lines[-3:]))
        return result.code, lines

    def dialogs(self):
        """Visible dialog windows as (caption, [child texts]) pairs."""
        code, lines = self.probe("list")
        found = []
        for line in lines:
            parts = line.split("\t")
            if len(parts) >= 2:
                found.append((parts[0], parts[1:]))
        return found

    def wait_dialog(self, predicate, timeout=30):
        """Waits until a dialog satisfies predicate(caption, texts); None
        when none did within timeout. One probe watches the dialogs for the
        whole wait and says each change; this reads what it says."""
        self._counter += 1
        stop = os.path.join(self.root, "wait%d.stop" % self._counter)
        watcher = self.start(PROBE, ["wait", str(int(timeout * 1000)), self.wine_path(stop)])
        found = None
        try:
            found = self._watch(watcher, predicate, timeout)
        finally:
            open(stop, "w").close()
            watcher.wait(60)
        return found

    def _watch(self, watcher, predicate, timeout):
        # The probe ends by itself at the time-out; the deadline here only
        # guards against a probe that hangs.
        deadline = time.monotonic() + timeout + 60
        seen, snapshot = 0, []
        while time.monotonic() < deadline:
            with open(watcher.out_path, "rb") as f:
                f.seek(seen)
                data = f.read()
            complete = data[:data.rfind(b"\n") + 1]
            seen += len(complete)
            for line in complete.decode("utf-8", errors="replace").splitlines():
                line = line.rstrip("\r")
                if line.startswith("dialog\t"):
                    parts = line.split("\t")[1:]
                    snapshot.append((parts[0], parts[1:]))
                    continue
                if line != "end":
                    continue
                for caption, texts in snapshot:
                    if predicate(caption, texts):
                        return caption, texts
                snapshot = []
            if not watcher.running() and not complete:
                return None
            time.sleep(0.05)  # the probe's next word
        return None

    def click(self, caption, button="OK"):
        code, _ = self.probe("click", caption, button)
        return code == 0

    def click_through_update(self, process, caption):
        """The user's part of an interactive update once the main dialog
        (caption) shows the module: OK, OK on the warning, OK on the success
        box. Returns the program's outcome."""
        for name, limit in ((caption, 30), ("Warning", 60), ("Update successful", 300)):
            if self.wait_dialog(lambda c, texts: c == name, limit) is None:
                raise AssertionError("no %s; dialogs: %r" % (name, self.dialogs()))
            if not self.click(name, "OK"):
                raise AssertionError("OK not clicked in %s" % name)
        return process.wait(120)

    def texts(self, caption):
        """The controls of the dialog with this caption as (id, class, text)."""
        code, lines = self.probe("text", caption)
        controls = []
        for line in lines:
            parts = line.split("\t")
            if len(parts) == 3:
                controls.append((int(parts[0]), parts[1], parts[2]))
        return controls

    def owner(self, caption):
        """The caption of the window that owns this dialog; None without one."""
        code, lines = self.probe("owner", caption)
        return lines[0] if code == 0 and lines else None

    def set_text(self, caption, control_id, text):
        code, _ = self.probe("settext", caption, control_id, text)
        return code == 0

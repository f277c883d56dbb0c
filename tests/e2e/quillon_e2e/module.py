"""Runs the module emulator inside a WineSession and reads what it recorded."""
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

# The Wine tests' folder, which holds the scenarios.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EMULATOR_DIR = os.path.join(HERE, "..", "..", "tools", "module-emulator")
EMULATOR = os.path.join(EMULATOR_DIR, "module_emulator.py")
SCENARIOS = os.path.join(HERE, "scenarios")

sys.path.insert(0, EMULATOR_DIR)
from emu import package  # noqa: E402


def scenario_path(name):
    return os.path.join(SCENARIOS, name + ".json")


def write_package(path, version, length):
    """A package file the emulated module accepts (maker header included)."""
    with open(path, "wb") as f:
        f.write(package.build(version, length))
    return path


class EmulatedModule:
    """The emulator on comN of a session's prefix, from start to SIGTERM.

    scenario: the name of a file in tests/e2e/scenarios, a path, or a dict.
    Use it as a context manager, so that the process and its link go away
    also when the test fails.

    follow: instead of the comN link, a callable that places the port
    itself; it is called with ("READY", pty) and ("OFFLINE", None) as the
    module comes and goes, before the test sees either.
    """

    def __init__(self, session, scenario="default", com=7, follow=None):
        self.session = session
        self.com = com
        self.follow = follow
        self.dir = tempfile.mkdtemp(prefix="quillon-module-")
        self.record_path = os.path.join(self.dir, "record.jsonl")
        if isinstance(scenario, dict):
            self.scenario = os.path.join(self.dir, "scenario.json")
            with open(self.scenario, "w") as f:
                json.dump(scenario, f)
        elif os.sep in scenario or scenario.endswith(".json"):
            self.scenario = scenario
        else:
            self.scenario = scenario_path(scenario)
        self.popen = None
        self.pty = None
        self._lines = queue.Queue()

    # --- life ---------------------------------------------------------------------
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, timeout=20):
        self._stderr = open(os.path.join(self.dir, "stderr.txt"), "w")
        try:
            place = [] if self.follow else ["--prefix", self.session.prefix, "--com", str(self.com)]
            self.popen = subprocess.Popen(
                [sys.executable, EMULATOR] + place + ["--scenario", self.scenario, "--record", self.record_path],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self._stderr,
                env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        except BaseException:
            self._stderr.close()
            raise
        threading.Thread(target=self._read_stdout, daemon=True).start()
        self.pty = self.wait_ready(timeout)
        return self

    def _read_stdout(self):
        for raw in self.popen.stdout:
            line = raw.decode(errors="replace").rstrip("\n")
            if self.follow is not None and (line.startswith("READY ") or line == "OFFLINE"):
                self.follow(line.split(" ")[0], line.split(" ", 1)[1] if " " in line else None)
            self._lines.put(line)
        self._lines.put(None)

    def wait_line(self, prefix, timeout):
        """The next stdout line that starts with prefix; other lines are skipped."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                line = self._lines.get(timeout=max(left, 0.01))
            except queue.Empty:
                line = ""
            if line is None:
                raise RuntimeError("the module emulator ended: %s" % self.stderr())
            if line.startswith(prefix):
                return line
            if left <= 0:
                raise RuntimeError("no %r from the module emulator within %s s" % (prefix, timeout))

    def wait_ready(self, timeout=20):
        """The pty of the module's next appearance on the bus."""
        return self.wait_line("READY ", timeout).split(" ", 1)[1]

    def wait_offline(self, timeout=20):
        self.wait_line("OFFLINE", timeout)

    def heal(self, timeout=20):
        """Ends the scenario's faults; the module keeps its state (see the
        emulator's README). Returns once it is on the bus, unless it is in
        the middle of a restart that ends later."""
        self.popen.send_signal(signal.SIGUSR1)
        self.wait_line("HEALED", timeout)

    def stop(self):
        """Ends the emulator (its link goes with it); returns its exit code."""
        code = None
        if self.popen is not None:
            if self.popen.poll() is None:
                self.popen.send_signal(signal.SIGTERM)
            try:
                code = self.popen.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
            self.popen.stdout.close()
            self._stderr.close()
            self.popen = None
        if self.dir and os.path.isdir(self.dir):
            self._final = self.events()
            self._keep_record()
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None
        return code

    def _keep_record(self):
        """The record and the emulator's errors go with the session's artifacts."""
        artifacts = getattr(self.session, "artifacts", None)
        if not artifacts:
            return
        os.makedirs(artifacts, exist_ok=True)
        number = len([n for n in os.listdir(artifacts) if n.startswith("module-record")]) + 1
        for name, target in (("record.jsonl", "module-record-%d.jsonl"), ("stderr.txt", "module-stderr-%d.txt")):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                shutil.copy(path, os.path.join(artifacts, target % number))

    def stderr(self):
        try:
            with open(os.path.join(self.dir, "stderr.txt")) as f:
                return f.read()
        except (OSError, TypeError):
            return ""

    # --- the link --------------------------------------------------------------------
    def link(self):
        return os.path.join(self.session.prefix, "dosdevices", "com%d" % self.com)

    # --- the record --------------------------------------------------------------------
    def events(self, name=None, **match):
        """Record entries, optionally of one event and with the given fields."""
        if self.dir is None:
            entries = getattr(self, "_final", [])
        else:
            entries = []
            try:
                with open(self.record_path, encoding="utf-8") as f:
                    for line in f:
                        try:
                            entries.append(json.loads(line))
                        except ValueError:
                            pass    # a line still being written
            except FileNotFoundError:
                pass
        return [e for e in entries
                if (name is None or e["event"] == name) and all(e.get(k) == v for k, v in match.items())]

    def commands(self):
        """The command lines the module received, in order."""
        return [e["text"] for e in self.events("command")]

    def wait_event(self, name, timeout=30, **match):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.events(name, **match)
            if found:
                return found[0]
            time.sleep(0.1)
        raise RuntimeError("no %s %r in the module's record within %s s" % (name, match, timeout))

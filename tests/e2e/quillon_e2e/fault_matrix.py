"""The fault matrix: one row per fault the emulated module (or the machine
around the program) can play, run as two unattended runs of the real
Quillon.exe against the same module: the first with the fault, the second
once the fault is gone. What the runs did is rendered as the rows of
docs/fault-matrix.md, so that the document is only ever what the program
was seen to do.

Used by test_fault_matrix.py (which compares the rows it runs with the
committed document) and by tools/fault_matrix.py (which rewrites them);
fault_matrix_doc.py turns what a row did into its text.
"""
import os
import shutil
import signal
import subprocess
import threading
import time
import traceback
import unittest
from collections import namedtuple

from . import power_supply
from .harness import EXE, PROBE, WINE, WineSession
from .module import EmulatedModule, write_package

# The Wine tests' folder, which holds the scenarios.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

TEXTS = {
    0: "Upgrade finishied succesfully",
    1: "Unknown error",
    2: "This version is not supported",
    3: "Sim missing",
    4: "Pin error",
    5: "Update failed",
    6: "Upgrade path error",
    7: "Version did not change",
    8: "Timeout",
    9: "Battery low",
}

# Why a second run cannot complete, by what the first run left behind.
DAMAGED = ("the module's firmware does not start: every restart brings it back in its update mode, where it "
           "cannot say who it is, and no package is ever sent to a module that cannot; it needs service")

# name: row id (a scenario of tests/e2e/scenarios, or a host-side fault)
# fault: what goes wrong; scenario: the module it runs against
# code, second: exit codes of the first run and of the second, fault gone
# why: why the second run cannot complete (empty when it exits 0)
# restarts: restart commands the module receives in the first run
# optional: how the first run logs the optional image (None: not sent)
# bound: the time-out that ends the first run at the latest, and seconds
#   within which both runs must end
# limit: those seconds; 100 for a row with no long wait of its own, over twice
#   the slowest such run measured with two busy processes beside the Wine
#   suite (46.0 s, optional_rejected)
# long: runs only with the long command (QUILLON_LONG_RUNS=1)
# host: a fault of the machine around the program (HOST_FAULTS), or ""
# native: where the virtual-clock tests check the same wait natively
# kill: the first run is ended from outside once the module holds the reply
#   to this chunk (0: it is not); its code is then None
Row = namedtuple("Row", "name fault scenario code second why restarts optional bound limit long host native kill")


def row(name, fault, code, second, why="", restarts=0, optional=None, bound="", limit=100, long=False,
        host="", scenario=None, native="", kill=0):
    return Row(name, fault, scenario or name, code, second, why, restarts, optional, bound, limit, long, host,
               native, kill)


ROWS = [
    # No fault: what every other row is measured against.
    row("default", "none: the plain module", 0, 0, restarts=2, optional="done"),
    row("command_code_form", "none: the older protocol form (version 0x10)", 0, 0, restarts=2, optional="done"),
    row("already_r1d06", "none: the module already runs the target firmware", 0, 0, restarts=2, optional="done"),
    # The transfer. A failed send restarts the module, which comes back
    # with its old firmware.
    row("reject_code_2", "rejection of chunk 3, result code 2", 5, 0, restarts=1),
    row("reject_chunk_3", "rejection of chunk 3, result code 3", 5, 0, restarts=1),
    row("reject_code_4", "rejection of chunk 3, result code 4", 5, 0, restarts=1),
    row("reject_code_9", "rejection of chunk 3, result code 9 (no name)", 5, 0, restarts=1),
    row("reject_final_reply", "rejection in the reply after the last chunk", 5, 0, restarts=1,
        bound="the 10 s wait for the closing line"),
    row("reject_command_code_form", "rejection of chunk 3 in the command-code form", 5, 0, restarts=1),
    row("error_text_chunk_2", "\"ERROR\" in place of the reply to chunk 2", 5, 0, restarts=1,
        bound="the 120 s wait for the rest of the 24-byte reply", limit=300, long=True,
        native="AssignmentTest.AnErrorReplyEndsTheAssignmentInEitherForm"),
    row("garbage_chunk_reply", "noise in place of the reply to chunk 2", 5, 0, restarts=1,
        bound="the 10 s wait for the closing line"),
    row("silent_after_chunk_1", "silence after chunk 1, magic form", 5, 0,
        bound="the 120 s wait for a chunk's reply, then 120 s for the port of the restart it ignores", limit=420,
        long=True, native="AssignmentTest.MissingRepliesEndWithEighteenAfterTheirTimeOut"),
    row("silent_command_code_form", "silence after chunk 1, command-code form", 5, 0,
        bound="the 120 s wait for a chunk's reply, then 120 s for the port of the restart it ignores", limit=420,
        long=True, native="AssignmentTest.MissingRepliesEndWithEighteenAfterTheirTimeOut"),
    row("drop_mid_transfer", "drop off the bus at chunk 5", 5, 0),
    row("cut_mid_transfer", "power lost at chunk 5: back in update mode", 5, 0),
    row("killed_mid_transfer", "the program ended from outside while chunks flow", None, 0, kill=20),
    row("optional_rejected", "rejection of the optional image", 0, 0, restarts=2, optional="failed"),
    # The restarts.
    row("never_comes_back", "never back after the first restart", 8, 0, restarts=1,
        bound="1020 one-second polls for the module's return", limit=1800, long=True,
        native="WorkerTest.PollsAreCountedAndBoundedInVirtualTime"),
    row("second_restart_never", "never back after the second restart", 8, 0, restarts=2, optional="done",
        bound="1020 one-second polls for the module's return", limit=1800, long=True,
        native="WorkerTest.PollsAreCountedAndBoundedInVirtualTime"),
    row("slow_comeback", "late back: 12 s off the bus at each restart", 0, 0, restarts=2, optional="done",
        limit=180, long=True, native="WorkerTest.PollsAreCountedAndBoundedInVirtualTime"),
    row("reset_ignored", "restart command answered but ignored: the port stays", 8, 0, restarts=1,
        bound="the 120 s wait for the port to go away", limit=300, long=True,
        native="WorkerTest.APortThatStaysIsGivenUpAfterTwoMinutes"),
    row("keep_build_date", "unchanged build date after the update", 7, 0, restarts=2, optional="done"),
    # Before the update.
    row("start_in_update_mode", "update mode at start, firmware intact", 0, 0, restarts=3, optional="done"),
    row("slow_restart_update_mode", "update mode at start, slow to restart", 0, 0, restarts=3, optional="done"),
    row("damaged_firmware", "damaged firmware: update mode at start and after every restart", 1, 1, DAMAGED,
        restarts=1),
    row("pin_required", "SIM asks for its PIN (quiet run)", 4, 0),
    row("puk_required", "SIM asks for its PUK (quiet run)", 4, 0),
    row("sim_missing", "SIM missing", 3, 0),
    row("unsupported_hardware", "unsupported hardware (/106 board)", 2, 2,
        "the hardware stays what it is: no rule admits it, and the run is refused before anything is sent"),
    row("qesfud_error_first_3", "update-mode query refused 3 times, then answered", 0, 0, restarts=2,
        optional="done"),
    row("qesfud_never", "update-mode query always refused", 5, 0, restarts=1,
        bound="21 tries of the update-mode query, one second apart"),
    row("qesfud_silent", "update-mode query never answering", 5, 0, restarts=1,
        bound="21 tries of the update-mode query, 60 s each", limit=1800, long=True,
        native="SFLinkTest.PollGivesFourAfterTwentyOneAttempts and "
               "AtChannelTest.GivesUpOnASilentModuleAfterTheTimeoutsAttempts"),
    row("mute", "a module that answers nothing", 1, 0),
    row("cgmm_error", "model query refused", 1, 0),
    row("identify_no_version_command", "version queries refused", 1, 0),
    # Bad input from the module.
    row("garbage_model_reply", "noise in place of the model reply", 1, 0),
    row("long_line_version_reply", "a 1 MB line in place of the version reply's fields", 2, 0),
    row("ring_flood", "endless RING lines, one every 50 ms", 0, 0, restarts=2, optional="done"),
    row("drop_mid_reply", "drop off the bus in the middle of a reply", 1, 0),
    # Bad input from the machine: the package file and the log.
    row("package_file", "none: a good package file", 0, 7,
        "the module already runs the file's firmware and keeps its build date; a file is judged by the build "
        "date alone, so sending the same file again ends with 7", restarts=2, optional="done",
        host="package_file", scenario="default"),
    row("package_missing", "package file missing", 5, 0, host="package_missing", scenario="default"),
    row("package_empty", "package file empty", 5, 0, restarts=1, host="package_empty", scenario="default",
        bound="the 120 s wait for the reply after the last chunk", limit=300, long=True,
        native="AssignmentTest.AnEmptyPackageSendsNoHeaderButAwaitsTheFinalReply"),
    row("package_directory", "package file is a directory", 5, 0, host="package_directory", scenario="default"),
    row("package_locked", "package file locked by another process", 5, 0, host="package_locked",
        scenario="default"),
    row("package_2gib", "package file of 2 GiB", 5, 0, host="package_2gib", scenario="default"),
    row("log_read_only", "upgrade log read-only", 0, 0, restarts=2, host="log_read_only", scenario="default"),
    row("log_directory", "upgrade log is a directory", 0, 0, restarts=2, host="log_directory", scenario="default"),
    row("battery_low", "on battery at 10 %", 9, 0, host="battery_low",
        scenario="default"),
]

BY_NAME = {r.name: r for r in ROWS}


# --- faults of the machine around the program -----------------------------------
# Each kind: (make the fault; returns the first run's arguments,
#             take the fault away; returns the second run's arguments).
# A package file is sent in file mode; the good one is the full package.
PACKAGE_VERSION = "R1D06"
PACKAGE_LENGTH = 10212846
PREVIOUS_RECORD = (b"===FW upgrade started ===\r\r\nRESULT (0): Upgrade finishied succesfully\r\r\n\r\r\n"
                   b"=== FW Update finished ===\r\r\n\r\r\n")


class Host:
    """What a row changes around the program, and where."""

    def __init__(self, session, work):
        self.session = session
        self.work = work
        self.package = os.path.join(work, "package.bin")
        self.holder = None
        self.power = None  # the power supplies the runs read, when not the machine's

    def package_args(self):
        return ["-q", self.session.wine_path(self.package)]

    def good_package(self):
        if os.path.isdir(self.package):
            os.rmdir(self.package)
        write_package(self.package, PACKAGE_VERSION, PACKAGE_LENGTH)
        return self.package_args()

    def hold_package(self):
        """Another Windows process holds the file open and shares nothing."""
        self.good_package()
        self.holder = self.session.start(PROBE, ["hold", self.session.wine_path(self.package), "600"])
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            with open(self.holder.out_path, errors="replace") as f:
                if "held" in f.read():
                    return self.package_args()
            if not self.holder.running():
                break
            time.sleep(0.1)
        raise RuntimeError("the probe did not take the package file")

    def release_package(self):
        if self.holder is not None:
            self.holder.popen.kill()
            self.holder.wait(30)
            self.holder = None
        return self.package_args()

    def empty_package(self):
        open(self.package, "wb").close()
        return self.package_args()

    def package_directory(self):
        os.mkdir(self.package)
        return self.package_args()

    def huge_package(self):
        # Sparse: 2 GiB on paper, nothing on the disk.
        with open(self.package, "wb") as f:
            f.truncate(2 * 1024 * 1024 * 1024)
        return self.package_args()

    def missing_package(self):
        return self.package_args()

    def read_only_log(self):
        """Read-only for Windows (the attribute) and for the Linux process
        under it, which runs as root here and would ignore a file mode."""
        with open(self.session.log_path(), "wb") as f:
            f.write(PREVIOUS_RECORD)
        self.session.run_quiet([WINE, "attrib", "+r", "C:\\FWLog.txt"], timeout=120)
        if subprocess.run(["chattr", "+i", self.session.log_path()], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            raise unittest.SkipTest("this file system cannot make a file read-only for root (chattr +i)")
        return ["-q"]

    def writable_log(self):
        writable(self.session.log_path())
        self.session.run_quiet([WINE, "attrib", "-r", "C:\\FWLog.txt"], timeout=120)
        return ["-q"]

    def log_directory(self):
        os.mkdir(self.session.log_path())
        return ["-q"]

    def log_file_again(self):
        os.rmdir(self.session.log_path())
        return ["-q"]

    def on_battery(self):
        """The laptop unplugged at 10 %; needs root for the fake supply."""
        why = power_supply.unavailable()
        if why is not None:
            raise unittest.SkipTest("a fake power supply " + why)
        self.power = power_supply.FakePowerSupply(self.work, online=False, percent=10)
        return ["-q"]

    def plugged_in(self):
        self.power.set_online(True)
        return ["-q"]


HOST_FAULTS = {
    "": (lambda h: ["-q"], lambda h: ["-q"]),
    "package_file": (Host.good_package, Host.package_args),
    "package_missing": (Host.missing_package, Host.good_package),
    "package_empty": (Host.empty_package, Host.good_package),
    "package_directory": (Host.package_directory, Host.good_package),
    "package_locked": (Host.hold_package, Host.release_package),
    "package_2gib": (Host.huge_package, Host.good_package),
    "log_read_only": (Host.read_only_log, Host.writable_log),
    "log_directory": (Host.log_directory, Host.log_file_again),
    "battery_low": (Host.on_battery, Host.plugged_in),
}


# --- running a row ------------------------------------------------------------------
# start, end: the run's part of the module's record; log: what the run
# appended to the upgrade log
Run = namedtuple("Run", "code seconds start end log left")
Outcome = namedtuple("Outcome", "row first second events log_before log_after")


def prefix_processes(session):
    """(pid, command line, state) of the Linux processes of this session's
    prefix."""
    wanted = ("WINEPREFIX=%s" % session.prefix).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if wanted in environ:
            yield int(pid), cmdline, state


def left_running(session):
    """Processes of this session's prefix that a run started and that are
    still there after it: the program itself, or the connection manager's
    console program. Wine's own services do not count."""
    names = (os.path.basename(EXE).lower(), "corvin.kvt.console.exe")
    return sorted(os.path.basename(cmdline.split(" ")[0].replace("\\", "/"))
                  for _, cmdline, state in prefix_processes(session)
                  if state != "Z" and any(n in cmdline.lower() for n in names))


def log_of(session):
    return session.log_bytes() if os.path.isfile(session.log_path()) else b""


def run_once(session, module, args, limit, power=None):
    start = len(module.events())
    before = log_of(session)
    began = time.monotonic()
    result = session.run(EXE, args, timeout=limit, power=power)
    seconds = time.monotonic() - began
    # The module may still be busy with the program's last bytes.
    time.sleep(0.5)
    after = log_of(session)
    appended = after[len(before):] if after.startswith(before) else after
    return Run(result.code, seconds, start, len(module.events()), appended, left_running(session))


def program_pids(session):
    """Linux processes of this session's prefix that run the program."""
    name = os.path.basename(EXE).lower()
    return [pid for pid, cmdline, _ in prefix_processes(session) if name in cmdline.lower()]


def run_killed(session, module, args, limit, chunk):
    """A run ended from outside, as by a task manager, once the module holds
    its reply to the given chunk: the program is then waiting for it, at the
    same point of the transfer on every run."""
    start = len(module.events())
    before = log_of(session)
    began = time.monotonic()
    process = session.start(EXE, args)
    deadline = began + limit
    while time.monotonic() < deadline and process.running():
        if any(e["event"] == "fault" and e.get("chunk") == chunk for e in module.events()[start:]):
            break
        time.sleep(0.05)
    for pid in program_pids(session):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.wait(30)
    seconds = time.monotonic() - began
    time.sleep(0.5)
    after = log_of(session)
    appended = after[len(before):] if after.startswith(before) else after
    return Run(None, seconds, start, len(module.events()), appended, left_running(session))


def writable(path):
    if os.path.isfile(path):
        subprocess.run(["chattr", "-i", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.chmod(path, 0o644)


def clear_log(session):
    path = session.log_path()
    if os.path.isdir(path):
        os.rmdir(path)
    elif os.path.lexists(path):
        writable(path)
        os.unlink(path)


def run_row(session, row):
    """Both runs of a row in one session, against one module process."""
    work = os.path.join(session.root, "row-" + row.name)
    os.makedirs(work, exist_ok=True)
    host = Host(session, work)
    make, fix = HOST_FAULTS[row.host]
    clear_log(session)
    try:
        with EmulatedModule(session, row.scenario) as module:
            args = make(host)
            log_before = log_of(session)
            if row.kill:
                first = run_killed(session, module, args, row.limit, row.kill)
            else:
                first = run_once(session, module, args, row.limit, host.power)
            args = fix(host)
            module.heal()
            # A module still in the middle of a restart is back within
            # its delay; the second run starts with it on the bus.
            deadline = time.monotonic() + 30
            while not os.path.lexists(module.link()) and time.monotonic() < deadline:
                time.sleep(0.1)
            second = run_once(session, module, args, row.limit, host.power)
            events = module.events()
    finally:
        host.release_package()
        writable(session.log_path())
        shutil.rmtree(work, ignore_errors=True)
    return Outcome(row, first, second, events, log_before, log_of(session))


def run_rows(rows, jobs, report=None, name="fault-matrix"):
    """Runs rows in `jobs` Wine sessions side by side, each its share one
    after another; a row's runs are mostly waits for the module, so the
    sessions share two cores well. Returns {name: Outcome}, or for a row
    whose run raised, {name: the traceback's text}. `report` is called
    with each outcome as it comes, under a lock. The sessions keep their
    artifacts under name-1, name-2..."""
    # The longest rows first, so that the sessions end close together.
    rows = sorted(rows, key=lambda r: -r.limit)
    shares = [rows[i::jobs] for i in range(jobs)]
    outcomes, lock = {}, threading.Lock()

    def run_share(share, number):
        try:
            with WineSession("%s-%d" % (name, number)) as session:
                session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
                for row in share:
                    try:
                        outcome = run_row(session, row)
                    except Exception:
                        outcome = traceback.format_exc()
                    with lock:
                        outcomes[row.name] = outcome
                        if report is not None:
                            report(row, outcome)
        except Exception:
            text = traceback.format_exc()
            with lock:
                for row in share:
                    outcomes.setdefault(row.name, text)

    threads = [threading.Thread(target=run_share, args=(share, i + 1)) for i, share in enumerate(shares) if share]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return outcomes


# --- what each row must show --------------------------------------------------------------
def result_record(log):
    """The last result record in a run's part of the log, or None."""
    lines = [l for l in log.split(b"\r\r\n") if l.startswith(b"RESULT (")]
    return lines[-1].decode("latin-1") if lines else None


START_BANNER = b"===FW upgrade started ==="
FINISH_BANNER = b"=== FW Update finished ==="


def problems(outcome):
    """How the runs of a row differ from what the row expects; empty when
    they do not."""
    row, first, second = outcome.row, outcome.first, outcome.second
    found = []

    def expect(condition, text):
        if not condition:
            found.append(text)

    unwritable_log = row.host in ("log_read_only", "log_directory")
    if unwritable_log:
        expect(not first.log, "first run: wrote to a log that cannot be written")
    killed = bool(row.kill)
    if killed:
        # Ended from outside: no exit code, no result, no hand-back; the
        # module must have been cut part way through its package.
        expect(first.code is None, "first run: exit %r, expected none (ended from outside)" % first.code)
        expect(not first.left, "first run: left running: %s" % ", ".join(first.left))
        expect(result_record(first.log) is None, "first run: a result record after it was ended")
        cut = [e for e in outcome.events[first.start:] if e["event"] == "package"]
        expect(bool(cut) and not cut[0]["applied"] and cut[0]["verdict"] != "intact",
               "first run: the package was not cut part way: %r" % cut[:1])
    for run, code, label in ((first, row.code, "first"), (second, row.second, "second")):
        if killed and label == "first":
            continue
        expect(run.code == code, "%s run: exit %r, expected %d" % (label, run.code, code))
        expect(not run.left, "%s run: left running: %s" % (label, ", ".join(run.left)))
        if not (unwritable_log and label == "first"):
            wanted = "RESULT (%d): %s" % (code, TEXTS[code])
            expect(result_record(run.log) == wanted, "%s run: log record %r, expected %r"
                   % (label, result_record(run.log), wanted))
            if b"Send CONNECT_KVT" in run.log:
                # The module is always given back, after the run's own lines
                # and before its result.
                expect(run.log.index(b"Done DISCONNECT_KVT") < run.log.index(b"Send CONNECT_KVT")
                       < run.log.index(b"Done CONNECT_KVT") < run.log.index(b"RESULT ("),
                       "%s run: hand-off lines out of order" % label)
            else:
                found.append("%s run: the module was not given back" % label)
    events = outcome.events[first.start:first.end]
    commands = [e["text"] for e in events if e["event"] == "command"]
    expect(commands.count("AT*Q2RESET") == row.restarts,
           "first run: %d restart commands, expected %d" % (commands.count("AT*Q2RESET"), row.restarts))
    if first.log or row.optional is not None:
        if row.optional is None:
            expect(b"Quillon: Optional assignment 1" not in first.log, "first run: optional image sent")
        else:
            expect(b"Quillon: Optional assignment 1 %s\r\r\n" % row.optional.encode() in first.log,
                   "first run: optional image not logged as %s" % row.optional)
    if row.code == 0:
        packages = [e for e in events if e["event"] == "package"]
        expect(bool(packages) and packages[0]["verdict"] == "intact" and packages[0]["applied"],
               "first run: the full package was not installed: %r" % packages[:1])
    expect((row.second == 0) == (not row.why), "row: a second run that fails needs its reason, and only then")
    # Nothing lost from the log: each run only appends to it.
    expect(outcome.log_after == outcome.log_before + first.log + second.log,
           "the log lost or changed earlier records")
    runs_logged = sum(1 for r in (first, second) if r.log and r.code is not None)
    expect(outcome.log_after.count(FINISH_BANNER) == runs_logged + outcome.log_before.count(FINISH_BANNER),
           "the log does not hold one finish banner per run that could write it")
    return found

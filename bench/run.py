#!/usr/bin/env python3
"""The transfer benchmark: how fast the updater moves its 10 MB package
over the update protocol, against what the link allows.

    python3 bench/run.py [--runs N] [--no-paced] [--no-listener] [--command-form] [--trace-behind] [--no-build]

Builds its programs (cmake targets that no other build or test uses),
starts one module peer on one pseudo-terminal and one Wine session whose
COM7 is that pty, and times every case on them, interleaved round by
round (each round starting with another case) so that a busy machine
weighs on all cases alike:

  quillon          the product's own protocol code under Wine          (1)
  quillon-direct   the same, each trace call writing its own line, as
                   the trace did before it had a thread of its own      (1)
  quillon-untraced the same built with every trace call compiled out  (1)
  client+trace     a minimal Win32 client, with the updater's trace    (2)
  client           the same client without trace                       (2)
  native           a minimal Linux client straight on the pty          (3)
  ...@1MB/s        the same again, the peer taking 1 MB/s              (4)
  ...+listener     Quillon, after and before, with a debugger-output
                   listener that takes 1 ms per line (bench_listener)  (5)

and with --trace-behind also the client whose trace lines are sent while
the next chunk is on the link instead of before it.

The peer times each transfer from the first header byte to the final
reply, compares every byte with the package, and reads the CPU time the
client and the wineserver spent in that window, and the client's peak
resident size at its first header and at its end. The script prints its
figures and exits 0 whatever they are; it fails only when it could not
measure.
"""
import argparse
import os
import queue
import re
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
WINDOWS_BUILD = os.path.join(SOURCE, "build", "windows")
# The benchmark's own build of Quillon with the trace compiled out.
UNTRACED_BUILD = os.path.join(SOURCE, "build", "windows-untraced")
# And without stack protection and checked buffer calls, to see what the
# product's hardening costs the transfer.
UNHARDENED_BUILD = os.path.join(SOURCE, "build", "windows-unhardened")
NATIVE_BUILD = os.path.join(SOURCE, "build", "native")

os.environ.setdefault("QUILLON_BUILD_DIR", WINDOWS_BUILD)
sys.path.insert(0, SOURCE)
from tests.e2e.quillon_e2e import harness  # noqa: E402  (the Wine session of the end-to-end tests)

COM = 7
PORT = "\\\\.\\COM%d" % COM
CHUNK = 8192
LINK_RATE = 1000000      # bytes/s of the paced link: a realistic USB modem
MAGIC_VERSION = 0x20     # the protocol version that selects the magic form
COMMAND_VERSION = 0x10
RUN_TIMEOUT = 120        # s; a transfer that long has gone wrong either way


# --- building -------------------------------------------------------------------------

def build():
    def run(argv):
        print("+ " + " ".join(argv), flush=True)
        subprocess.run(argv, cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    for preset, targets in (("windows", ["bench_quillon", "bench_client", "bench_listener"]),
                            ("native", ["bench_peer", "bench_trivial_peer", "bench_native_client"])):
        run(["cmake", "--preset", preset])
        run(["cmake", "--build", "--preset", preset, "-j2", "--target"] + targets)
    run(["cmake", "--preset", "windows", "-B", UNTRACED_BUILD, "-DQUILLON_BENCH_TRACE_OFF=ON"])
    run(["cmake", "--build", UNTRACED_BUILD, "-j2", "--target", "bench_quillon"])
    run(["cmake", "--preset", "windows", "-B", UNHARDENED_BUILD, "-DQUILLON_HARDENING=OFF"])
    run(["cmake", "--build", UNHARDENED_BUILD, "-j2", "--target", "bench_quillon"])


def package_path():
    """The full package the product embeds: the maker's file of a release
    build, otherwise the placeholder the build generated."""
    with open(os.path.join(WINDOWS_BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("QUILLON_FULL_PACKAGE:") and line.split("=", 1)[1].strip():
                return line.split("=", 1)[1].strip()
    return os.path.join(WINDOWS_BUILD, "packages", "full_package.bin")


# --- the peers ---------------------------------------------------------------------------

class Peer:
    """A peer program on its own pty, talked to by lines on stdin/stdout."""

    def __init__(self, argv):
        self.popen = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                      bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.pty = self.expect("READY").split()[1]

    def _read(self):
        for line in self.popen.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def send(self, line):
        self.popen.stdin.write(line + "\n")
        self.popen.stdin.flush()

    def expect(self, prefix, timeout=10, others=None):
        """The next line starting with prefix; lines before it go to others."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(deadline - time.monotonic(), 0.01))
            except queue.Empty:
                raise RuntimeError("the peer did not say %s within %s s" % (prefix, timeout))
            if line is None:
                raise RuntimeError("the peer ended")
            if line.startswith(prefix):
                return line
            if others is not None:
                others.append(line)

    def ask(self, line, answer):
        self.send(line)
        return self.expect(answer)

    def settle(self):
        """Ends a run at the peer; returns what it said since the last one."""
        said = []
        self.send("reset")
        self.expect("RESET", others=said)
        return said

    def close(self):
        if self.popen.poll() is None:
            try:
                self.send("quit")
                self.popen.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                self.popen.kill()
                self.popen.wait()


def fields(line):
    return dict(item.split("=", 1) for item in line.split()[1:] if "=" in item)


# --- one run -------------------------------------------------------------------------------

class Run:
    """What one run of one case measured; times in s, sizes in kB."""

    def __init__(self):
        self.ok = False
        self.problem = ""
        self.transfer = None      # first header byte to final reply, at the peer
        self.cpu = None           # client and wineserver CPU in that window
        self.server_cpu = None
        self.peer_cpu = None
        self.late = None          # paced: how much later than due the replies left, summed
        self.wall = None          # the whole process
        self.process_cpu = None   # the whole process, user + system
        self.first = None         # from the launch to the first header byte at the peer
        self.listened = None      # lines the listener took, in a listener case
        self.start_kb = None      # the client's peak resident size at its first header
        self.peak_kb = None       # ... and at the end of the transfer


class Listener:
    """bench_listener in the Wine session, for one run: reads the debugger
    output through the DBWIN buffer, 1 ms per line."""

    def __init__(self, listener, env, log_dir):
        self.out_path = os.path.join(log_dir, "listener.out")
        self.out = open(self.out_path, "w")
        self.popen = subprocess.Popen([harness.WINE, listener], stdin=subprocess.PIPE, stdout=self.out,
                                      stderr=subprocess.DEVNULL, env=env, cwd=HERE)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and self.popen.poll() is None:
            with open(self.out_path) as f:
                if "listening" in f.read():
                    return
            time.sleep(0.05)
        raise RuntimeError("the listener did not start")

    def close(self):
        """The lines it took."""
        self.popen.stdin.close()
        try:
            self.popen.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            self.popen.wait()
        self.out.close()
        with open(self.out_path) as f:
            m = re.search(r"lines (\d+)", f.read())
        return int(m.group(1)) if m else None


def measure(peer, argv, env, length, pace, server_pid, log_dir, name, listener=None):
    run = Run()
    peer.settle()
    heard = Listener(listener, env, log_dir) if listener else None
    peer.ask("pace %d" % pace, "PACE")
    out_path = os.path.join(log_dir, name + ".out")
    with open(out_path, "w") as out, open(os.path.join(log_dir, name + ".err"), "w") as err:
        # Held at a gate until the peer knows its pid; the exec keeps the pid.
        popen = subprocess.Popen(["sh", "-c", 'read _ && exec "$0" "$@"'] + argv, stdin=subprocess.PIPE,
                                 stdout=out, stderr=err, env=env, cwd=HERE)
        watched = [popen.pid] + ([server_pid] if server_pid else [])
        peer.ask("watch " + " ".join(str(pid) for pid in watched), "WATCH")
        killer = threading.Timer(RUN_TIMEOUT, popen.kill)
        killer.start()
        started = time.monotonic()
        popen.stdin.write(b"\n")
        popen.stdin.close()
        _, status, usage = os.wait4(popen.pid, 0)
        run.wall = time.monotonic() - started
        killer.cancel()
        popen.returncode = os.waitstatus_to_exitcode(status)
    run.process_cpu = usage.ru_utime + usage.ru_stime
    if heard:
        run.listened = heard.close()

    said = peer.settle()
    done = [fields(line) for line in said if line.startswith("DONE")]
    with open(out_path) as f:
        output = f.read().strip()
    if popen.returncode != 0:
        run.problem = "exit %s: %s %s" % (popen.returncode, output[-200:], said)
        return run
    if len(done) != 1:
        run.problem = "no whole package at the peer: %s" % said
        return run
    d = done[0]
    if int(d["bytes"]) != length or int(d["mismatch"]) != -1 or int(d["bad_headers"]) != 0:
        run.problem = "the peer received something else: %s" % d
        return run
    run.ok = True
    run.transfer = int(d["transfer_ns"]) / 1e9
    run.peer_cpu = int(d["peer_cpu_ns"]) / 1e9
    run.late = int(d["late_ns"]) / 1e9
    run.start_kb = int(d["start_kb"]) if int(d["start_kb"]) > 0 else None
    run.peak_kb = int(d["peak_kb"]) if int(d["peak_kb"]) > 0 else None
    run.first = int(d["first_ns"]) / 1e9 - started
    cpu = [int(x) for x in d["cpu_ns"].split(",") if x]
    if cpu and all(c >= 0 for c in cpu):
        run.cpu = sum(cpu) / 1e9
        run.server_cpu = sum(cpu[1:]) / 1e9
    return run


def idle_peak_kb(argv, env, log_dir):
    """The peak resident size of a Wine process that has started and does
    nothing: what every Wine case holds before its own work."""
    out_path = os.path.join(log_dir, "idle.out")
    peak = None
    with open(out_path, "w") as out:
        popen = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=out, stderr=subprocess.DEVNULL, env=env,
                                 cwd=HERE)
        try:
            deadline = time.monotonic() + 60
            while peak is None and time.monotonic() < deadline and popen.poll() is None:
                with open(out_path) as f:
                    if "holding" in f.read():
                        with open("/proc/%d/status" % popen.pid) as status:
                            peak = int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))
                time.sleep(0.05)
        finally:
            popen.stdin.close()
            try:
                popen.wait(timeout=30)
            except subprocess.TimeoutExpired:
                popen.kill()
                popen.wait()
    return peak


def wine_server_pid(prefix):
    """The wineserver of this session: the one whose environment names our prefix."""
    wanted = ("WINEPREFIX=" + prefix).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if b"wineserver" not in f.read().split(b"\0")[0]:
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


# --- cases and figures ----------------------------------------------------------------------

class Case:
    def __init__(self, name, argv, wine, pace, listener=None):
        self.name = name
        self.argv = argv
        self.wine = wine
        self.pace = pace
        self.listener = listener  # the listener program, in a listener case
        self.runs = []

    def values(self, attribute):
        return [getattr(r, attribute) for r in self.runs if r.ok and getattr(r, attribute) is not None]

    def median(self, attribute):
        values = self.values(attribute)
        return statistics.median(values) if values else None

    def least(self, attribute):
        values = self.values(attribute)
        return min(values) if values else None


def paired(case, reference, attribute):
    """The median of the round-by-round ratios: each pair ran minutes apart
    at most, so a load that comes and goes weighs on both alike."""
    ratios = [getattr(a, attribute) / getattr(b, attribute) for a, b in zip(case.runs, reference.runs)
              if a.ok and b.ok and getattr(a, attribute) and getattr(b, attribute)]
    return statistics.median(ratios) if ratios else None


def fmt(value, form="%.3f"):
    return "-" if value is None else form % value


def ratio(a, b):
    return None if a is None or not b else a / b


def mb(kb):
    return None if kb is None else kb / 1024


def trace_check(env, peer, quillon, client, package, behind):
    """One run each with the debugger output captured: the trace lines of
    Quillon's transfer (between the marks it sets) and of the traced client."""
    env = dict(env, WINEDEBUG="-all,+debugstr")
    figures = {}
    runs = [("quillon", [harness.WINE, quillon, PORT, "--mark"]),
            ("client+trace", [harness.WINE, client, PORT, package, "--trace"])]
    if behind:
        runs.append(("client+trace-behind", [harness.WINE, client, PORT, package, "--trace-behind"]))
    for name, argv in runs:
        peer.settle()
        peer.ask("pace 0", "PACE")
        result = subprocess.run(argv, env=env, cwd=HERE, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, errors="replace", timeout=RUN_TIMEOUT)
        lines = harness.trace_lines(result.stderr)
        if name == "quillon":
            marks = [i for i, line in enumerate(lines) if line.startswith("bench: ")]
            lines = lines[marks[0] + 1:marks[1]] if len(marks) == 2 else []
        peer.settle()
        figures[name] = (result.returncode, lines)
    return figures


def print_trace_check(figures, length):
    chunks = -(-length // CHUNK)
    print("\nThe trace of one transfer of %d chunks (WINEDEBUG=+debugstr):" % chunks)
    for name, (code, lines) in figures.items():
        total = sum(len(line) for line in lines)
        cut = sum(1 for line in lines if line.endswith("..."))
        print("  %-20s exit %d: %5d lines, %7d bytes: %.2f lines, %.0f bytes per chunk%s"
              % (name, code, len(lines), total, len(lines) / chunks, total / chunks,
                 " (%d lines cut by Wine)" % cut if cut else ""))
    code, lines = figures["quillon"]
    kinds = {}
    for line in lines:
        m = re.match(r"(\S+):\d+ (\S+): .*?\(-?\d+\) \w+: ?(\S*)", line)
        key = (m.group(1).rsplit("\\", 1)[-1], m.group(2), m.group(3)) if m else ("?", "?", line[:20])
        kinds[key] = kinds.get(key, 0) + 1
    print("  Quillon's lines in the transfer, by source, function and first word:")
    for (source, function, word), count in sorted(kinds.items(), key=lambda kv: -kv[1]):
        print("    %6d  %s %s %s" % (count, source, function, word))


def handshake_check(listener, env):
    """The DBWIN handshake on the listener's own stand-in writer, with no
    time taken per line and with 1 ms: what each line costs a writer that
    must wait for the listener, whether or not the system's
    OutputDebugStringA talks to it."""
    print("\nThe DBWIN handshake on the listener's stand-in writer (2000 lines):")
    for per_line in (0, 1):
        result = subprocess.run([harness.WINE, listener, "--per-line-ms", str(per_line), "--stand-in", "2000"],
                                env=env, cwd=HERE, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=RUN_TIMEOUT)
        m = re.search(r"stand-in lines (\d+) seconds ([\d.]+)", result.stdout)
        if m:
            print("  %d ms per line at the listener: %s lines in %s s, %.1f us per line" % (
                per_line, m.group(1), m.group(2), float(m.group(2)) / max(int(m.group(1)), 1) * 1e6))
        else:
            print("  %d ms per line at the listener: failed: %s" % (per_line, result.stdout[-200:]))


def peer_check(peer, trivial, native_client, package, length, runs, log_dir, form):
    """The native client against the module peer and against the trivial
    peer: equal times mean the module peer is not what limits a transfer."""
    module_walls, trivial_walls, peer_cpu = [], [], []
    for _ in range(runs):
        run = measure(peer, [native_client, peer.pty, package] + form, None, length, 0, None, log_dir, "peer-check")
        if run.ok:
            module_walls.append(run.wall)
            peer_cpu.append(run.peer_cpu)
        started = time.monotonic()
        done = subprocess.run([native_client, trivial.pty, package] + form, stdout=subprocess.DEVNULL,
                              timeout=RUN_TIMEOUT)
        if done.returncode == 0:
            trivial_walls.append(time.monotonic() - started)
    print("\nIs the module peer fast enough? The native client's whole run, median (min) of %d:" % runs)
    for name, walls in (("module peer", module_walls), ("trivial peer", trivial_walls)):
        print("  against the %-13s %s (%s) s" % (name + ":", fmt(statistics.median(walls) if walls else None),
                                               fmt(min(walls) if walls else None)))
    if peer_cpu:
        print("  the module peer's own CPU per transfer: %s s" % fmt(statistics.median(peer_cpu)))


def report(groups, length, pace, idle_kb):
    print("\nTransfer time at the peer, first header byte to final reply: median (and min) of the good runs,")
    print("and the medians' ratios to the minimal Win32 client with trace (2t), without (2), and native (3):\n")
    print("and the time from the launch to the first header byte (Wine's start, the device's probe, the link):\n")
    print("%-30s %5s %9s %9s %7s %7s %7s %8s" % ("case", "runs", "median s", "min s", "x(2t)", "x(2)", "x(3)",
                                                 "first s"))
    for group in groups:
        refs = [group[name].median("transfer") if name in group else None
                for name in ("client+trace", "client", "native")]
        for case in group["order"]:
            t = case.median("transfer")
            print("%-30s %2d/%-2d %9s %9s %7s %7s %7s %8s" % (
                case.name, len(case.values("transfer")), len(case.runs), fmt(t), fmt(case.least("transfer")),
                *(fmt(ratio(t, ref), "%.2f") for ref in refs), fmt(case.median("first"))))

    print("\nResources, medians: CPU in the transfer window (client process + wineserver), the whole")
    print("process's CPU and wall time, and the client's peak resident size at its first header and end:\n")
    print("%-30s %7s %8s %7s %10s %10s %9s %8s" % ("case", "CPU s", "server s", "x(2t)", "proc CPU s", "proc wall s",
                                                  "start MB", "peak MB"))
    for group in groups:
        ref = group["client+trace"].median("cpu") if "client+trace" in group else None
        for case in group["order"]:
            print("%-30s %7s %8s %7s %10s %10s %9s %8s" % (
                case.name, fmt(case.median("cpu")), fmt(case.median("server_cpu")),
                fmt(ratio(case.median("cpu"), ref), "%.2f"), fmt(case.median("process_cpu")),
                fmt(case.median("wall")), fmt(mb(case.median("start_kb")), "%.1f"),
                fmt(mb(case.median("peak_kb")), "%.1f")))

    for group in groups:
        for case in group["order"]:
            for run in case.runs:
                if not run.ok:
                    print("  %s: a run failed: %s" % (case.name, run.problem))

    listened = [(case.name, run.listened) for group in groups for case in group["order"] if case.listener
                for run in case.runs if run.ok]
    if listened:
        counts = sorted(set(n for _, n in listened if n is not None))
        print("\nLines the listener took per listener run: %s" % (", ".join(str(n) for n in counts) or "none"))

    unpaced = groups[0]
    paced = next((g for g in groups if "quillon" in g and g["quillon"].pace), None)
    quillon, traced = unpaced["quillon"], unpaced["client+trace"]
    print("\nGoals, each the median of the rounds' own ratios (medians and minima beside):")
    goal_rows = [("unpaced, Quillon / the untraced client", quillon, unpaced["client"], "1.15"),
                 ("unpaced, Quillon / Quillon unhardened", quillon, unpaced["quillon-unhardened"], "1.01")]
    if paced:
        goal_rows.append(("at %g MB/s, Quillon / the native client" % (pace / 1e6), paced["quillon"],
                          paced["native"], "1.01"))
        goal_rows.append(("at %g MB/s, Quillon / Quillon unhardened" % (pace / 1e6), paced["quillon"],
                          paced["quillon-unhardened"], "1.01"))
    for group in groups:
        for case in group["order"]:
            if case.listener and case.name.startswith("quillon+"):
                base = next((g["quillon"] for g in groups if "quillon" in g and g["quillon"].pace == case.pace), None)
                if base:
                    goal_rows.append(("%s / without it" % case.name, case, base, "1.05"))
    for what, case, ref, goal in goal_rows:
        print("  %-48s %s (medians %s, minima %s; goal <= %s)" % (
            what + ":", fmt(paired(case, ref, "transfer"), "%.3f"),
            fmt(ratio(case.median("transfer"), ref.median("transfer")), "%.3f"),
            fmt(ratio(case.least("transfer"), ref.least("transfer")), "%.3f"), goal))
    budget_kb = length / 1024 + 16 * 1024
    print("  peak memory: Quillon %s MB (%s MB at its first header); goal <= the package + 16 MB = %.1f MB;"
          " the client, holding one copy of the package in its heap, %s MB; an idle Wine process %s MB;"
          " the package %.1f MB" % (
              fmt(mb(quillon.median("peak_kb")), "%.1f"), fmt(mb(quillon.median("start_kb")), "%.1f"),
              budget_kb / 1024, fmt(mb(unpaced["client"].median("peak_kb")), "%.1f"), fmt(mb(idle_kb), "%.1f"),
              length / 1048576))
    print("\nThe earlier goals:")
    for what, attribute, goal in (("time,", "transfer", "1.10"), ("CPU, ", "cpu", "1.50")):
        print("  %s Quillon / client with the same trace: %s of the medians, %s of the minima, %s the median "
              "ratio of a round (goal <= %s)" % (
                  what, fmt(ratio(quillon.median(attribute), traced.median(attribute)), "%.2f"),
                  fmt(ratio(quillon.least(attribute), traced.least(attribute)), "%.2f"),
                  fmt(paired(quillon, traced, attribute), "%.2f"), goal))
    if paced:
        ideal = length / pace
        print("  at %g MB/s, against the ideal %.3f s (goal for Quillon: within 2 %%):" % (pace / 1e6, ideal))
        for case in paced["order"]:
            t = case.median("transfer")
            print("    %-30s %s s, %s; the peer's replies late by %s s in all" % (
                case.name, fmt(t), fmt(None if t is None else (t / ideal - 1) * 100, "%+.2f %%"),
                fmt(case.median("late"), "%.4f")))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5, help="runs per case (default 5)")
    parser.add_argument("--no-paced", action="store_true", help="leave out the 1 MB/s cases (10 s a run)")
    parser.add_argument("--no-listener", action="store_true",
                        help="leave out the cases with a debugger-output listener")
    parser.add_argument("--command-form", action="store_true",
                        help="the module reports protocol version 0x10: command-code headers")
    parser.add_argument("--trace-behind", action="store_true",
                        help="also time the client with the same trace lines sent while the next chunk is on the "
                             "link (what holding the updater's lines until after its writes would give)")
    parser.add_argument("--no-build", action="store_true", help="use the programs already built")
    args = parser.parse_args()
    if args.runs < 5:
        print("note: fewer than 5 runs per case; the medians are only indicative")

    if not args.no_build:
        build()
    quillon = os.path.join(WINDOWS_BUILD, "bench_quillon.exe")
    untraced = os.path.join(UNTRACED_BUILD, "bench_quillon.exe")
    unhardened = os.path.join(UNHARDENED_BUILD, "bench_quillon.exe")
    listener = os.path.join(WINDOWS_BUILD, "bench_listener.exe")
    client = os.path.join(WINDOWS_BUILD, "bench_client.exe")
    native_client = os.path.join(NATIVE_BUILD, "bench_native_client")
    package = package_path()
    length = os.path.getsize(package)
    log_dir = os.path.join(WINDOWS_BUILD, "bench")
    os.makedirs(log_dir, exist_ok=True)
    form_win32 = ["--command"] if args.command_form else []
    form_native = ["command"] if args.command_form else []

    print("Machine: %d CPUs, load average %s; %s, %d bytes; %d runs per case; %s form"
          % (os.cpu_count(), " ".join("%.2f" % x for x in os.getloadavg()), os.path.relpath(package, SOURCE),
             length, args.runs, "command-code" if args.command_form else "magic"), flush=True)
    peer = Peer([os.path.join(NATIVE_BUILD, "bench_peer")])
    trivial = Peer([os.path.join(NATIVE_BUILD, "bench_trivial_peer"), str(length)])
    try:
        if int(peer.ask("expect " + package, "EXPECT").split()[1]) != length:
            raise RuntimeError("the peer could not load " + package)
        peer.ask("version %d" % (COMMAND_VERSION if args.command_form else MAGIC_VERSION), "VERSION")
        with harness.WineSession("bench") as session:
            session.link_com(COM, peer.pty)
            server = wine_server_pid(session.prefix)
            env = dict(session.env, WINEDEBUG="-all")  # nobody listens to the debugger output

            if not args.command_form:
                print_trace_check(trace_check(env, peer, quillon, client, package, args.trace_behind), length)
            if not args.no_listener:
                handshake_check(listener, env)
            peer_check(peer, trivial, native_client, package, length, args.runs, log_dir, form_native)
            idle_kb = idle_peak_kb([harness.WINE, client, "--hold"], env, log_dir)

            groups = []
            for pace in [0] + ([] if args.no_paced else [LINK_RATE]):
                suffix = "" if pace == 0 else "@%gMB/s" % (pace / 1e6)
                group = {"order": [
                    Case("quillon", [harness.WINE, quillon, PORT], True, pace),
                    Case("quillon-direct", [harness.WINE, quillon, PORT, "--direct"], True, pace),
                    Case("quillon-untraced", [harness.WINE, untraced, PORT], True, pace),
                    Case("quillon-unhardened", [harness.WINE, unhardened, PORT], True, pace),
                    Case("client+trace", [harness.WINE, client, PORT, package, "--trace"] + form_win32, True, pace),
                    Case("client", [harness.WINE, client, PORT, package] + form_win32, True, pace),
                    Case("native", [native_client, peer.pty, package] + form_native, False, pace),
                ]}
                if args.trace_behind:
                    group["order"].insert(2, Case("client+trace-behind", [harness.WINE, client, PORT, package,
                                                                          "--trace-behind"] + form_win32, True, pace))
                for case in group["order"]:
                    group[case.name] = case
                    case.name += suffix
                groups.append(group)
            if not args.no_listener:
                for pace in [0] + ([] if args.no_paced else [LINK_RATE]):
                    suffix = "" if pace == 0 else "@%gMB/s" % (pace / 1e6)
                    group = {"order": [
                        Case("quillon+listener" + suffix, [harness.WINE, quillon, PORT], True, pace, listener),
                        Case("quillon-direct+listener" + suffix, [harness.WINE, quillon, PORT, "--direct"], True,
                             pace, listener),
                    ]}
                    groups.append(group)

            print("\nTimed runs (transfer time at the peer):", flush=True)
            for round_number in range(args.runs):
                # Each round starts with another case: none always follows
                # the same one, or always finds the wineserver idle.
                order = []
                for group in groups:
                    shift = round_number % len(group["order"])
                    order += group["order"][shift:] + group["order"][:shift]
                for case in order:
                    run = measure(peer, case.argv, env if case.wine else None, length, case.pace,
                                  server if case.wine else None, log_dir, re.sub(r"[^\w.+-]", "_", case.name),
                                  case.listener)
                    case.runs.append(run)
                    print("  round %d %-30s %s" % (round_number + 1, case.name,
                                                   "%.3f s" % run.transfer if run.ok else "FAILED " + run.problem),
                          flush=True)
            report(groups, length, LINK_RATE, idle_kb)
            print("\nLoad average at the end: %s" % " ".join("%.2f" % x for x in os.getloadavg()))
    finally:
        peer.close()
        trivial.popen.kill()
        trivial.popen.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())

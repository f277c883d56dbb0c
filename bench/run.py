#!/usr/bin/env python3
"""The transfer benchmark: how fast the updater moves its 10 MB package
over the update protocol, against what the link allows.

    python3 bench/run.py [--runs N] [--no-paced] [--no-build]

Builds its programs (cmake targets that no other build or test uses),
starts one module peer on one pseudo-terminal and one Wine session whose
COM7 is that pty, and times every case on them, interleaved round by
round so that a busy machine weighs on all cases alike:

  quillon          the product's own protocol code under Wine (1)
  client+trace     a minimal Win32 client, with the updater's trace lines (2)
  client           the same client without trace (2)
  native           a minimal Linux client straight on the pty (3)
  ...@1MB/s        (1) and (2) again, with the peer taking 1 MB/s (4)

The peer times each transfer from the first header byte to the final
reply, compares every byte with the package, and reads the CPU time the
client and the wineserver spent in that window, and the client's peak
resident size at its end. It prints its figures and exits 0
whatever they are; it fails only when it could not measure.
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
NATIVE_BUILD = os.path.join(SOURCE, "build", "native")

os.environ.setdefault("QUILLON_BUILD_DIR", WINDOWS_BUILD)
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
import harness  # noqa: E402  (the Wine session of the end-to-end tests)

COM = 7
PORT = "\\\\.\\COM%d" % COM
CHUNK = 8192
LINK_RATE = 1000000       # bytes/s of the paced link: a realistic USB modem
UNPACED_TIMEOUT = 120     # s; a transfer that long has gone wrong
PACED_TIMEOUT = 120


# --- building -------------------------------------------------------------------------

def build():
    def run(argv):
        print("+ " + " ".join(argv), flush=True)
        subprocess.run(argv, cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    for preset, targets in (("windows", ["bench_quillon", "bench_client"]),
                            ("native", ["bench_peer", "bench_trivial_peer", "bench_native_client"])):
        run(["cmake", "--preset", preset])
        run(["cmake", "--build", "--preset", preset, "-j2", "--target"] + targets)


def package_path():
    """The full package the product embeds: the maker's file of a release
    build, otherwise the placeholder the build generated."""
    cache = os.path.join(WINDOWS_BUILD, "CMakeCache.txt")
    with open(cache) as f:
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

    def close(self):
        if self.popen.poll() is None:
            try:
                self.send("quit")
            except OSError:
                pass
            try:
                self.popen.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()


def fields(line):
    return dict(item.split("=", 1) for item in line.split()[1:] if "=" in item)


# --- one run -------------------------------------------------------------------------------

class Run:
    """What one run of one case measured."""

    def __init__(self):
        self.ok = False
        self.problem = ""
        self.transfer = None      # s, first header byte to final reply, at the peer
        self.cpu = None           # s of client (and wineserver) CPU in that window
        self.server_cpu = 0.0
        self.peer_cpu = None
        self.late = 0.0           # s the paced peer answered after its due time, summed
        self.wall = None          # s, the whole process
        self.process_cpu = None   # s, the whole process (user + system)
        self.peak_kb = None


def start_gated(argv, env, out, err):
    """Starts argv held at a gate, so the peer can be told its pid before
    it sends a byte; the exec keeps the pid."""
    popen = subprocess.Popen(["sh", "-c", 'read _ && exec "$0" "$@"'] + argv, stdin=subprocess.PIPE,
                             stdout=out, stderr=err, env=env, cwd=HERE)
    return popen


def measure(peer, argv, env, length, pace, server_pid, timeout, log_dir, name):
    run = Run()
    peer.ask("reset", "RESET")
    peer.ask("pace %d" % pace, "PACE")
    out_path = os.path.join(log_dir, name + ".out")
    err_path = os.path.join(log_dir, name + ".err")
    with open(out_path, "w") as out, open(err_path, "w") as err:
        popen = start_gated(argv, env, out, err)
        watched = [str(popen.pid)] + ([str(server_pid)] if server_pid else [])
        peer.ask("watch " + " ".join(watched), "WATCH")
        started = time.monotonic()
        killer = threading.Timer(timeout, popen.kill)
        killer.start()
        popen.stdin.write(b"\n")
        popen.stdin.close()
        _, status, usage = os.wait4(popen.pid, 0)
        killer.cancel()
        popen.returncode = os.waitstatus_to_exitcode(status)
    run.wall = time.monotonic() - started
    run.process_cpu = usage.ru_utime + usage.ru_stime

    said = []
    peer.send("reset")
    peer.expect("RESET", others=said)
    done = [fields(l) for l in said if l.startswith("DONE")]
    with open(out_path) as f:
        output = f.read().strip()
    if popen.returncode != 0:
        run.problem = "exit %s: %s" % (popen.returncode, output[-200:] or said)
    elif len(done) != 1:
        run.problem = "no whole package at the peer: %s" % said
    else:
        d = done[0]
        if int(d["bytes"]) != length or int(d["mismatch"]) != -1 or int(d["bad_headers"]) != 0:
            run.problem = "the peer received something else: %s" % d
        else:
            run.ok = True
        cpu = [int(x) for x in d["cpu_ns"].split(",") if x]
        run.transfer = int(d["transfer_ns"]) / 1e9
        run.peer_cpu = int(d["peer_cpu_ns"]) / 1e9
        run.late = int(d["late_ns"]) / 1e9
        run.peak_kb = int(d["peak_kb"]) if int(d["peak_kb"]) > 0 else None
        if cpu and all(c >= 0 for c in cpu):
            run.cpu = sum(cpu) / 1e9
            run.server_cpu = sum(cpu[1:]) / 1e9
    return run


def idle_peak_kb(argv, env, log_dir):
    """The peak resident size of a Wine process that has started and does
    nothing: what every Wine case holds before its own work."""
    out_path = os.path.join(log_dir, "idle.out")
    with open(out_path, "w") as out:
        popen = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=out, stderr=subprocess.DEVNULL, env=env,
                                 cwd=HERE)
        peak = None
        deadline = time.monotonic() + 60
        try:
            while time.monotonic() < deadline and popen.poll() is None:
                with open(out_path) as f:
                    if "holding" in f.read():
                        with open("/proc/%d/status" % popen.pid) as status:
                            peak = int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))
                        break
                time.sleep(0.05)
        finally:
            popen.stdin.close()
            try:
                popen.wait(timeout=30)
            except subprocess.TimeoutExpired:
                popen.kill()
                popen.wait()
    return peak


# --- cases --------------------------------------------------------------------------------

class Case:
    def __init__(self, name, argv, wine, pace=0):
        self.name = name
        self.argv = argv
        self.wine = wine
        self.pace = pace
        self.runs = []

    def good(self):
        return [r for r in self.runs if r.ok]

    def median(self, attribute):
        values = [getattr(r, attribute) for r in self.good() if getattr(r, attribute) is not None]
        return statistics.median(values) if values else None


def wine_server_pid(prefix):
    """The wineserver of this session: the one whose environment names our prefix."""
    wanted = ("WINEPREFIX=" + prefix).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read()
            if b"wineserver" not in cmdline.split(b"\0")[0]:
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


def trace_check(session, peer, quillon, client, package, length):
    """One run each with the debugger output captured: the trace lines of
    Quillon's transfer and of the traced client, counted and measured."""
    env = dict(session.env, WINEDEBUG="-all,+debugstr")
    figures = {}
    for name, argv in (("quillon", [harness.WINE, quillon, PORT, "--mark"]),
                       ("client+trace", [harness.WINE, client, PORT, package, "--trace"])):
        peer.ask("reset", "RESET")
        peer.ask("pace 0", "PACE")
        result = subprocess.run(argv, env=env, cwd=HERE, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, errors="replace", timeout=UNPACED_TIMEOUT)
        lines = harness.trace_lines(result.stderr)
        if name == "quillon":
            marks = [i for i, l in enumerate(lines) if l.startswith("bench: ")]
            lines = lines[marks[0] + 1:marks[1]] if len(marks) == 2 else []
        said = []
        peer.send("reset")
        peer.expect("RESET", others=said)
        figures[name] = (result.returncode, lines, said)
    return figures


def print_trace_check(figures, length):
    chunks = -(-length // CHUNK)
    print("\nTrace of one transfer (%d chunks), captured with WINEDEBUG=+debugstr:" % chunks)
    for name, (code, lines, said) in figures.items():
        total = sum(len(l) for l in lines)
        cut = sum(1 for l in lines if l.endswith("..."))
        print("  %-13s exit %d: %5d lines, %8d bytes = %.2f lines and %.0f bytes per chunk%s"
              % (name, code, len(lines), total, len(lines) / chunks, total / chunks,
                 " (%d lines cut by Wine)" % cut if cut else ""))
    quillon = figures.get("quillon")
    if quillon and quillon[1]:
        kinds = {}
        for line in quillon[1]:
            m = re.match(r"(\S+):\d+ (\S+): .*?\(-?\d+\) \w+: ?(.{0,24})", line, re.S)
            key = (m.group(1).rsplit("\\", 1)[-1], m.group(2), m.group(3).split("\n")[0].split(" ")[0]) if m else ("?", "?", line[:20])
            kinds[key] = kinds.get(key, 0) + 1
        print("  Quillon's lines in the transfer, by source, function and first word:")
        for (source, function, word), count in sorted(kinds.items(), key=lambda kv: -kv[1]):
            print("    %6d  %s %s %s" % (count, source, function, word))


def fmt(value, form="%.3f"):
    return "-" if value is None else form % value


def ratio(a, b):
    return None if a is None or not b else a / b


def report(cases, groups, length, pace):
    print("\nMedians over the good runs (transfer = first header byte to final reply, at the peer;")
    print("CPU = client process + wineserver in that window; peak = the client process's max RSS):\n")
    head = ("case", "runs", "transfer s", "x(2)trace", "x(2)", "x(3)", "CPU s", "server s", "proc CPU s",
            "proc wall s", "peak MB")
    print("%-20s %5s %10s %9s %6s %6s %7s %8s %10s %11s %8s" % head)
    for group in groups:
        trace_ref = group["client+trace"].median("transfer")
        plain_ref = group["client"].median("transfer")
        native_ref = group["native"].median("transfer")
        for case in group["order"]:
            t = case.median("transfer")
            print("%-20s %2d/%-2d %10s %9s %6s %6s %7s %8s %10s %11s %8s" % (
                case.name, len(case.good()), len(case.runs), fmt(t), fmt(ratio(t, trace_ref), "%.2f"),
                fmt(ratio(t, plain_ref), "%.2f"), fmt(ratio(t, native_ref), "%.2f"), fmt(case.median("cpu")),
                fmt(case.median("server_cpu")), fmt(case.median("process_cpu")), fmt(case.median("wall")),
                fmt(None if case.median("peak_kb") is None else case.median("peak_kb") / 1024, "%.1f")))
    for case in cases:
        for r in case.runs:
            if not r.ok:
                print("  %s: a run failed: %s" % (case.name, r.problem))

    unpaced = groups[0]
    q, c = unpaced["quillon"], unpaced["client+trace"]
    print("\nGoals:")
    print("  time, Quillon / client with the same trace: %s (goal <= 1.10)"
          % fmt(ratio(q.median("transfer"), c.median("transfer")), "%.2f"))
    print("  CPU,  Quillon / client with the same trace: %s (goal <= 1.50)"
          % fmt(ratio(q.median("cpu"), c.median("cpu")), "%.2f"))
    if len(groups) > 1:
        ideal = length / pace
        for case in groups[1]["order"]:
            t = case.median("transfer")
            print("  %-18s %s s, %s of the ideal %.3f s (goal for Quillon: within 2 %%); peer late by %s s"
                  % (case.name + ":", fmt(t), fmt(None if t is None else (t / ideal - 1) * 100, "%+.2f %%"), ideal,
                     fmt(case.median("late"))))
    plain = unpaced["client"]
    print("  peak memory: Quillon %s MB, the client holding one copy of the package %s MB, an idle Wine "
          "process %s MB; the package is %.1f MB"
          % (fmt(q.median("peak_kb") and q.median("peak_kb") / 1024, "%.1f"),
             fmt(plain.median("peak_kb") and plain.median("peak_kb") / 1024, "%.1f"),
             fmt(groups[0]["idle_kb"] and groups[0]["idle_kb"] / 1024, "%.1f"), length / 1048576))


def peer_check(peer, trivial, native_client, package, runs, log_dir):
    """The native client against the module peer and against the trivial
    peer: equal times mean the module peer is not what limits a transfer."""
    results = {"module peer": [], "trivial peer": []}
    for i in range(runs):
        run = measure(peer, [native_client, peer.pty, package], None, os.path.getsize(package), 0, None,
                      UNPACED_TIMEOUT, log_dir, "peer-check")
        if run.ok:
            results["module peer"].append((run.wall, run.peer_cpu))
        started = time.monotonic()
        done = subprocess.run([native_client, trivial.pty, package], stdout=subprocess.DEVNULL,
                              timeout=UNPACED_TIMEOUT)
        if done.returncode == 0:
            results["trivial peer"].append((time.monotonic() - started, None))
    print("\nIs the module peer fast enough? The native client, whole process, median of %d:" % runs)
    for name, values in results.items():
        walls = [w for w, _ in values]
        cpu = [c for _, c in values if c is not None]
        print("  against the %-13s %s s%s" % (name + ":", fmt(statistics.median(walls) if walls else None),
                                              ", peer CPU %s s per transfer" % fmt(statistics.median(cpu))
                                              if cpu else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5, help="runs per case (default 5)")
    parser.add_argument("--no-paced", action="store_true", help="leave out the 1 MB/s cases (about 10 s a run)")
    parser.add_argument("--no-build", action="store_true", help="use the programs already built")
    args = parser.parse_args()

    if not args.no_build:
        build()
    quillon = os.path.join(WINDOWS_BUILD, "bench_quillon.exe")
    client = os.path.join(WINDOWS_BUILD, "bench_client.exe")
    native_client = os.path.join(NATIVE_BUILD, "bench_native_client")
    package = package_path()
    length = os.path.getsize(package)
    log_dir = os.path.join(WINDOWS_BUILD, "bench")
    os.makedirs(log_dir, exist_ok=True)

    print("Machine: %d CPUs, load average %s; package %s, %d bytes; %d runs per case"
          % (os.cpu_count(), " ".join("%.2f" % x for x in os.getloadavg()), os.path.relpath(package, SOURCE),
             length, args.runs))
    peer = Peer([os.path.join(NATIVE_BUILD, "bench_peer")])
    trivial = Peer([os.path.join(NATIVE_BUILD, "bench_trivial_peer"), str(length)])
    try:
        if int(peer.ask("expect " + package, "EXPECT").split()[1]) != length:
            raise RuntimeError("the peer could not load the package")
        with harness.WineSession("bench") as session:
            session.link_com(COM, peer.pty)
            server = wine_server_pid(session.prefix)
            env = dict(session.env, WINEDEBUG="-all")

            print_trace_check(trace_check(session, peer, quillon, client, package, length), length)
            peer_check(peer, trivial, native_client, package, args.runs, log_dir)

            paces = [0] + ([] if args.no_paced else [LINK_RATE])
            groups, cases = [], []
            for pace in paces:
                suffix = "" if pace == 0 else "@%gMB/s" % (pace / 1e6)
                group = {"order": [
                    Case("quillon" + suffix, [harness.WINE, quillon, PORT], True, pace),
                    Case("client+trace" + suffix, [harness.WINE, client, PORT, package, "--trace"], True, pace),
                    Case("client" + suffix, [harness.WINE, client, PORT, package], True, pace),
                    Case("native" + suffix, [native_client, peer.pty, package], False, pace),
                ]}
                for case in group["order"]:
                    group[case.name[:-len(suffix)] if suffix else case.name] = case
                groups.append(group)
                cases.extend(group["order"])

            # A Wine process that does nothing: what every Wine case holds anyway.
            groups[0]["idle_kb"] = idle_peak_kb([harness.WINE, client, "--hold"], env, log_dir)

            for round_number in range(args.runs):
                for case in cases:
                    timeout = PACED_TIMEOUT if case.pace else UNPACED_TIMEOUT
                    run = measure(peer, case.argv, env if case.wine else None, length, case.pace,
                                  server if case.wine else None, timeout, log_dir,
                                  re.sub(r"[^\w.+-]", "_", case.name))
                    case.runs.append(run)
                    print("  round %d %-20s %s" % (round_number + 1, case.name,
                                                     "%.3f s" % run.transfer if run.ok else "FAILED " + run.problem),
                          flush=True)
            report(cases, groups, length, LINK_RATE)
            print("\nLoad average at the end: %s" % " ".join("%.2f" % x for x in os.getloadavg()))
    finally:
        peer.close()
        trivial.popen.kill()
        trivial.popen.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Soak: N whole unattended updates back to back, each with `Quillon.exe -q`
under Wine against a fresh emulated module (R1D05 to R1D06, two restarts),
all in one Wine session and appending to one upgrade log.

    python3 tools/soak.py [N]        # default 50; about 15 s a run

While each run goes on, it samples the program twice a second: its Linux
process under Wine (/proc: resident memory and its peak) and its Windows
view through the probe (GetProcessHandleCount, GetProcessMemoryInfo). It
prints the runs passed, the median and maximum run time, the handle count
and peak memory at the first and last sample of a run, processes left
over, and whether the log holds exactly 2 x N banners (each run writes one
start banner and one finish banner). Needs the Windows build (make).
Exits 0 when every run exited 0, nothing was left over and the banners
add up.

    python3 tools/soak.py --fresh-prefixes [--load K] [N]

Stress instead: N quiet updates, each in a Wine prefix and display of its
own started just before it (as a new user's first run meets a prefix whose
services are still starting), with K processes keeping the CPUs busy. It
counts the exit codes and, apart, the runs that gave up right after the
opening probe: an exit other than 0 with no run header in the upgrade log.
Exits 0 when every run exited 0.

    python3 tools/soak.py --first-uses [--load K] [N]

N first uses of the Linux launcher (tools/quillon-linux -q, with no
DISPLAY), each with a home of its own, so each boots its own prefix and
starts its own display, then a whole quiet update of the emulated module on
a /dev/ttyACM<N> link (needs root), with K processes keeping the CPUs busy.
It prints each run's exit code, time and how often the launcher started
Wine again for a desktop that gave no windows. Exits 0 when every run
exited 0.
"""
import argparse
import os
import re
import shutil
import tempfile
import types
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "windows")
os.environ.setdefault("QUILLON_BUILD_DIR", BUILD)
os.environ.setdefault("QUILLON_EXE", os.path.join(BUILD, "Quillon.exe"))
# The Wine tests' helpers, by their package's name from the root.
sys.path.insert(0, ROOT)

from tests.e2e.quillon_e2e.fault_matrix import FINISH_BANNER, START_BANNER, left_running  # noqa: E402
from tests.e2e.quillon_e2e.harness import EXE, WineSession  # noqa: E402
from tests.e2e.quillon_e2e.module import EmulatedModule  # noqa: E402

SAMPLE_PAUSE = 0.5
RUN_LIMIT = 600


def linux_pid(session):
    """The Linux process that runs the program in this session, or None."""
    name = os.path.basename(EXE).lower()
    wanted = ("WINEPREFIX=%s" % session.prefix).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().split(b"\0")[0].decode(errors="replace").lower()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if cmdline.endswith(name) and wanted in environ:
            return pid
    return None


def linux_memory(pid):
    """(resident, peak resident) in KiB, from /proc."""
    figures = {}
    try:
        with open("/proc/%s/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    figures[key] = int(value.split()[0])
    except OSError:
        return None
    if len(figures) < 2:
        return None
    return figures["VmRSS"], figures["VmHWM"]


def windows_usage(session):
    """(handles, peak working set KiB) as Windows reports them for the
    program, or None."""
    code, lines = session.probe("usage", os.path.basename(EXE))
    for line in lines:
        parts = line.split()
        if code == 0 and len(parts) == 4:
            return int(parts[1]), int(parts[3]) // 1024
    return None


def sample(session):
    pid = linux_pid(session)
    memory = linux_memory(pid) if pid else None
    usage = windows_usage(session) if pid else None
    if memory is None or usage is None:
        return None
    return {"rss": memory[0], "hwm": memory[1], "handles": usage[0], "peak_ws": usage[1]}


def one_run(session):
    with EmulatedModule(session, "default"):
        began = time.monotonic()
        process = session.start(EXE, ["-q"])
        samples = []
        while process.running() and time.monotonic() - began < RUN_LIMIT:
            found = sample(session)
            if found is not None and process.running():
                found["at"] = time.monotonic() - began
                samples.append(found)
            time.sleep(SAMPLE_PAUSE)
        result = process.wait(max(1, RUN_LIMIT - (time.monotonic() - began)))
        seconds = time.monotonic() - began
    return result.code, seconds, samples


def figures(samples, which):
    return samples[which] if samples else None


def show(s):
    return ("at %.1f s: %d handles; memory %d KiB resident, peak %d KiB (Linux); peak working set %d KiB (Windows)"
            % (s["at"], s["handles"], s["rss"], s["hwm"], s["peak_ws"]))


def start_busy(load):
    """K processes that keep the CPUs busy beside the runs."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"], stdin=subprocess.DEVNULL)
            for _ in range(load)]


def end_busy(busy):
    for process in busy:
        process.kill()
        process.wait()


def print_codes(codes):
    print("exit codes: %s" % ", ".join("%s: %d" % (code, n) for code, n in sorted(codes.items(), key=str)))


def fresh_prefixes(runs, load):
    """The stress run: one new prefix per quiet update, CPUs kept busy."""
    busy = start_busy(load)
    codes, gave_up = {}, []
    try:
        for number in range(1, runs + 1):
            with WineSession("soak-fresh") as session:
                session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
                with EmulatedModule(session, "default") as module:
                    began = time.monotonic()
                    result = session.run(EXE, ["-q"], timeout=RUN_LIMIT)
                    seconds = time.monotonic() - began
                    commands = len(module.events("command"))
                log = session.log_bytes()
            codes[result.code] = codes.get(result.code, 0) + 1
            early = result.code != 0 and b"Time: " not in log
            if early:
                gave_up.append(number)
            print("run %d: exit %s in %.1f s, %d commands to the module%s" % (
                number, result.code, seconds, commands, "; gave up before the run header" if early else ""),
                flush=True)
    finally:
        end_busy(busy)
    print()
    print_codes(codes)
    print("gave up right after the opening probe: %d of %d%s" % (
        len(gave_up), runs, " (runs %s)" % ", ".join(map(str, gave_up)) if gave_up else ""))
    return 0 if codes.get(0, 0) == runs else 1


LAUNCHER = os.path.join(ROOT, "tools", "quillon-linux")


class DevNode:
    """The module's /dev/ttyACM<N> link, on the lowest free number, that
    goes away and comes back with the emulator's pty."""

    def __init__(self):
        self.path = None

    def follow(self, event, pty):
        if event == "READY":
            n = 0
            while os.path.lexists("/dev/ttyACM%d" % n):
                n += 1
            self.path = "/dev/ttyACM%d" % n
            os.symlink(pty, self.path)
        elif self.path is not None:
            os.unlink(self.path)
            self.path = None

    def remove(self):
        if self.path is not None and os.path.islink(self.path):
            os.unlink(self.path)


def first_uses(runs, load):
    """The launcher's first use, again and again: a new home, so a new
    prefix and display each time, with the CPUs kept busy."""
    if not os.access("/dev", os.W_OK):
        sys.stderr.write("soak: --first-uses makes the module's port in /dev: run it as root\n")
        return 2
    busy = start_busy(load)
    codes, restarts = {}, []
    artifacts = os.path.join(BUILD, "e2e-artifacts", "soak-first-uses")
    os.makedirs(artifacts, exist_ok=True)
    try:
        for number in range(1, runs + 1):
            home = tempfile.mkdtemp(prefix="quillon-first-use-")
            node = DevNode()
            session = types.SimpleNamespace(prefix=None, artifacts=artifacts)
            try:
                with EmulatedModule(session, "default", follow=node.follow):
                    env = dict(os.environ, HOME=home, QUILLON_MMCLI=os.path.join(home, "no-mmcli"))
                    for name in ("DISPLAY", "QUILLON_PREFIX", "XAUTHORITY"):
                        env.pop(name, None)
                    began = time.monotonic()
                    done = subprocess.run([sys.executable, LAUNCHER, "--exe", EXE, "-q", "-t", node.path],
                                          env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT, timeout=RUN_LIMIT)
                    seconds = time.monotonic() - began
                output = done.stdout.decode(errors="replace")
                again = output.count("starting Wine again")
                if done.returncode != 0 or again:
                    with open(os.path.join(artifacts, "run%d.txt" % number), "w") as f:
                        f.write(output)
                    prefix = os.path.join(home, ".local", "share", "quillon", "prefix")
                    for name in ("quillon-desktop.log", "quillon-wineserver.log", "quillon-wineboot.log"):
                        if os.path.exists(os.path.join(prefix, name)):
                            shutil.copy(os.path.join(prefix, name),
                                        os.path.join(artifacts, "run%d-%s" % (number, name)))
            finally:
                node.remove()
                shutil.rmtree(home, ignore_errors=True)
            codes[done.returncode] = codes.get(done.returncode, 0) + 1
            restarts.append(again)
            print("run %d: exit %d in %.1f s, Wine started again %d times%s" % (
                number, done.returncode, seconds, again,
                "" if done.returncode == 0 else ": " + " | ".join(re.findall(r"quillon-linux: (.*)", output)[-2:])),
                flush=True)
    finally:
        end_busy(busy)
    print()
    print_codes(codes)
    print("runs that started Wine again for its desktop: %d of %d" % (sum(1 for n in restarts if n), runs))
    return 0 if codes.get(0, 0) == runs else 1


def main(argv=None):
    parser = argparse.ArgumentParser(prog="soak.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("runs", nargs="?", type=int, default=50, help="number of runs (default 50)")
    parser.add_argument("--fresh-prefixes", action="store_true",
                        help="stress: each quiet run in a new prefix, the machine loaded")
    parser.add_argument("--first-uses", action="store_true",
                        help="stress: first uses of the Linux launcher, each booting its own prefix (root)")
    parser.add_argument("--load", type=int, default=2,
                        help="with --fresh-prefixes or --first-uses: busy processes (default 2)")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    if args.runs < 1:
        parser.error("N must be at least 1")
    if not os.path.exists(EXE):
        sys.stderr.write("soak: %s not found: build it first (make)\n" % EXE)
        return 2
    if args.fresh_prefixes:
        return fresh_prefixes(args.runs, args.load)
    if args.first_uses:
        return first_uses(args.runs, args.load)

    results = []
    with WineSession("soak") as session:
        session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        for number in range(1, args.runs + 1):
            code, seconds, samples = one_run(session)
            results.append((code, seconds, samples))
            first, last = figures(samples, 0), figures(samples, -1)
            print("run %d: exit %s in %.1f s, %d samples; handles %s -> %s, peak %s -> %s KiB" % (
                number, code, seconds, len(samples), first and first["handles"], last and last["handles"],
                first and first["hwm"], last and last["hwm"]), flush=True)
        left = left_running(session)
        log = session.log_bytes()

    passed = sum(1 for code, _, _ in results if code == 0)
    times = [seconds for _, seconds, _ in results]
    starts, finishes = log.count(START_BANNER), log.count(FINISH_BANNER)
    sampled = [r for r in results if r[2]]
    print()
    print("runs passed: %d of %d" % (passed, args.runs))
    print("samples: %d, every %.1f s while a run goes on" % (sum(len(r[2]) for r in results), SAMPLE_PAUSE))
    print("run time: median %.1f s, maximum %.1f s" % (statistics.median(times), max(times)))
    if sampled:
        for label, (_, _, samples) in (("first run", sampled[0]), ("last run", sampled[-1])):
            print("%s, first sample %s" % (label, show(samples[0])))
            print("%s, last sample  %s" % (label, show(samples[-1])))
        ends = [r[2][-1] for r in sampled]
        print("at the end of a run, over all runs: handles %d..%d, peak resident %d..%d KiB" % (
            min(s["handles"] for s in ends), max(s["handles"] for s in ends),
            min(s["hwm"] for s in ends), max(s["hwm"] for s in ends)))
    print("left over: %s" % (", ".join(left) or "nothing"))
    print("log banners: %d start, %d finish; 2 x %d = %d expected: %s" % (
        starts, finishes, args.runs, 2 * args.runs,
        "yes" if starts + finishes == 2 * args.runs and starts == finishes else "NO"))
    ok = passed == args.runs and not left and starts == finishes == args.runs
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

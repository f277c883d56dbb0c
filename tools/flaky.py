#!/usr/bin/env python3
"""Runs chosen tests, or the whole Wine suite, N times, and says how often
each passed: a test that fails now and then is a fault to find, and this
finds it and keeps what it printed.

    python3 tools/flaky.py                          # the Wine suite, 5 rounds
    python3 tools/flaky.py --rounds 3 --load 2      # with two busy processes alongside
    python3 tools/flaky.py -R e2e_test_responsive --rounds 10
    python3 tools/flaky.py -E e2e_linux_launcher_
    python3 tools/flaky.py --preset asan -R Worker  # any CTest preset

Needs the preset's build (make test, or cmake --build --preset windows).
Each failure's whole output is kept in build/flaky/<time>/round-<n>/;
the table at the end gives each test's passes, its slowest time, and
each round's wall time, load average and idle CPU share.
"""
import argparse
import multiprocessing
import os
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def busy():
    """One busy process: what a neighbour's compiler does to the cores."""
    while True:
        pass


def cpu_times():
    """(idle, total) jiffies of all cores since boot."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return fields[3] + fields[4], sum(fields)


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def results(junit):
    """{test: (passed, seconds, output)} from a CTest JUnit file."""
    found = {}
    try:
        root = ElementTree.parse(junit).getroot()
    except (OSError, ElementTree.ParseError):
        return found
    for case in root.iter("testcase"):
        out = case.find("system-out")
        passed = case.get("status") == "run" and case.find("failure") is None
        found[case.get("name")] = (passed, float(case.get("time") or 0), out.text if out is not None else "")
    return found


def run_round(args, number, folder):
    junit = os.path.join(folder, "round-%d.xml" % number)
    argv = ["ctest", "--preset", args.preset, "--output-junit", junit]
    if args.jobs:
        argv += ["-j%d" % args.jobs]
    for flag, value in (("-R", args.regex), ("-E", args.exclude)):
        if value:
            argv += [flag, value]
    idle0, total0 = cpu_times()
    began = time.monotonic()
    with open(os.path.join(folder, "round-%d.log" % number), "w") as log:
        subprocess.run(argv, cwd=ROOT, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    seconds = time.monotonic() - began
    idle1, total1 = cpu_times()
    found = results(junit)
    for name, (passed, _, output) in found.items():
        if not passed:
            keep = os.path.join(folder, "round-%d" % number)
            os.makedirs(keep, exist_ok=True)
            with open(os.path.join(keep, name + ".log"), "w") as f:
                f.write(output or "")
    idle = (idle1 - idle0) / max(1, total1 - total0)
    return found, seconds, idle, load_average()


def main(argv=None):
    parser = argparse.ArgumentParser(prog="flaky.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("--rounds", type=int, default=5, help="how many times (default 5)")
    parser.add_argument("--load", type=int, default=0, metavar="K", help="busy processes alongside (default 0)")
    parser.add_argument("--preset", default="windows", help="the CTest preset (default windows: the Wine suite)")
    parser.add_argument("-R", dest="regex", default="", help="only tests whose names match")
    parser.add_argument("-E", dest="exclude", default="", help="leave out tests whose names match")
    parser.add_argument("-j", "--jobs", type=int, default=0, help="CTest lanes (default: the preset's)")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    if args.rounds < 1 or args.load < 0:
        parser.error("--rounds must be at least 1 and --load at least 0")
    folder = os.path.join(ROOT, "build", "flaky", time.strftime("%Y%m%d-%H%M%S"))
    os.makedirs(folder)
    load = [multiprocessing.Process(target=busy, daemon=True) for _ in range(args.load)]
    for p in load:
        p.start()
    passes, slowest, rounds = {}, {}, []
    try:
        for number in range(1, args.rounds + 1):
            found, seconds, idle, average = run_round(args, number, folder)
            failed = sorted(n for n, (ok, _, _) in found.items() if not ok)
            rounds.append((seconds, idle, average, failed))
            for name, (ok, took, _) in found.items():
                passes[name] = passes.get(name, 0) + ok
                slowest[name] = max(slowest.get(name, 0.0), took)
            print("round %d: %d tests, %d failed, %.0f s, load %.1f, idle %.0f %%%s" % (
                number, len(found), len(failed), seconds, average, 100 * idle,
                "" if not failed else ": " + ", ".join(failed)), flush=True)
    finally:
        for p in load:
            p.terminate()
            p.join()
    print("\n%-52s %7s %9s" % ("test", "passed", "slowest"))
    for name in sorted(passes, key=lambda n: (passes[n], n)):
        print("%-52s %3d/%-3d %8.1fs" % (name, passes[name], args.rounds, slowest[name]))
    flaky = sorted(n for n in passes if passes[n] < args.rounds)
    print("\n%d rounds with %d busy processes; %s; outputs of failures in %s" % (
        args.rounds, args.load, "every test passed every round" if not flaky else "failed at least once: " +
        ", ".join(flaky), os.path.relpath(folder, ROOT)))
    return 1 if flaky or not passes else 0


if __name__ == "__main__":
    sys.exit(main())

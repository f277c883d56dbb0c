#!/usr/bin/env python3
"""What `make test` runs, once the packages are there: every configuration
built once, every test run once, and at the end the tests that failed,
with the last lines of their output and where their whole logs are.

    python3 tools/make_test.py            # as make test
    python3 tools/make_test.py --jobs 4   # compile jobs (default 2)

The Windows build comes first and its Wine tests start as soon as it is
done: they wait on the emulated module and on Wine far more than they
compute, so the sanitizer build, its tests and the fuzz runs use the
cores meanwhile. Each step's output goes to build/test-logs/; what
failed is kept in build/test-logs/failed/.
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ElementTree
from collections import namedtuple

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
LOGS = os.path.join(ROOT, "build", "test-logs")
FAILED = os.path.join(LOGS, "failed")
TAIL_LINES = 25

# name: the step's log; argv: what it runs; preset: the CTest preset whose
# results it leaves, or "" for a build step
Step = namedtuple("Step", "name argv preset")
# ok: the step succeeded; seconds: its wall time; failures: [(test, output)]
Done = namedtuple("Done", "step ok seconds failures")

_print_lock = threading.Lock()


def say(text):
    with _print_lock:
        print(text, flush=True)


def configure(preset):
    return Step("configure-" + preset, ["cmake", "--preset", preset], "")


def build(preset, jobs):
    return Step("build-" + preset, ["cmake", "--build", "--preset", preset, "-j%d" % jobs], "")


def junit_path(preset):
    return os.path.join(LOGS, "junit-%s.xml" % preset)


def test(preset):
    return Step("test-" + preset, ["ctest", "--preset", preset, "--output-junit", junit_path(preset)], preset)


def failed_tests(preset):
    """(name, output) of each test of the preset's last run that did not pass."""
    try:
        root = ElementTree.parse(junit_path(preset)).getroot()
    except (OSError, ElementTree.ParseError):
        return []
    found = []
    for case in root.iter("testcase"):
        failed = case.find("failure") is not None or case.get("status") not in ("run", "disabled")
        if not failed or case.find("skipped") is not None:
            continue
        out = case.find("system-out")
        found.append((case.get("name"), out.text if out is not None and out.text else ""))
    return found


def run_step(step):
    """Runs one step with its output in its log; a step of tests reports
    the tests that failed."""
    log = os.path.join(LOGS, step.name + ".log")
    began = time.monotonic()
    say("[%s] %s" % (time.strftime("%H:%M:%S"), " ".join(step.argv)))
    with open(log, "w") as out:
        process = subprocess.Popen(step.argv, cwd=ROOT, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
        # wait4: the CPU time of this step's processes alone, while other
        # steps run beside it.
        _, status, usage = os.wait4(process.pid, 0)
        code = process.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - began
    cpu = usage.ru_utime + usage.ru_stime
    failures = failed_tests(step.preset) if step.preset else []
    if step.preset and code != 0 and not failures:
        failures = [(step.name, tail(log))]
    say("[%s] %s: %s in %.0f s (CPU %.0f s, load %s)%s" % (
        time.strftime("%H:%M:%S"), step.name, "ok" if code == 0 else "FAILED", seconds, cpu, load_average(),
        "" if not step.preset else "; " + summary_line(log)))
    return Done(step, code == 0, seconds, failures)


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def summary_line(log):
    with open(log, errors="replace") as f:
        lines = [l.strip() for l in f if "tests passed" in l or "tests failed out of" in l]
    return lines[-1] if lines else "no summary"


def tail(path, count=TAIL_LINES):
    with open(path, errors="replace") as f:
        return "".join(f.readlines()[-count:])


def run_chain(steps, results):
    """Steps one after another, stopping at the first that fails."""
    for step in steps:
        done = run_step(step)
        results.append(done)
        if not done.ok:
            return False
    return True


def keep_failures(results):
    """Writes each failed test's output to its own file; returns the text
    that names them."""
    shutil.rmtree(FAILED, ignore_errors=True)
    report = []
    for done in results:
        if done.ok:
            continue
        if not done.step.preset:
            log = os.path.join(LOGS, done.step.name + ".log")
            report.append("%s failed; its last lines (whole log: %s):\n%s" % (
                done.step.name, os.path.relpath(log, ROOT), tail(log)))
            continue
        folder = os.path.join(FAILED, done.step.preset)
        os.makedirs(folder, exist_ok=True)
        for name, output in done.failures:
            path = os.path.join(folder, name + ".log")
            with open(path, "w") as f:
                f.write(output)
            last = "".join(output.splitlines(True)[-TAIL_LINES:])
            report.append("FAILED %s (%s); its last lines (whole output: %s):\n%s" % (
                name, done.step.preset, os.path.relpath(path, ROOT), last.rstrip() + "\n"))
        report.append("rerun them: ctest --preset %s --rerun-failed --output-on-failure" % done.step.preset)
    return report


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--jobs", type=int, default=2, help="compile jobs (default 2)")
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    os.makedirs(LOGS, exist_ok=True)
    for preset in ("windows", "asan", "fuzz"):
        try:
            os.unlink(junit_path(preset))
        except FileNotFoundError:
            pass
    began = time.monotonic()
    results = []
    # Configuring takes little CPU and much waiting on small processes.
    configured = [[] for _ in range(3)]
    threads = [threading.Thread(target=run_chain, args=([configure(p)], configured[i]))
               for i, p in enumerate(("windows", "asan", "fuzz"))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for part in configured:
        results += part
    if all(d.ok for d in results):
        windows, native = [], []
        if run_chain([build("windows", args.jobs)], windows):
            wine = threading.Thread(target=run_chain, args=([test("windows")], windows))
            wine.start()
        else:
            wine = None
        # The sanitizer tests keep about one core busy (57 CPU-s in 54 s
        # measured): the fuzz build and its runs take the other meanwhile.
        fuzzed = []
        if run_chain([build("asan", args.jobs)], native):
            sanitized = threading.Thread(target=run_chain, args=([test("asan")], native))
            sanitized.start()
            run_chain([build("fuzz", args.jobs), test("fuzz")], fuzzed)
            sanitized.join()
        else:
            run_chain([build("fuzz", args.jobs), test("fuzz")], fuzzed)
        native += fuzzed
        if wine is not None:
            wine.join()
        results += windows + native
    report = keep_failures(results)
    minutes = (time.monotonic() - began) / 60
    if report:
        print("\n" + "\n".join(report))
        print("make test: FAILED after %.1f min; every step's output is in %s" % (minutes, os.path.relpath(LOGS, ROOT)))
        return 1
    print("make test: everything passed in %.1f min; every step's output is in %s" % (
        minutes, os.path.relpath(LOGS, ROOT)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

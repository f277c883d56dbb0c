"""The run, step by step; every step pushes what undoes it, and the undoing
runs last first on every way out."""
import os
import signal
import subprocess
import sys
import time

from . import codes, display, modemmanager, ports
from .args import USAGE, named_ports, parse_args, unattended, windows_args
from .common import Failure, Stopped, say
from .portmap import PortMap, Watcher
from .prefix import Prefix, check_root, desktop_hold, find_wine

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_EXE = os.path.join(TOOLS, "..", "build", "windows", "Quillon.exe")
DEFAULT_DESKTOP_PROGRAM = os.path.join(TOOLS, "..", "build", "windows", desktop_hold.PROGRAM_NAME)
WITHOUT_HOLD = ("no %s beside %s, nor in a build of this checkout: Wine's desktop is not checked or held. "
                "Should it come up without its explorer, Quillon makes no window and ends with 1 after its "
                "opening probe, having sent the module nothing else; put desktop_ready.exe from the release "
                "beside Quillon.exe")


def log_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def keep_log(prefix, start, data_dir):
    """This run's records of C:\\FWLog.txt, in a file of their own."""
    try:
        with open(prefix.log_path(), "rb") as f:
            data = f.read()
    except OSError:
        say("no upgrade log was written")
        return
    if len(data) < start:
        start = 0
    logs = os.path.join(data_dir, "logs")
    os.makedirs(logs, exist_ok=True)
    target = os.path.join(logs, time.strftime("FWLog-%Y%m%d-%H%M%S.txt"))
    n = 1
    while os.path.exists(target):
        n += 1
        target = os.path.join(logs, time.strftime("FWLog-%Y%m%d-%H%M%S") + "-%d.txt" % n)
    with open(target, "wb") as f:
        f.write(data[start:])
    say("upgrade log: %s" % target)


def desktop_program(exe):
    """The desktop_ready.exe beside the Quillon.exe run (a release carries
    both), else the checkout's, else None."""
    for path in (os.path.join(os.path.dirname(exe), desktop_hold.PROGRAM_NAME), DEFAULT_DESKTOP_PROGRAM):
        if os.path.isfile(path):
            return os.path.abspath(path)
    return None


def take_display(options, stack):
    """The display name Quillon's windows go to, and the Xauthority file its
    clients need (None: the user's own)."""
    kind, text = display.plan(unattended(options["args"]), options["headless"], os.environ.get("DISPLAY"),
                              display.have_xvfb())
    if kind == "refuse":
        raise Failure(text)
    if kind == "user":
        if text:
            say(text)
        return os.environ["DISPLAY"], None
    private = display.PrivateDisplay()
    stack.append(private.end)
    name = private.start()
    say("a display of its own for this unattended run (Xvfb %s): it needs no desktop and outlives yours" % name)
    return name, private.authority


def choose_ports(options):
    """(present, used): the ttys present and those Quillon gets."""
    present = ports.candidate_ports()
    named = named_ports(options["args"])
    chosen, skipped = ports.choose_ports(present, named, {} if named else modemmanager.listed_ports())
    used = [node for node, _ in chosen]
    for node, why in chosen:
        say("using %s: %s" % (ports.describe(node), why))
    for node, why in skipped:
        say("skipping %s: %s" % (ports.describe(node), why))
    if not present:
        say("no /dev/ttyACM* or /dev/ttyUSB* yet: is the module switched on (rfkill, the laptop's "
            "wireless switch)? Quillon keeps looking")
    elif not used:
        say("none of these ports is known to be the module's, so Quillon gets none; if one is, name it "
            "with -t (for example: quillon-linux -t %s)" % present[0])
    problems = [p for p in (ports.port_access_problem(node) for node in used) if p]
    if used and len(problems) == len(used):
        raise Failure(problems[0])
    for problem in problems:
        say(problem)
    return present, used


def run(options, stack):
    data_dir = os.path.join(os.path.expanduser("~"), ".local", "share", "quillon")
    prefix_path = os.path.abspath(os.environ.get("QUILLON_PREFIX") or os.path.join(data_dir, "prefix"))
    wine = find_wine()
    exe = os.path.abspath(options["exe"] or DEFAULT_EXE)
    if not os.path.isfile(exe):
        raise Failure("no %s: run make in the checkout first, or give --exe PATH" % exe)
    program = desktop_program(exe)
    if program is None:
        say(WITHOUT_HOLD % (desktop_hold.PROGRAM_NAME, exe))
    check_root(prefix_path)
    display_name, authority = take_display(options, stack)

    present, used = choose_ports(options)
    inhibition = modemmanager.Inhibition()
    stack.append(inhibition.end)
    inhibition.start(used)

    prefix = Prefix(prefix_path, wine, display_name, authority)
    prefix.ensure()
    stack.append(prefix.stop_server)
    prefix.start_server()
    if program is not None:
        hold = prefix.take_desktop(program)
        stack.append(hold.end)
    port_map = PortMap(prefix)
    stack.append(port_map.remove)
    port_map.update(used)
    watcher = Watcher(port_map, present)
    stack.append(watcher.stop)
    watcher.start()

    args = windows_args(options["args"], port_map.port_of)
    # Wine's own word on a window it could not make goes with the trace.
    env = dict(prefix.env, WINEDEBUG="-all,+debugstr,err+winediag" if options["trace"] else "-all")
    trace_file = open(options["trace"], "wb") if options["trace"] else None
    if trace_file:
        stack.append(trace_file.close)
    start = log_size(prefix.log_path())
    stack.append(lambda: keep_log(prefix, start, data_dir))
    say("running %s %s" % (os.path.basename(exe), " ".join(args)))
    # Quillon's standard output is the launcher's own: the inventory's report.
    sys.stdout.flush()
    child = subprocess.Popen([wine, exe] + args, env=env, stdin=subprocess.DEVNULL, stdout=None,
                             stderr=trace_file or subprocess.DEVNULL, start_new_session=True)

    def stop_quillon():
        if child.poll() is None:
            say("stopping Quillon")
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
    stack.append(stop_quillon)
    code = child.wait()
    if watcher.error is not None:
        say("following the ports failed: %s" % watcher.error)
    if options["trace"]:
        say("trace: %s" % os.path.abspath(options["trace"]))
    say("Quillon ended with exit code %d" % code)
    return code


def main(argv):
    try:
        options = parse_args(argv)
    except Failure as failure:
        say(str(failure))
        return codes.LAUNCHER
    if options["help"]:
        print(USAGE)
        return 0

    def on_signal(signum, frame):
        raise Stopped(signum)

    for signum in codes.SIGNALS:
        signal.signal(signum, on_signal)
    if unattended(options["args"]):
        # A run that no one watches outlives the terminal it was started
        # from: a logout hangs it up, and the update must not stop there.
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
    stack = []  # what undoes each step, run last first on every way out
    code = codes.LAUNCHER
    try:
        code = run(options, stack)
    except Failure as failure:
        say(str(failure))
    except Stopped as stopped:
        code = codes.SIGNALS[stopped.signum]
        say("interrupted: if the update had started, the module waits in its update mode; run "
            "quillon-linux again to finish it")
    finally:
        # A second Ctrl+C must not cut the clean-up short.
        for signum in codes.SIGNALS:
            signal.signal(signum, signal.SIG_IGN)
        while stack:
            try:
                stack.pop()()
            except Exception as error:  # keep undoing; say what failed
                say("clean-up: %s" % error)
    return code

#!/usr/bin/env python3
"""Plays the laptop's mobile-broadband module on a Linux pseudo-terminal."""
import argparse
import os
import select
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from emu import scenario as scenarios  # noqa: E402
from emu.behaviour import Module  # noqa: E402
from emu.line import Line  # noqa: E402
from emu.record import Record  # noqa: E402

DESCRIPTION = """\
Plays the modem module on a pseudo-terminal, from the module's side of the
line: AT mode (echo until ATE0, AT+CGMM, AT*QVERS/AT*QVER2/AT*QVER, AT+CPIN,
AT*QESFUD, AT+BACK, AT*Q2RESET), update mode (vers=1, 24-byte framed
messages, packages checked by their maker header) and restart (the port
vanishes and comes back on a new pty). A JSON scenario sets the identity and
the faults; a JSON-lines record keeps everything the module saw and did.

A package that was refused, cut short or interrupted leaves the old firmware
in place: a restart brings the module back in AT mode with its old version.
Only a "damage" fault (or "firmware": "damaged") leaves firmware that does
not start, so that every restart brings the module back in update mode. A
"cut" fault plays a power loss or a killed host part way: the module drops
off the bus with no restart command and comes back in update mode, its
firmware intact. A "hold" fault takes a chunk and never answers it, as a
module busy with its flash when its host is killed. A frame left half-received when the line falls quiet for
1.5 s is dropped, as a loader resyncs, so the next host's probes are heard.

Each time the module is on the bus it prints "READY <pty>" on stdout, and
"OFFLINE" when it drops off. SIGUSR1 ends its faults, as when the cause of a
fault goes away while the module keeps its state: it prints "HEALED" (after
"READY" when it was off the bus for good). SIGTERM or SIGINT ends it: the pty
closes, the link is removed and the record gets a "stop" entry."""

EPILOG = """\
scenario keys (all optional; see tests/e2e/scenarios/ for examples):
  identity        {cgmm, model, product_number, revision, imei,
                   software_version, build_date}; null drops a line
  after           identity fields that replace the derived ones once an
                  installed package takes effect
  keep_build_date true: an installed package leaves the build date
  version_commands {"AT*QVERS": [fields...], ...}: lines each one prints
  commands        {"AT+CGMM": "ERROR" | "OK" | "silent" |
                   {"lines": [...], "final": "OK"|"ERROR"|null, "times": n,
                    "garbage": n, "long_line": n, "drop": true}}
  unknown_reply   "OK" or "ERROR" (default) for commands it does not know
  reply_delay     seconds every command's answer takes (default 0): a slow module
  pin             {state: "READY"|"SIM PIN"|"SIM PUK"|"NO SIM", pin, puk,
                   tries, relock_on_restart, blocks_update_query}
  protocol_version number in the *QESFUD line; 32 (0x20) = magic form
  ring            seconds between unsolicited RING lines in AT mode
  start_mode      "at" (default) or "update"
  firmware        "intact" (default) or "damaged" (needs start_mode "update":
                  the loader is all that starts, after every restart too)
  silent          true: answers nothing at all
  update          {faults: [{package, chunk: k|"final",
                   action: reject|error_text|silent|drop|garbage|cut|damage|
                           hold,
                   result}],
                   bad_image_result, bad_header_result,
                   length_without_header, idle_timeout}
  restart         {delay: seconds | "never" | [per restart...], drop_delay,
                   answers_until_drop}

record events (one JSON object a line, "t" in seconds from the start):
  start, online, offline, identity, command, empty_line, reply, pin, mode,
  header, header_refused, reply_header, reply_text, reply_garbage, fault,
  idle, frame_dropped, package, ignored, discarded, overlong_line, healed,
  stop"""


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="module_emulator.py", description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scenario", metavar="FILE", help="JSON scenario (default: the plain module)")
    parser.add_argument("--record", metavar="FILE", help="JSON-lines record to write")
    parser.add_argument("--prefix", metavar="DIR", help="Wine prefix whose dosdevices/comN follows the pty")
    parser.add_argument("--com", metavar="N", type=int, default=7, help="COM number with --prefix (default 7)")
    parser.add_argument("--link", metavar="PATH", help="a symlink of your own that follows the pty")
    parser.add_argument("--ready-file", metavar="PATH",
                        help="file that holds the pty path while the module is on the bus")
    args = parser.parse_args(argv)
    if args.prefix and args.link:
        parser.error("--prefix and --link name the same link: give one")
    if not 1 <= args.com <= 256:
        parser.error("--com must be 1..256")
    return args


def link_path(args):
    if args.link:
        return os.path.abspath(args.link)
    if args.prefix:
        return os.path.join(os.path.abspath(args.prefix), "dosdevices", "com%d" % args.com)
    return None


def announce(text):
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
    except (BrokenPipeError, ValueError):
        pass


def write_ready(path, pty):
    if not path:
        return
    temporary = path + ".new"
    with open(temporary, "w") as f:
        f.write(pty + "\n")
    os.replace(temporary, path)


def remove_ready(path):
    if path and os.path.exists(path):
        os.unlink(path)


def run(args):
    try:
        scenario = scenarios.load(args.scenario)
    except scenarios.ScenarioError as e:
        sys.stderr.write("module_emulator: %s\n" % e)
        return 2
    clock = time.monotonic
    record = Record(args.record, clock)
    module = Module(scenario, record, clock())
    line = Line(link_path(args))

    stopping = []
    healing = []
    wake_r, wake_w = os.pipe()
    os.set_blocking(wake_w, False)
    signal.set_wakeup_fd(wake_w)
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda n, f: stopping.append(n))
    signal.signal(signal.SIGUSR1, lambda n, f: healing.append(n))

    out = bytearray()
    back_at = None

    def go_up():
        pty = line.up()
        record("online", pty=pty, link=line.link)
        write_ready(args.ready_file, pty)
        announce("READY " + pty)

    def go_down():
        if out:
            del out[:line.write(bytes(out))]
        line.down()
        out.clear()
        remove_ready(args.ready_file)
        announce("OFFLINE")

    go_up()
    try:
        while not stopping:
            now = clock()
            deadlines = [d for d in (module.deadline(), back_at) if d is not None]
            timeout = max(0.0, min(deadlines) - now) if deadlines else None
            online = line.master is not None
            readable = [wake_r] + ([line.master] if online else [])
            writable = [line.master] if online and out else []
            ready, _, _ = select.select(readable, writable, [], timeout)
            if wake_r in ready:
                os.read(wake_r, 512)
            now = clock()
            actions = []
            if online and line.master in ready:
                data = line.read()
                if data:
                    actions += module.feed(data, now)
            actions += module.poll(now)
            healed = bool(healing)
            if healed:
                del healing[:]
                actions += module.heal(now)
                # Off the bus for good: with its fault gone it comes back now.
                if line.master is None and back_at is None:
                    back_at = now
            if back_at is not None and now >= back_at:
                back_at = None
                go_up()
                actions += module.come_back(now)
            for action in actions:
                if action[0] == "send" and line.master is not None:
                    out += action[1]
                elif action[0] == "offline":
                    go_down()
                    back_at = None if action[1] is None else clock() + action[1]
            if out and line.master is not None:
                del out[:line.write(bytes(out))]
            if healed:
                announce("HEALED")
    finally:
        if line.master is not None:
            line.down()
        remove_ready(args.ready_file)
        record("stop", signal=stopping[0] if stopping else None)
        record.close()
    return 0


def main(argv=None):
    return run(parse_args(sys.argv[1:] if argv is None else argv))


if __name__ == "__main__":
    sys.exit(main())

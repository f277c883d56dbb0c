"""The fault matrix in words: what the two runs of a row did, as the
rows of docs/fault-matrix.md, and that document read, rewritten and
compared."""
import difflib
import json
import os
import re

from .fault_matrix import FINISH_BANNER, HERE, ROWS, START_BANNER, result_record

DOCUMENT = os.path.join(HERE, "..", "..", "docs", "fault-matrix.md")


# --- what a run did, in words ------------------------------------------------------------
def package_text(e):
    what = "optional image" if e["kind"] == "optional" else ("%s %s" % (e["kind"], e["version"] or "")).strip()
    verdict = e["verdict"].replace("_", " ")
    if e["applied"]:
        verdict += ", installed"
    return "package %d, %s: %s after %d chunk%s" % (e["package"], what, verdict, e["chunks"],
                                                   "" if e["chunks"] == 1 else "s")


def tokens(events):
    """What the module received and did, in order, one token each; the
    bytes a hung module ignored count as one token."""
    out = []
    for e in events:
        kind = e["event"]
        if kind == "command":
            out.append(e["text"])
        elif kind == "package":
            out.append("[%s]" % package_text(e))
        elif kind == "offline":
            gone = "for good" if e.get("back_after") is None else "%g s" % e["back_after"]
            out.append("(off the bus: %s, %s)" % (e["reason"], gone))
        elif kind == "online":
            out.append("(back)")
        elif kind == "mode" and e.get("firmware"):
            out.append("(in its update mode%s)" % (", firmware damaged" if e["firmware"] == "damaged" else ""))
        elif kind == "frame_dropped":
            out.append("(half frame dropped)")
        elif kind in ("ignored", "discarded"):
            if out and isinstance(out[-1], list) and out[-1][0] == kind:
                out[-1][1] += e["bytes"]
            else:
                out.append([kind, e["bytes"]])
    return ["(%d bytes %s)" % (t[1], t[0]) if isinstance(t, list) else t for t in out]


# What the module receives in a whole update without a fault, package
# numbers left out: runs that did exactly this are named, not spelt out.
PLAIN_UPDATE = [
    "AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT*QVERS", "AT*QVERS", "AT*QVERS", "ATE0", "AT*QESFUD?",
    "AT*QESFUD?", "AT*QESFUD=3", "[package #, full R1D06: intact, installed after 1247 chunks]", "AT*Q2RESET",
    "(off the bus: restart, 3 s)", "(back)", "AT+CGMM", "ATE0", "AT*QESFUD?", "AT*QESFUD?", "AT*QESFUD=3",
    "[package #, optional image: intact after 2 chunks]", "AT+BACK", "AT*Q2RESET", "(off the bus: restart, 3 s)",
    "(back)", "AT+CGMM", "AT*QVERS",
]


def _plain(token):
    """A token as PLAIN_UPDATE compares it: no package number, no delay."""
    token = re.sub(r"^\[package \d+,", "[package #,", token)
    return re.sub(r"^\(off the bus: restart, [\d.]+ s\)$", "(off the bus: restart, # s)", token)


def received(events):
    found = tokens(events)
    if [_plain(t) for t in found] == [_plain(t) for t in PLAIN_UPDATE]:
        return "the whole update, as in [default](#default)"
    return squeeze(found)


def squeeze(items):
    """Repeats in a row as one item with a count."""
    out = []
    for item in items:
        if out and out[-1][0] == item:
            out[-1][1] += 1
        else:
            out.append([item, 1])
    return ", ".join(i if n == 1 else "%s ×%d" % (i, n) for i, n in out) or "nothing"


def module_states(events, marks):
    """Where the module is (its mode, off the bus, hung) after each of the
    given counts of record entries."""
    state = {"mode": "at", "hung": False, "offline": False, "gone": False}
    found = {}
    for i, e in enumerate(events + [None]):
        if i in marks:
            found[i] = dict(state)
        if e is None:
            break
        kind = e["event"]
        if kind == "start":
            state["mode"] = e["mode"]
        elif kind == "mode":
            state["mode"] = e["mode"]
        elif kind == "offline":
            state.update(offline=True, gone=e.get("back_after") is None)
        elif kind == "online":
            state.update(offline=False, gone=False, mode="at", hung=False)
        elif kind == "fault" and e.get("action") == "silent":
            state["hung"] = True
        elif kind == "healed":
            state["hung"] = False
    return [found[m] for m in marks]


def state_text(state):
    if state["offline"]:
        return "off the bus for good" if state["gone"] else "off the bus, restarting"
    text = "in its update mode" if state["mode"] == "update" else "in AT mode"
    return text + (", answering nothing" if state["hung"] else "")


def describe(outcome):
    """The facts of both runs, as the matrix shows them."""
    runs = (outcome.first, outcome.second)
    states = module_states(outcome.events, [r.end for r in runs])
    facts = []
    for run, state in zip(runs, states):
        events = outcome.events[run.start:run.end]
        record = result_record(run.log)
        facts.append({
            "exit": str(run.code) if run.code is not None else (
                "none: ended from outside" if outcome.row.kill and run is outcome.first
                else "none: still running after %d s" % outcome.row.limit),
            "record": "`%s`" % record if record else "none written",
            "received": received(events) if outcome.row.name != "default" else squeeze(tokens(events)),
            "restarts": sum(1 for e in events if e["event"] == "offline" and e["reason"] == "restart"),
            "left": "%s; the module is %s" % (", ".join(run.left) or "nothing", state_text(state)),
        })
    return facts


# --- the document ---------------------------------------------------------------------------
HOST_DESCRIPTIONS = {
    "package_file": "The command line names a good package file (the full package, R1D06, with its maker "
                    "header); the module is the plain one.",
    "package_missing": "The command line names a package file that does not exist.",
    "package_empty": "The command line names an empty file.",
    "package_directory": "The command line names a directory.",
    "package_locked": "Another Windows process holds the package file open and shares nothing.",
    "package_2gib": "The command line names a file of 2 GiB (2,147,483,648 bytes).",
    "log_read_only": "`C:\\FWLog.txt` holds an earlier record and is read-only: its attribute, and immutable "
                     "for the root that Wine runs as here (a file mode would not stop root).",
    "log_directory": "`C:\\FWLog.txt` is a directory.",
    "battery_low": "The laptop runs on its battery at 10 %, its adapter unplugged: the program reads the supplies "
                   "of a mount namespace, as root only (skipped otherwise); the module is the plain one.",
}
HOST_FIXES = {
    "package_file": "the same file again",
    "package_missing": "the good package file is put there",
    "package_empty": "the good package file replaces it",
    "package_directory": "the good package file replaces it",
    "package_locked": "the other process has ended",
    "package_2gib": "the good package file replaces it",
    "log_read_only": "the log is writable again",
    "log_directory": "the directory is gone",
    "battery_low": "the adapter is plugged in",
}


def description(row):
    if row.host and row.host in HOST_DESCRIPTIONS:
        return HOST_DESCRIPTIONS[row.host]
    with open(os.path.join(HERE, "scenarios", row.scenario + ".json"), encoding="utf-8") as f:
        return json.load(f)["description"]


def fault_gone(row):
    if row.host:
        return HOST_FIXES[row.host] + "; the module is healed"
    return "the module is healed (its faults end, its state stays)"


def checked(row):
    if not row.long:
        return "`make test`, under Wine"
    text = "the long command, under Wine"
    if row.native:
        text += "; natively in `make test` with the virtual clock by `%s`" % row.native
    return text


def second_text(row):
    if row.second == 0:
        return "completes the update"
    return "cannot complete: " + row.why


def log_text(outcome):
    log = outcome.log_after
    starts, finishes = log.count(START_BANNER), log.count(FINISH_BANNER)
    kept = outcome.log_after == outcome.log_before + outcome.first.log + outcome.second.log
    return "%s; %d start and %d finish banners after both runs" % (
        "nothing lost, each run only appended" if kept else "EARLIER RECORDS LOST OR CHANGED", starts, finishes)


def summary_line(outcome):
    row = outcome.row
    facts = describe(outcome)
    second = "%s: %s" % (facts[1]["exit"], "completes the update" if row.second == 0 else "cannot complete")
    return "| [%s](#%s) | %s | %s | %s | %s |" % (row.fault, row.name, facts[0]["exit"], facts[0]["record"],
                                                second, "make test" if not row.long else "long command")


def section(outcome):
    row = outcome.row
    first, second = describe(outcome)
    where = "`tests/e2e/scenarios/%s.json`" % row.scenario
    bound = "%d s" % row.limit + (" (%s)" % row.bound if row.bound else "")
    lines = [
        "### %s" % row.name,
        "",
        "**Fault:** %s. %s" % (row.fault, description(row)) + ("" if row.host else " (%s)" % where),
        "",
        "**Must end within:** %s. **Checked:** %s. **Fault gone:** %s." % (bound, checked(row), fault_gone(row)),
        "",
        "| | First run | Second run, fault gone |",
        "|---|---|---|",
        "| Exit code | %s | %s |" % (first["exit"], second["exit"]),
        "| Upgrade-log record | %s | %s |" % (first["record"], second["record"]),
        "| The module received | %s | %s |" % (first["received"], second["received"]),
        "| Restarts | %d | %d |" % (first["restarts"], second["restarts"]),
        "| Left running | %s | %s |" % (first["left"], second["left"]),
        "",
        "**Second run:** %s. **Upgrade log:** %s." % (second_text(row), log_text(outcome)),
        "",
    ]
    return "\n".join(lines)


HEAD = """# Fault matrix

What `Quillon.exe -q` does when the module, or the machine around it,
misbehaves: one row per fault the module emulator
(`tools/module-emulator/`) can play, and per bad file the program can be
given. Each row is two unattended runs of the real program under Wine
against **the same module process**: the first with the fault, the second
once the fault is gone (the emulator is *healed*: its scripted faults end,
while its state stays: a module left in its update mode stays there,
damaged firmware stays damaged, a package it took stays installed). A send
that fails restarts the module, and a module found in its update mode is
restarted once, so a second run completes the update except where the
module really cannot be updated: unsupported hardware, damaged firmware,
or a good package file sent twice. One first run is ended from outside
while chunks flow, and has no exit code.

Generated, not written: `python3 tools/fault_matrix.py` runs the fast
rows and rewrites them here; `python3 tools/fault_matrix.py --long` runs
every row (about 80 minutes; `--jobs 3` runs three Wine sessions side by
side, about 25 minutes); `python3 tools/fault_matrix.py ROW...` runs the
rows named.
`make test` runs the fast rows (`e2e_test_fault_matrix`) and fails when
what the program did differs from the row written here;
`QUILLON_LONG_RUNS=1` makes it run the long rows too. Rows whose faults
take minutes (a module that never comes back waits 1020 polls, silences
wait 120 s) run only in the long command; their waits are checked in
`make test` natively, with the virtual clock, by the test named in the row.

How to read a row: *The module received* is the emulator's record of the
run: commands in order (a repeat shown as ×n), the packages it took with
its verdict and chunk count, and its restarts. *Left running* names any
process of the program still there after the run, and where the module
is: in AT mode, in its update mode, off the bus. Exit codes and log texts
are those of the README.

| Fault | Exit | Upgrade-log record | Second run | Checked by |
|---|---|---|---|---|
"""

ROWS_HEADING = "\n## The rows\n\n"


def read_document(path=DOCUMENT):
    """The summary lines and sections of the committed document, by row."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return {}, {}
    summary = {}
    for line in text.splitlines():
        m = re.match(r"\| \[.*?\]\(#([a-z0-9_]+)\) \|", line)
        if m:
            summary[m.group(1)] = line
    sections = {}
    for m in re.finditer(r"^### ([a-z0-9_]+)\n.*?(?=^### |\Z)", text, re.S | re.M):
        sections[m.group(1)] = m.group(0).rstrip("\n") + "\n"
    return summary, sections


def write_document(outcomes, path=DOCUMENT):
    """Rewrites the document: the rows in `outcomes` from what they did,
    every other row as it was written before."""
    summary, sections = read_document(path)
    for outcome in outcomes:
        summary[outcome.row.name] = summary_line(outcome)
        sections[outcome.row.name] = section(outcome)
    text = HEAD
    for r in ROWS:
        text += summary.get(r.name, "| [%s](#%s) | not run yet | | | |" % (r.fault, r.name)) + "\n"
    text += ROWS_HEADING
    text += "\n".join(sections.get(r.name, "### %s\n\nNot run yet.\n" % r.name) for r in ROWS)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def drift(outcome, path=DOCUMENT):
    """What the document says about the row, where it differs from what the
    row did; empty when it does not."""
    summary, sections = read_document(path)
    name = outcome.row.name
    found = []
    if summary.get(name) != summary_line(outcome):
        found.append("summary line\n  written: %s\n  seen:    %s" % (summary.get(name), summary_line(outcome)))
    if sections.get(name) != section(outcome):
        diff = difflib.unified_diff((sections.get(name) or "").splitlines(), section(outcome).splitlines(),
                                    "written", "seen", lineterm="")
        found.append("section\n" + "\n".join(diff))
    return found

#!/usr/bin/env python3
"""Runs rows of the fault matrix under Wine and rewrites them in
docs/fault-matrix.md from what the program did.

    python3 tools/fault_matrix.py              # the fast rows (about 15 minutes; --jobs 3: about 6)
    python3 tools/fault_matrix.py --long       # every row (about 80 minutes)
    python3 tools/fault_matrix.py --long --jobs 3   # side by side: about 25 minutes
    python3 tools/fault_matrix.py ROW...       # only these rows
    python3 tools/fault_matrix.py --check ...  # compare, rewrite nothing

Needs the Windows build (make, or cmake --build --preset windows).
Exits 1 when a row did not end as it must (its codes, its time-out,
nothing left running, nothing lost from the log), or with --check when
the document differs.
"""
import argparse
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "windows")
os.environ.setdefault("QUILLON_BUILD_DIR", BUILD)
os.environ.setdefault("QUILLON_EXE", os.path.join(BUILD, "Quillon.exe"))
# The Wine tests' helpers, by their package's name from the root.
sys.path.insert(0, ROOT)

from tests.e2e.quillon_e2e import fault_matrix  # noqa: E402
from tests.e2e.quillon_e2e import fault_matrix_doc  # noqa: E402
from tests.e2e.quillon_e2e.harness import EXE  # noqa: E402


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="fault_matrix.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("rows", nargs="*", metavar="ROW", help="rows to run (default: the fast ones)")
    parser.add_argument("--long", action="store_true", help="every row, the long ones too")
    parser.add_argument("--check", action="store_true", help="compare with the document, rewrite nothing")
    parser.add_argument("--jobs", type=int, default=1, help="Wine sessions side by side (default 1)")
    args = parser.parse_args(argv)
    unknown = [r for r in args.rows if r not in fault_matrix.BY_NAME]
    if unknown:
        parser.error("no such row: %s (rows: %s)" % (", ".join(unknown), ", ".join(fault_matrix.BY_NAME)))
    if args.jobs < 1:
        parser.error("--jobs must be at least 1")
    return args


def chosen(args):
    if args.rows:
        return [fault_matrix.BY_NAME[r] for r in args.rows]
    return [r for r in fault_matrix.ROWS if args.long or not r.long]


def report(row, outcome):
    if isinstance(outcome, str):
        print("%-28s did not run:\n%s" % (row.name, outcome), flush=True)
        return
    found = fault_matrix.problems(outcome)
    print("%-28s exit %s then %s (%.0f s, %.0f s)%s" % (
        row.name, outcome.first.code, outcome.second.code, outcome.first.seconds,
        outcome.second.seconds, "" if not found else "\n    " + "\n    ".join(found)), flush=True)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if not os.path.exists(EXE):
        sys.stderr.write("fault_matrix: %s not found: build it first (make)\n" % EXE)
        return 2
    rows = chosen(args)
    ran = fault_matrix.run_rows(rows, args.jobs, report)
    outcomes = [o for o in ran.values() if not isinstance(o, str)]
    failed = [o.row.name for o in outcomes if fault_matrix.problems(o)]
    if len(outcomes) < len(rows):
        failed.append("%d rows did not run" % (len(rows) - len(outcomes)))
    if args.check:
        drifted = [o.row.name for o in outcomes if fault_matrix_doc.drift(o)]
        for o in outcomes:
            for text in fault_matrix_doc.drift(o):
                print("%s: %s" % (o.row.name, text))
        print("%d rows, %d as written" % (len(outcomes), len(outcomes) - len(drifted)))
        return 1 if failed or drifted else 0
    fault_matrix_doc.write_document(outcomes)
    print("%d rows rewritten in docs/fault-matrix.md%s" % (
        len(outcomes), "" if not failed else "; not as they must end: " + ", ".join(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

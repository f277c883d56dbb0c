"""The fault matrix under Wine: per row, an unattended run of the real
Quillon.exe against the emulated module with its fault, then a second run
against the same module once the fault is gone. Each row must end with its
defined codes, within its time-outs, leave nothing running and lose
nothing from the log, and must be what docs/fault-matrix.md says it is
(python3 tools/fault_matrix.py ROW rewrites a row from what it did).

The rows run in three Wine sessions side by side; QUILLON_FAULT_ROWS
(names, comma-separated) runs only those rows, in one session: make test
runs each row as a test of its own that way. The rows whose faults
take minutes run only when QUILLON_LONG_RUNS=1 is set; python3
tools/fault_matrix.py --long --jobs 3 runs them side by side and rewrites
their rows.
"""
import os
import unittest

from quillon_e2e import fault_matrix
from quillon_e2e import fault_matrix_doc

HERE = os.path.dirname(os.path.abspath(__file__))
NATIVE = os.path.join(HERE, "..", "native")
SCENARIOS = os.path.join(HERE, "scenarios")

LONG_RUNS = os.environ.get("QUILLON_LONG_RUNS") == "1"
CHOSEN = [name for name in os.environ.get("QUILLON_FAULT_ROWS", "").split(",") if name]


# Wine sessions side by side: a row spends most of its time waiting for
# the module (restarts, one-second reads), so three share two cores.
JOBS = 3


class FaultMatrix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rows = [row for row in fault_matrix.ROWS if LONG_RUNS or not row.long]
        if CHOSEN:
            rows = [row for row in rows if row.name in CHOSEN]
            cls.outcomes = fault_matrix.run_rows(rows, 1, name="fault-matrix-" + "-".join(CHOSEN))
        else:
            cls.outcomes = fault_matrix.run_rows(rows, JOBS)

    def check(self, row):
        if row.long and not LONG_RUNS:
            self.skipTest("long run: set QUILLON_LONG_RUNS=1")
        if CHOSEN and row.name not in CHOSEN:
            self.skipTest("not among QUILLON_FAULT_ROWS")
        outcome = self.outcomes.get(row.name, "not run")
        if isinstance(outcome, str):
            self.fail("the row did not run: %s" % outcome)
        # The runs' times against the row's limit, for the record of margins.
        print("%s: runs %.1f s and %.1f s, limit %d s" % (row.name, outcome.first.seconds, outcome.second.seconds,
                                                          row.limit))
        self.assertEqual(fault_matrix.problems(outcome), [], fault_matrix_doc.section(outcome))
        drift = fault_matrix_doc.drift(outcome)
        self.assertEqual(drift, [], "docs/fault-matrix.md differs from what %s did; if the change is meant, "
                         "rewrite it with: python3 tools/fault_matrix.py %s" % (row.name, row.name))


class Table(unittest.TestCase):
    """What can be checked of the rows without running them, so that the
    long rows cannot go stale between their runs either."""

    def test_every_row_names_its_module_its_reason_and_its_native_check(self):
        native = ""
        for folder, _, names in os.walk(NATIVE):
            for name in names:
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    native += f.read()
        for row in fault_matrix.ROWS:
            with self.subTest(row.name):
                self.assertTrue(os.path.exists(os.path.join(SCENARIOS, row.scenario + ".json")))
                self.assertIn(row.host, fault_matrix.HOST_FAULTS)
                self.assertEqual(row.second != 0, bool(row.why))
                if row.long:
                    self.assertTrue(row.native, "a long row names the native test of its wait")
                for test in filter(None, row.native.split(" and ")):
                    suite, case = test.split(".")
                    self.assertIn("TEST_F(%s, %s)" % (suite, case), native)

    def test_the_document_has_every_row_and_nothing_else(self):
        summary, sections = fault_matrix_doc.read_document()
        names = [row.name for row in fault_matrix.ROWS]
        self.assertEqual(sorted(summary), sorted(names))
        self.assertEqual(sorted(sections), sorted(names))
        for name, text in sections.items():
            with self.subTest(name):
                self.assertNotIn("Not run yet", text)


def _make(row):
    def test(self):
        self.check(row)
    test.__doc__ = "%s: exit %s, then %d" % (row.name, "none" if row.code is None else row.code, row.second)
    return test


for _row in fault_matrix.ROWS:
    setattr(FaultMatrix, "test_%s" % _row.name, _make(_row))


if __name__ == "__main__":
    unittest.main()

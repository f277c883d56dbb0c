"""Whole unattended update runs of the real Quillon.exe under Wine, one per
module behaviour: the exit code, the upgrade log's result record, what the
module received, and that the run gave the module back and left nothing
running.

The faults whose time-outs take minutes (a module that never comes back
waits 1020 polls, a port that never goes away 120 s, a silent module 120 s
per reply) run only when QUILLON_LONG_RUNS=1 is set:

    QUILLON_LONG_RUNS=1 ctest --preset windows -R e2e_test_update_runs
"""
import os
import unittest

from harness import EXE, WineSession
from module import EmulatedModule

LONG_RUNS = os.environ.get("QUILLON_LONG_RUNS") == "1"

TEXTS = {
    0: b"Upgrade finishied succesfully",
    1: b"Unknown error",
    2: b"This version is not supported",
    4: b"Pin error",
    5: b"Update failed",
    7: b"Version did not change",
    8: b"Timeout",
}

# scenario, exit code, restart commands the module received, optional-image line
# (None: not sent), long run
RUNS = [
    ("default", 0, 2, b"done", False),
    ("command_code_form", 0, 2, b"done", False),
    ("already_r1d06", 0, 2, b"done", False),
    ("optional_rejected", 0, 2, b"failed", False),
    ("qesfud_error_first_3", 0, 2, b"done", False),
    ("reject_chunk_3", 5, 0, None, False),
    ("error_text_chunk_2", 5, 0, None, False),
    ("drop_mid_transfer", 5, 0, None, False),
    ("qesfud_never", 5, 0, None, False),
    ("keep_build_date", 7, 2, b"done", False),
    ("unsupported_hardware", 2, 0, None, False),
    ("pin_required", 4, 0, None, False),
    ("start_in_update_mode", 1, 0, None, False),
    ("slow_comeback", 0, 2, b"done", True),
    ("reset_ignored", 8, 1, None, True),
    ("silent_after_chunk_1", 5, 0, None, True),
    ("never_comes_back", 8, 1, None, True),
    ("second_restart_never", 8, 2, b"done", True),
]


def result_record(code):
    return b"RESULT (%d): %s\r\r\n" % (code, TEXTS[code])


class UpdateRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("update-runs").__enter__()
        cls.session.reg_add_serialcomm("\\Device\\mdm0", "COM7")

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def run_scenario(self, scenario, code, restarts, optional, long_run):
        if long_run and not LONG_RUNS:
            self.skipTest("long run: set QUILLON_LONG_RUNS=1")
        if os.path.exists(self.session.log_path()):
            os.unlink(self.session.log_path())
        with EmulatedModule(self.session, scenario) as module:
            result = self.session.run(EXE, ["-q"], timeout=1800 if long_run else 300)
            log = self.session.log_bytes()
            detail = "%s: exit %r\n%s" % (scenario, result.code, log.decode("latin-1"))
            self.assertEqual(result.code, code, detail)
            self.assertIn(result_record(code), log, detail)
            self.assertEqual(module.commands().count("AT*Q2RESET"), restarts, detail)
            if optional is None:
                self.assertNotIn(b"Quillon: Optional assignment 1", log, detail)
            else:
                self.assertIn(b"Quillon: Optional assignment 1 " + optional + b"\r\r\n", log, detail)
            # The module is always given back, after the run's own lines.
            self.assertLess(log.index(b"Done DISCONNECT_KVT"), log.index(b"Send CONNECT_KVT"), detail)
            self.assertLess(log.index(b"Done CONNECT_KVT"), log.index(result_record(code)), detail)
            packages = module.events("package")
            if code == 0:
                full = packages[0]
                self.assertEqual(full["verdict"], "intact", full)
                self.assertTrue(full["applied"], full)
            return module, log


def _make(row):
    def test(self):
        self.run_scenario(*row)
    test.__doc__ = "%s ends with %d" % (row[0], row[1])
    return test


for _row in RUNS:
    setattr(UpdateRuns, "test_%s" % _row[0], _make(_row))


if __name__ == "__main__":
    unittest.main()

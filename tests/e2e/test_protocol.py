"""The update protocol on a real Win32 port under Wine, against the emulated module.

Whole packages in both header forms, a rejection, an ERROR reply, a module
that falls silent, and package files; the module's record shows every byte.

The ERROR reply and the silent module each wait out a 120 s reply: they run
only in the long command (the native tests check those waits on the
virtual clock):

    QUILLON_LONG_RUNS=1 ctest --preset windows -R e2e_test_protocol
"""
import hashlib
import os
import re
import unittest

from quillon_e2e.harness import BUILD_DIR, WineSession
from quillon_e2e.module import EmulatedModule, write_package

PROTOCOL_CHECK = os.path.join(BUILD_DIR, "protocol_check.exe")
FULL_PACKAGE = os.path.join(BUILD_DIR, "packages", "full_package.bin")
PORT = "\\\\.\\COM7"
CHUNK = 8192

# A reply is awaited for 120 s, the closing line for 10 s: a module that
# stops answering costs one such wait, never one per chunk.
REPLY_WAIT = 120
CLOSING_WAIT = 10

long_run = unittest.skipUnless(os.environ.get("QUILLON_LONG_RUNS") == "1",
                               "waits out a 120 s reply: set QUILLON_LONG_RUNS=1")


def setUpModule():
    global session
    session = WineSession("protocol").__enter__()


def tearDownModule():
    session.close()


def digest(data):
    return hashlib.sha256(data).hexdigest()


_TRACE_LINE = re.compile(r"\S+ \w+: \d\d:\d\d:\d\d  \(-?\d+\) [A-Z]+: (.*)", re.S)


def trace_message(line):
    """A trace line's message, with the line end the trace adds."""
    m = _TRACE_LINE.match(line)
    return m.group(1) if m else line


def chunk_lengths(length):
    return [min(CHUNK, length - offset) for offset in range(0, length, CHUNK)]


class Outcome:
    """protocol_check's lines taken apart."""

    def __init__(self, result):
        self.code = result.code
        self.lines = [line.rstrip("\r") for line in result.stdout.splitlines() if line.strip()]
        self.progress = [tuple(int(n) for n in line.split()[1:]) for line in self.lines
                         if line.startswith("progress ")]
        self.trace = result.trace
        self.result = self._number("result")
        self.protocol = self._number("protocol")
        self.detail = "protocol_check: exit %r\n%s\n%s" % (result.code, "\n".join(self.lines[-20:]),
                                                          result.stderr[-3000:])

    def _number(self, word):
        for line in self.lines:
            m = re.fullmatch(r"%s (-?\d+)" % word, line)
            if m:
                return int(m.group(1))
        return None


class Protocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(FULL_PACKAGE, "rb") as f:
            cls.image = f.read()

    def send(self, scenario, *what, timeout=120):
        with EmulatedModule(session, scenario) as module:
            outcome = Outcome(session.run(PROTOCOL_CHECK, [PORT] + list(what), timeout=timeout))
        self.assertEqual(outcome.code, 0, outcome.detail)
        self.assertEqual(outcome.lines[0], "open 0", outcome.detail)
        return outcome, module

    def assert_headers(self, module, form, lengths):
        """The module saw one header per chunk, in order, each well-formed
        and announcing its chunk's length."""
        headers = module.events("header")
        self.assertEqual([(h["package"], h["chunk"]) for h in headers],
                         [(1, n) for n in range(1, len(lengths) + 1)])
        self.assertEqual([h["payload"] for h in headers], lengths)
        self.assertEqual({h["form"] for h in headers}, {form})
        self.assertEqual(module.events("header_refused"), [])

    def assert_received(self, module, verdict, data, chunks):
        """The module's digest of every payload byte, in arrival order,
        against the bytes that should have been sent."""
        packages = module.events("package")
        self.assertEqual(len(packages), 1, packages)
        package = packages[0]
        self.assertEqual((package["verdict"], package["bytes"], package["chunks"]),
                         (verdict, len(data), chunks))
        self.assertEqual(package["sha256"], digest(data))

    def assert_link_opened(self, module):
        self.assertEqual(module.commands(), ["AT+CGMM", "ATE0", "AT*QESFUD?", "AT*QESFUD?", "AT*QESFUD=3"])

    # --- whole packages -----------------------------------------------------------
    def test_full_package_arrives_byte_for_byte_in_both_forms(self):
        length = len(self.image)
        self.assertEqual(length, 10212846)
        lengths = chunk_lengths(length)
        for scenario, form, protocol in (("default", "magic", 32), ("command_code_form", "command", 16)):
            with self.subTest(form=form):
                outcome, module = self.send(scenario, "image")
                self.assertEqual(outcome.result, 0, outcome.detail)
                self.assertEqual(outcome.protocol, protocol, outcome.detail)
                self.assert_link_opened(module)
                self.assert_headers(module, form, lengths)
                self.assert_received(module, "intact", self.image, len(lengths))
                # Each chunk answered, then the final reply and its OK.
                replies = module.events("reply_header")
                self.assertEqual([r["chunk"] for r in replies], list(range(1, len(lengths) + 1)) + ["final"])
                self.assertEqual({r["result_code"] for r in replies}, {1})
                # Stages 0 to 2 and 7, then a pair from the first 1 % on,
                # the last one the whole length.
                self.assertEqual(outcome.progress[:4], [(0,), (1,), (2,), (7,)], outcome.detail)
                pairs = outcome.progress[4:]
                first = next(n for n in range(1, len(lengths) + 1) if n * CHUNK * 100 // length >= 1)
                self.assertEqual(len(pairs), len(lengths) - first + 1, outcome.detail)
                self.assertEqual(pairs[0], (7, first * CHUNK, length))
                self.assertEqual(pairs[-1], (7, length, length))
                # The link's two lines, and one wait per chunk in the trace.
                messages = [trace_message(line) for line in outcome.trace]
                self.assertIn("SF_Link: State  = 3\n", messages)
                self.assertIn("SF_Link: Result = 0\n", messages)
                self.assertEqual(messages.count("Wait for ack\n\n"), len(lengths))
                self.assertIn("Wait for second OK returned 0\n\n", messages)

    # --- the module says no ---------------------------------------------------------
    def test_rejection_at_chunk_3_ends_with_its_code(self):
        outcome, module = self.send("reject_chunk_3", "image")
        self.assertEqual(outcome.result, 17, outcome.detail)
        self.assert_headers(module, "magic", [CHUNK] * 3)
        self.assert_received(module, "rejected", self.image[:3 * CHUNK], 3)
        self.assertEqual([r["result_code"] for r in module.events("reply_header")], [1, 1, 3])
        # Three chunks are too few for 1 % of the package: no pair at all.
        self.assertEqual(outcome.progress, [(0,), (1,), (2,), (7,)], outcome.detail)

    @long_run
    def test_error_reply_ends_with_14(self):
        outcome, module = self.send("error_text_chunk_2", "image", timeout=REPLY_WAIT + CLOSING_WAIT + 60)
        self.assertEqual(outcome.result, 14, outcome.detail)
        self.assert_headers(module, "magic", [CHUNK] * 2)
        self.assert_received(module, "error_text", self.image[:2 * CHUNK], 2)

    @long_run
    def test_silent_module_in_the_command_code_form_is_not_updated(self):
        # Taken as replies, the zeros of the missing bytes would let every
        # remaining chunk go out, each after its full wait.
        outcome, module = self.send("silent_command_code_form", "image", timeout=REPLY_WAIT + CLOSING_WAIT + 60)
        self.assertEqual(outcome.result, 18, outcome.detail)
        self.assert_headers(module, "command", [CHUNK] * 2)
        self.assert_received(module, "silent", self.image[:2 * CHUNK], 2)
        self.assertEqual(outcome.progress, [(0,), (1,), (2,), (7,)], outcome.detail)

    # --- package files ----------------------------------------------------------------
    def test_package_file_arrives_byte_for_byte(self):
        path = os.path.join(session.root, "package.bin")
        write_package(path, "R1D06", 3 * CHUNK + 500)
        with open(path, "rb") as f:
            data = f.read()
        outcome, module = self.send("default", "file", session.wine_path(path))
        self.assertEqual(outcome.result, 0, outcome.detail)
        self.assert_link_opened(module)
        self.assert_headers(module, "magic", chunk_lengths(len(data)))
        self.assert_received(module, "intact", data, 4)
        self.assertEqual(outcome.progress, [(4,), (0,), (1,), (2,), (7,)] +
                         [(7, min((n + 1) * CHUNK, len(data)), len(data)) for n in range(4)], outcome.detail)

    def test_package_file_that_cannot_be_read_reaches_nothing(self):
        missing = os.path.join(session.root, "no-such-package.bin")
        folder = os.path.join(session.root, "a-folder")
        os.makedirs(folder, exist_ok=True)
        for name, path in (("missing", missing), ("a folder", folder)):
            with self.subTest(name):
                outcome, module = self.send("default", "file", session.wine_path(path))
                self.assertEqual(outcome.result, 10, outcome.detail)
                self.assertEqual(outcome.progress, [(4,)], outcome.detail)
                self.assertEqual(module.commands(), ["AT+CGMM"], "only the device's own probe")
                self.assertEqual(module.events("header"), [])


if __name__ == "__main__":
    unittest.main()

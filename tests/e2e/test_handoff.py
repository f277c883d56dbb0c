"""The connection-manager hand-off of the real Quillon.exe under Wine: a stub
console program, installed where the registry says, records how it is
started; the run must release the module and take it back, in that order."""
import os
import shutil
import unittest

from quillon_e2e.harness import BUILD_DIR, EXE, WINE, WineSession

STUB = os.path.join(BUILD_DIR, "Corvin.KVT.Console.exe")
KEY = "HKLM\\SOFTWARE\\Corvin\\CorvinPanel\\KVT"
RECORD = "kvt_calls.txt"

BANNER = b"===FW upgrade started ===\r\r\n"
HAND_OFF = (b"Send DISCONNECT_KVT\r\r\n", b"Done DISCONNECT_KVT\r\r\n",
            b"Send CONNECT_KVT\r\r\n", b"Done CONNECT_KVT\r\r\n")
RESULT = b"\r\r\nRESULT (2): This version is not supported\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n"


class HandOff(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("handoff").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        self.session.forget_log()
        self.installed = []

    def tearDown(self):
        for view in ("/reg:64", "/reg:32"):
            self.session.run_quiet([WINE, "reg", "delete", "HKLM\\SOFTWARE\\Corvin", "/f", view], timeout=120)
        for folder in self.installed:
            shutil.rmtree(folder, ignore_errors=True)

    # --- the machine around the program -------------------------------------
    def linux_path(self, windows_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b"""
        self.assertTrue(windows_path.upper().startswith("C:\\"), windows_path)
        parts = [p for p in windows_path[3:].split("\\") if p]
        return os.path.join(self.session.drive_c, *parts)

    def install_stub(self, windows_path):
        """Copies the stub to a full Windows file path."""
        target = self.linux_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(STUB, target)
        return target

    def install(self, folder, view="/reg:64"):
        """The connection manager in `folder` (with its trailing backslash)."""
        self.installed.append(self.linux_path(folder))
        self.install_stub(folder + "Corvin.KVT.Console.exe")
        code = self.session.run_quiet([WINE, "reg", "add", KEY, "/v", "InstalledPath", "/t", "REG_SZ",
                                       "/d", folder, "/f", view], timeout=120)
        self.assertEqual(code, 0, "reg add failed")

    def recorded(self, folder):
        """The command lines the stub in `folder` was started with."""
        path = os.path.join(self.linux_path(folder), RECORD)
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return f.read().decode("latin-1").splitlines()

    def run_quillon(self):
        result = self.session.run(EXE, ["-q", "-t", "SIMULATOR"], timeout=120)
        # The simulated module is no board the version rules know: the
        # quiet run ends at its OK with code 2, and only then is the
        # module given back.
        self.assertEqual(result.code, 2)
        log = self.session.log_bytes()
        self.assertTrue(log.startswith(BANNER + HAND_OFF[0] + HAND_OFF[1] + b"Time: "), log)
        self.assertTrue(log.endswith(b"QuillonDlg OK Pressed\r\r\n" + HAND_OFF[2] + HAND_OFF[3] + RESULT), log)
        # Nothing of the hand-off was worth a warning.
        self.assertEqual([line for line in result.trace if "sf_util" in line], [])
        return result

    # --- the tests --------------------------------------------------------------
    def test_release_then_regain_with_a_folder_without_blanks(self):
        folder = "C:\\Corvin\\KVT\\"
        self.install(folder)
        self.run_quillon()
        self.assertEqual(self.recorded(folder), [
            '"C:\\Corvin\\KVT\\Corvin.KVT.Console.exe" /releasewwan',
            '"C:\\Corvin\\KVT\\Corvin.KVT.Console.exe" /regainwwan',
        ])

    def test_a_folder_with_blanks_is_quoted_and_no_planted_program_runs(self):
        folder = "C:\\Program Files\\Corvin\\"
        self.install(folder)
        # Where an unquoted "C:\Program Files\..." would first be looked for.
        planted = self.install_stub("C:\\Program.exe")
        self.installed.append(planted)
        try:
            self.run_quillon()
            self.assertFalse(os.path.exists(os.path.join(self.session.drive_c, RECORD)),
                             "C:\\Program.exe was started")
            self.assertEqual(self.recorded(folder), [
                '"C:\\Program Files\\Corvin\\Corvin.KVT.Console.exe" /releasewwan',
                '"C:\\Program Files\\Corvin\\Corvin.KVT.Console.exe" /regainwwan',
            ])
        finally:
            os.unlink(planted)
            self.installed.remove(planted)

    def test_only_the_64_bit_view_is_read(self):
        folder = "C:\\Corvin32\\"
        self.install(folder, view="/reg:32")
        self.run_quillon()
        self.assertEqual(self.recorded(folder), [])


if __name__ == "__main__":
    unittest.main()

"""The common controls' side-by-side binding, judged by the real
Quillon.exe before its first window.

The manifest binds comctl32 version 6 through the activation context,
before any search folder, and an application configuration file beside
the program (Quillon.exe.config) can redirect that binding to a private
copy. The program looks the binding up first and goes on only when it lies
in the side-by-side store under the Windows folder, or when nothing
redirects comctl32 (System32's copy).

Here: the binding of a Wine prefix, which lies in its store, is accepted
and the usage box comes; what Wine does with a planted Quillon.exe.config
and a private assembly; and the inventory, which never loads the common
controls at all. The refusal itself (a binding in the program's folder, a
failed query) is the native table's (tests/native/app/controls_binding_test.cpp).
"""
import contextlib
import ntpath
import os
import re
import shutil
import unittest

from quillon_e2e.harness import BUILD_DIR, EXE, WineSession
from test_update import BANNER

PLANTED_DLL = os.path.join(BUILD_DIR, "planted.dll")
ASSEMBLY = "Microsoft.Windows.Common-Controls"
STORE_LINE = re.compile(r"comctl32\.dll from the side-by-side store: (\S+)")
MANIFEST_LINE = re.compile(r"comctl32\.dll's manifest: (\S+)")

# Redirects every version 6 binding to 6.0.9999.0, which only the private
# assembly beside the program has.
CONFIG = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<configuration>
  <windows>
    <assemblyBinding xmlns="urn:schemas-microsoft-com:asm.v1">
      <probing privatePath="private"/>
      <dependentAssembly>
        <assemblyIdentity type="win32" name="%s" processorArchitecture="amd64"
                          publicKeyToken="6595b64144ccf1df" language="*"/>
        <bindingRedirect oldVersion="6.0.0.0-6.9.9999.9999" newVersion="6.0.9999.0"/>
      </dependentAssembly>
    </assemblyBinding>
  </windows>
</configuration>
""" % ASSEMBLY

PRIVATE_MANIFEST = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="%s" version="6.0.9999.0" processorArchitecture="amd64"
                    publicKeyToken="6595b64144ccf1df" language="*"/>
  <file name="comctl32.dll"/>
</assembly>
""" % ASSEMBLY


def setUpModule():
    global session
    session = WineSession("controls-binding").__enter__()


def tearDownModule():
    session.close()


@contextlib.contextmanager
def wine_settings(overrides=""):
    """Every DLL the run loads, and where from, on its standard error;
    `overrides` added to WINEDLLOVERRIDES."""
    saved = dict(session.env)
    session.env["WINEDEBUG"] += ",+loaddll"
    if overrides:
        session.env["WINEDLLOVERRIDES"] += ";" + overrides
    try:
        yield
    finally:
        session.env.clear()
        session.env.update(saved)


def loaded(outcome, name):
    """The paths `name` was loaded from, as Wine's loader says."""
    found = re.findall(r'loaddll:\S+ Loaded L"([^"]+)"', outcome.stderr)
    return [path.replace("\\\\", "\\") for path in found if path.lower().endswith("\\" + name)]


def plant(folder):
    """Quillon.exe in a folder of its own, with the configuration file and
    the private assembly (its comctl32.dll leaves a mark when loaded) both
    where the probing looks: beside the program and under private\\."""
    os.makedirs(folder)
    shutil.copy(EXE, folder)
    with open(os.path.join(folder, "Quillon.exe.config"), "w", newline="\r\n") as f:
        f.write(CONFIG)
    for where in (folder, os.path.join(folder, "private")):
        assembly = os.path.join(where, ASSEMBLY)
        os.makedirs(assembly)
        with open(os.path.join(assembly, ASSEMBLY + ".manifest"), "w", newline="\r\n") as f:
            f.write(PRIVATE_MANIFEST)
        shutil.copy(PLANTED_DLL, os.path.join(assembly, "comctl32.dll"))
    return os.path.join(folder, os.path.basename(EXE))


class ControlsBinding(unittest.TestCase):
    def setUp(self):
        session.forget_log()
        for mark in self.marks():
            os.unlink(mark)

    @staticmethod
    def marks():
        return [m for m in os.listdir(session.drive_c) if m.startswith("planted-") and m.endswith(".mark")]

    def usage_box(self, exe, overrides=""):
        """Two file names: the usage box is the first window. Returns the
        run's outcome and whether the box came."""
        with wine_settings(overrides):
            process = session.start(exe, ["one.bin", "two.bin"])
        try:
            box = session.wait_dialog(lambda c, texts: c == "Usage", timeout=60)
            if box is not None:
                self.assertTrue(session.click("Usage", "OK"))
            outcome = process.wait(60)
        finally:
            if process.running():
                process.popen.kill()
        return outcome, box is not None

    def store_binding(self, outcome):
        """The folder and manifest of the accepted binding, from the trace."""
        paths = []
        for pattern in (STORE_LINE, MANIFEST_LINE):
            found = [m.group(1) for m in map(pattern.search, outcome.trace) if m]
            self.assertEqual(len(found), 1, outcome.trace[-20:])
            paths.append(found[0])
        return paths

    def assert_in_store(self, path):
        self.assertRegex(path.lower(), r"^c:\\windows\\winsxs\\[^\\]+", path)

    def test_the_prefix_binding_lies_in_its_store_and_the_box_comes(self):
        outcome, box = self.usage_box(EXE)
        self.assertTrue(box, outcome.trace[-20:])
        self.assertEqual(outcome.code, 1)
        folder, manifest = self.store_binding(outcome)
        self.assert_in_store(folder)
        self.assertIn("common-controls", folder.lower())
        self.assert_in_store(manifest)
        # The box loaded the common controls from the folder the check saw.
        self.assertEqual([ntpath.dirname(p).lower() for p in loaded(outcome, "comctl32.dll")], [folder.lower()])
        self.assertFalse([t for t in outcome.trace if "FATAL" in t], outcome.trace[-20:])
        self.assertEqual(session.log_bytes(), BANNER)

    def test_wine_ignores_a_planted_configuration_file(self):
        exe = plant(os.path.join(session.root, "Downloads"))
        # comctl32=n,b: Wine's own copy otherwise comes first, whatever the
        # binding says.
        outcome, box = self.usage_box(exe, "comctl32=n,b")
        # Wine reads no Quillon.exe.config (neither its bindingRedirect nor
        # its probing): the binding stays in the store, the check accepts
        # it, and the private copy is never loaded. On Windows the same
        # files would move the binding to the Downloads folder, which the
        # check refuses (the native table).
        folder, manifest = self.store_binding(outcome)
        self.assert_in_store(folder)
        self.assert_in_store(manifest)
        self.assertTrue(box)
        self.assertEqual(outcome.code, 1)
        self.assertEqual([ntpath.dirname(p).lower() for p in loaded(outcome, "comctl32.dll")], [folder.lower()])
        self.assertEqual(self.marks(), [], "the private comctl32.dll was loaded")

    def test_the_inventory_never_loads_the_common_controls(self):
        with wine_settings():
            outcome = session.run(EXE, ["-i", "-t", "SIMULATOR"], timeout=120)
        # The simulated module is none the tables admit.
        self.assertEqual(outcome.code, 22, outcome.trace[-20:])
        self.assertTrue(loaded(outcome, "quillon.exe"), "the loader's lines are there")
        self.assertEqual(loaded(outcome, "comctl32.dll"), [])
        # Nor a window: Wine loads its display driver with the first one.
        self.assertEqual(loaded(outcome, "winex11.drv"), [])
        self.assertFalse([t for t in outcome.trace if "comctl32" in t], "the inventory never looks the binding up")


if __name__ == "__main__":
    unittest.main()

"""make demo: the whole update of the emulated module (a /101 board at R1J
running R1D05) by the real Quillon.exe under Wine, as a laptop user sees
it: the main dialog, the warning and the progress dialog are shown and
clicked through, then the success box. Shows what the run leaves behind:
upgrade log, exit code, the program's trace, what the module received, and
screenshots of the three dialogs (build/demo/)."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "windows")
os.environ.setdefault("QUILLON_BUILD_DIR", BUILD)
os.environ.setdefault("QUILLON_EXE", os.path.join(BUILD, "Quillon.exe"))
# The Wine tests' helpers, by their package's name from the root.
sys.path.insert(0, ROOT)

from tests.e2e.quillon_e2e.harness import EXE, WineSession  # noqa: E402
from tests.e2e.quillon_e2e.module import EmulatedModule  # noqa: E402

CAPTION = "Quillon CXC 173 0961/1 R1A"


class Demo:
    def __init__(self, session, out_dir):
        self.session = session
        self.out_dir = out_dir

    def wait(self, what, predicate, timeout=120):
        found = self.session.wait_dialog(predicate, timeout=timeout)
        if found is None:
            raise RuntimeError("no %s on the screen; dialogs: %r" % (what, self.session.dialogs()))
        print("demo: %s" % what)

    def shot(self, name):
        """The screen, trimmed to the windows on it."""
        path = os.path.join(self.out_dir, name + ".png")
        self.session.screenshot(path)
        if shutil.which("convert") and os.path.exists(path):
            subprocess.run(["convert", path, "-trim", "+repage", path], check=False,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def click(self, caption, button="OK"):
        if not self.session.click(caption, button):
            raise RuntimeError("could not press %s in %r" % (button, caption))

    def run(self):
        process = self.session.start(EXE, [])
        try:
            self.wait("main dialog, the module identified",
                      lambda c, texts: c == CAPTION and "No module found" not in texts and "R1D06" in texts)
            self.shot("main-dialog")
            self.click(CAPTION)
            self.wait("the warning", lambda c, texts: c == "Warning")
            self.shot("warning")
            self.click("Warning")
            self.wait("progress dialog", lambda c, texts: c.startswith("Update full package"))
            time.sleep(0.5)
            self.shot("progress")
            self.wait("success box", lambda c, texts: c == "Update successful", timeout=600)
            self.shot("success")
            self.click("Update successful")
            return process.wait(120)
        finally:
            if process.running():
                process.popen.kill()


def received(module):
    """What the module received, in a few lines."""
    lines = []
    for p in module.events("package"):
        lines.append("package %s: %s bytes in %s chunks, %s (%s %s)%s" % (
            p["package"], p["bytes"], p["chunks"], p["verdict"], p["kind"], p["version"],
            ", installed" if p["applied"] else ""))
    lines.append("restarts: %d" % len(module.events("offline")))
    identities = module.events("identity")
    if identities:
        last = identities[-1]
        lines.append("firmware now: %s, built %s" % (last["software_version"], last["build_date"]))
    lines.append("commands:")
    lines += ["  " + command for command in module.commands()]
    return lines


def main():
    out_dir = os.path.join(ROOT, "build", "demo")
    os.makedirs(out_dir, exist_ok=True)
    with WineSession("demo") as session, EmulatedModule(session, "default") as module:
        # Found the way the laptop's driver announces it.
        session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        print("demo: emulated module on COM7 (%s)" % module.pty)
        print("demo: running Quillon.exe under Wine; the dialogs are clicked through")
        result = Demo(session, out_dir).run()
        log = session.log_bytes()
        with open(os.path.join(out_dir, "FWLog.txt"), "wb") as f:
            f.write(log)
        with open(os.path.join(out_dir, "trace.txt"), "w") as f:
            f.write("".join(result.trace))
        print("---- trace " + "-" * 47)
        for line in result.trace:
            print(line.rstrip("\n"))
        print("---- what the module received " + "-" * 28)
        for line in received(module):
            print(line)
        print("---- C:\\FWLog.txt " + "-" * 40)
        print(log.decode("cp1252", errors="replace").replace("\r", ""))
        print("-" * 58)
        print("exit code: %s" % result.code)
        print("saved in build/demo/: FWLog.txt, trace.txt, main-dialog.png, warning.png, progress.png, success.png")
    return 0 if result.code == 0 else 1


if __name__ == "__main__":
    if sys.argv[1:] in (["--help"], ["-h"]):
        print("usage: python3 tools/demo.py (make demo)\n\n" + __doc__)
        sys.exit(0)
    sys.exit(main())

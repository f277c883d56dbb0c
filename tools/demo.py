"""make demo: runs Quillon.exe under Wine the way an IT department would,
unattended, against the emulated module (a /101 board at R1J running
R1D05), and shows what it leaves behind: upgrade log, exit code, the
program's trace and what the module received."""
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "windows")
os.environ.setdefault("QUILLON_BUILD_DIR", BUILD)
os.environ.setdefault("QUILLON_EXE", os.path.join(BUILD, "Quillon.exe"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from harness import EXE, WineSession  # noqa: E402
from module import EmulatedModule  # noqa: E402


def main():
    out_dir = os.path.join(ROOT, "build", "demo")
    os.makedirs(out_dir, exist_ok=True)
    with WineSession("demo") as session, EmulatedModule(session, "default") as module:
        # Found the way the laptop's driver announces it.
        session.reg_add_serialcomm("\\Device\\mdm0", "COM7")
        args = ["-q"]
        print("demo: emulated module on COM7 (%s)" % module.pty)
        print("demo: running Quillon.exe %s under Wine" % " ".join(args))
        result = session.run(EXE, args, timeout=1800)
        log = session.log_bytes()
        with open(os.path.join(out_dir, "FWLog.txt"), "wb") as f:
            f.write(log)
        with open(os.path.join(out_dir, "trace.txt"), "w") as f:
            f.write("".join(result.trace))
        print("---- trace " + "-" * 47)
        for line in result.trace:
            print(line.rstrip("\n"))
        print("---- what the module received " + "-" * 28)
        for command in module.commands():
            print(command)
        print("---- C:\\FWLog.txt " + "-" * 40)
        print(log.decode("cp1252", errors="replace").replace("\r", ""))
        print("-" * 58)
        print("exit code: %s" % result.code)
        print("saved in build/demo/: FWLog.txt, trace.txt")
    return 0


if __name__ == "__main__":
    sys.exit(main())

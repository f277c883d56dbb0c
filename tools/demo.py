"""make demo: runs Quillon.exe under Wine the way an IT department would,
unattended, and shows what it leaves behind: upgrade log and exit code."""
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "windows")
os.environ.setdefault("QUILLON_BUILD_DIR", BUILD)
os.environ.setdefault("QUILLON_EXE", os.path.join(BUILD, "Quillon.exe"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from harness import EXE, WineSession  # noqa: E402


def main():
    out_dir = os.path.join(ROOT, "build", "demo")
    os.makedirs(out_dir, exist_ok=True)
    with WineSession("demo") as session:
        args = ["-q"]
        print("demo: running Quillon.exe %s under Wine" % " ".join(args))
        result = session.run(EXE, args, timeout=1800)
        log = session.log_bytes()
        with open(os.path.join(out_dir, "FWLog.txt"), "wb") as f:
            f.write(log)
        print("---- C:\\FWLog.txt " + "-" * 40)
        print(log.decode("cp1252", errors="replace").replace("\r", ""))
        print("-" * 58)
        print("exit code: %s" % result.code)
        print("log saved to build/demo/FWLog.txt")
    return 0


if __name__ == "__main__":
    sys.exit(main())

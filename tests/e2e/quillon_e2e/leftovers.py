"""Fails when an end-to-end run left a process behind: an Xvfb, a
wineserver, any Wine process or a module emulator started by this run's
tests. They all carry the run's marker in their environment."""
import os
import sys

MARKER = "QUILLON_E2E_RUN"


def leftovers(run):
    wanted = ("%s=%s" % (MARKER, run)).encode()
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state == "Z":
            continue  # already ended; only its parent's bookkeeping is left
        if wanted in environ:
            found.append("%s %s" % (pid, cmdline.strip()[:120]))
    return found


if __name__ == "__main__":
    run = os.environ.get(MARKER)
    if not run:
        print("leftovers: %s is not set" % MARKER)
        sys.exit(2)
    left = leftovers(run)
    for line in left:
        print("left running: " + line)
    print("no leftovers" if not left else "%d processes left running" % len(left))
    sys.exit(1 if left else 0)

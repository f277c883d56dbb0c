"""Fails when an end-to-end run left a process behind: an Xvfb, a
wineserver or any Wine process of a test prefix, or a module emulator."""
import os
import sys


def leftovers():
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().decode(errors="replace")
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state == "Z":
            continue  # already ended; only its parent's bookkeeping is left
        if "WINEPREFIX=/tmp/quillon-e2e-" in environ or "quillon-e2e-" in cmdline \
                or ("Xvfb" in cmdline and "-displayfd" in cmdline) or "module_emulator" in cmdline:
            found.append("%s %s" % (pid, cmdline.strip()[:120]))
    return found


if __name__ == "__main__":
    left = leftovers()
    for line in left:
        print("left running: " + line)
    print("no leftovers" if not left else "%d processes left running" % len(left))
    sys.exit(1 if left else 0)

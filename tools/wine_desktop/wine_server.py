"""A persistent Wine server that a module's restart does not signal.

`wineserver -p` makes itself a session leader, and the first terminal it
opens becomes its controlling terminal: that is the module's port, which
the server opens for the program. Each restart of the module hangs the
port up, and the server takes the SIGHUP that follows as an order to
write out every object it holds: megabytes into its log and a second of
CPU, at every restart. Kept in the foreground as a child of the caller,
it leads no session, so no terminal becomes its own. In a process group
of its own, a terminal's Ctrl-C or hang-up reaches only the caller, which
ends the program first and the server after it, rather than the server
(and every Wine process with it) going first under a flashing module.

    server = start(env, log_path)   # None: a server already runs there
    ...
    stop(env, server)

DLL_OVERRIDES is what every Wine process in such a prefix is started with.
"""
import os
import subprocess
import sys
import time

READY_SECONDS = 60
# WINEDLLOVERRIDES: no .NET or Gecko installer at the prefix's boot, and no
# menu builder, which would write Wine menu entries and file associations
# into the user's desktop at every start (about 0.1 CPU-s each time).
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# setpgid in the child; before Python 3.11 only a hook can do it.
_OWN_GROUP = {"process_group": 0} if sys.version_info >= (3, 11) else {"preexec_fn": os.setpgrp}


def _listening(pid):
    """True once the server holds its lock and has made its socket: it
    takes the lock first, so a socket after it is the one clients call."""
    try:
        targets = [os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%d/fd" % pid)]
    except OSError:
        return False
    return any(t.endswith("/lock") for t in targets) and any(t.startswith("socket:") for t in targets)


def start(env, log_path, timeout=READY_SECONDS):
    """Starts the prefix's server (env's WINEPREFIX) with its output in
    log_path; returns it once clients can reach it, or None when another
    server already ran in the prefix (that one is left as it is)."""
    with open(log_path, "a") as log:
        server = subprocess.Popen(["wineserver", "--foreground", "--persistent"], env=env,
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log, **_OWN_GROUP)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if server.poll() is not None:
            return None
        if _listening(server.pid):
            return server
        time.sleep(0.01)
    stop(env, server)
    raise RuntimeError("the Wine server of %s did not start within %d s (see %s)"
                       % (env.get("WINEPREFIX"), timeout, log_path))


def stop(env, server, timeout=60):
    """Ends the prefix's server and every Wine process in it."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-k"], env=env, timeout=timeout, **quiet)
    if server is None:
        subprocess.run(["wineserver", "-w"], env=env, timeout=timeout, **quiet)
        return
    # Ours is a child: waiting for it is what -w would ask the server for.
    try:
        server.wait(timeout)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait(timeout)

"""The Linux launcher's parts: tools/quillon-linux is its entry.

    codes        the exit codes, one table for the usage text and the README
    common       the launcher's messages and its two ways to stop
    args         the command line, and Linux paths made Windows ones
    ports        which ttys are the module's (the kernel's device tree)
    modemmanager what ModemManager lists, and its hold off the module
    display      the display Quillon's windows go to (a private Xvfb for
                 unattended runs)
    prefix       the Wine prefix and its server
    portmap      COM ports that follow the module's ttys, and the watcher
    run          the run, step by step, and what undoes each step

Each part imports only those above it in this list; the native tests in
tests/ need no root, no Wine and no display.
"""

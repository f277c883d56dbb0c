"""The launcher's command line, and Quillon's with Linux paths made Windows
ones."""
import os

from . import codes
from .common import Failure

USAGE = """usage: quillon-linux [--exe PATH] [--trace FILE] [--headless] [Quillon.exe arguments]

  --exe PATH    the Quillon.exe to run (default: the checkout's build/windows/Quillon.exe);
                desktop_ready.exe is looked for beside it
  --trace FILE  save Quillon's debugger-output trace to FILE
  --headless    no desktop: the default for -q and -i, which always run on a
                display of their own (a private Xvfb)

Quillon.exe's arguments: [filename] [-t PORT] [-q] [-f] [-i] [-h]
  -q            quiet update: no questions; needs no desktop (over SSH, from cron)
  -i            inventory: print a JSON report of the module and what it would
                get, change nothing (quillon-linux -i > report.json)
  -t PORT       the module's port; also a Linux one (-t /dev/ttyACM0), which is
                used whatever it is. Without -t only ports that are a modem's
                (ModemManager's list, or the USB interface and driver) are used.
Without -q or -i Quillon shows its dialogs on your desktop (DISPLAY).
The Wine prefix is ~/.local/share/quillon/prefix unless QUILLON_PREFIX names
another. Quillon's output is on standard output, the launcher's messages on
standard error. Exit codes:
""" + codes.summary()

# The options of Quillon.exe that take a value.
VALUE_OPTIONS = "t"


def parse_args(argv):
    """{exe, trace, headless, help, args}; Failure for a flag without its value."""
    options = {"exe": None, "trace": None, "headless": False, "help": False, "args": []}
    i = 0
    while i < len(argv):
        arg = argv[i]
        for name in ("exe", "trace"):
            flag = "--" + name
            if arg == flag:
                if i + 1 == len(argv):
                    raise Failure("%s needs a value\n%s" % (flag, USAGE))
                options[name] = argv[i + 1]
                i += 1
                break
            if arg.startswith(flag + "="):
                options[name] = arg[len(flag) + 1:]
                break
        else:
            if arg == "--help":
                options["help"] = True
            elif arg == "--headless":
                options["headless"] = True
            else:
                options["args"].append(arg)
        i += 1
    return options


def option_letters(args):
    """Quillon's option letters in args, as its own scanner reads them: a
    group such as -qf gives each letter, and -t takes the rest of its word
    or the next one."""
    letters = []
    i = 0
    while i < len(args):
        arg = args[i]
        if arg.startswith("-") and len(arg) > 1:
            for j, letter in enumerate(arg[1:]):
                letters.append(letter)
                if letter in VALUE_OPTIONS:
                    if j == len(arg) - 2:
                        i += 1
                    break
        i += 1
    return letters


def unattended(args):
    """True for a quiet update or an inventory: no one answers a window."""
    letters = option_letters(args)
    return "q" in letters or "i" in letters


def named_ports(args):
    """The Linux ports given with -t."""
    named = []
    for i, arg in enumerate(args):
        value = args[i + 1] if arg in ("-t", "-T") and i + 1 < len(args) else arg[2:] if arg[:2] in ("-t", "-T") else ""
        if value.startswith("/"):
            named.append(value)
    return named


def windows_args(args, port_of):
    """Quillon's arguments with Linux paths made Windows ones: a package
    file becomes a Z: path and -t /dev/ttyX the COM port that follows it."""
    out = []
    i = 0
    while i < len(args):
        arg = args[i]
        if arg in ("-t", "-T") and i + 1 < len(args):
            out += [arg, port_of(args[i + 1])]
            i += 2
            continue
        if arg[:2] in ("-t", "-T") and len(arg) > 2:
            out.append(arg[:2] + port_of(arg[2:]))
        elif not arg.startswith("-") and os.path.exists(arg):
            out.append("Z:" + os.path.abspath(arg).replace("/", "\\"))
        else:
            out.append(arg)
        i += 1
    return out

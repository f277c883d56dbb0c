"""Every exit code the launcher ends with, in one table: the usage text and
the README's Linux section are made from it (a native test holds the README
to it)."""
import signal

# The launcher's own failure, before or around Quillon: Quillon was not
# run, or could not be.
LAUNCHER = 10
SIGNALS = {signal.SIGHUP: 129, signal.SIGINT: 130, signal.SIGTERM: 143}

# (the codes, what they say): Quillon's own first, then the launcher's.
TABLE = (
    (tuple(range(0, 10)), "Quillon's update: 0 updated, 1 to 9 its failures (9: battery low)"),
    (tuple(range(20, 29)), "Quillon's inventory (-i): 0 applicable, 20 to 28 the module's status "
                           "(28: battery-low)"),
    ((LAUNCHER,), "the launcher could not run Quillon; its message says why"),
    (tuple(sorted(SIGNALS.values())), "interrupted: 129 hang-up, 130 Ctrl+C, 143 SIGTERM"),
)


def label(codes):
    """0-9 for a run of codes, 129, 130, 143 for a few apart."""
    if len(codes) > 2 and list(codes) == list(range(codes[0], codes[-1] + 1)):
        return "%d-%d" % (codes[0], codes[-1])
    return ", ".join("%d" % code for code in codes)


def summary(indent="  "):
    """The table as text, one line an entry."""
    width = max(len(label(codes)) for codes, _ in TABLE)
    return "\n".join("%s%-*s  %s" % (indent, width, label(codes), what) for codes, what in TABLE)

"""The launcher's messages, and its two ways to stop short."""
import sys

NAME = "quillon-linux"


def say(text):
    # Standard output is Quillon's: an inventory's report must come out
    # clean. A terminal that went away (a logout under a quiet run) must not
    # end the run, so a message that cannot be written is dropped.
    try:
        sys.stderr.write("%s: %s\n" % (NAME, text))
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


class Failure(Exception):
    """The launcher cannot go on; the text says what to do."""


class Stopped(Exception):
    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum

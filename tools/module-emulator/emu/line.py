"""The module's end of the serial line: a pseudo-terminal whose slave is the
port Wine opens through its comN link."""
import errno
import fcntl
import os
import tty


class Line:
    def __init__(self, link=None):
        self.link = link
        self.master = None
        self.slave = None
        self.slave_path = None

    def up(self):
        """A new pty; the link points at it. Returns the slave's path."""
        self.master, self.slave = os.openpty()
        # Raw on the port side: no echo of our replies back to us, no CR/LF
        # rewriting; the updater's own settings (9600 8N1) change nothing here.
        tty.setraw(self.slave)
        flags = fcntl.fcntl(self.master, fcntl.F_GETFL)
        fcntl.fcntl(self.master, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        self.slave_path = os.ttyname(self.slave)
        if self.link:
            os.makedirs(os.path.dirname(os.path.abspath(self.link)), exist_ok=True)
            temporary = "%s.%d.new" % (self.link, os.getpid())
            if os.path.lexists(temporary):
                os.unlink(temporary)
            os.symlink(self.slave_path, temporary)
            os.replace(temporary, self.link)
        return self.slave_path

    def down(self):
        """Off the bus: the master closes first, so the port sees a hang-up."""
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None
        if self.link and os.path.islink(self.link) and os.readlink(self.link) == self.slave_path:
            os.unlink(self.link)
        self.slave_path = None

    def read(self):
        try:
            return os.read(self.master, 65536)
        except OSError as e:
            if e.errno in (errno.EAGAIN, errno.EIO):
                return b""
            raise

    def write(self, data):
        """Writes what the pty takes now; returns the count (the rest waits)."""
        try:
            return os.write(self.master, data)
        except OSError as e:
            if e.errno in (errno.EAGAIN, errno.EIO):
                return 0
            raise

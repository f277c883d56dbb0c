"""COM ports of the prefix that follow the module's ttys while it restarts
and comes back, possibly under another number."""
import os
import re
import threading

from .common import Failure, say
from .ports import candidate_ports, modem_by_sysfs, not_a_modem

WATCH_INTERVAL_S = 0.25


class PortMap:
    """COM ports of the prefix that follow the module's ttys.

    Each COM port is a dosdevices link with a \\Device\\mdmN value in
    SERIALCOMM, which is what Quillon's discovery reads on every look. A
    tty that goes away loses its link; a new one takes the lowest free COM
    port, so a module that comes back under the next number is found at the
    same COM port. Quillon opens the link afresh on every attempt.

    prefix: what it needs of the prefix (path, serialcomm, set_value,
    delete_value, dosdevice, server_ours); the native tests give one of
    their own.
    """

    def __init__(self, prefix):
        self.prefix = prefix
        values = prefix.serialcomm()
        used = [int(m.group(1)) for d in values.values() for m in [re.fullmatch(r"COM(\d+)", d, re.I)] if m]
        used += [int(m.group(1)) for n in os.listdir(os.path.join(prefix.path, "dosdevices"))
                 for m in [re.fullmatch(r"com(\d+)", n)] if m]
        self.base = max(used + [2]) + 1
        self.taken_names = set(values)
        self.slots = []  # per COM port from base: [value name, tty or None]
        self.lock = threading.Lock()

    def com(self, index):
        return "COM%d" % (self.base + index)

    def _link(self, index, node):
        link = self.prefix.dosdevice("com%d" % (self.base + index))
        if node is None:
            if os.path.lexists(link):
                os.unlink(link)
            return
        if os.path.islink(link) and os.readlink(link) == node:
            return
        temporary = link + ".new"
        if os.path.lexists(temporary):
            os.unlink(temporary)
        os.symlink(node, temporary)
        os.replace(temporary, link)

    def _new_slot(self):
        n = 0
        while "\\Device\\mdm%d" % n in self.taken_names:
            n += 1
        name = "\\Device\\mdm%d" % n
        index = len(self.slots)
        if not self.prefix.set_value(name, self.com(index)):
            raise Failure("could not add %s = %s to SERIALCOMM" % (name, self.com(index)))
        self.taken_names.add(name)
        self.slots.append([name, None])
        return index

    def update(self, nodes, report=True):
        """Follows the ttys now present; returns the changes made."""
        changes = []
        with self.lock:
            present = set(nodes)
            for index, slot in enumerate(self.slots):
                if slot[1] is not None and slot[1] not in present:
                    changes.append("%s: %s is gone" % (self.com(index), slot[1]))
                    slot[1] = None
                    self._link(index, None)
            mapped = {slot[1] for slot in self.slots}
            for node in nodes:
                if node in mapped:
                    continue
                free = [i for i, slot in enumerate(self.slots) if slot[1] is None]
                index = free[0] if free else self._new_slot()
                self.slots[index][1] = node
                changes.append("%s -> %s" % (self.com(index), node))
            # Put back a link anything else removed or changed.
            for index, slot in enumerate(self.slots):
                self._link(index, slot[1])
        if report:
            for change in changes:
                say(change)
        return changes

    def follow(self, present, appeared):
        """Keeps the mapped ttys that are still present, and takes on those
        that appeared since the last look: into a COM port whose tty is
        gone (the module coming back, perhaps under the next number), or,
        when none is, only a tty the kernel shows to be a modem's."""
        with self.lock:
            kept = [slot[1] for slot in self.slots if slot[1] in present]
            free = sum(1 for slot in self.slots if slot[1] not in present)
        taken = []
        for node in appeared:
            if free > 0:
                free -= 1
                taken.append(node)
            elif modem_by_sysfs(node):
                taken.append(node)
            else:
                say("%s appeared; not the module's (%s), not used" % (node, not_a_modem(node)))
        return self.update(kept + taken)

    def port_of(self, node):
        with self.lock:
            for index, slot in enumerate(self.slots):
                if slot[1] == node or (slot[1] and os.path.realpath(slot[1]) == os.path.realpath(node)):
                    return self.com(index)
        return node

    def remove(self):
        with self.lock:
            for index, slot in enumerate(self.slots):
                self._link(index, None)
                if not self.prefix.server_ours:
                    self.prefix.delete_value(slot[0])
            self.slots = []


class Watcher(threading.Thread):
    """Follows /dev while Quillon runs: the module's restarts take its
    ttys away and bring them back, possibly under other numbers, and Wine's
    mount manager only looks at /dev when the prefix's server starts.
    look: the ttys present now."""

    def __init__(self, ports, seen, look=candidate_ports):
        super().__init__(daemon=True)
        self.ports = ports
        self.seen = set(seen)  # every tty present at the last look
        self.look = look
        self.stopping = threading.Event()
        self.error = None

    def step(self):
        present = self.look()
        appeared = [node for node in present if node not in self.seen]
        self.seen = set(present)
        return self.ports.follow(self.seen, appeared)

    def run(self):
        while not self.stopping.wait(WATCH_INTERVAL_S):
            try:
                self.step()
            except Exception as error:  # reported once the run ends
                self.error = error
                return

    def stop(self):
        self.stopping.set()
        if self.is_alive():
            self.join(timeout=30)

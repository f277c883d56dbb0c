"""The module's record: one JSON object per line, flushed as it happens, so a
test can read what the module saw while the module still runs."""
import json


class Record:
    def __init__(self, path, clock):
        self._file = open(path, "w", encoding="utf-8") if path else None
        self._clock = clock
        self._start = clock()
        self.events = []        # kept in memory too, for the module's own tests

    def __call__(self, event, **fields):
        entry = {"t": round(self._clock() - self._start, 3), "event": event}
        entry.update(fields)
        self.events.append(entry)
        if self._file:
            self._file.write(json.dumps(entry, sort_keys=False) + "\n")
            self._file.flush()

    def close(self):
        if self._file:
            self._file.close()
            self._file = None


def read(path):
    """Every entry of a record file; a line still being written is skipped."""
    entries = []
    try:
        with open(path, "r", encoding="utf-8") as f:
            for line in f:
                try:
                    entries.append(json.loads(line))
                except ValueError:
                    pass
    except FileNotFoundError:
        pass
    return entries

"""The maker header that opens every package image, and the module's check of it.

Layout, big-endian, 64 bytes at the start of the image:
  0-7    magic "QLNPKG\\x00\\x01"
  8-11   header version, 1
  12-15  total image length in bytes, header included
  16-31  firmware version the image installs, NUL-padded ASCII;
         "OPTIONAL" marks the optional image, which installs nothing
  32-63  SHA-256 of the body (every byte after the header)
"""
import hashlib
import struct

MAGIC = b"QLNPKG\x00\x01"
HEADER_VERSION = 1
HEADER_SIZE = 64
OPTIONAL_VERSION = "OPTIONAL"

_LAYOUT = struct.Struct(">8sII16s32s")


def build(version, length):
    """A package image of `length` bytes that installs `version`, with a
    deterministic body; for tests that need package files."""
    if length < HEADER_SIZE:
        raise ValueError("a package holds at least its %d-byte header" % HEADER_SIZE)
    seed = hashlib.sha256(version.encode("ascii")).digest()
    body_length = length - HEADER_SIZE
    body = (seed * (body_length // len(seed) + 1))[:body_length]
    head = _LAYOUT.pack(MAGIC, HEADER_VERSION, length, version.encode("ascii"),
                        hashlib.sha256(body).digest())
    return head + body


class Receiver:
    """Collects one package as its chunks arrive, hashing on the way, so that
    a 10 MB image is checked without being kept."""

    def __init__(self):
        self.head = b""
        self.received = 0
        self.whole = hashlib.sha256()
        self.body = hashlib.sha256()

    def add(self, data):
        self.received += len(data)
        self.whole.update(data)
        if len(self.head) < HEADER_SIZE:
            take = HEADER_SIZE - len(self.head)
            self.head += data[:take]
            data = data[take:]
        self.body.update(data)

    def has_magic(self):
        return self.head[:len(MAGIC)] == MAGIC

    def declared_length(self):
        """The image length the maker header announces, or None without one."""
        if len(self.head) < HEADER_SIZE or not self.has_magic():
            return None
        return _LAYOUT.unpack(self.head)[2]

    def verdict(self):
        """(verdict, kind, version): what the module makes of the bytes so far.

        verdict is "intact", "no_header", "damaged", "truncated" or "overlong";
        kind is "full", "optional" or "unknown".
        """
        if len(self.head) < HEADER_SIZE or not self.has_magic():
            return "no_header", "unknown", None
        _, header_version, length, raw_version, digest = _LAYOUT.unpack(self.head)
        version = _version_text(raw_version)
        if header_version != HEADER_VERSION or version is None:
            return "damaged", "unknown", version
        kind = "optional" if version == OPTIONAL_VERSION else "full"
        if self.received < length:
            return "truncated", kind, version
        if self.received > length:
            return "overlong", kind, version
        if self.body.digest() != digest:
            return "damaged", kind, version
        return "intact", kind, version

    def sha256(self):
        return self.whole.hexdigest()


def _version_text(raw):
    """The NUL-padded version field as text, or None when it is not one."""
    text = raw.rstrip(b"\x00")
    if not text or b"\x00" in text or any(b < 0x21 or b > 0x7E for b in text):
        return None
    return text.decode("ascii")

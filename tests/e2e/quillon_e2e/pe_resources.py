"""Reads what the loader reads out of a built Windows executable: the PE
headers and their image flags, the DLLs it imports, and the resources
(the resource directory, then type, name, language)."""
import struct

RT_MANIFEST = 24
IMPORT_DIRECTORY, RESOURCE_DIRECTORY, DELAY_IMPORT_DIRECTORY = 1, 2, 13
# DllCharacteristics bits of the optional header.
IMAGE_FLAGS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}


def _optional_header(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    return pe, pe + 24


def _directory(data, index):
    _, optional = _optional_header(data)
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    return struct.unpack_from("<II", data, directories + index * 8)


def _sections(data, directory=RESOURCE_DIRECTORY):
    pe, optional = _optional_header(data)
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    resource_rva, resource_size = _directory(data, directory)
    sections = []
    table = optional + optional_size
    for i in range(count):
        _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))
    return resource_rva, resource_size, sections


def _file_offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError("address %#x is in no section" % rva)


def _entries(data, base, offset):
    """(id or name offset, is-directory, target offset) of one directory."""
    named, numbered = struct.unpack_from("<HH", data, base + offset + 12)
    found = []
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
        found.append((name, bool(target & 0x80000000), target & 0x7FFFFFFF))
    return found


def resources(path, resource_type):
    """Every resource of that numeric type, as (name id, bytes) pairs."""
    with open(path, "rb") as f:
        data = f.read()
    rva, size, sections = _sections(data)
    if size == 0:
        return []
    base = _file_offset(sections, rva)
    found = []
    for type_id, is_dir, names in _entries(data, base, 0):
        if type_id != resource_type or not is_dir:
            continue
        for name_id, name_is_dir, languages in _entries(data, base, names):
            if not name_is_dir:
                continue
            for _, lang_is_dir, leaf in _entries(data, base, languages):
                if lang_is_dir:
                    continue
                data_rva, data_size = struct.unpack_from("<II", data, base + leaf)
                start = _file_offset(sections, data_rva)
                found.append((name_id, data[start:start + data_size]))
    return found


def image_flags(path):
    """The names of the IMAGE_FLAGS the image sets."""
    with open(path, "rb") as f:
        data = f.read()
    _, optional = _optional_header(data)
    characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    return {name for name, bit in IMAGE_FLAGS.items() if characteristics & bit}


def _names(data, sections, rva, size, stride, name_at):
    found = []
    if size == 0:
        return found
    at = _file_offset(sections, rva)
    while True:
        entry = data[at:at + stride]
        if entry == b"\0" * stride:
            return found
        name = _file_offset(sections, struct.unpack_from("<I", entry, name_at)[0])
        found.append(data[name:data.index(b"\0", name)].decode("ascii"))
        at += stride


def imported_dlls(path):
    """The DLLs the loader loads for the image before it runs, and those it
    loads on first call (delay imports), as two lists of names."""
    with open(path, "rb") as f:
        data = f.read()
    imports = _sections(data, IMPORT_DIRECTORY)
    delayed = _sections(data, DELAY_IMPORT_DIRECTORY)
    # An import descriptor is 20 bytes with the name at 12; a delay one 32, at 4.
    return (_names(data, imports[2], imports[0], imports[1], 20, 12),
            _names(data, delayed[2], delayed[0], delayed[1], 32, 4))

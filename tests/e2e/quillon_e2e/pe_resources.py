"""Reads resources out of a built Windows executable, as the loader finds
them: the PE headers, the resource directory, then type, name, language."""
import struct

RT_MANIFEST = 24


def _sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
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

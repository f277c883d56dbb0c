"""Byte forms the module speaks: AT reply text and the 24-byte message header."""
import struct

HEADER_SIZE = 24
MAX_PAYLOAD = 8192

MAGIC = b"ZMRK"
COMMAND_CODE = 0x2A
MAGIC_PROTOCOL = 0x20           # the protocol version that selects the magic form
COMMAND_FORM_VERSION = 0x10     # "Version" field of a command-code request
REQUEST = 1                     # "Req resp" of every request
ANY_SEQUENCE = 0xFFFFFFFF       # "seqNr" of every request

# The start of a message tells a header from a text line: a header opens with
# the magic or with the big-endian command code, an AT line with letters.
MAGIC_START = MAGIC
COMMAND_START = struct.pack(">I", COMMAND_CODE)

_FIELDS = struct.Struct(">4sIIIII")


def decode_header(raw):
    """The six fields of a 24-byte header as a dict, in wire order."""
    code, version, req_resp, result, seq, payload = _FIELDS.unpack(bytes(raw[:HEADER_SIZE]))
    form = "magic" if code == MAGIC else ("command" if code == COMMAND_START else "unknown")
    return {
        "form": form,
        "command_code": code.hex(),
        "version": version,
        "req_resp": req_resp,
        "result_code": result,
        "seq_nr": seq,
        "payload": payload,
    }


def header_problems(header, protocol_version):
    """Why a request header is not one this module accepts; empty when it is."""
    problems = []
    expected_form = "magic" if protocol_version == MAGIC_PROTOCOL else "command"
    if header["form"] != expected_form:
        problems.append("form %s, module speaks %s" % (header["form"], expected_form))
    wanted_version = MAGIC_PROTOCOL if header["form"] == "magic" else COMMAND_FORM_VERSION
    if header["version"] != wanted_version:
        problems.append("version 0x%x" % header["version"])
    if header["req_resp"] != REQUEST:
        problems.append("req_resp %d" % header["req_resp"])
    if header["result_code"] != 0:
        problems.append("result_code %d" % header["result_code"])
    if header["seq_nr"] != ANY_SEQUENCE:
        problems.append("seq_nr 0x%x" % header["seq_nr"])
    if not 1 <= header["payload"] <= MAX_PAYLOAD:
        problems.append("payload %d" % header["payload"])
    return problems


def reply_header(request, result_code):
    """The module's answer to a request: the request itself with its result set.

    The updater reads the reply into its request buffer, so answering with
    the request keeps every field it might dump meaningful.
    """
    raw = bytearray(request[:HEADER_SIZE])
    struct.pack_into(">I", raw, 12, result_code & 0xFFFFFFFF)
    return bytes(raw)


def at_reply(lines, final):
    """A verbose-mode reply: each information line and the final result
    framed by CR LF, as a modem sends them after the echo."""
    out = b""
    if lines:
        out += b"\r\n" + b"".join(line.encode("latin-1") + b"\r\n" for line in lines)
    if final is not None:
        out += b"\r\n" + final.encode("latin-1") + b"\r\n"
    return out


def qesfud_line(protocol_version):
    return "*QESFUD: {state 0, version 0x%08x}" % protocol_version

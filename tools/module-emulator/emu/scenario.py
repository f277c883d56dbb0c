"""Scenario files: who the module is and how it misbehaves, as JSON.

Every key is optional; a file names only what differs from the default
module, a /101 board at revision R1J running R1D05. Unknown keys are
refused so that a misspelt fault cannot pass silently as the default.
"""
import copy
import json

FIELDS = ("model", "product_number", "revision", "imei", "software_version", "build_date")
LABELS = {
    "model": "Model",
    "product_number": "Product Number",
    "revision": "Revision",
    "imei": "IMEI Data",
    "software_version": "Software Version",
    "build_date": "Build Date",
}
# "NO SIM": no card in the slot; the module answers the PIN query with ERROR.
PIN_STATES = ("READY", "SIM PIN", "SIM PUK", "NO SIM")
FAULT_ACTIONS = ("reject", "error_text", "silent", "drop", "garbage", "cut", "damage", "hold")
OVERRIDE_KEYS = ("lines", "final", "times", "garbage", "long_line", "drop")

# Build date a module reports after it installed another firmware version.
NEW_BUILD_DATE = "Jan 12 2010 10:41:37"

DEFAULTS = {
    "description": "",
    # Identity before any update; a field set to null prints no line.
    "identity": {
        "cgmm": "Norvane M7120x Mobile Broadband Module",
        "model": "Norvane M7120x",
        "product_number": "QHW 552 08/101",
        "revision": "R1J",
        "imei": "354712030154886",
        "software_version": "R1D05",
        "build_date": "Sep 21 2009 16:04:12",
    },
    # Fields that replace the derived identity once an installed package
    # takes effect (the version always comes from the package).
    "after": {},
    "keep_build_date": False,
    # Which identity lines each version command prints, in order.
    "version_commands": {
        "AT*QVERS": list(FIELDS),
        "AT*QVER2": list(FIELDS),
        "AT*QVER": ["model", "software_version", "build_date"],
    },
    # Per-command replacement of the normal answer, keyed by the command
    # text (case-insensitive): "OK", "ERROR", "silent", or an object
    # {"lines": [...], "final": "OK"|"ERROR"|null, "times": n,
    #  "garbage": bytes of noise, "long_line": characters of one more line,
    #  "drop": true to fall off the bus instead of finishing the reply}.
    "commands": {},
    "unknown_reply": "ERROR",
    # Seconds every command's answer takes: a module slow to answer. Its
    # replies still come in order, each this long after its command.
    "reply_delay": 0,
    "pin": {
        "state": "READY",
        "pin": "1234",
        "puk": "12345678",
        "tries": 3,
        # The SIM asks again after each restart, as a powered-down SIM does.
        "relock_on_restart": True,
        # The update-state query fails while the SIM waits for a code.
        "blocks_update_query": True,
    },
    "protocol_version": 0x20,
    # Seconds between unsolicited "RING" lines in AT mode; null for none.
    "ring": None,
    "start_mode": "at",
    # "damaged": the firmware does not start, so the module is in its
    # loader (update mode) at start and after every restart.
    "firmware": "intact",
    "silent": False,
    "update": {
        # [{"package": 1, "chunk": k | "final", "action": ..., "result": r}]
        "faults": [],
        "bad_image_result": 4,
        "bad_header_result": 2,
        "length_without_header": None,
        "idle_timeout": 5.0,
    },
    "restart": {
        # Seconds off the bus: a number, "never", or a list (one per restart,
        # the last one repeating).
        "delay": 3.0,
        "drop_delay": 0.3,
        # Whether it still answers between its OK and leaving the bus, as a
        # module slow to restart does (in its loader: "vers=1" and the like).
        "answers_until_drop": False,
    },
}


class ScenarioError(ValueError):
    pass


def load(path):
    if path is None:
        return from_dict({})
    try:
        with open(path, "r", encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError) as e:
        raise ScenarioError("%s: %s" % (path, e))
    return from_dict(data)


def from_dict(data):
    if not isinstance(data, dict):
        raise ScenarioError("a scenario is a JSON object")
    merged = _merge(copy.deepcopy(DEFAULTS), data, "")
    _check(merged)
    return merged


def _merge(base, extra, where):
    for key, value in extra.items():
        path = where + key
        if key not in base:
            raise ScenarioError("unknown key %s" % path)
        if isinstance(base[key], dict) and key not in ("commands", "after", "version_commands"):
            if not isinstance(value, dict):
                raise ScenarioError("%s must be an object" % path)
            _merge(base[key], value, path + ".")
        elif key == "version_commands":
            if not isinstance(value, dict):
                raise ScenarioError("%s must be an object" % path)
            base[key].update({k.upper(): v for k, v in value.items()})
        else:
            base[key] = value
    return base


def _check(s):
    for key in ("cgmm",) + FIELDS:
        value = s["identity"][key]
        if value is not None and not isinstance(value, str):
            raise ScenarioError("identity.%s must be text or null" % key)
    for key, value in s["after"].items():
        if key not in ("cgmm",) + FIELDS:
            raise ScenarioError("unknown key after.%s" % key)
        if value is not None and not isinstance(value, str):
            raise ScenarioError("after.%s must be text or null" % key)
    for command, fields in s["version_commands"].items():
        if not isinstance(fields, list) or any(f not in FIELDS for f in fields):
            raise ScenarioError("version_commands.%s must list fields of %s" % (command, ", ".join(FIELDS)))
    s["commands"] = {k.upper(): _override(k, v) for k, v in s["commands"].items()}
    if s["unknown_reply"] not in ("OK", "ERROR"):
        raise ScenarioError("unknown_reply must be OK or ERROR")
    pin = s["pin"]
    if pin["state"] not in PIN_STATES:
        raise ScenarioError("pin.state must be one of %s" % ", ".join(PIN_STATES))
    if not isinstance(pin["pin"], str) or not isinstance(pin["puk"], str):
        raise ScenarioError("pin.pin and pin.puk must be text")
    if not isinstance(pin["tries"], int) or pin["tries"] < 1:
        raise ScenarioError("pin.tries must be a positive integer")
    if not isinstance(s["protocol_version"], int) or not 0 <= s["protocol_version"] <= 0xFFFFFFFF:
        raise ScenarioError("protocol_version must be a 32-bit number")
    if s["ring"] is not None:
        _check_seconds(s["ring"], "ring", allow_null=True)
        if s["ring"] <= 0:
            raise ScenarioError("ring must be seconds (> 0) or null")
    if s["start_mode"] not in ("at", "update"):
        raise ScenarioError("start_mode must be at or update")
    if s["firmware"] not in ("intact", "damaged"):
        raise ScenarioError("firmware must be intact or damaged")
    if s["firmware"] == "damaged" and s["start_mode"] != "update":
        raise ScenarioError("a module whose firmware is damaged starts in update mode: set start_mode")
    update = s["update"]
    for i, fault in enumerate(update["faults"]):
        _check_fault(fault, "update.faults[%d]" % i)
    for key in ("bad_image_result", "bad_header_result"):
        if not isinstance(update[key], int) or not 0 <= update[key] <= 0xFFFFFFFF:
            raise ScenarioError("update.%s must be a 32-bit number" % key)
    n = update["length_without_header"]
    if n is not None and (not isinstance(n, int) or n < 1):
        raise ScenarioError("update.length_without_header must be a positive integer or null")
    _check_seconds(update["idle_timeout"], "update.idle_timeout", allow_null=True)
    delays = s["restart"]["delay"]
    for d in (delays if isinstance(delays, list) and delays else [delays]):
        if d != "never":
            _check_seconds(d, "restart.delay", allow_null=False)
    _check_seconds(s["restart"]["drop_delay"], "restart.drop_delay", allow_null=False)
    _check_seconds(s["reply_delay"], "reply_delay", allow_null=False)
    if not isinstance(s["restart"]["answers_until_drop"], bool):
        raise ScenarioError("restart.answers_until_drop must be true or false")


def _plain(lines, final):
    return {"lines": lines, "final": final, "times": None, "garbage": 0, "long_line": 0, "drop": False}


def _override(command, value):
    if value == "OK" or value == "ERROR":
        return _plain([], value)
    if value == "silent":
        return _plain([], None)
    if not isinstance(value, dict) or set(value) - set(OVERRIDE_KEYS):
        raise ScenarioError("commands.%s must be OK, ERROR, silent or {%s}" % (command, ", ".join(OVERRIDE_KEYS)))
    # Noise and a dropped line end the reply without its final line unless
    # one is asked for.
    cut = bool(value.get("garbage") or value.get("drop"))
    out = {"lines": value.get("lines", []), "final": value.get("final", None if cut else "OK"),
           "times": value.get("times"), "garbage": value.get("garbage", 0),
           "long_line": value.get("long_line", 0), "drop": value.get("drop", False)}
    if not isinstance(out["lines"], list) or not all(isinstance(l, str) for l in out["lines"]):
        raise ScenarioError("commands.%s.lines must be a list of texts" % command)
    if out["final"] not in ("OK", "ERROR", None):
        raise ScenarioError("commands.%s.final must be OK, ERROR or null" % command)
    if out["times"] is not None and (not isinstance(out["times"], int) or out["times"] < 1):
        raise ScenarioError("commands.%s.times must be a positive integer" % command)
    for key in ("garbage", "long_line"):
        if isinstance(out[key], bool) or not isinstance(out[key], int) or out[key] < 0:
            raise ScenarioError("commands.%s.%s must be a byte count (>= 0)" % (command, key))
    if not isinstance(out["drop"], bool):
        raise ScenarioError("commands.%s.drop must be true or false" % command)
    return out


def healed(s):
    """The same module once its faults are gone: commands answered as they
    should be, no fault in any transfer, no silence or noise, a SIM that is
    ready, restarts that come back, build dates that change. Who the module
    is (identity, version commands, protocol version) stays, and so does
    damaged firmware: that is its state, not a fault."""
    out = copy.deepcopy(s)
    out["commands"] = {}
    out["update"]["faults"] = []
    out["silent"] = False
    out["ring"] = None
    out["keep_build_date"] = False
    out["after"] = {}
    out["reply_delay"] = 0
    out["pin"]["state"] = "READY"
    # Restarts come back, and no slower than the default; a scenario's
    # quick comeback stays quick.
    delays = out["restart"]["delay"]
    default = DEFAULTS["restart"]["delay"]
    quick = isinstance(delays, (int, float)) and not isinstance(delays, bool) and delays < default
    out["restart"]["delay"] = delays if quick else default
    return out


def _check_fault(fault, where):
    if not isinstance(fault, dict) or set(fault) - {"package", "chunk", "action", "result"}:
        raise ScenarioError("%s must be {package, chunk, action, result}" % where)
    fault.setdefault("package", 1)
    fault.setdefault("result", 2)
    if not isinstance(fault["package"], int) or fault["package"] < 1:
        raise ScenarioError("%s.package must count from 1" % where)
    chunk = fault.get("chunk")
    if chunk != "final" and (not isinstance(chunk, int) or chunk < 1):
        raise ScenarioError("%s.chunk must count from 1, or be \"final\"" % where)
    if fault.get("action") not in FAULT_ACTIONS:
        raise ScenarioError("%s.action must be one of %s" % (where, ", ".join(FAULT_ACTIONS)))
    if not isinstance(fault["result"], int) or not 0 <= fault["result"] <= 0xFFFFFFFF:
        raise ScenarioError("%s.result must be a 32-bit number" % where)


def _check_seconds(value, where, allow_null):
    if value is None and allow_null:
        return
    if isinstance(value, bool) or not isinstance(value, (int, float)) or value < 0:
        raise ScenarioError("%s must be seconds (>= 0)%s" % (where, " or null" if allow_null else ""))


def restart_delay(s, restart_index):
    """Seconds off the bus for the given restart (0-based), or None for never."""
    delays = s["restart"]["delay"]
    if isinstance(delays, list):
        delays = delays[min(restart_index, len(delays) - 1)] if delays else 3.0
    return None if delays == "never" else float(delays)

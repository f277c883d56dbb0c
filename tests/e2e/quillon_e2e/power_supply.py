"""A laptop's power supplies for one program under Wine.

Wine's GetSystemPowerStatus reads /sys/class/power_supply. A mount
namespace binds a folder of the test's over it for the program alone, so
the machine and every other process keep their own readings. That needs
root (for unshare and mount); tests skip without it.
"""
import os
import subprocess

SYSFS = "/sys/class/power_supply"
# The full charge in µAh; the charge now is the share of it that the
# percentage names. Wine turns both into energy with the voltage, and
# without a voltage it knows no percentage at all.
FULL = 5000000
VOLTAGE = 11100000  # µV


def _write(path, text):
    with open(path, "w") as f:
        f.write(text + "\n")


class FakePowerSupply:
    """An AC adapter and one battery, as a folder of sysfs files."""

    def __init__(self, root, online, percent):
        self.path = os.path.join(root, "power_supply")
        ac = os.path.join(self.path, "AC")
        battery = os.path.join(self.path, "BAT0")
        os.makedirs(ac, exist_ok=True)
        os.makedirs(battery, exist_ok=True)
        _write(os.path.join(ac, "type"), "Mains")
        _write(os.path.join(battery, "type"), "Battery")
        _write(os.path.join(battery, "present"), "1")
        _write(os.path.join(battery, "charge_full"), str(FULL))
        _write(os.path.join(battery, "charge_now"), str(FULL * percent // 100))
        _write(os.path.join(battery, "capacity"), str(percent))
        _write(os.path.join(battery, "voltage_now"), str(VOLTAGE))
        self.set_online(online)

    def set_online(self, online):
        """Plugs the adapter in (1) or out (0); a running program sees it at
        its next reading."""
        _write(os.path.join(self.path, "AC", "online"), "1" if online else "0")
        _write(os.path.join(self.path, "BAT0", "status"), "Charging" if online else "Discharging")

    def wrap(self, command):
        """The command, run with these supplies in place of the machine's."""
        return ["unshare", "-m", "sh", "-c", 'mount --bind "$0" ' + SYSFS + ' && exec "$@"', self.path] + command


def unavailable():
    """Why a fake supply cannot be mounted here, or None when it can."""
    if os.geteuid() != 0:
        return "needs root for a mount namespace"
    if not os.path.isdir(SYSFS):
        return SYSFS + " does not exist"
    try:
        probe = subprocess.run(["unshare", "-m", "sh", "-c", "mount --bind /tmp " + SYSFS],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=30)
    except (OSError, subprocess.TimeoutExpired) as e:
        return "unshare failed: %s" % e
    return None if probe.returncode == 0 else "unshare -m or mount --bind is refused here"

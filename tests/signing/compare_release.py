"""The release comparison, as the README gives it to a fleet: the signed
executable with its signature taken off is byte for byte the unsigned
build (tools/compare-release.sh says so, with two equal SHA-256 sums),
and a signed copy with one byte of its code changed is told apart.

    compare_release.py OSSLSIGNCODE COMPARE_SCRIPT SIGNED UNSIGNED
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile


def compare(script, osslsigncode, signed, local):
    run = subprocess.run(["sh", script, signed, local], env=dict(os.environ, OSSLSIGNCODE=osslsigncode),
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    sums = re.findall(r"^([0-9a-f]{64})  ", run.stdout, re.M)
    return run.returncode, sums, run.stdout


def main():
    osslsigncode, script, signed, unsigned = sys.argv[1:5]
    failures = []

    code, sums, output = compare(script, osslsigncode, signed, unsigned)
    if code != 0 or len(sums) != 2 or sums[0] != sums[1]:
        failures.append("the signed build without its signature is not the unsigned build:\n" + output)
    else:
        print(output.rstrip())

    with tempfile.TemporaryDirectory() as scratch:
        tampered = os.path.join(scratch, "tampered.exe")
        shutil.copyfile(signed, tampered)
        with open(tampered, "r+b") as exe:
            exe.seek(0x1000)
            byte = exe.read(1)
            exe.seek(0x1000)
            exe.write(bytes([byte[0] ^ 0xFF]))
        code, sums, output = compare(script, osslsigncode, tampered, unsigned)
        if code != 1 or len(sums) != 2 or sums[0] == sums[1]:
            failures.append("a signed copy with a changed byte compares equal:\n" + output)

    for failure in failures:
        print("FAIL:", failure)
    print("release comparison checks: %d of 2 held" % (2 - len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

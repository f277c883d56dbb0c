"""The signature test: the signed executable verifies against its
certificate, while the unsigned one and a signed copy with one byte of its
code changed do not.

    verify_signature.py OSSLSIGNCODE SIGNED UNSIGNED CAFILE
"""
import os
import shutil
import subprocess
import sys
import tempfile


def verify(osslsigncode, exe, cafile):
    run = subprocess.run([osslsigncode, 'verify', '-CAfile', cafile, '-in', exe],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return run.returncode, run.stdout


def main():
    osslsigncode, signed, unsigned, cafile = sys.argv[1:5]
    failures = []

    code, output = verify(osslsigncode, signed, cafile)
    if code != 0 or 'Signature verification: ok' not in output:
        failures.append(f'{signed} does not verify:\n{output}')
    else:
        signer = [line.strip() for line in output.splitlines() if 'Subject:' in line][:1]
        print(f'{signed}: signature verified ({", ".join(signer)})')

    code, output = verify(osslsigncode, unsigned, cafile)
    if code == 0:
        failures.append(f'{unsigned} verifies although it was never signed')

    # One byte well inside the code: the digest must no longer match.
    with tempfile.TemporaryDirectory() as scratch:
        tampered = os.path.join(scratch, 'tampered.exe')
        shutil.copyfile(signed, tampered)
        with open(tampered, 'r+b') as exe:
            exe.seek(0x1000)
            byte = exe.read(1)
            exe.seek(0x1000)
            exe.write(bytes([byte[0] ^ 0xFF]))
        code, output = verify(osslsigncode, tampered, cafile)
        if code == 0:
            failures.append(f'a copy of {signed} with a changed byte still verifies:\n{output}')

    for failure in failures:
        print('FAIL:', failure)
    print(f'signature checks: {3 - len(failures)} of 3 held')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

"""What tools/install-deps.sh brings for each make command, and what it says
when it cannot install: checked on its package lists and on a run without
root, sudo or installed packages, with apt-get replaced by a recorder."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'install-deps.sh')

WINE_AND_TESTS = {'wine', 'wine64', 'fonts-wine', 'xvfb', 'imagemagick', 'googletest', 'libgtest-dev', 'clang', 'g++'}


def packages(purpose):
    run = subprocess.run(['bash', SCRIPT, purpose, '--list'], stdout=subprocess.PIPE, text=True, check=True)
    return run.stdout.split()


def clang_major():
    run = subprocess.run(['clang', '--version'], stdout=subprocess.PIPE, text=True)
    found = re.search(r'clang version (\d+)', run.stdout)
    return found.group(1) if found else None


class PackageLists(unittest.TestCase):
    def test_make_gets_the_build_tools_only(self):
        build = set(packages('build'))
        self.assertEqual(build & WINE_AND_TESTS, set())
        for needed in ('cmake', 'g++-mingw-w64-x86-64-posix', 'osslsigncode', 'openssl', 'python3'):
            self.assertIn(needed, build)

    def test_demo_and_test_add_wine_with_its_fonts(self):
        for purpose in ('demo', 'test'):
            with self.subTest(purpose):
                listed = set(packages(purpose))
                self.assertLessEqual(set(packages('build')), listed)
                self.assertLessEqual({'wine', 'wine64', 'fonts-wine', 'xvfb'}, listed)

    def test_no_list_pins_a_release_and_the_runtime_follows_clang(self):
        listed = packages('test')
        *fixed, runtime = listed
        # A versioned library or compiler, as libclang-rt-14-dev or clang-14.
        for name in fixed:
            self.assertIsNone(re.search(r'-\d+-dev$|^(clang|llvm|gcc|g\+\+)-\d+$', name), name)
        major = clang_major()
        if major is None:
            self.skipTest('no clang installed to compare with')
        self.assertEqual(runtime, f'libclang-rt-{major}-dev')


def write_tool(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, 'w') as tool:
        tool.write(text)
    os.chmod(path, 0o755)


class WithoutRoot(unittest.TestCase):
    """A user who is not root, on a machine without sudo and with nothing
    installed: the script must say what to install, and touch nothing."""

    def setUp(self):
        self.setpriv = shutil.which('setpriv')
        if os.geteuid() == 0 and self.setpriv is None:
            self.skipTest('cannot drop root here')
        self.root = tempfile.mkdtemp()
        os.chmod(self.root, 0o755)
        self.bin = os.path.join(self.root, 'bin')
        os.mkdir(self.bin)
        os.chmod(self.bin, 0o755)
        # Only what the script needs, and no sudo among it.
        for tool in ('bash', 'id', 'sed', 'head', 'cat', 'printf'):
            found = shutil.which(tool)
            if found:
                os.symlink(found, os.path.join(self.bin, tool))
        self.record = os.path.join(self.root, 'apt-get-called')
        write_tool(self.bin, 'dpkg-query', '#!/bin/sh\nexit 1\n')
        write_tool(self.bin, 'apt-get', f'#!/bin/sh\ntouch {self.record}\nexit 0\n')
        shutil.copy(SCRIPT, os.path.join(self.root, 'install-deps.sh'))
        os.chmod(os.path.join(self.root, 'install-deps.sh'), 0o755)

    def tearDown(self):
        shutil.rmtree(self.root)

    def run_script(self, purpose):
        command = ['bash', os.path.join(self.root, 'install-deps.sh'), purpose]
        if os.geteuid() == 0:
            command = [self.setpriv, '--reuid=65534', '--regid=65534', '--clear-groups'] + command
        return subprocess.run(command, env={'PATH': self.bin}, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, cwd=self.root, timeout=60)

    def test_says_what_to_install_and_installs_nothing(self):
        for purpose in ('build', 'demo'):
            with self.subTest(purpose):
                run = self.run_script(purpose)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn('neither root nor sudo', run.stderr)
                wanted = ' '.join(packages(purpose))
                self.assertIn(f'apt-get install --no-install-recommends {wanted}', run.stderr)
                self.assertFalse(os.path.exists(self.record), 'apt-get was run')


if __name__ == '__main__':
    unittest.main()

#!/usr/bin/env python3
"""The package's scripts, tried away from a Mac: the postinstall's choice of
user, its log and its exit status, and the login agent's marker. Stand-ins
replace the console lookup and the installer; every path is a variable."""

import os
import stat
import subprocess
import tempfile
import unittest

PACKAGING = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'packaging', 'macos')


def write_script(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write('#!/bin/sh\n' + text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


class Scripts(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix='zeph-packaging-')
        self.root = self.dir.name
        self.app = os.path.join(self.root, 'Applications', 'Zeph Installer.app')
        self.calls = os.path.join(self.root, 'installer-calls')
        self.log = os.path.join(self.root, 'zeph-installer.log')
        self.bin = os.path.join(self.root, 'usr-local-bin')
        self.installer_status = 0
        self.console_user = 'zoe'

    def tearDown(self):
        self.dir.cleanup()

    def stand_ins(self):
        write_script(os.path.join(self.app, 'Contents', 'MacOS', 'zeph-installer'),
                     'printf "%%s\\n" "$*" >> "%s"\necho "installed somewhere; 3 screensaver slots set to zeph"\n'
                     'exit %d\n' % (self.calls, self.installer_status))
        write_script(os.path.join(self.app, 'Contents', 'MacOS', 'zeph-store'), 'exit 0\n')
        write_script(os.path.join(self.root, 'stat'),
                     '[ "$1 $2" = "-f %%Su" ] || exit 2\nprintf "%%s\\n" "%s"\n' % self.console_user)

    def run_script(self, name, env):
        self.stand_ins()
        full = dict(os.environ, ZEPH_APP=self.app, ZEPH_LOG=self.log, ZEPH_BIN_DIR=self.bin,
                    ZEPH_STAT=os.path.join(self.root, 'stat'), ZEPH_CONSOLE='/dev/null', **env)
        return subprocess.run(['/bin/sh', os.path.join(PACKAGING, name)], env=full,
                              capture_output=True, text=True, timeout=30)

    def read(self, path):
        return open(path).read() if os.path.exists(path) else ''

    def test_postinstall_applies_for_the_console_user_and_links_the_commands(self):
        result = self.run_script('postinstall', {})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read(self.calls), '--apply --user zoe\n')
        log = self.read(self.log)
        self.assertIn('applying zeph for zoe', log)
        self.assertIn('3 screensaver slots set to zeph', log)
        self.assertIn('done for zoe', log)
        for command in ('zeph-installer', 'zeph-store'):
            self.assertEqual(os.readlink(os.path.join(self.bin, command)),
                             os.path.join(self.app, 'Contents', 'MacOS', command))

    def test_postinstall_applies_for_nobody_at_the_login_window_or_as_root(self):
        for user in ('loginwindow', 'root', '_mbsetupuser', ''):
            with self.subTest(user=user):
                self.console_user = user
                result = self.run_script('postinstall', {})
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), '')
                self.assertIn('nobody is logged in at the console', self.read(self.log))

    def test_postinstall_succeeds_and_logs_when_the_installer_fails(self):
        self.installer_status = 1
        result = self.run_script('postinstall', {})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('zeph-installer failed for zoe (status 1)', self.read(self.log))

    def test_login_agent_applies_until_a_run_has_left_its_marker(self):
        home = os.path.join(self.root, 'home')
        os.makedirs(home)
        result = self.run_script('login-apply', {'HOME': home})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read(self.calls), '--apply\n')
        marker = os.path.join(home, 'Library', 'Application Support', 'zeph', 'applied')
        os.makedirs(os.path.dirname(marker))
        open(marker, 'w').close()
        self.run_script('login-apply', {'HOME': home})
        self.assertEqual(self.read(self.calls), '--apply\n')  # not run again


if __name__ == '__main__':
    unittest.main()

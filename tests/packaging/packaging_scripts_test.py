#!/usr/bin/env python3
"""The package's scripts, tried away from a Mac: what the postinstall and the
login agent do for a home with and without the applied marker and the saver
bundle, the postinstall's choice of user and volume, the login agent's wait
for the store and its log. Stand-ins replace the console and directory
lookups, the system version, the one-second sleep and the installer; every
path is a variable, so nothing here touches the machine."""

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


def touch(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'w').close()


class Scripts(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix='zeph-packaging-')
        self.root = self.dir.name
        self.app = os.path.join(self.root, 'Applications', 'Zeph Installer.app')
        self.calls = os.path.join(self.root, 'installer-calls')
        self.sleeps = os.path.join(self.root, 'sleeps')
        self.log = os.path.join(self.root, 'zeph-installer.log')
        self.bin = os.path.join(self.root, 'usr-local-bin')
        self.home = os.path.join(self.root, 'Users', 'zoe')
        self.marker = os.path.join(self.home, 'Library', 'Application Support', 'zeph', 'applied')
        self.bundle = os.path.join(self.home, 'Library', 'Screen Savers', 'zeph.saver')
        self.store = os.path.join(self.home, 'Library', 'Application Support', 'com.apple.wallpaper', 'Store',
                                  'Index.plist')
        self.user_log = os.path.join(self.home, 'Library', 'Logs', 'zeph-installer.log')
        os.makedirs(self.home)
        self.installer_status = 0
        self.console_user = 'zoe'
        self.directory_answer = 'NFSHomeDirectory: %s' % self.home
        self.system_version = '14.5'
        self.store_after_sleeps = None  # the sleep that makes the store, if any

    def tearDown(self):
        self.dir.cleanup()

    def stand_ins(self):
        write_script(os.path.join(self.app, 'Contents', 'MacOS', 'zeph-installer'),
                     'printf "%%s\\n" "$*" >> "%s"\necho "warning: something on the way" >&2\n'
                     'echo "result of $1"\nexit %d\n' % (self.calls, self.installer_status))
        write_script(os.path.join(self.app, 'Contents', 'MacOS', 'zeph-store'), 'exit 0\n')
        write_script(os.path.join(self.root, 'stat'),
                     '[ "$1 $2" = "-f %%Su" ] || exit 2\nprintf "%%s\\n" "%s"\n' % self.console_user)
        write_script(os.path.join(self.root, 'dscl'),
                     '[ "$1 $2 $4" = ". -read NFSHomeDirectory" ] || exit 2\n'
                     '[ "$3" = /Users/zoe ] || exit 56\nprintf "%%s\\n" "%s"\n' % self.directory_answer)
        write_script(os.path.join(self.root, 'sw_vers'),
                     '[ "$1" = -productVersion ] || exit 2\necho %s\n' % self.system_version)
        make_store = ''
        if self.store_after_sleeps is not None:
            make_store = ('[ "$(wc -l < "%s")" -ge %d ] && mkdir -p "%s" && : > "%s"\n'
                          % (self.sleeps, self.store_after_sleeps, os.path.dirname(self.store), self.store))
        write_script(os.path.join(self.root, 'sleep'),
                     '[ "$1" = 1 ] || exit 2\necho slept >> "%s"\n%sexit 0\n' % (self.sleeps, make_store))

    def run_script(self, name, env=None, args=()):
        self.stand_ins()
        full = dict(os.environ, ZEPH_APP=self.app, ZEPH_LOG=self.log, ZEPH_BIN_DIR=self.bin,
                    ZEPH_STAT=os.path.join(self.root, 'stat'), ZEPH_DSCL=os.path.join(self.root, 'dscl'),
                    ZEPH_SW_VERS=os.path.join(self.root, 'sw_vers'), ZEPH_SLEEP=os.path.join(self.root, 'sleep'),
                    ZEPH_CONSOLE='/dev/null', HOME=self.home, **(env or {}))
        return subprocess.run(['/bin/sh', os.path.join(PACKAGING, name), *args], env=full,
                              capture_output=True, text=True, timeout=30)

    def postinstall(self, volume='/'):
        return self.run_script('postinstall', args=('/tmp/zeph.pkg', '/', volume, '/'))

    def read(self, path):
        if not os.path.exists(path):
            return ''
        with open(path) as f:
            return f.read()

    def sleep_count(self):
        return len(self.read(self.sleeps).splitlines())

    def reset(self):
        for path in (self.calls, self.log, self.user_log, self.sleeps, self.marker, self.store):
            if os.path.exists(path):
                os.remove(path)
        if os.path.isdir(self.bundle):
            os.rmdir(self.bundle)

    # The same rule at an install and at a login: apply where zeph never was,
    # replace the bundle where it was applied, nothing where it was removed.
    HOMES = [
        ('never applied', False, False, '--apply', 'applying zeph for zoe'),
        ('applied, bundle installed', True, True, '--refresh-bundle', 'replacing the saver bundle only'),
        ('applied, then uninstalled', True, False, None, 'zeph was removed for zoe since it was applied'),
        ('a bundle from elsewhere, never applied', False, True, '--apply', 'applying zeph for zoe'),
    ]

    def make_home(self, marked, bundled):
        self.reset()
        if marked:
            touch(self.marker)
        if bundled:
            os.makedirs(self.bundle)
        touch(self.store)

    def test_postinstall_applies_refreshes_or_leaves_alone_by_marker_and_bundle(self):
        for name, marked, bundled, mode, logged in self.HOMES:
            with self.subTest(name):
                self.make_home(marked, bundled)
                result = self.postinstall()
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), '%s --user zoe\n' % mode if mode else '')
                log = self.read(self.log)
                self.assertIn(logged, log)
                if mode:
                    self.assertIn('result of %s' % mode, log)
                    self.assertIn('done for zoe', log)
                for command in ('zeph-installer', 'zeph-store'):
                    self.assertEqual(os.readlink(os.path.join(self.bin, command)),
                                     os.path.join(self.app, 'Contents', 'MacOS', command))

    def test_login_agent_applies_refreshes_or_leaves_alone_by_marker_and_bundle(self):
        expected_log = {'--apply': 'applying: result of --apply',
                        '--refresh-bundle': 'applied before, refreshing the saver bundle: result of --refresh-bundle',
                        None: 'applied before and removed since: nothing changed'}
        for name, marked, bundled, mode, _ in self.HOMES:
            with self.subTest(name):
                self.make_home(marked, bundled)
                result = self.run_script('login-apply')
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), '%s\n' % mode if mode else '')
                lines = self.read(self.user_log).splitlines()
                self.assertEqual(len(lines), 1)  # one line per run
                self.assertTrue(lines[0].endswith('login-apply: ' + expected_log[mode]), lines[0])
                self.assertEqual(self.sleep_count(), 0)

    def test_postinstall_acts_only_on_the_running_system(self):
        for volume in ('/Volumes/Other Mac', ''):
            with self.subTest(volume=volume):
                self.reset()
                result = self.postinstall(volume)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), '')
                self.assertFalse(os.path.exists(self.bin))
                self.assertIn('not the running system: nothing linked, nothing applied', self.read(self.log))

    def test_postinstall_applies_for_nobody_at_the_login_window_or_as_root(self):
        for user in ('loginwindow', 'root', '_mbsetupuser', ''):
            with self.subTest(user=user):
                self.console_user = user
                result = self.postinstall()
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), '')
                self.assertIn('nobody is logged in at the console', self.read(self.log))

    def test_postinstall_finds_the_home_in_the_directory_service(self):
        touch(self.marker)
        os.makedirs(self.bundle)
        cases = [('a long value on its own line', 'NFSHomeDirectory:\n %s' % self.home, '--refresh-bundle --user zoe\n'),
                 ('no such record', 'No such key: NFSHomeDirectory', ''),
                 ('a relative path', 'NFSHomeDirectory: Users/zoe', '')]
        for name, answer, calls in cases:
            with self.subTest(name):
                self.directory_answer = answer
                for path in (self.calls, self.log):
                    if os.path.exists(path):
                        os.remove(path)
                result = self.postinstall()
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.calls), calls)
                if not calls:
                    self.assertIn("couldn't find the home folder of zoe", self.read(self.log))

    def test_postinstall_succeeds_and_logs_when_the_installer_fails(self):
        self.installer_status = 1
        result = self.postinstall()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('zeph-installer --apply failed for zoe (status 1)', self.read(self.log))

    def test_login_agent_waits_for_the_store_before_applying(self):
        cases = [
            # name, system, store made at sleep N, wait allowed, sleeps, log
            ('the store comes after 3 s', '14.5', 3, None, 3, 'applying: result of --apply'),
            ('the store never comes', '26.0', None, '4', 4,
             'applying with no wallpaper store after 4 s: result of --apply'),
            ('macOS 13 keeps none: no wait', '13.6.1', None, None, 0, 'applying: result of --apply'),
            ('an unreadable version waits', 'unknown', 1, None, 1, 'applying: result of --apply'),
        ]
        for name, version, made_at, wait, sleeps, logged in cases:
            with self.subTest(name):
                self.reset()
                self.system_version = version
                self.store_after_sleeps = made_at
                result = self.run_script('login-apply', {'ZEPH_STORE_WAIT': wait} if wait else {})
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.sleep_count(), sleeps)
                self.assertEqual(self.read(self.calls), '--apply\n')
                self.assertTrue(self.read(self.user_log).rstrip('\n').endswith(logged), self.read(self.user_log))

    def test_login_agent_logs_a_failure_and_keeps_its_log_short(self):
        touch(self.store)
        os.makedirs(os.path.dirname(self.user_log))
        with open(self.user_log, 'w') as f:
            f.writelines('old line %d\n' % i for i in range(250))
        self.installer_status = 1
        result = self.run_script('login-apply')
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = self.read(self.user_log).splitlines()
        self.assertEqual(len(lines), 200)
        self.assertEqual(lines[0], 'old line 51')
        self.assertTrue(lines[-1].endswith('applying: zeph-installer failed (status 1): result of --apply'), lines[-1])


if __name__ == '__main__':
    unittest.main()

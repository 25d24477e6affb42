#!/usr/bin/env python3
"""scripts/mac-run.sh, the real run of the macOS runners, tried on a sandbox
home: with the test build's programs on a made-up store and on a home without
one, and with stand-in programs that answer wrongly, which must fail the run
and be named in its summary.

    mac_run_test.py --bin DIR   (DIR holds the built zeph-installer and zeph-store)

On Linux the built installer's apply runs the real killall, so those runs
happen in a private PID namespace (root only; skipped otherwise). On a Mac a
test build runs stand-ins for killall and defaults."""

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from stand_in import write_script  # noqa: E402 pylint: disable=wrong-import-position

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
SCRIPT = os.path.join(ROOT, 'scripts', 'mac-run.sh')
MAKE_STORE = os.path.join(ROOT, 'scripts', 'make_demo_store.py')
STORE = os.path.join('Library', 'Application Support', 'com.apple.wallpaper', 'Store', 'Index.plist')
BIN = None  # set from the command line


def private_namespace_unavailable():
    if platform.system() == 'Darwin':
        return None
    if os.geteuid() != 0:
        return 'needs root for a private PID namespace (the apply runs killall)'
    unshare = shutil.which('unshare')
    if unshare is None or subprocess.run([unshare, '--pid', '--fork', '--mount-proc', 'true']).returncode != 0:
        return 'unshare cannot make a PID namespace here'
    return None


def failed_steps(log):
    """The names the summary marks FAILED."""
    return [m.group(1) for m in re.finditer(r'^FAILED  (\S+(?: \S+)*)\s{2,}', log, re.MULTILINE)]


class MacRun(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix='zeph-mac-run-')
        self.home = os.path.join(self.dir.name, 'Users', 'Zoë (test) Smith')
        self.out = os.path.join(self.dir.name, 'out')
        os.makedirs(self.home)

    def tearDown(self):
        self.dir.cleanup()

    def run_script(self, bin_dir, in_namespace):
        argv = ['bash', SCRIPT, bin_dir, self.out]
        if in_namespace and platform.system() != 'Darwin':
            argv = ['unshare', '--pid', '--fork', '--mount-proc'] + argv
        env = {k: v for k, v in os.environ.items() if k != 'GITHUB_STEP_SUMMARY'}
        env['HOME'] = self.home
        return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=120)

    def built_run(self):
        reason = private_namespace_unavailable()
        if reason:
            self.skipTest(reason)
        return self.run_script(BIN, True)

    def test_applies_and_undoes_on_a_store_and_keeps_stores_and_backups(self):
        store = os.path.join(self.home, STORE)
        subprocess.run([sys.executable, MAKE_STORE, store, '--second', store.replace('Index', 'Index2')], check=True)
        with open(store, 'rb') as f:
            original = f.read()
        result = self.built_run()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        log = result.stdout
        self.assertEqual(failed_steps(log), [])
        self.assertIn('this account has a wallpaper store', log)
        # Each step shows its command, its exit status and what was expected, in a fold.
        self.assertIn('::group::apply\n$ %s/zeph-installer --apply\n' % BIN, log)
        self.assertIn('--- exit status 0 (expected 0)', log)
        self.assertRegex(log, r'ok      status after apply\s+exit 0 \(expected 0\)')
        self.assertRegex(log, r'ok      every slot zeph\s+zeph on 8 of 8 screensaver slots; '
                              r'Index2\.plist: zeph on 3 of 3 screensaver slots')
        self.assertIn('every step answered as expected (wallpaper store: yes)', log)
        with open(os.path.join(self.out, 'before', 'Store', 'Index.plist'), 'rb') as f:
            self.assertEqual(f.read(), original)
        self.assertTrue(os.path.isfile(os.path.join(self.out, 'after-uninstall', 'Store', 'Index2.plist')))
        backups = os.listdir(os.path.join(self.out, 'after-apply', 'zeph'))
        self.assertTrue(any(name.startswith('wallpaper-store-backup-') for name in backups), backups)
        steps = sorted(os.listdir(os.path.join(self.out, 'steps')))
        self.assertEqual(steps[:2], ['01-show-json.err', '01-show-json.out'])
        self.assertIn('03-apply.out', steps)

    def test_a_home_without_a_store_says_so_and_still_checks_every_step(self):
        result = self.built_run()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        log = result.stdout
        self.assertIn('this account has no wallpaper store', log)
        self.assertEqual(failed_steps(log), [])
        self.assertRegex(log, r'ok      status after apply\s+exit 3 \(expected 3\)')
        self.assertIn('every step answered as expected (wallpaper store: no)', log)

    def test_wrong_answers_fail_the_run_and_are_named(self):
        # Stand-ins: the apply leaves a mark that status reads.
        cases = [
            ('status claims success but counts a slot short',
             dict(after='zeph on 5 of 8 screensaver slots', after_status=0), ['every slot zeph']),
            ('Index2.plist short', dict(after='zeph on 8 of 8 screensaver slots; Index2.plist: zeph on 2 of 3 '
                                              'screensaver slots', after_status=0), ['every slot zeph']),
            ('apply fails', dict(apply_status=1), ['apply', 'status after apply', 'every slot zeph']),
            ('uninstall leaves zeph', dict(uninstall_removes=False), ['status after uninstall']),
            ('apply line names another path', dict(apply_path='/elsewhere/zeph.saver'), ['apply']),
        ]
        for name, change, expected in cases:
            with self.subTest(name):
                shutil.rmtree(self.out, ignore_errors=True)
                os.makedirs(os.path.dirname(os.path.join(self.home, STORE)), exist_ok=True)
                open(os.path.join(self.home, STORE), 'wb').close()
                self.stand_ins(**change)
                result = self.run_script(os.path.join(self.dir.name, 'bin'), False)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertEqual(failed_steps(result.stdout), expected, result.stdout)
                self.assertIn('::error title=%s::' % expected[0], result.stdout)
                self.assertIn('%d step(s) did not answer as expected' % len(expected), result.stdout)

    def stand_ins(self, after='zeph on 8 of 8 screensaver slots', after_status=0, apply_status=0,
                  uninstall_removes=True, apply_path=None):
        bin_dir = os.path.join(self.dir.name, 'bin')
        os.makedirs(bin_dir, exist_ok=True)
        mark = os.path.join(self.dir.name, 'applied')
        if os.path.exists(mark):
            os.remove(mark)
        saver = os.path.join(self.home, 'Library', 'Screen Savers', 'zeph.saver')
        write_script(os.path.join(bin_dir, 'zeph-installer'),
                     'case "$1" in\n'
                     '  --version) echo "zeph-installer 0" ;;\n'
                     '  --apply) [ %d = 0 ] || { echo "error: stand-in" >&2; exit 1; }\n'
                     '    touch "%s"; echo "installed %s; 8 screensaver slots set to zeph" ;;\n'
                     '  --uninstall) %s echo "uninstalled; 8 screensaver slots restored" ;;\n'
                     'esac\n' % (apply_status, mark, apply_path or saver, 'rm -f "%s";' % mark if uninstall_removes else ''))
        write_script(os.path.join(bin_dir, 'zeph-store'),
                     'case "$1" in\n'
                     '  --version) echo "zeph-store 0" ;;\n'
                     '  show) echo "{}" ;;\n'
                     '  status) if [ -e "%s" ]; then echo "%s"; exit %d; fi\n'
                     '    echo "zeph on 0 of 8 screensaver slots; the saver is missing from %s"; exit 3 ;;\n'
                     'esac\n' % (mark, after, after_status, saver))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', required=True)
    args, rest = parser.parse_known_args()
    BIN = os.path.abspath(args.bin)
    unittest.main(argv=[sys.argv[0]] + rest)

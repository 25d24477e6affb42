#!/usr/bin/env python3
"""`cmake --install` of the build tree into a fresh prefix, then the installed
installer run through a symbolic link from elsewhere, as a package manager's
bin/ of links would: it must find the carried saver beside its real file.

The run's store is a property list that is not a dictionary, so it stops with
an error right after the saver is in place and before the wallpaper agent is
restarted: killall never runs, and the test is safe beside every other one.

Arguments (from tests/packaging/CMakeLists.txt): the cmake program, the build
tree, the carried saver bundle, the project version, and the installed paths
relative to the prefix of the installer, zeph-store and the saver; in the
application-bundle layout also those of Info.plist and login-apply and the
expected oldest macOS."""

import argparse
import os
import plistlib
import subprocess
import sys
import tempfile
import unittest

from file_tree import tree

ARGS = None
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
NOT_A_DICTIONARY_LINE = "error: Couldn't read the macOS screensaver settings file.\n"


class InstalledLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix='zeph-installed-')
        cls.root = cls.dir.name
        os.chmod(cls.root, 0o755)
        cls.prefix = os.path.join(cls.root, 'prefix')
        env = {k: v for k, v in os.environ.items() if k != 'DESTDIR'}
        cls.install = subprocess.run([ARGS.cmake, '--install', ARGS.build_dir, '--prefix', cls.prefix],
                                     env=env, capture_output=True, text=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def installed(self, rel):
        return os.path.join(self.prefix, rel)

    def setUp(self):
        self.assertEqual(self.install.returncode, 0, self.install.stdout + self.install.stderr)

    def test_commands_and_saver_are_installed(self):
        for rel in (ARGS.installer, ARGS.store):
            with self.subTest(rel):
                self.assertTrue(os.path.isfile(self.installed(rel)))
                self.assertTrue(os.access(self.installed(rel), os.X_OK))
        self.assertEqual(tree(self.installed(ARGS.saver_dest)), tree(ARGS.saver))
        version = subprocess.run([self.installed(ARGS.store), '--version'], capture_output=True, text=True,
                                 stdin=subprocess.DEVNULL, timeout=30)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertIn(ARGS.version, version.stdout)

    def test_installer_run_through_a_link_installs_the_carried_saver(self):
        # A decoy beside the link: the search must start from the real file.
        links = os.path.join(self.root, 'links')
        decoy = os.path.join(links, 'share', 'zeph', 'zeph.saver', 'Contents')
        os.makedirs(decoy)
        open(os.path.join(decoy, 'decoy'), 'w').close()
        os.makedirs(os.path.join(links, 'bin'))
        link = os.path.join(links, 'bin', 'zeph-installer')
        os.symlink(self.installed(ARGS.installer), link)

        home = os.path.join(self.root, 'home')
        store = os.path.join(home, 'Library', 'Application Support', 'com.apple.wallpaper', 'Store', 'Index.plist')
        os.makedirs(os.path.dirname(store))
        with open(store, 'wb') as f:
            f.write(plistlib.dumps([]))
        env = dict(os.environ, HOME=home)
        run = subprocess.run([link, '--apply'], env=env, capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual((run.returncode, run.stdout, run.stderr), (1, '', NOT_A_DICTIONARY_LINE))
        self.assertEqual(tree(os.path.join(home, 'Library', 'Screen Savers', 'zeph.saver')), tree(ARGS.saver))

    def test_application_bundle_describes_itself(self):
        if not ARGS.info_plist:
            self.skipTest('not the application-bundle layout')
        with open(self.installed(ARGS.info_plist), 'rb') as f:
            info = plistlib.load(f)
        self.assertEqual(info['CFBundleExecutable'], os.path.basename(ARGS.installer))
        self.assertEqual(info['CFBundleIdentifier'], 'app.zeph.installer')
        self.assertEqual(info['CFBundleName'], 'Zeph Installer')
        self.assertEqual(info['CFBundlePackageType'], 'APPL')
        self.assertEqual(info['CFBundleShortVersionString'], ARGS.version)
        self.assertEqual(info['CFBundleVersion'], ARGS.version)
        self.assertEqual(info['LSMinimumSystemVersion'], ARGS.minimum_macos)
        self.assertEqual(info['NSPrincipalClass'], 'NSApplication')
        # The executable Info.plist names, in the folder the bundle layout says.
        contents = os.path.dirname(self.installed(ARGS.info_plist))
        self.assertEqual(os.path.join(contents, 'MacOS', info['CFBundleExecutable']), self.installed(ARGS.installer))
        with open(self.installed(ARGS.login_apply), 'rb') as installed, \
                open(os.path.join(SOURCE, 'packaging', 'macos', 'login-apply'), 'rb') as source:
            self.assertEqual(installed.read(), source.read())


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    for name in ('cmake', 'build-dir', 'saver', 'version', 'installer', 'store', 'saver-dest'):
        parser.add_argument('--' + name, required=True)
    for name in ('info-plist', 'login-apply', 'minimum-macos'):
        parser.add_argument('--' + name, default='')
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)

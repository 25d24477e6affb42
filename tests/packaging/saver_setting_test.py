#!/usr/bin/env python3
"""The ZEPH_SAVER_BUNDLE setting, in scratch build trees of this project with
tests and benchmarks off; only the staging target is built, nothing compiled.
A path that is no saver bundle stops the configure with a message naming it;
the bundle it names is what the build stages, anew when its files or the
setting change; and with ZEPH_APP_BUNDLE the tree takes the shape of
"Zeph Installer.app", which can be checked here even though only a Mac builds it.

Arguments: the cmake program, the generator and the C++ compiler of the build
that runs the test, and its ZEPH_APP_BUNDLE (on by default on a Mac), whose
layout the scratch trees take unless a test chooses one."""

import argparse
import os
import plistlib
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

from file_tree import tree

ARGS = None
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
APP_CONTENTS = os.path.join('Zeph Installer.app', 'Contents')


def make_bundle(path, marker):
    os.makedirs(os.path.join(path, 'Contents', 'MacOS'))
    with open(os.path.join(path, 'Contents', 'Info.plist'), 'wb') as f:
        f.write(plistlib.dumps({'CFBundleIdentifier': 'app.zeph.saver.' + marker}))
    program = os.path.join(path, 'Contents', 'MacOS', 'zeph')
    with open(program, 'w') as f:
        f.write(marker)
    os.chmod(program, 0o755)


class SaverSetting(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix='zeph-saver-setting-')
        self.root = self.dir.name
        self.build = os.path.join(self.root, 'build')

    def tearDown(self):
        self.dir.cleanup()

    def configure(self, *options):
        command = [ARGS.cmake, '-S', SOURCE, '-B', self.build, '-G', ARGS.generator,
                   '-DCMAKE_CXX_COMPILER=' + ARGS.cxx, '-DZEPH_TESTS=OFF', '-DZEPH_BENCH=OFF',
                   '-DZEPH_APP_BUNDLE=' + ARGS.app_bundle, *options]
        return subprocess.run(command, capture_output=True, text=True, timeout=300)

    def stage(self, *options):
        configured = self.configure(*options)
        self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
        built = subprocess.run([ARGS.cmake, '--build', self.build, '--target', 'zeph_saver_bundle'],
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)

    def staged(self, *parts):
        return tree(os.path.join(self.build, *parts), folders=False)

    def install_resources(self):
        """Installs what is not compiled (the component "resources") into a fresh prefix; returns it."""
        prefix = tempfile.mkdtemp(dir=self.root, prefix='prefix-')
        env = {k: v for k, v in os.environ.items() if k != 'DESTDIR'}
        installed = subprocess.run([ARGS.cmake, '--install', self.build, '--component', 'resources',
                                    '--prefix', prefix], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        return prefix

    def test_a_path_that_is_no_saver_bundle_stops_the_configure(self):
        missing = os.path.join(self.root, 'missing.saver')
        empty = os.path.join(self.root, 'empty.saver')
        os.makedirs(os.path.join(empty, 'Contents'))
        for path, reason in ((missing, 'which is not a folder'), (empty, 'which has no Contents/Info.plist')):
            with self.subTest(path):
                shutil.rmtree(self.build, ignore_errors=True)
                result = self.configure('-DZEPH_SAVER_BUNDLE=' + path)
                self.assertNotEqual(result.returncode, 0)
                message = ' '.join(result.stderr.split())
                self.assertIn('ZEPH_SAVER_BUNDLE is "%s", %s' % (path, reason), message)

    def test_the_chosen_bundle_is_staged_and_follows_its_changes(self):
        first = os.path.join(self.root, 'Built Saver', 'Zeph.saver')  # a space, and another name
        make_bundle(first, 'first')
        self.stage('-DZEPH_SAVER_BUNDLE=' + first)
        self.assertEqual(self.staged('share', 'zeph', 'zeph.saver'), tree(first, folders=False))
        self.assertTrue(self.staged('share', 'zeph', 'zeph.saver')[os.path.join('Contents', 'MacOS', 'zeph')][1])

        # A file gone from the bundle is gone from the staged copy.
        os.remove(os.path.join(first, 'Contents', 'MacOS', 'zeph'))
        self.stage()
        self.assertEqual(self.staged('share', 'zeph', 'zeph.saver'), tree(first, folders=False))

        # Another bundle, older than the staged copy, replaces it.
        second = os.path.join(self.root, 'second.saver')
        make_bundle(second, 'second')
        for folder, _, files in os.walk(second):
            for name in files:
                os.utime(os.path.join(folder, name), (0, 0))
        self.stage('-DZEPH_SAVER_BUNDLE=' + second)
        self.assertEqual(self.staged('share', 'zeph', 'zeph.saver'), tree(second, folders=False))
        # Installed where this platform's layout puts it: on a Mac only inside the app.
        if ARGS.app_bundle == 'ON':
            self.assertEqual(self.staged(APP_CONTENTS, 'Resources', 'zeph.saver'), tree(second, folders=False))
            installed = os.path.join(self.install_resources(), APP_CONTENTS, 'Resources', 'zeph.saver')
        else:
            installed = os.path.join(self.install_resources(), 'share', 'zeph', 'zeph.saver')
        self.assertEqual(tree(installed, folders=False), tree(second, folders=False))

    def test_application_bundle_layout(self):
        saver = os.path.join(self.root, 'zeph.saver')
        make_bundle(saver, 'app')
        self.stage('-DZEPH_SAVER_BUNDLE=' + saver, '-DZEPH_APP_BUNDLE=ON')
        self.assertEqual(self.staged(APP_CONTENTS, 'Resources', 'zeph.saver'), tree(saver, folders=False))
        # The test programs look for the saver beside the build tree's bin/ and tests/.
        self.assertEqual(self.staged('share', 'zeph', 'zeph.saver'), tree(saver, folders=False))
        with open(os.path.join(self.build, APP_CONTENTS, 'Info.plist'), 'rb') as f:
            info = plistlib.load(f)
        self.assertEqual(info['CFBundleExecutable'], 'zeph-installer')
        self.assertEqual(info['CFBundleIdentifier'], 'app.zeph.installer')
        self.assertEqual(info['CFBundleName'], 'Zeph Installer')
        self.assertEqual(info['LSMinimumSystemVersion'], '13.0')
        self.assertEqual(info['NSPrincipalClass'], 'NSApplication')
        login = os.path.join(self.build, APP_CONTENTS, 'Resources', 'login-apply')
        with open(login, 'rb') as built, open(os.path.join(SOURCE, 'packaging', 'macos', 'login-apply'), 'rb') as src:
            self.assertEqual(built.read(), src.read())
        self.assertTrue(os.stat(login).st_mode & stat.S_IXUSR)

        # Installed, the same tree: cmake --install --prefix X makes "X/Zeph Installer.app".
        prefix = self.install_resources()
        self.assertEqual(tree(os.path.join(prefix, APP_CONTENTS), folders=False), self.staged(APP_CONTENTS))
        # build-pkg.sh installs into <root>/Applications; the LaunchAgent runs login-apply from there.
        with open(os.path.join(SOURCE, 'packaging', 'macos', 'app.zeph.apply.plist'), 'rb') as f:
            agent = plistlib.load(f)
        self.assertEqual(agent['ProgramArguments'][1],
                         os.path.join('/Applications', APP_CONTENTS, 'Resources', 'login-apply'))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    for name in ('cmake', 'generator', 'cxx'):
        parser.add_argument('--' + name, required=True)
    parser.add_argument('--app-bundle', choices=('ON', 'OFF'), required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)

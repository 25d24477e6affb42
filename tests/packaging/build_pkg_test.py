#!/usr/bin/env python3
"""packaging/macos/build-pkg.sh away from a Mac, with stand-ins for cmake's
install, pkgbuild, productbuild, hdiutil, codesign and xcrun: it refuses a
test build, hands pkgbuild the component property list, and in a signed
build staples the app before the disk image is made of it. One case
configures a scratch tree of this project, first for tests and then without,
to see the stand-ins go from its cache.

Arguments: the cmake program, the generator and the C++ compiler of the build
that runs the test."""

import argparse
import os
import plistlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from stand_in import write_script  # noqa: E402 pylint: disable=wrong-import-position

ARGS = None
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
BUILD_PKG = os.path.join(SOURCE, 'packaging', 'macos', 'build-pkg.sh')
RELEASE_CACHE = {'CMAKE_PROJECT_VERSION:STATIC': '1.2.3', 'ZEPH_TESTS:BOOL': 'OFF',
                 'ZEPH_DEFAULTS_PROGRAM:FILEPATH': '/usr/bin/defaults',
                 'ZEPH_KILLALL_PROGRAM:FILEPATH': '/usr/bin/killall', 'ZEPH_DIALOGS_UNAVAILABLE:BOOL': 'OFF'}


class BuildPkg(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix='zeph-build-pkg-')
        self.root = self.dir.name
        self.build = os.path.join(self.root, 'build')
        self.out = os.path.join(self.root, 'out')
        self.calls = os.path.join(self.root, 'calls')
        self.tools = os.path.join(self.root, 'tools')
        os.makedirs(self.build)
        os.makedirs(self.tools)
        self.stand_ins()

    def tearDown(self):
        self.dir.cleanup()

    def stand_ins(self):
        log = 'echo "$(basename "$0") $*" >> "%s"\n' % self.calls
        # cmake --install BUILD --prefix DIR: the app as a Mac build installs it.
        write_script(os.path.join(self.tools, 'cmake'), log + (
            '[ "$1 $3" = "--install --prefix" ] || exit 2\n'
            'app="$4/Zeph Installer.app/Contents"\n'
            'mkdir -p "$app/MacOS" "$app/Resources/zeph.saver/Contents"\n'
            ': > "$app/MacOS/zeph-installer"; chmod 755 "$app/MacOS/zeph-installer"\n'
            ': > "$app/MacOS/zeph-store"; : > "$app/Resources/login-apply"\n'))
        write_script(os.path.join(self.tools, 'pkgbuild'), log + (
            'while [ "$#" -gt 1 ]; do\n'
            '  case "$1" in\n'
            '    --component-plist) cp "$2" "%s/component.plist" ;;\n'
            '    --root) cp "$2/Library/LaunchAgents/app.zeph.apply.plist" "%s/agent.plist" ;;\n'
            '  esac\n'
            '  shift\n'
            'done\n'
            ': > "$1"\n') % (self.root, self.root))
        write_script(os.path.join(self.tools, 'productbuild'), log + 'for last; do :; done\n: > "$last"\n')
        # hdiutil create ... -srcfolder DIR ...: what the image would hold.
        write_script(os.path.join(self.tools, 'hdiutil'), log + (
            'while [ "$#" -gt 1 ]; do\n'
            '  [ "$1" = -srcfolder ] && (cd "$2" && find . | sort) > "%s/image"\n'
            '  shift\n'
            'done\n'
            ': > "$1"\n') % self.root)
        write_script(os.path.join(self.tools, 'codesign'), log)
        # xcrun stapler staple PATH leaves a ticket in an app it staples.
        write_script(os.path.join(self.tools, 'xcrun'), log + (
            '[ "$1 $2" = "stapler staple" ] && [ -d "$3" ] && : > "$3/Contents/CodeResources-ticket"\n'
            'exit 0\n'))

    def write_cache(self, entries):
        with open(os.path.join(self.build, 'CMakeCache.txt'), 'w') as f:
            f.write('# stand-in cache\n')
            for key, value in entries.items():
                f.write('%s=%s\n' % (key, value))

    def run_build_pkg(self, signing=False, build=None):
        env = dict(os.environ, CMAKE=os.path.join(self.tools, 'cmake'),
                   PKGBUILD=os.path.join(self.tools, 'pkgbuild'),
                   PRODUCTBUILD=os.path.join(self.tools, 'productbuild'),
                   HDIUTIL=os.path.join(self.tools, 'hdiutil'), CODESIGN=os.path.join(self.tools, 'codesign'),
                   XCRUN=os.path.join(self.tools, 'xcrun'), TMPDIR=self.root)
        for name in ('ZEPH_SIGN_APP', 'ZEPH_SIGN_INSTALLER', 'ZEPH_NOTARY_PROFILE'):
            env.pop(name, None)
        if signing:
            env.update(ZEPH_SIGN_APP='Developer ID Application: Zeph (TEAMID1234)',
                       ZEPH_SIGN_INSTALLER='Developer ID Installer: Zeph (TEAMID1234)',
                       ZEPH_NOTARY_PROFILE='zeph-notary')
        return subprocess.run(['/bin/sh', BUILD_PKG, build or self.build, self.out], env=env,
                              capture_output=True, text=True, timeout=120)

    def calls_made(self):
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            return f.read().splitlines()

    def test_refuses_a_test_build_before_it_installs_anything(self):
        cases = [
            ('tests on', {'ZEPH_TESTS:BOOL': 'ON'}, 'ZEPH_TESTS=ON'),
            ('tests on, spelt true', {'ZEPH_TESTS:BOOL': 'true'}, 'ZEPH_TESTS=true'),
            ('a stand-in defaults', {'ZEPH_DEFAULTS_PROGRAM:FILEPATH': '/usr/bin/true'},
             'ZEPH_DEFAULTS_PROGRAM=/usr/bin/true'),
            ('a stand-in killall', {'ZEPH_KILLALL_PROGRAM:FILEPATH': '/usr/bin/true'},
             'ZEPH_KILLALL_PROGRAM=/usr/bin/true'),
            ('no alerts', {'ZEPH_DIALOGS_UNAVAILABLE:BOOL': 'ON'}, 'ZEPH_DIALOGS_UNAVAILABLE=ON'),
        ]
        for name, changes, named in cases:
            with self.subTest(name):
                self.write_cache({**RELEASE_CACHE, **changes})
                result = self.run_build_pkg()
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn('is a test build (%s)' % named, result.stderr)
                self.assertIn('-DZEPH_TESTS=OFF', result.stderr)
                self.assertEqual(self.calls_made(), [])
                self.assertFalse(os.path.exists(self.out))

    def test_an_unsigned_build_is_not_relocatable_and_names_its_app_to_login_items(self):
        self.write_cache(RELEASE_CACHE)
        result = self.run_build_pkg()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('unsigned', result.stdout)
        with open(os.path.join(self.root, 'component.plist'), 'rb') as f:
            components = plistlib.load(f)
        self.assertEqual(len(components), 1)
        self.assertEqual(components[0]['RootRelativeBundlePath'], 'Applications/Zeph Installer.app')
        self.assertIs(components[0]['BundleIsRelocatable'], False)
        self.assertEqual(components[0]['BundleOverwriteAction'], 'upgrade')
        with open(os.path.join(self.root, 'agent.plist'), 'rb') as f:
            agent = plistlib.load(f)
        self.assertEqual(agent['AssociatedBundleIdentifiers'], ['app.zeph.installer'])
        for name in ('zeph-installer-1.2.3.pkg', 'zeph-installer-1.2.3.dmg'):
            self.assertTrue(os.path.exists(os.path.join(self.out, name)), name)

    def test_a_signed_build_staples_the_app_before_the_disk_image_is_made(self):
        self.write_cache(RELEASE_CACHE)
        result = self.run_build_pkg(signing=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        calls = [call.split(' ')[0] + ' ' + os.path.basename(call.rstrip('/')) if call.startswith('xcrun stapler')
                 else call.split(' ')[0] for call in self.calls_made()]
        self.assertEqual(calls[calls.index('productbuild'):], [
            'productbuild', 'xcrun', 'xcrun zeph-installer-1.2.3.pkg', 'xcrun Zeph Installer.app', 'hdiutil',
            'codesign', 'xcrun', 'xcrun zeph-installer-1.2.3.dmg'])
        with open(os.path.join(self.root, 'image')) as f:
            self.assertIn('./Zeph Installer.app/Contents/CodeResources-ticket', f.read().splitlines())

    def test_turning_tests_off_takes_the_stand_ins_out_of_the_cache(self):
        tree = os.path.join(self.root, 'tree')

        def configure(*options):
            result = subprocess.run([ARGS.cmake, '-S', SOURCE, '-B', tree, '-G', ARGS.generator,
                                     '-DCMAKE_CXX_COMPILER=' + ARGS.cxx, '-DZEPH_BENCH=OFF', *options],
                                    capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

        configure('-DZEPH_TESTS=ON', '-DZEPH_DEFAULTS_PROGRAM=/usr/bin/true', '-DZEPH_KILLALL_PROGRAM=/usr/bin/true',
                  '-DZEPH_DIALOGS_UNAVAILABLE=ON')
        refused = self.run_build_pkg(build=tree)
        self.assertEqual(refused.returncode, 2, refused.stderr)
        self.assertIn('ZEPH_TESTS=ON ZEPH_DEFAULTS_PROGRAM=/usr/bin/true ZEPH_KILLALL_PROGRAM=/usr/bin/true '
                      'ZEPH_DIALOGS_UNAVAILABLE=ON', refused.stderr)
        configure('-DZEPH_TESTS=OFF')
        with open(os.path.join(tree, 'CMakeCache.txt')) as f:
            cache = f.read().splitlines()
        self.assertIn('ZEPH_DEFAULTS_PROGRAM:FILEPATH=/usr/bin/defaults', cache)
        self.assertIn('ZEPH_KILLALL_PROGRAM:FILEPATH=/usr/bin/killall', cache)
        self.assertIn('ZEPH_DIALOGS_UNAVAILABLE:BOOL=OFF', cache)
        accepted = self.run_build_pkg(build=tree)
        self.assertEqual(accepted.returncode, 0, accepted.stderr)


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--cmake', required=True)
    parser.add_argument('--generator', required=True)
    parser.add_argument('--cxx', required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)

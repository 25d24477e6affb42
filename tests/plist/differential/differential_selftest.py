#!/usr/bin/env python3
"""Checks that the differential harness itself catches what it should: its
comparison, its normalisations, and a whole run against a faulty converter."""

import datetime
import os
import subprocess
import sys
import tempfile
import unittest
import plistlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import differential  # noqa: E402  (found through the path set just above)

# A stand-in for plist_convert built on plistlib, with an optional fault:
# "int" adds one to every integer above 2^32, "none" converts faithfully.
FAKE = r'''
import plistlib, sys
fault = sys.argv[1]
def bend(v):
    if isinstance(v, dict): return {k: bend(x) for k, x in v.items()}
    if isinstance(v, list): return [bend(x) for x in v]
    if fault == 'int' and type(v) is int and 2**32 < v < 2**63: return v + 1
    return v
for line in sys.stdin:
    fmt, src, dst = line.rstrip('\n').split('\t')
    try:
        v = bend(plistlib.loads(open(src, 'rb').read()))
        open(dst, 'wb').write(plistlib.dumps(v, fmt=plistlib.FMT_BINARY if fmt == 'bin' else plistlib.FMT_XML))
    except Exception as e:
        print('FAIL\t%s\t%s\t%r' % (src, dst, e))
'''


class Compare(unittest.TestCase):
    def test_kinds_and_bits_count(self):
        d = differential.first_difference
        self.assertIsNone(d({'a': [1, 2.5, float('nan')]}, {'a': [1, 2.5, float('nan')]}))
        self.assertIsNotNone(d(True, 1))  # Python's True == 1 must not hide a kind change
        self.assertIsNotNone(d(1, 1.0))
        self.assertIsNotNone(d(0.0, -0.0))
        self.assertIsNotNone(d(plistlib.UID(3), 3))
        self.assertIsNotNone(d(b'a', 'a'))
        path, _, _ = d({'a': [1, {'b': 2}]}, {'a': [1, {'b': 3}]})
        self.assertEqual(path, "root['a'][1]['b']")
        path, expected, got = d({'a': 1, 'b': 2}, {'a': 1, 'c': 2})
        self.assertIn("'b'", expected)
        self.assertIn("'c'", got)
        self.assertIsNotNone(d([1, 2], [1, 2, 3]))


class Normalise(unittest.TestCase):
    def test_xml_dates_floor_for_us_and_truncate_for_libplist(self):
        before = datetime.datetime(1999, 12, 31, 23, 59, 59, 250000)
        after = datetime.datetime(2003, 1, 1, 0, 0, 1, 750000)
        self.assertEqual(differential.our_xml([before, after]),
                         [datetime.datetime(1999, 12, 31, 23, 59, 59), datetime.datetime(2003, 1, 1, 0, 0, 1)])
        self.assertEqual(differential.libplist_xml([before, after]),
                         [datetime.datetime(2000, 1, 1), datetime.datetime(2003, 1, 1, 0, 0, 1)])

    def test_xml_reals_and_uids(self):
        got = differential.our_xml([-0.0, float('nan')])
        self.assertEqual(str(got[0]), '-0.0')
        self.assertEqual(differential.libplist_xml([-0.0]), [0.0])
        self.assertEqual(differential.plistlib_xml_read({'k': [plistlib.UID(7)]}), {'k': [{'CF$UID': 7}]})

    def test_traits(self):
        self.assertFalse(differential.xml_clean({'a\r': 1}))
        self.assertFalse(differential.xml_clean([plistlib.UID(1)]))
        self.assertTrue(differential.xml_clean({'\U0001F600': ['<&>']}))
        self.assertTrue(differential.has_nul({'k': ['x\x00']}))


class WholeRun(unittest.TestCase):
    def run_with(self, fault):
        with tempfile.TemporaryDirectory() as tmp:
            fake = os.path.join(tmp, 'fake_convert')
            with open(fake, 'w') as f:
                f.write('#!%s\n%s' % (sys.executable, FAKE.replace('sys.argv[1]', repr(fault))))
            os.chmod(fake, 0o755)
            return subprocess.run([sys.executable, os.path.join(HERE, 'differential.py'), '--ours', fake,
                                   '--count', '60', '--seed', '7',
                                   '--only', '^plistlib (bin|xml) → our-bin → plistlib$', '--keep', os.path.join(tmp, 'files')],
                                  capture_output=True, text=True)

    def test_a_faithful_converter_passes(self):
        r = self.run_with('none')
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_a_bent_integer_is_reported_with_its_path(self):
        r = self.run_with('int')
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn('first mismatch', r.stdout)
        self.assertRegex(r.stdout, r'expected integer \d+\n  got      integer \d+')


if __name__ == '__main__':
    unittest.main()

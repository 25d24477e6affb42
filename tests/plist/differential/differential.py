#!/usr/bin/env python3
"""Differential check of our property-list codec against plistlib and libplist.

Seeded random documents (deep, wide, astral-plane strings, extreme integers,
reals and dates, UIDs, shared sub-trees) are written by plistlib, then passed
along pipelines of converters: ours (plist_convert), libplist's C API
(libplist_convert) and a sample through the plistutil program. plistlib reads
the last file of each pipeline and the value must equal plistlib's own reading
of the document, after the normalisations that the formats and the peers'
known limits impose (see the NORMALISE table). The first mismatch is printed
with the path inside the document and both values; the files are kept.
"""

import argparse
import datetime
import math
import os
import plistlib
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

sys.setrecursionlimit(20000)

EPOCH = datetime.datetime(2001, 1, 1)
CANONICAL_NAN = struct.unpack('>d', bytes.fromhex('7ff8000000000000'))[0]

# ---------------------------------------------------------------- generation

ASCII = 'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-./:$'
MARKUP = ['<', '>', '&', '"', "'", ']]>', '&amp;', '&#x41;', '<![CDATA[', '<!--', '\t', '\n', ' ']
NON_ASCII = ['é', 'ß', '°', '—', '→', '“', '”', '\u00a0', '\u2028', '\ufeff', '\ufffd', '中文', 'Ω']
ASTRAL = ['\U0001F600', '\U0001D11E', '\U00010000', '\U0010FFFD', '\U0001F1EB\U0001F1F7', '\U00020000']
# Characters XML 1.0 cannot carry (plistlib refuses them) and CR, which the
# XML parser behind plistlib folds into LF.
RAW = ['\x00', '\x01', '\x08', '\x0b', '\x0c', '\x1f', '\x7f', '\r', '\r\n', '\ufffe', '\uffff']

INT_EDGES = [0, 1, -1, 127, 128, 255, 256, -128, -129, 32767, 32768, 65535, 65536, -32769,
             2**31 - 1, 2**31, 2**32 - 1, 2**32, -2**31, -2**31 - 1, 2**53, 2**53 + 1,
             2**63 - 1, -2**63, -2**63 + 1, 2**63, 2**63 + 1, 2**64 - 2, 2**64 - 1]
REAL_EDGES = [0.0, -0.0, 1.0, -1.0, 0.1, 0.5, 1e300, -1e-300, 5e-324, 2.2250738585072014e-308,
              1.7976931348623157e308, float('inf'), float('-inf'), float('nan'),
              3.4028234663852886e38, 1.401298464324817e-45, 16777217.0, 123456789.123]
DATE_EDGES = [EPOCH, EPOCH - datetime.timedelta(seconds=1), EPOCH + datetime.timedelta(microseconds=1),
              datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31, 23, 59, 59),
              datetime.datetime(1970, 1, 1), datetime.datetime(1900, 2, 28, 23, 59, 59, 500000),
              datetime.datetime(2038, 1, 19, 3, 14, 8), datetime.datetime(2000, 2, 29, 12)]
UID_EDGES = [0, 1, 255, 256, 65535, 65536, 2**32 - 1]


class Generator:
    def __init__(self, rng, raw):
        self.rng = rng
        self.raw = raw  # may use characters XML cannot carry
        self.scalars = []  # earlier scalars, reused so writers unique them
        self.containers = []  # earlier containers, reused as shared sub-trees
        self.budget = 0

    def string(self, long=False):
        r = self.rng
        if r.random() < 0.08:
            return ''
        pieces = []
        n = r.choice([1, 2, 5, 13, 14, 15, 16, 40]) if not long else r.choice([255, 256, 1000, 70000])
        length = 0
        while length < n:
            length += 1
            x = r.random()
            if x < 0.55:
                pieces.append(r.choice(ASCII))
            elif x < 0.68:
                pieces.append(r.choice(MARKUP))
            elif x < 0.82:
                pieces.append(r.choice(NON_ASCII))
            elif x < 0.90:
                pieces.append(chr(r.choice([r.randrange(0x100, 0xd800), r.randrange(0xe000, 0xfffe)])))
            elif x < 0.96 or not self.raw:
                pieces.append(r.choice(ASTRAL) if r.random() < 0.6 else chr(r.randrange(0x10000, 0x110000)))
            else:
                pieces.append(r.choice(RAW))
        s = ''.join(pieces)
        if not self.raw:
            s = ''.join(c for c in s if c not in '\ufffe\uffff')
        return s

    def integer(self):
        r = self.rng
        x = r.random()
        if x < 0.4:
            return r.choice(INT_EDGES)
        if x < 0.7:
            return r.randrange(-1000, 100000)
        if x < 0.85:
            return r.randrange(-2**63, 2**63)
        return r.randrange(0, 2**64)

    def real(self):
        r = self.rng
        x = r.random()
        if x < 0.35:
            return r.choice(REAL_EDGES)
        if x < 0.55:
            return struct.unpack('>f', struct.pack('>f', r.uniform(-1e6, 1e6)))[0]  # exact in 4 bytes
        if x < 0.8:
            while True:
                v = struct.unpack('>d', r.getrandbits(64).to_bytes(8, 'big'))[0]
                if not math.isnan(v):
                    return v
        return r.uniform(-1e4, 1e4)

    def date(self):
        r = self.rng
        x = r.random()
        if x < 0.25:
            return r.choice(DATE_EDGES)
        if x < 0.75:
            return EPOCH + datetime.timedelta(seconds=r.randrange(-10**9, 10**9),
                                              microseconds=r.choice([0, 0, r.randrange(10**6)]))
        # Far from 2001 a double has no microseconds left: whole milliseconds only.
        seconds = r.randrange(-63113904000, 252423993599)
        return EPOCH + datetime.timedelta(seconds=seconds, milliseconds=r.choice([0, r.randrange(1, 999)]))

    def data(self):
        r = self.rng
        n = r.choice([0, 1, 2, 3, 14, 15, 16, 57, 58, 300, r.randrange(100)])
        if r.random() < 0.1:
            return plistlib.dumps({'module': {'relative': 'file:///Library/Screen%20Savers/x.saver'}},
                                  fmt=plistlib.FMT_BINARY)
        return bytes(r.getrandbits(8) for _ in range(n))

    def scalar(self):
        r = self.rng
        if self.scalars and r.random() < 0.15:
            return r.choice(self.scalars)
        kind = r.choices(['str', 'int', 'real', 'bool', 'date', 'data', 'uid'],
                         [30, 20, 12, 6, 10, 8, 3])[0]
        v = {'str': self.string, 'int': self.integer, 'real': self.real, 'bool': lambda: r.random() < 0.5,
             'date': self.date, 'data': self.data,
             'uid': lambda: plistlib.UID(r.choice(UID_EDGES + [r.randrange(2**32)]))}[kind]()
        self.scalars.append(v)
        return v

    def value(self, depth, max_depth, width):
        r = self.rng
        self.budget -= 1
        if depth >= max_depth or self.budget <= 0 or r.random() < 0.45:
            return self.scalar()
        if self.containers and r.random() < 0.05:
            return r.choice(self.containers)
        n = r.randrange(width + 1)
        if r.random() < 0.5:
            v = [self.value(depth + 1, max_depth, width) for _ in range(n)]
        else:
            v = {self.string(): self.value(depth + 1, max_depth, width) for _ in range(n)}
        self.containers.append(v)
        return v


def chain(gen, depth):
    """A document nested `depth` containers deep, with a little beside each level."""
    v = gen.scalar()
    for i in range(depth - 1):
        v = [v, gen.scalar()] if i % 2 else {gen.string() or 'k': v, 'x': gen.scalar()}
    return v


def make_document(rng, index):
    raw = rng.random() < 0.25
    gen = Generator(rng, raw)
    profile = rng.choices(['mixed', 'deep', 'wide', 'scalar', 'strings', 'numbers'], [60, 8, 5, 5, 10, 12])[0]
    if index == 0:
        profile = 'huge'  # enough objects for 4-byte references
    if profile == 'mixed':
        gen.budget = rng.randrange(5, 120)
        doc = gen.value(0, rng.randrange(2, 12), rng.randrange(1, 12))
    elif profile == 'deep':
        doc = chain(gen, rng.randrange(16, 400))
    elif profile == 'wide':
        gen.budget = 100000
        doc = [gen.scalar() for _ in range(rng.randrange(200, 1000))]
        if rng.random() < 0.5:
            doc = {gen.string() + str(i): v for i, v in enumerate(doc)}
    elif profile == 'scalar':
        doc = gen.scalar()
    elif profile == 'strings':
        doc = {gen.string(): gen.string(long=rng.random() < 0.1) for _ in range(rng.randrange(1, 20))}
    elif profile == 'numbers':
        doc = [rng.choice([gen.integer, gen.real, gen.date])() for _ in range(rng.randrange(1, 60))]
    else:
        doc = {'n%d' % i: [i, -i, float(i) + 0.5, str(i)] for i in range(20000)}
    return profile, doc


# ------------------------------------------------------------- normalisation

def walk(v, leaf):
    """Rebuilds `v` with `leaf` applied to every non-container value."""
    if isinstance(v, dict):
        out = {}
        for k, x in v.items():
            out[leaf(k) if isinstance(k, str) else k] = walk(x, leaf)
        return out
    if isinstance(v, list):
        return [walk(x, leaf) for x in v]
    return leaf(v)


def floor_date(v):
    # The XML date form carries whole seconds; the platform's writer floors.
    return v.replace(microsecond=0) if isinstance(v, datetime.datetime) else v


def unsigned_zero_nan(v):
    # XML prints ±0 as 0.0 and every NaN as "nan".
    if isinstance(v, float):
        if v == 0:
            return 0.0
        if math.isnan(v):
            return CANONICAL_NAN
    return v


def our_xml(v):
    # Unlike the platform, our writer keeps the sign of −0 ("-0.0").
    def leaf(x):
        x = floor_date(x)
        return CANONICAL_NAN if isinstance(x, float) and math.isnan(x) else x
    return walk(v, leaf)


def libplist_xml(v):
    # libplist truncates dates toward 2001 (not down), stops strings at NUL.
    def leaf(x):
        if isinstance(x, datetime.datetime) and x.microsecond:
            x = x.replace(microsecond=0)
            if x < EPOCH:
                x += datetime.timedelta(seconds=1)
        if isinstance(x, str):
            x = x.split('\x00', 1)[0]
        return unsigned_zero_nan(x)
    return walk(v, leaf)


def plistlib_xml_read(v):
    # plistlib's XML cannot hold UIDs: our CF$UID dictionaries come back as dictionaries.
    if isinstance(v, plistlib.UID):
        return {'CF$UID': v.data}
    if isinstance(v, dict):
        return {k: plistlib_xml_read(x) for k, x in v.items()}
    if isinstance(v, list):
        return [plistlib_xml_read(x) for x in v]
    return v


NORMALISE = {'our-bin': None, 'lp-bin': None, 'pu-bin': None,
             'our-xml': our_xml, 'lp-xml': libplist_xml, 'pu-xml': libplist_xml}


def xml_clean(v):
    """True when plistlib can write `v` as XML and read it back unchanged."""
    if isinstance(v, dict):
        return all(xml_clean(k) and xml_clean(x) for k, x in v.items())
    if isinstance(v, list):
        return all(xml_clean(x) for x in v)
    if isinstance(v, str):
        return not any(c in v for c in RAW)
    return not isinstance(v, plistlib.UID)


def has_nul(v):
    if isinstance(v, dict):
        return any(has_nul(k) or has_nul(x) for k, x in v.items())
    if isinstance(v, list):
        return any(has_nul(x) for x in v)
    return isinstance(v, str) and '\x00' in v


def has_uid(v):
    if isinstance(v, dict):
        return any(has_uid(x) for x in v.values())
    if isinstance(v, list):
        return any(has_uid(x) for x in v)
    return isinstance(v, plistlib.UID)


def strip_trailing_nul(v):
    # libplist's XML reader can leave NULs after text that held entities
    # (its unescaping shortens the text but not the length).
    return walk(v, lambda x: x.rstrip('\x00') if isinstance(x, str) else x)


def has_early_year(v):
    if isinstance(v, dict):
        return any(has_early_year(x) for x in v.values())
    if isinstance(v, list):
        return any(has_early_year(x) for x in v)
    return isinstance(v, datetime.datetime) and v.year < 1000


# ---------------------------------------------------------------- comparison

def describe(v):
    if isinstance(v, bool):
        return 'boolean %r' % v
    if isinstance(v, int):
        return 'integer %d' % v
    if isinstance(v, float):
        return 'real %r (0x%s)' % (v, struct.pack('>d', v).hex())
    if isinstance(v, datetime.datetime):
        return 'date %s' % v.isoformat()
    if isinstance(v, plistlib.UID):
        return 'UID %d' % v.data
    if isinstance(v, (dict, list)):
        return '%s of %d' % (type(v).__name__, len(v))
    text = repr(v)
    return '%s %s' % (type(v).__name__, text if len(text) < 200 else text[:200] + '…')


def first_difference(expected, got, path='root'):
    """None when equal (reals by bits), else (path, expected, got) of the first difference."""
    if type(expected) is not type(got):
        return path, describe(expected), describe(got)
    if isinstance(expected, dict):
        if expected.keys() != got.keys():
            missing = sorted(expected.keys() - got.keys())
            extra = sorted(got.keys() - expected.keys())
            return path, 'keys missing %r' % missing[:3], 'extra %r' % extra[:3]
        for k in sorted(expected):
            d = first_difference(expected[k], got[k], '%s[%r]' % (path, k))
            if d:
                return d
        return None
    if isinstance(expected, list):
        for i, (a, b) in enumerate(zip(expected, got)):
            d = first_difference(a, b, '%s[%d]' % (path, i))
            if d:
                return d
        if len(expected) != len(got):
            return path, describe(expected), describe(got)
        return None
    if isinstance(expected, float):
        same = struct.pack('>d', expected) == struct.pack('>d', got)
    else:
        same = expected == got
    return None if same else (path, describe(expected), describe(got))


# ----------------------------------------------------------------- pipelines

# Each pipeline: the file plistlib writes first, the converters in order, and
# what the document must allow. The last file is read back by plistlib.
PIPELINES = [
    ('py-bin', ['our-bin'], set()),
    ('py-bin', ['our-xml'], {'clean'}),
    ('py-xml', ['our-bin'], {'clean'}),
    ('py-xml', ['our-xml'], {'clean'}),
    ('py-bin', ['our-xml', 'our-bin'], set()),
    ('py-bin', ['our-bin', 'our-xml', 'our-bin'], set()),
    ('py-bin', ['lp-bin', 'our-bin'], {'libplist'}),
    ('py-bin', ['lp-xml', 'our-bin'], {'libplist'}),
    ('py-bin', ['our-bin', 'lp-bin'], {'libplist'}),
    ('py-bin', ['our-bin', 'lp-xml', 'our-bin'], {'libplist'}),
    ('py-bin', ['our-xml', 'lp-bin'], {'libplist'}),
    ('py-bin', ['our-xml', 'lp-xml'], {'libplist', 'clean', 'late'}),
    ('py-bin', ['pu-xml', 'our-bin'], {'plistutil'}),
    ('py-bin', ['our-bin', 'pu-xml', 'our-bin'], {'plistutil'}),
    ('py-bin', ['our-xml', 'pu-bin'], {'plistutil'}),
]
PEER_PIPELINES = [  # to calibrate the normalisations without our codec
    ('py-bin', ['lp-bin'], {'libplist'}),
    ('py-bin', ['lp-xml'], {'libplist', 'clean', 'late'}),
    ('py-bin', ['lp-xml', 'lp-bin'], {'libplist', 'nouid'}),  # it reads CF$UID back as a dictionary
    ('py-xml', ['lp-bin'], {'libplist', 'clean'}),
    ('py-bin', ['pu-xml', 'pu-bin'], {'plistutil', 'nouid'}),
]


def label_of(start, steps):
    return ' → '.join(['plistlib ' + start.split('-')[1]] + steps + ['plistlib'])


def run_batch(tool, jobs):
    """Runs [(fmt, src, dst)] through a batch converter, one process per CPU;
    returns {dst: error}."""
    if not jobs:
        return {}
    n = max(1, min(os.cpu_count() or 1, len(jobs) // 50 or 1))
    chunks = [jobs[i::n] for i in range(n)]
    procs = [subprocess.Popen([tool, '--batch'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE) for _ in chunks]
    with ThreadPoolExecutor(max_workers=n) as pool:
        outputs = list(pool.map(lambda pc: pc[0].communicate(''.join('%s\t%s\t%s\n' % j for j in pc[1]).encode()),
                                zip(procs, chunks)))
    failures = {}
    for proc, chunk, (out, err) in zip(procs, chunks, outputs):
        for line in out.decode(errors='replace').splitlines():
            parts = line.split('\t', 3)
            if len(parts) == 4 and parts[0] == 'FAIL':
                failures[parts[2]] = parts[3]
        if proc.returncode != 0:
            msg = 'exited with %d: %s' % (proc.returncode, err.decode(errors='replace')[-2000:])
            for _, _, dst in chunk:
                if dst not in failures and not os.path.exists(dst):
                    failures[dst] = msg
    return failures


def run_plistutil(program, jobs):
    def one(job):
        fmt, src, dst = job
        r = subprocess.run([program, '-i', src, '-o', dst, '-f', fmt], capture_output=True)
        if r.returncode != 0 or not os.path.exists(dst):
            return dst, 'plistutil exited with %d: %s' % (r.returncode, r.stderr.decode(errors='replace'))
        return dst, None
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        return {dst: e for dst, e in pool.map(one, jobs) if e}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--ours', help='plist_convert program')
    ap.add_argument('--libplist', help='libplist_convert program')
    ap.add_argument('--plistutil', help='plistutil program (run on a sample: one process per file)')
    ap.add_argument('--plistutil-sample', type=int, default=40)
    ap.add_argument('--count', type=int, default=3000)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--peers-only', action='store_true', help='check the peers against each other')
    ap.add_argument('--only', help='run only the pipelines whose label matches this regular expression')
    ap.add_argument('--keep', help='directory to keep the files in (default: kept only on failure)')
    args = ap.parse_args()

    scratch = '/dev/shm' if os.path.isdir('/dev/shm') and os.access('/dev/shm', os.W_OK) else None
    workdir = args.keep or tempfile.mkdtemp(prefix='plist-diff-', dir=scratch)
    os.makedirs(workdir, exist_ok=True)
    rng = random.Random(args.seed)
    pipelines = PEER_PIPELINES if args.peers_only else PIPELINES
    available = {'py', 'our' if args.ours else None, 'lp' if args.libplist else None,
                 'pu' if args.plistutil else None}

    docs = []  # (name, profile, value, traits)
    for i in range(args.count):
        profile, value = make_document(rng, i)
        name = os.path.join(workdir, 'd%05d' % i)
        traits = set()
        if xml_clean(value):
            traits.add('clean')
        if not has_early_year(value):
            traits.add('late')
        # libplist drops NUL characters in places (a string that is only
        # "\0" comes back empty from its binary writer): keep them away.
        if args.libplist and not has_nul(value):
            traits.add('libplist')
        if not has_uid(value):
            traits.add('nouid')
        if args.plistutil and not has_nul(value) and i % max(1, args.count // max(1, args.plistutil_sample)) == 1:
            traits.add('plistutil')
        with open(name + '.py-bin', 'wb') as f:
            f.write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY))
        if 'clean' in traits:
            with open(name + '.py-xml', 'wb') as f:
                f.write(plistlib.dumps(value, fmt=plistlib.FMT_XML))
        docs.append((name, profile, traits))

    # Every (document, pipeline) the document allows and the tools can run.
    wanted = []
    for name, profile, traits in docs:
        for start, steps, needs in pipelines:
            if args.only and not re.search(args.only, label_of(start, steps)):
                continue
            if needs <= traits and all(s.split('-')[0] in available for s in steps):
                wanted.append((name, profile, start, steps))

    # Run the converters round by round: step k of every pipeline at once.
    failed = {}  # output file -> error
    runners = {'our': lambda jobs: run_batch(args.ours, jobs), 'lp': lambda jobs: run_batch(args.libplist, jobs),
               'pu': lambda jobs: run_plistutil(args.plistutil, jobs)}
    for k in range(max(len(s) for _, _, _, s in wanted) if wanted else 0):
        jobs = {'our': {}, 'lp': {}, 'pu': {}}
        for name, _, start, steps in wanted:
            if k >= len(steps):
                continue
            src = '.'.join([name, start] + steps[:k])
            dst = src + '.' + steps[k]
            if src in failed or not os.path.exists(src) or dst in failed or os.path.exists(dst):
                continue
            tool, fmt = steps[k].split('-')
            jobs[tool][dst] = (fmt, src, dst)
        for tool, j in jobs.items():
            failed.update(runners[tool](list(j.values())))
        for name, _, start, steps in wanted:  # a failed step fails what follows it
            for i in range(1, len(steps)):
                src = '.'.join([name, start] + steps[:i])
                if src in failed:
                    failed.setdefault(src + '.' + steps[i], '(after %s)' % os.path.basename(src))

    # Compare what plistlib reads at the end of each pipeline with its own reading.
    reference = {}
    mismatches = []
    checked = 0
    for name, profile, start, steps in wanted:
        if (name, start) not in reference:
            with open(name + '.' + start, 'rb') as f:
                reference[name, start] = plistlib.loads(f.read())
        expected = reference[name, start]
        for s in steps:
            if NORMALISE[s]:
                expected = NORMALISE[s](expected)
        last = '.'.join([name, start] + steps)
        label = label_of(start, steps)
        checked += 1
        if last in failed:
            mismatches.append((name, profile, label, 'conversion failed: %s' % failed[last], None))
            continue
        try:
            with open(last, 'rb') as f:
                got = plistlib.loads(f.read())
        except Exception as e:  # plistlib's own errors are of many kinds
            mismatches.append((name, profile, label, 'plistlib cannot read %s: %r' % (last, e), None))
            continue
        if steps[-1].endswith('xml'):
            expected = plistlib_xml_read(expected)
        if any(a.endswith('xml') and b.split('-')[0] in ('lp', 'pu') for a, b in zip([start] + steps, steps)):
            # libplist reads CF$UID dictionaries back as dictionaries.
            expected = plistlib_xml_read(expected)
            got = strip_trailing_nul(got)
        d = first_difference(expected, got)
        if d:
            mismatches.append((name, profile, label, 'values differ', d))

    print('%d documents, %d pipeline runs, %d mismatches (seed %d)'
          % (len(docs), checked, len(mismatches), args.seed))
    by_label = {}
    for m in mismatches:
        by_label.setdefault(m[2], []).append(m)
    for label, ms in sorted(by_label.items()):
        print('  %4d  %s  (first: %s)' % (len(ms), label, os.path.basename(ms[0][0])))
    if mismatches:
        name, profile, label, what, d = mismatches[0]
        print('\nfirst mismatch: document %s (%s), %s: %s' % (os.path.basename(name), profile, label, what))
        if d:
            print('  at       %s\n  expected %s\n  got      %s' % d)
        print('  files    %s.*' % name)
        return 1
    if not args.keep:
        shutil.rmtree(workdir)
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Times CPython's plistlib on the bench's store files, inside python.

    plistlib_bench.py BINARY_FILE XML_FILE REPS

Prints "<operation> <best seconds>" lines for binary_parse, binary_write,
xml_parse and xml_write; codec_bench reads them.
"""
import plistlib
import sys
import time


def best(reps, f):
    result, seconds = None, float('inf')
    for _ in range(reps):
        t0 = time.perf_counter()
        result = f()
        seconds = min(seconds, time.perf_counter() - t0)
    return result, seconds


def main():
    bin_path, xml_path, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(bin_path, 'rb') as f:
        binary = f.read()
    with open(xml_path, 'rb') as f:
        xml = f.read()
    value, t = best(reps, lambda: plistlib.loads(binary))
    print('binary_parse', t, flush=True)
    _, t = best(reps, lambda: plistlib.dumps(value, fmt=plistlib.FMT_BINARY))
    print('binary_write', t, flush=True)
    value, t = best(reps, lambda: plistlib.loads(xml))
    print('xml_parse', t, flush=True)
    _, t = best(reps, lambda: plistlib.dumps(value, fmt=plistlib.FMT_XML))
    print('xml_write', t, flush=True)


if __name__ == '__main__':
    main()

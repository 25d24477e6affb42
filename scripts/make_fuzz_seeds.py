#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: fuzz/seeds/<target>/<name>.

The seeds are the edge shapes of each format: every trailer check of the
binary reader, cycles, a shared-sub-tree "billion laughs", nesting around the
512-level limit, UID and integer bounds, non-string and duplicate keys, lone
surrogates, and the XML and old-style oddities the platform's parsers accept
or refuse. Deterministic; run again after changing it and commit the result.

    python3 scripts/make_fuzz_seeds.py [OUT_DIR]     (default: fuzz/seeds)
"""

import datetime
import os
import plistlib
import shutil
import struct
import sys

# ------------------------------------------------------------------ binary


def int_obj(v, width=None):
    """An integer object: 0x1n + 2^n bytes, big-endian (two's complement)."""
    if width is None:
        width = 1 if 0 <= v <= 0xFF else 2 if 0 <= v <= 0xFFFF else 4 if 0 <= v <= 0xFFFFFFFF else 8
        if v >= 2**63:
            width = 16
    n = {1: 0, 2: 1, 4: 2, 8: 3, 16: 4}[width]
    return bytes([0x10 | n]) + (v % 2**(8 * width)).to_bytes(width, 'big')


def length_marker(high, n):
    return bytes([high | n]) if n < 15 else bytes([high | 0xF]) + int_obj(n)


def bplist(objects, top=0, ref_size=None, off_size=None, num_objects=None, table_offset=None,
           offsets=None, tail=b'', header=b'bplist00'):
    """Builds a binary plist from encoded objects; `objects` may hold callables
    taking the ref size (for containers). Any trailer field can be forced; a
    forced size of 0 is declared but the data is laid out with 1."""
    count = len(objects)
    if ref_size is None:
        ref_size = 1 if count < 256 else 2 if count < 65536 else 4
    body = bytearray(header)
    starts = []
    for o in objects:
        starts.append(len(body))
        body += o(ref_size or 1) if callable(o) else o
    if offsets is not None:
        starts = offsets
    table = len(body)
    if off_size is None:
        off_size = 1 if table < 256 else 2 if table < 65536 else 4
    for s in starts:
        body += (s % 2**(8 * (off_size or 1))).to_bytes(off_size or 1, 'big')
    body += bytes(6) + bytes([off_size % 256, ref_size % 256])
    body += struct.pack('>QQQ', count if num_objects is None else num_objects, top,
                        table if table_offset is None else table_offset)
    return bytes(body) + tail


def array(refs):
    return lambda rs: length_marker(0xA0, len(refs)) + b''.join((r % 2**(8 * rs)).to_bytes(rs, 'big') for r in refs)


def dictionary(keys, values):
    return lambda rs: (length_marker(0xD0, len(keys)) + b''.join((r % 2**(8 * rs)).to_bytes(rs, 'big') for r in keys)
                       + b''.join((r % 2**(8 * rs)).to_bytes(rs, 'big') for r in values))


def ascii_obj(s):
    return length_marker(0x50, len(s)) + s


def utf16_obj(units):
    return length_marker(0x60, len(units)) + b''.join(u.to_bytes(2, 'big') for u in units)


def nested_arrays(depth):
    """`depth` arrays, each holding the next; the innermost is empty."""
    return [array([i + 1]) for i in range(depth - 1)] + [array([])]


def binary_seeds():
    s = {}
    empty_dict = bplist([dictionary([], [])])
    s['empty_dict_42_bytes'] = empty_dict
    s['truncated_41_bytes'] = empty_dict[:8] + empty_dict[9:]
    s['slack_43_bytes'] = bplist([dictionary([], [])], tail=b'\x00')
    s['scalars'] = bplist([array(list(range(1, 15))), b'\x08', b'\x09', int_obj(0), int_obj(-1, 8),
                           int_obj(2**63 - 1, 8), int_obj(2**64 - 1), b'\x22' + struct.pack('>f', 0.5),
                           b'\x23' + struct.pack('>d', -0.0), b'\x33' + struct.pack('>d', 7e8),
                           b'\x40', b'\x43abc', ascii_obj(b'hello, world!!!!'), utf16_obj([0xE9, 0xD83D, 0xDE00]),
                           b'\x80\x07'])
    s['sixteen_byte_ints'] = bplist([array([1, 2, 3]), b'\x14' + b'\xff' * 16,
                                     b'\x14' + bytes(15) + b'\x07', b'\x14' + bytes(8) + b'\x80' + bytes(7)])
    s['odd_int_markers'] = bplist([array([1, 2]), b'\x15' + bytes(32), b'\x1f\x00'])
    s['unknown_markers'] = bplist([array([1, 2, 3, 4, 5, 6, 7]), b'\x00', b'\x0f', b'\x0c', b'\x21\x00\x00',
                                   b'\x34' + bytes(16), b'\x73abc', b'\x91\x00'])
    s['set_marker'] = bplist([b'\xc2\x01\x02', int_obj(1), int_obj(2)])
    s['date_negative_zero'] = bplist([array([1]), b'\x33' + struct.pack('>d', -0.0)])
    s['uid_2p32_minus_1'] = bplist([array([1]), b'\x83\xff\xff\xff\xff'])
    s['uid_2p32'] = bplist([array([1]), b'\x84\x01\x00\x00\x00\x00'])
    s['non_string_keys'] = bplist([dictionary([1, 2], [3, 3]), int_obj(5), b'\x09', ascii_obj(b'v')])
    s['duplicate_keys'] = bplist([dictionary([1, 1], [2, 3]), ascii_obj(b'k'), ascii_obj(b'first'),
                                  ascii_obj(b'last')])
    s['lone_surrogates'] = bplist([array([1, 2, 3]), utf16_obj([0xD800]), utf16_obj([0xDC00, 0x41]),
                                   utf16_obj([0x41, 0xDBFF])])
    s['high_byte_ascii'] = bplist([array([1]), b'\x53\x80\xe9\xff'])
    s['length_escape_huge'] = bplist([array([1, 2]), b'\x5f\x12\xff\xf5\x00\x00', b'\x4f\x13' + b'\xff' * 8])
    s['length_escape_bad_marker'] = bplist([array([1]), b'\x5f\x22\x00\x00\x00\x03abc'])
    s['array_count_past_end'] = bplist([b'\xaf\x13\x7f\xff\xff\xff\xff\xff\xff\xff'])
    s['ref_out_of_range'] = bplist([array([9])])
    s['self_cycle'] = bplist([array([0])])
    s['cycle_2'] = bplist([array([1]), array([0])])
    s['cycle_16'] = bplist([array([(i + 1) % 16]) for i in range(16)])
    s['cycle_after_20_levels'] = bplist([array([i + 1]) for i in range(20)] + [array([5])])
    laughs = [array([i + 1, i + 1]) for i in range(30)] + [ascii_obj(b'lol')]
    s['billion_laughs_30'] = bplist(laughs)
    s['billion_laughs_30_dict'] = bplist([dictionary([31, 32], [i + 1, i + 1]) for i in range(30)]
                                         + [ascii_obj(b'lol'), ascii_obj(b'a'), ascii_obj(b'b')])
    for depth in (511, 512, 513):
        s['nesting_%d' % depth] = bplist(nested_arrays(depth))
    # Trailer checks, each on the otherwise valid one-array document.
    ok = [array([1]), int_obj(7)]
    s['trailer_zero_objects'] = bplist(ok, num_objects=0)
    s['trailer_top_past_end'] = bplist(ok, top=2)
    s['trailer_table_in_header'] = bplist(ok, table_offset=8)
    s['trailer_table_is_trailer'] = bplist(ok, table_offset=14)  # the objects end at 12, the table at 14
    s['trailer_table_past_end'] = bplist(ok, table_offset=2**63)
    s['trailer_objects_long_max_plus_1'] = bplist(ok, num_objects=2**63)
    s['trailer_offset_size_0'] = bplist(ok, off_size=0)
    s['trailer_ref_size_0'] = bplist(ok, ref_size=0)
    s['trailer_offset_size_3'] = bplist(ok, off_size=3)
    s['trailer_ref_size_3'] = bplist(ok, ref_size=3)
    s['trailer_ref_size_too_small'] = bplist([array(list(range(1, 257)))] + [b'\x09'] * 256, ref_size=1)
    s['offset_into_header'] = bplist(ok, offsets=[3, 11])
    s['overlapping_objects'] = bplist([b'\xa1\x01', b'\x10\x07'], offsets=[8, 9])
    s['embedded_bplist'] = bplist([array([1]), length_marker(0x40, len(empty_dict)) + empty_dict])
    store = {'SystemDefault': {'Idle': {'Content': {'Choices': [{
        'Configuration': plistlib.dumps({'module': {'relative': 'file:///Users/a/Library/Screen%20Savers/zeph.saver'}},
                                        fmt=plistlib.FMT_BINARY),
        'Files': [], 'Provider': 'com.apple.wallpaper.choice.screen-saver'}], 'Shuffle': '$null'},
        'LastSet': datetime.datetime(2025, 3, 1, 12), 'LastUse': datetime.datetime(2025, 3, 2, 8, 30)}},
        'Spaces': {'': {'Default': {'Type': 'individual'}, 'Displays': {'Main': {'Type': 'individual'}}},
                   '6A1E0E5C-0B3A-4B5E-9B8F-1A2B3C4D5E6F': {'Displays': {}}},
        'AllSpacesAndDisplays': '$null', 'Big': 2**64 - 1, 'Neg': -5, 'Real': 0.1, 'UID': plistlib.UID(3),
        'Uni': 'é—→\U0001F600'}
    s['store_plistlib'] = plistlib.dumps(store, fmt=plistlib.FMT_BINARY)
    return s, store


# --------------------------------------------------------------------- XML

XML_HEAD = (b'<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            b'"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n')


def plist_xml(body):
    return XML_HEAD + b'<plist version="1.0">\n' + body + b'\n</plist>\n'


def xml_seeds(store):
    s = {}
    s['store_plistlib'] = plistlib.dumps({k: v for k, v in store.items() if k != 'UID'}, fmt=plistlib.FMT_XML)
    s['all_kinds'] = plist_xml(
        b'<dict>\n\t<key>a</key>\n\t<array>\n\t\t<string>x &lt;&amp;&gt; &apos;&quot; &#65;&#x1F600;</string>\n'
        b'\t\t<integer>-9223372036854775808</integer>\n\t\t<integer>18446744073709551615</integer>\n'
        b'\t\t<integer>0x7f</integer>\n\t\t<integer>-0X10</integer>\n\t\t<integer> +5</integer>\n'
        b'\t\t<real>nan</real>\n\t\t<real>-infinity</real>\n\t\t<real>+inf</real>\n\t\t<real>1e-310</real>\n'
        b'\t\t<real>.5</real>\n\t\t<true/>\n\t\t<false></false>\n\t\t<date>2001-01-01T00:00:00Z</date>\n'
        b'\t\t<data>\n\t\tAAEC/w==\n\t\t</data>\n\t\t<key>k</key>\n\t\t<string/>\n\t\t<array/>\n\t\t<dict/>\n'
        b'\t</array>\n\t<key>u</key>\n\t<dict><key>CF$UID</key><integer>4294967295</integer></dict>\n'
        b'\t<key>v</key>\n\t<dict><key>CF$UID</key><real>2</real></dict>\n'
        b'\t<key>w</key>\n\t<dict><key>CF$UID</key><integer>4294967296</integer></dict>\n</dict>')
    s['bare_dict_root'] = b'<dict><key>a</key><string>b</string></dict>'
    s['empty_plist'] = plist_xml(b'')
    s['comment_prolog_short'] = b'<!----><plist><string>a</string></plist>'
    s['comment_prolog_odd'] = b'<!---><!--><plist><string>a</string></plist>'
    s['cdata'] = plist_xml(b'<array><string><![CDATA[<&>]]></string><key><![CDATA[]]></key>'
                           b'<real><![CDATA[1.5]]></real></array>')
    s['char_ref_too_big'] = plist_xml(b'<string>&#x110000;</string>')
    s['char_ref_upper_x'] = plist_xml(b'<string>&#X41;</string>')
    s['doctype_internal_subset'] = (b'<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY a "bbbb">]>'
                                    b'<plist><string>&a;</string></plist>')
    s['integer_edge_text'] = plist_xml(b'<array><integer>0x</integer><integer>18446744073709551616</integer>'
                                       b'<integer>-9223372036854775809</integer><integer>1_000</integer>'
                                       b'<integer>5 </integer><integer>\xe3\x80\x80-0x0</integer></array>')
    s['dates_odd'] = plist_xml(b'<array><date>2004Z</date><date>2001-00-01T00:00:00Z</date>'
                               b'<date>2001-99-01T00:00:00Z</date><date>12345678901234567890-01-01T00:00:00Z</date>'
                               b'<date>-0044-03-15T12:00:00Z</date><date>0000-12-30T00:00:00Z</date>'
                               b'<date>2001-01-01T00:00:00.5Z</date><date>1-01-01T00:00:00Z</date></array>')
    s['reals_odd'] = plist_xml(b'<array><real></real><real>0x1p3</real><real>-nan</real><real>1e400</real>'
                               b'<real> 2</real><real>INFINITY</real></array>')
    s['data_junk'] = plist_xml(b'<array><data>A B&C;D!E=\n==F</data><data>QUJD\xc3\xa9</data><data/></array>')
    s['unknown_tag'] = plist_xml(b'<dict><key>a</key><foo/></dict>')
    s['key_as_value'] = plist_xml(b'<dict><key>a</key><key>b</key><key>a</key><string>last</string></dict>')
    s['abcd'] = b'<abcd>'
    s['bad_utf8'] = plist_xml(b'<string>\xc3\x28\xed\xa0\x80</string>')
    s['controls_kept'] = plist_xml(b'<string>a\r\nb\x01\tc</string>')
    body = b'<string>\xc3\xa9\xf0\x9f\x98\x80</string>'
    s['utf16le_bom'] = b'\xff\xfe' + plist_xml(body).decode().encode('utf-16-le')
    s['utf16be_no_bom'] = plist_xml(body).decode().encode('utf-16-be')
    s['encoding_latin1'] = (b'<?xml version="1.0" encoding="ISO-8859-1"?><plist><string>\xe9</string></plist>')
    for depth in (511, 512, 513):
        s['nesting_%d' % depth] = plist_xml(b'<array>' * depth + b'</array>' * depth)
    return s


# ---------------------------------------------------------------- OpenStep

def openstep_seeds():
    s = {}
    s['dict_all'] = (b'// store\n{\n  a = b;\n  "quoted key" = \'single\';\n  list = (1, two, "3", );\n'
                     b'  data = <0aFF 12 34>;\n  nested = { x = (); y = {}; };\n  path = /usr/lib:$x.y-z_w;\n'
                     b'  /* block */ short;\n}\n')
    s['escapes'] = b'( "\\a\\b\\f\\n\\r\\t\\v\\"\\\\\\q", "\\U00e9\\U1F600", "\\101\\377\\0", "a\\\nb" )'
    s['strings_file'] = b'"a" = "b";\n"c";\nd = e;\n'
    s['empty'] = b''
    s['abcd'] = b'<abcd>'
    s['odd_hex'] = b'<abc>'
    s['junk_after'] = b'(a) b'
    s['non_string_key'] = b'{ (a) = b; }'
    s['unterminated_string'] = b'("abc'
    s['duplicate_keys'] = b'{ a = 1; a = 2; }'
    s['utf8_text'] = '{ "é—→" = "\U0001F600"; }'.encode()
    s['high_octal'] = b'"\\200\\351\\377"'
    for depth in (511, 512, 513):
        s['nesting_%d' % depth] = b'(' * depth + b')' * depth
    return s


# -------------------------------------------------------------------- main

def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fuzz', 'seeds')
    out = sys.argv[1] if len(sys.argv) > 1 else root
    binary, store = binary_seeds()
    xml = xml_seeds(store)
    openstep = openstep_seeds()
    roundtrip = {}
    for prefix, seeds, names in (
            ('bin_', binary, ['scalars', 'sixteen_byte_ints', 'lone_surrogates', 'billion_laughs_30', 'store_plistlib',
                              'date_negative_zero']),
            ('xml_', xml, ['all_kinds', 'store_plistlib', 'dates_odd', 'controls_kept', 'abcd']),
            ('openstep_', openstep, ['dict_all', 'escapes'])):
        for n in names:
            roundtrip[prefix + n] = seeds[n]
    total_files = total_bytes = 0
    for target, seeds in (('binary_reader', binary), ('xml_reader', xml), ('openstep_reader', openstep),
                          ('binary_roundtrip', roundtrip)):
        d = os.path.join(out, target)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        for name, data in sorted(seeds.items()):
            with open(os.path.join(d, name), 'wb') as f:
                f.write(data)
            total_files += 1
            total_bytes += len(data)
    print('%d seeds, %d bytes, in %s' % (total_files, total_bytes, out))


if __name__ == '__main__':
    main()

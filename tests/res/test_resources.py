#!/usr/bin/python3
"""Checks the resources and PE headers of both built Vexalune executables.

Usage:
  /usr/bin/python3 tests/res/test_resources.py --exe32 build/win32/vexalune.exe \
      --exe64 build/win64/vexalune.exe [unittest options]

The paths can also come from the environment, VEXALUNE_EXE32 and
VEXALUNE_EXE64. Both executables are required. Standard library only.
"""

import argparse
import os
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_resources  # noqa: E402


# Resource types
RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR = 3, 4, 5, 6, 9
RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 14, 16, 24

LANG_JA = 0x0411
LANG_EN_US = 0x0409

# Ids (res/resource.h)
RES_TITLE, RES_ABOUT_DIALOG, CMD_ABOUT, CMD_EXIT = 103, 103, 104, 105
RES_ICON, RES_ICON_SMALL, RES_MAIN, IDC_ABOUT_ICON = 107, 108, 109, 2
IDOK = 1

# Flags
MF_POPUP, MF_END = 0x10, 0x80
FALT, FVIRTKEY, ACCEL_END = 0x10, 0x01, 0x80
DS_SETFONT = 0x40

# The eight images of each icon group: (size, bits per pixel).
ICON_IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]

# DLLs that ship with Windows (lower case), plus the Microsoft DirectX
# runtime's D3DX9 DLLs (d3dx9_NN.dll, installed into System32 by the DirectX
# runtime; the program uses D3DX). Anything else, in particular the MinGW
# runtime DLLs, must not be imported.
SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'msvcrt.dll', 'ucrtbase.dll',
    'advapi32.dll', 'shell32.dll', 'ole32.dll', 'oleaut32.dll', 'comctl32.dll',
    'comdlg32.dll', 'shlwapi.dll', 'winmm.dll', 'version.dll', 'ws2_32.dll',
    'imm32.dll', 'dwmapi.dll', 'uxtheme.dll', 'ntdll.dll', 'bcrypt.dll',
    'd3d9.dll', 'dsound.dll', 'dinput8.dll', 'xinput1_3.dll', 'xinput1_4.dll',
    'xinput9_1_0.dll',
}
DIRECTX_RUNTIME = re.compile(r'^d3dx9_\d+\.dll$')
MINGW_RUNTIME = re.compile(r'^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic)', re.I)

EXE_PATHS = {'32': None, '64': None}


# --------------------------------------------------------------------------
# Decoders of the binary resource formats


class Reader:
    def __init__(self, data, test):
        self.data = data
        self.pos = 0
        self.test = test

    def u16(self):
        self.test.assertLessEqual(self.pos + 2, len(self.data), 'resource ends early')
        v = struct.unpack_from('<H', self.data, self.pos)[0]
        self.pos += 2
        return v

    def s16(self):
        v = self.u16()
        return v - 0x10000 if v >= 0x8000 else v

    def u32(self):
        self.test.assertLessEqual(self.pos + 4, len(self.data), 'resource ends early')
        v = struct.unpack_from('<I', self.data, self.pos)[0]
        self.pos += 4
        return v

    def wstr(self):
        """A NUL-terminated UTF-16LE string."""
        chars = []
        while True:
            c = self.u16()
            if c == 0:
                break
            chars.append(struct.pack('<H', c))
        return b''.join(chars).decode('utf-16-le')

    def sz_or_ord(self):
        """Returns None (empty), ('ord', n) or ('str', text)."""
        first = struct.unpack_from('<H', self.data, self.pos)[0]
        if first == 0x0000:
            self.pos += 2
            return None
        if first == 0xFFFF:
            self.pos += 2
            return ('ord', self.u16())
        return ('str', self.wstr())

    def align4(self):
        self.pos = (self.pos + 3) & ~3


def parse_menu(data, test):
    r = Reader(data, test)
    version, header_size = r.u16(), r.u16()
    test.assertEqual((version, header_size), (0, 0), 'menu must be a standard MENU (not MENUEX)')
    r.pos += header_size

    def items():
        out = []
        while True:
            flags = r.u16()
            if flags & MF_POPUP:
                text = r.wstr()
                out.append({'flags': flags, 'text': text, 'items': items()})
            else:
                cmd = r.u16()
                text = r.wstr()
                out.append({'flags': flags, 'id': cmd, 'text': text})
            if flags & MF_END:
                return out

    top = items()
    test.assertEqual(r.pos, len(data), 'bytes left after the menu template')
    return top


def parse_dialog(data, test):
    r = Reader(data, test)
    test.assertNotEqual(data[:4], b'\x01\x00\xff\xff', 'dialog must be a standard DIALOG (not DIALOGEX)')
    d = {}
    d['style'], d['exstyle'] = r.u32(), r.u32()
    count = r.u16()
    d['rect'] = (r.s16(), r.s16(), r.s16(), r.s16())
    d['menu'] = r.sz_or_ord()
    d['class'] = r.sz_or_ord()
    d['caption'] = r.sz_or_ord()
    if d['style'] & DS_SETFONT:
        d['pointsize'] = r.u16()
        d['font'] = r.wstr()
    d['controls'] = []
    for _ in range(count):
        r.align4()
        c = {}
        c['style'], c['exstyle'] = r.u32(), r.u32()
        c['rect'] = (r.s16(), r.s16(), r.s16(), r.s16())
        c['id'] = r.u16()
        c['class'] = r.sz_or_ord()
        c['text'] = r.sz_or_ord()
        c['extra'] = r.u16()
        r.pos += c['extra']
        d['controls'].append(c)
    test.assertLessEqual(len(data) - r.pos, 3, 'bytes left after the dialog template')
    test.assertEqual(data[r.pos:], bytes(len(data) - r.pos), 'non-zero padding after the dialog')
    return d


def parse_string_block(block_id, data, test):
    r = Reader(data, test)
    out = {}
    for i in range(16):
        n = r.u16()
        text = data[r.pos:r.pos + 2 * n].decode('utf-16-le')
        r.pos += 2 * n
        out[(block_id - 1) * 16 + i] = text
    test.assertEqual(r.pos, len(data), 'bytes left after the string block')
    return out


def parse_group_icon(data, test):
    r = Reader(data, test)
    reserved, rtype, count = r.u16(), r.u16(), r.u16()
    test.assertEqual((reserved, rtype), (0, 1), 'not an icon group header')
    entries = []
    for _ in range(count):
        w, h, colours, res = data[r.pos:r.pos + 4]
        r.pos += 4
        planes, bits = r.u16(), r.u16()
        size = r.u32()
        icon_id = r.u16()
        entries.append({'width': w or 256, 'height': h or 256, 'colours': colours,
                        'reserved': res, 'planes': planes, 'bits': bits,
                        'bytes': size, 'id': icon_id})
    test.assertEqual(r.pos, len(data), 'bytes left after the icon group')
    return entries


# --------------------------------------------------------------------------
# The checks, run once for each executable


class ExecutableChecks:
    BITS = None           # '32' or '64'
    MACHINE = None
    MAGIC = None

    @classmethod
    def setUpClass(cls):
        path = EXE_PATHS[cls.BITS]
        if not path or not os.path.isfile(path):
            raise AssertionError('%s-bit executable not found: %r' % (cls.BITS, path))
        cls.path = path
        cls.pe = pe_resources.load(path)
        cls.res = cls.pe.resources()

    def get(self, rtype, name, lang=LANG_JA):
        key = (rtype, name, lang)
        self.assertIn(key, self.res, 'missing resource type %r id %r language 0x%04x'
                      % (rtype, name, lang))
        return self.res[key]

    # -- PE headers and imports --------------------------------------------

    def test_pe_headers(self):
        self.assertEqual(self.pe.machine, self.MACHINE, 'machine')
        self.assertEqual(self.pe.magic, self.MAGIC, 'optional header magic (PE32 / PE32+)')
        self.assertEqual(self.pe.subsystem, 2, 'subsystem must be Windows GUI')

    def test_imports_only_system_dlls(self):
        dlls = [n.lower() for n in self.pe.imported_dlls()]
        self.assertTrue(dlls, 'no imports found')
        runtime = [n for n in dlls if MINGW_RUNTIME.match(n)]
        self.assertEqual(runtime, [], 'imports a MinGW runtime DLL')
        others = sorted(n for n in set(dlls) - SYSTEM_DLLS if not DIRECTX_RUNTIME.match(n))
        self.assertEqual(others, [], 'imports DLLs that are not system DLLs')

    # -- the set of resources ----------------------------------------------

    def test_no_other_resources(self):
        icon_ids = set()
        for gid in (RES_ICON, RES_ICON_SMALL):
            icon_ids |= {e['id'] for e in parse_group_icon(self.get(RT_GROUP_ICON, gid), self)}
        expected = {
            (RT_STRING, RES_TITLE // 16 + 1, LANG_JA),
            (RT_MENU, RES_MAIN, LANG_JA),
            (RT_ACCELERATOR, RES_MAIN, LANG_JA),
            (RT_DIALOG, RES_ABOUT_DIALOG, LANG_JA),
            (RT_GROUP_ICON, RES_ICON, LANG_JA),
            (RT_GROUP_ICON, RES_ICON_SMALL, LANG_JA),
            (RT_MANIFEST, 1, LANG_EN_US),
        } | {(RT_ICON, i, LANG_JA) for i in icon_ids}
        self.assertFalse([k for k in self.res if k[0] == RT_VERSION], 'has a version resource')
        self.assertFalse([k for k in self.res if not all(isinstance(p, int) for p in k[:2])],
                         'resources must be identified by number')
        self.assertEqual(sorted(set(self.res) - expected), [], 'unexpected resources')
        self.assertEqual(sorted(expected - set(self.res)), [], 'missing resources')

    # -- string table --------------------------------------------------------

    def test_string_table(self):
        blocks = [k for k in self.res if k[0] == RT_STRING]
        self.assertEqual(blocks, [(RT_STRING, 7, LANG_JA)], 'string blocks')
        strings = parse_string_block(7, self.get(RT_STRING, 7), self)
        present = {k: v for k, v in strings.items() if v}
        self.assertEqual(present, {RES_TITLE: 'Vexalune', RES_MAIN: 'VEXALUNE'})

    # -- menu ----------------------------------------------------------------

    def test_menu(self):
        menu = parse_menu(self.get(RT_MENU, RES_MAIN), self)
        expected = [
            {'flags': MF_POPUP, 'text': 'ファイル(&F)', 'items': [
                {'flags': MF_END, 'id': CMD_EXIT, 'text': 'アプリケーションの終了(&X)'},
            ]},
            {'flags': MF_POPUP | MF_END, 'text': 'ヘルプ(&H)', 'items': [
                {'flags': MF_END, 'id': CMD_ABOUT, 'text': 'バージョン情報(&A)...'},
            ]},
        ]
        self.assertEqual(menu, expected)

    # -- accelerators --------------------------------------------------------

    def test_accelerators(self):
        data = self.get(RT_ACCELERATOR, RES_MAIN)
        self.assertEqual(len(data), 16, 'two 8-byte accelerator entries')
        entries = [struct.unpack_from('<HHHH', data, 8 * i) for i in range(2)]
        self.assertEqual(entries, [
            (FALT, ord('?'), CMD_ABOUT, 0),
            (FALT | ACCEL_END, ord('/'), CMD_ABOUT, 0),
        ])
        for flags, _, _, _ in entries:
            self.assertFalse(flags & FVIRTKEY, 'character keys, not FVIRTKEY')

    # -- About dialog --------------------------------------------------------

    def test_dialog_header(self):
        d = parse_dialog(self.get(RT_DIALOG, RES_ABOUT_DIALOG), self)
        self.assertEqual(d['style'], 0x00C800C0, 'dialog style')
        self.assertEqual(d['exstyle'], 0, 'dialog exstyle')
        self.assertEqual(d['rect'], (22, 17, 230, 75), 'dialog position and size')
        self.assertIsNone(d['menu'], 'dialog menu')
        self.assertIsNone(d['class'], 'dialog class')
        self.assertEqual(d['caption'], ('str', 'バージョン情報'), 'dialog caption')
        self.assertEqual(d['pointsize'], 9, 'font size')
        self.assertEqual(d['font'], 'MS UI Gothic', 'font name')

    def test_dialog_controls(self):
        d = parse_dialog(self.get(RT_DIALOG, RES_ABOUT_DIALOG), self)
        controls = d['controls']
        self.assertEqual(len(controls), 4, 'number of controls')
        STATIC, BUTTON = ('ord', 0x0082), ('ord', 0x0080)
        expected = [
            (0x50000003, (14, 9, 16, 16), IDC_ABOUT_ICON, STATIC, ('ord', RES_ICON)),
            (0x50020080, (49, 10, 119, 8), 0xFFFF, STATIC, ('str', 'Vexalune Version 1.0')),
            (0x50020000, (49, 20, 119, 8), 0xFFFF, STATIC, None),
            (0x50030001, (195, 6, 30, 11), IDOK, BUTTON, ('str', 'OK')),
        ]
        for i, (c, (style, rect, cid, cls, text)) in enumerate(zip(controls, expected), 1):
            with self.subTest(control=i):
                self.assertEqual(c['style'], style, 'style')
                self.assertEqual(c['exstyle'], 0, 'exstyle')
                self.assertEqual(c['rect'], rect, 'rect')
                self.assertEqual(c['id'], cid, 'id')
                self.assertEqual(c['class'], cls, 'class')
                self.assertEqual(c['extra'], 0, 'creation data')
                if text is None:
                    # The second line is free text, but must be a short string.
                    self.assertEqual(c['text'][0], 'str', 'text')
                    self.assertTrue(0 < len(c['text'][1]) <= 40, 'second line: %r' % (c['text'],))
                else:
                    self.assertEqual(c['text'], text, 'text')

    # -- icons ---------------------------------------------------------------

    def check_icon_image(self, entry, data):
        size, bits = entry['width'], entry['bits']
        self.assertNotEqual(data[:8], b'\x89PNG\r\n\x1a\n', 'PNG image, must be BMP')
        self.assertEqual(len(data), entry['bytes'], 'dwBytesInRes')
        hdr = struct.unpack_from('<IiiHHIIiiII', data, 0)
        bi_size, w, h, planes, bitcount, compression = hdr[:6]
        self.assertEqual(bi_size, 40, 'BITMAPINFOHEADER size')
        self.assertEqual((w, h), (size, 2 * size), 'bitmap size (height counts XOR + AND)')
        self.assertEqual(planes, 1, 'bitmap planes')
        self.assertEqual(bitcount, bits, 'bitmap bit count')
        self.assertEqual(compression, 0, 'BI_RGB (uncompressed)')
        colours_used = hdr[9]
        palette = (colours_used or (1 << bits)) if bits <= 8 else 0
        stride = lambda bpp: ((size * bpp + 31) // 32) * 4  # noqa: E731
        expected = 40 + 4 * palette + stride(bits) * size + stride(1) * size
        self.assertEqual(len(data), expected, 'image size (header + palette + XOR + AND mask)')
        if bits == 4:
            vga = bytes.fromhex('00000000 00008000 00800000 00808000 80000000 80008000'
                                '80800000 c0c0c000 80808000 0000ff00 00ff0000 00ffff00'
                                'ff000000 ff00ff00 ffff0000 ffffff00')
            self.assertEqual(data[40:40 + 64], vga, 'standard 16-colour palette')
        # The mask must make some pixels transparent and leave some opaque.
        mask = data[len(data) - stride(1) * size:]
        bits_set = sum(bin(mask[y * stride(1) + x // 8] >> (7 - x % 8) & 1).count('1')
                       for y in range(size) for x in range(size))
        self.assertTrue(0 < bits_set < size * size, 'AND mask is all one value')

    def check_group(self, gid):
        entries = parse_group_icon(self.get(RT_GROUP_ICON, gid), self)
        got = [(e['width'], e['height'], e['bits']) for e in entries]
        self.assertEqual(got, [(s, s, b) for s, b in ICON_IMAGES], 'icon group %d images' % gid)
        images = []
        for e in entries:
            with self.subTest(group=gid, icon=e['id']):
                self.assertEqual(e['planes'], 1, 'planes')
                self.assertEqual(e['colours'], 16 if e['bits'] == 4 else 0, 'colour count')
                self.assertEqual(e['reserved'], 0, 'reserved')
                data = self.get(RT_ICON, e['id'])
                self.check_icon_image(e, data)
                images.append(data)
        return images

    def test_icon_groups(self):
        large = self.check_group(RES_ICON)
        small = self.check_group(RES_ICON_SMALL)
        self.assertTrue(large == small, 'the two icon groups hold different images')

    # -- manifest --------------------------------------------------------

    def test_manifest(self):
        text = self.get(RT_MANIFEST, 1, LANG_EN_US)
        root = ET.fromstring(text)
        v1 = '{urn:schemas-microsoft-com:asm.v1}'
        v3 = '{urn:schemas-microsoft-com:asm.v3}'
        self.assertEqual(root.tag, v1 + 'assembly')
        self.assertEqual(root.attrib, {'manifestVersion': '1.0'})
        self.assertEqual([c.tag for c in root], [v3 + 'trustInfo'], 'assembly children')
        trust = root[0]
        self.assertEqual(trust.attrib, {})
        self.assertEqual([c.tag for c in trust], [v3 + 'security'])
        security = trust[0]
        self.assertEqual([c.tag for c in security], [v3 + 'requestedPrivileges'])
        privs = security[0]
        self.assertEqual([c.tag for c in privs], [v3 + 'requestedExecutionLevel'])
        level = privs[0]
        self.assertEqual(level.attrib, {'level': 'asInvoker', 'uiAccess': 'false'})
        self.assertEqual(list(level), [])
        for e in root.iter():
            self.assertFalse((e.text or '').strip(), 'text in <%s>' % e.tag)


class Exe32Test(ExecutableChecks, unittest.TestCase):
    BITS = '32'
    MACHINE = pe_resources.IMAGE_FILE_MACHINE_I386
    MAGIC = pe_resources.PE32_MAGIC


class Exe64Test(ExecutableChecks, unittest.TestCase):
    BITS = '64'
    MACHINE = pe_resources.IMAGE_FILE_MACHINE_AMD64
    MAGIC = pe_resources.PE32PLUS_MAGIC


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--exe32', default=os.environ.get('VEXALUNE_EXE32'),
                        help='the 32-bit vexalune.exe (or $VEXALUNE_EXE32)')
    parser.add_argument('--exe64', default=os.environ.get('VEXALUNE_EXE64'),
                        help='the 64-bit vexalune.exe (or $VEXALUNE_EXE64)')
    args, rest = parser.parse_known_args(argv[1:])
    if not args.exe32 or not args.exe64:
        parser.error('both --exe32 and --exe64 (or VEXALUNE_EXE32 / VEXALUNE_EXE64) are needed')
    EXE_PATHS['32'] = os.path.abspath(args.exe32)
    EXE_PATHS['64'] = os.path.abspath(args.exe64)
    unittest.main(argv=[argv[0]] + rest)


if __name__ == '__main__':
    main(sys.argv)

#!/usr/bin/python3
"""Checks what a release ships: both builds' exes stripped, with symbols in a
debug file that the exe names and that resolves the program's own code to
its source, and the Windows archive with the 32-bit build's exe in it.

Usage:
  /usr/bin/python3 tests/release/test_release.py --build32 build/win32 \
      --build64 build/win64 --version 1.0 [unittest options]

--version is the one CMake read from the About box's text in the resource
script; the test checks that the exe in the archive shows that same text.
Needs the MinGW-w64 binutils (i686-/x86_64-w64-mingw32-nm, -addr2line).
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
ARGS = None

# Per build: its binutils prefix, and the symbol of WinMain as its ABI
# decorates it.
BUILDS = {
    '32': ('i686-w64-mingw32-', '_WinMain@16'),
    '64': ('x86_64-w64-mingw32-', 'WinMain'),
}
ARCHIVE_MEMBERS = ['vexalune.exe', 'README.txt']
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
EXE_MODE, TEXT_MODE = 0o100755, 0o100644


def section_table(data):
    """[(name, virtual size, raw size, raw offset)] and the number of COFF
    symbols. A name longer than 8 characters ("/N" in the table) is read
    from the string table after the symbols, which a stripped exe keeps."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise ValueError('not a PE file')
    count, = struct.unpack_from('<H', data, pe + 6)
    symbols_at, symbols = struct.unpack_from('<II', data, pe + 12)
    optional_size, = struct.unpack_from('<H', data, pe + 20)
    strings = symbols_at + 18 * symbols
    table = pe + 24 + optional_size
    sections = []
    for i in range(count):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b'\0').decode('ascii')
        if name.startswith('/'):
            at = strings + int(name[1:])
            name = data[at:data.index(b'\0', at)].decode('ascii')
        virtual_size, _, raw_size, raw_at = struct.unpack_from('<IIII', data, entry + 8)
        sections.append((name, virtual_size, raw_size, raw_at))
    return sections, symbols


def section_names(data):
    return [name for name, *_ in section_table(data)[0]]


def section_data(data, wanted):
    for name, virtual_size, raw_size, raw_at in section_table(data)[0]:
        if name == wanted:
            return data[raw_at:raw_at + min(virtual_size, raw_size)]
    return None


def about_box_versions(exe):
    """Every "Vexalune Version X" in the exe's UTF-16 resource texts."""
    return re.findall(r'Vexalune Version ([0-9.]+)', exe.decode('utf-16-le', 'replace')) + \
        re.findall(r'Vexalune Version ([0-9.]+)', exe[1:].decode('utf-16-le', 'replace'))


def read(path):
    with open(path, 'rb') as f:
        return f.read()


class StrippedExes(unittest.TestCase):
    """The exes the builds make (which the resource and end-to-end tests
    read) are the stripped ones, and their symbols are not lost."""

    def paths(self, bits):
        build = getattr(ARGS, 'build' + bits)
        return os.path.join(build, 'vexalune.exe'), os.path.join(build, 'vexalune.exe.debug')

    def test_exes_carry_no_symbols_or_debug_sections(self):
        for bits in BUILDS:
            with self.subTest(build=bits):
                exe, _ = self.paths(bits)
                data = read(exe)
                names, symbols = section_names(data), section_table(data)[1]
                print('%s-bit exe: %d bytes, sections %s, %d symbols' % (bits, len(data), names, symbols))
                self.assertEqual([n for n in names if n.startswith('.debug')], [], 'debug sections left in %s' % exe)
                self.assertEqual(symbols, 0, 'symbols left in %s' % exe)

    def test_no_time_stamp_in_exe_or_debug_file(self):
        # The linker is told to leave it 0; objcopy, which strips, writes
        # the current time there unless told otherwise.
        for bits in BUILDS:
            for path in self.paths(bits):
                with self.subTest(file=path):
                    data = read(path)
                    stamp, = struct.unpack_from('<I', data, struct.unpack_from('<I', data, 0x3C)[0] + 8)
                    print('%s: PE time stamp %d' % (path, stamp))
                    self.assertEqual(stamp, 0)

    def test_exe_names_its_debug_file_with_its_crc(self):
        for bits in BUILDS:
            with self.subTest(build=bits):
                exe, debug = self.paths(bits)
                link = section_data(read(exe), '.gnu_debuglink')
                self.assertIsNotNone(link, 'no .gnu_debuglink in %s' % exe)
                name = link[:link.index(b'\0')].decode('ascii')
                crc, = struct.unpack_from('<I', link, (len(name) + 1 + 3) // 4 * 4)
                actual = zlib.crc32(read(debug))
                print('%s-bit exe links %r, CRC %#010x; %s has CRC %#010x' % (bits, name, crc, debug, actual))
                self.assertEqual(name, os.path.basename(debug))
                self.assertEqual(crc, actual, 'the debug file beside %s is not the one it was stripped with' % exe)

    def test_debug_file_resolves_winmain_to_its_source_line(self):
        for bits, (tools, symbol) in BUILDS.items():
            with self.subTest(build=bits):
                _, debug = self.paths(bits)
                listing = subprocess.run([tools + 'nm', debug], stdout=subprocess.PIPE, text=True, check=True).stdout
                addresses = [line.split()[0] for line in listing.splitlines()
                             if line.split()[1:] == ['T', symbol]]
                print('%s-bit debug file: %s at %s' % (bits, symbol, addresses))
                self.assertEqual(len(addresses), 1)
                resolved = subprocess.run([tools + 'addr2line', '-f', '-e', debug, '0x' + addresses[0]],
                                          stdout=subprocess.PIPE, text=True, check=True).stdout.split()
                print('  addr2line: %s' % resolved)
                self.assertEqual(resolved[0], symbol.lstrip('_'))
                self.assertRegex(resolved[1], r'^(\./)?app/win_main\.cpp:[0-9]+$')


class WindowsArchive(unittest.TestCase):
    """Vexalune-<version>-win32.zip: what a Windows user downloads."""

    @classmethod
    def setUpClass(cls):
        cls.path = os.path.join(ARGS.build32, 'Vexalune-%s-win32.zip' % ARGS.version)
        cls.data = read(cls.path)

    def test_holds_the_builds_stripped_exe_and_the_text(self):
        with zipfile.ZipFile(self.path) as archive:
            names = archive.namelist()
            print('%s: %s' % (self.path, names))
            self.assertEqual(names, ARCHIVE_MEMBERS)
            self.assertIsNone(archive.testzip())
            exe = archive.read('vexalune.exe')
            text = archive.read('README.txt').decode('utf-8-sig')
        build_exe = read(os.path.join(ARGS.build32, 'vexalune.exe'))
        print('exe in the archive: %d bytes, build/win32: %d bytes' % (len(exe), len(build_exe)))
        self.assertEqual(exe, build_exe, 'the exe in the archive is not the 32-bit build\'s')
        self.assertEqual(struct.unpack_from('<H', exe, struct.unpack_from('<I', exe, 0x3C)[0] + 4)[0], 0x14C,
                         'not a 32-bit (i386) exe')
        for needed in ('Vexalune ' + ARGS.version, 'd3dx9_35.dll', 'DirectX', 'Alt+F4', 'close box',
                       'アプリケーションの終了'):
            self.assertIn(needed, text)
        self.assertNotIn('@', text, 'a placeholder was left in the text')
        self.assertNotIn('\n', text.replace('\r\n', ''), 'a line of the text has no Windows line ending')

    def test_name_has_the_version_the_about_box_shows(self):
        with zipfile.ZipFile(self.path) as archive:
            versions = about_box_versions(archive.read('vexalune.exe'))
        print('archive for version %s; the About box in it shows %s' % (ARGS.version, versions))
        self.assertEqual(versions, [ARGS.version])

    def test_members_have_fixed_times_and_permissions(self):
        with zipfile.ZipFile(self.path) as archive:
            seen = [(i.filename, i.date_time, oct(i.external_attr >> 16)) for i in archive.infolist()]
        print(seen)
        self.assertEqual(seen, [('vexalune.exe', FIXED_TIME, oct(EXE_MODE)),
                                ('README.txt', FIXED_TIME, oct(TEXT_MODE))])

    def test_same_bytes_from_inputs_with_other_times_and_modes(self):
        # Made again from copies of the inputs with another time stamp and
        # mode, at another path: only their bytes may count.
        with tempfile.TemporaryDirectory() as work:
            exe = os.path.join(work, 'vexalune.exe')
            readme = os.path.join(work, 'readme.txt')
            shutil.copyfile(os.path.join(ARGS.build32, 'vexalune.exe'), exe)
            shutil.copyfile(os.path.join(REPO, 'docs', 'windows-readme.txt'), readme)
            for path in (exe, readme):
                os.chmod(path, 0o600)
                os.utime(path, (1234567890, 1234567890))
            again = os.path.join(work, 'again.zip')
            subprocess.run([sys.executable, '-B', os.path.join(REPO, 'cmake', 'make_archive.py'), '--output', again,
                            '--version', ARGS.version, '--exe', exe, '--readme', readme], check=True)
            remade = read(again)
        print('archive %d bytes, remade %d bytes' % (len(self.data), len(remade)))
        self.assertEqual(remade, self.data)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--build32', required=True)
    parser.add_argument('--build64', required=True)
    parser.add_argument('--version', required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()

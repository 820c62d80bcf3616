"""A small reader of Windows PE files (PE32 and PE32+), standard library only.

It reads what tests/res/test_resources.py checks: the machine, optional header
magic and subsystem, the names of the imported DLLs, and every resource as
{(type, name, language): bytes}. A type or name given by number is an int,
one given by a string is a str.
"""

import struct

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_MAGIC = 0x010B
PE32PLUS_MAGIC = 0x020B

DIR_IMPORT = 1
DIR_RESOURCE = 2
DIR_DELAY_IMPORT = 13


class PEError(Exception):
    pass


class Section:
    def __init__(self, name, vaddr, vsize, raw_ptr, raw_size):
        self.name = name
        self.vaddr = vaddr
        self.vsize = vsize
        self.raw_ptr = raw_ptr
        self.raw_size = raw_size


class PEFile:
    def __init__(self, data):
        self.data = bytes(data)
        d = self.data
        if len(d) < 0x40 or d[:2] != b'MZ':
            raise PEError('no MZ header')
        pe = self._u32(0x3C)
        if d[pe:pe + 4] != b'PE\0\0':
            raise PEError('no PE signature')
        coff = pe + 4
        (self.machine, nsections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', d, coff)
        opt = coff + 20
        self.magic = self._u16(opt)
        if self.magic == PE32_MAGIC:
            dirs_at = 96
        elif self.magic == PE32PLUS_MAGIC:
            dirs_at = 112
        else:
            raise PEError('unknown optional header magic 0x%x' % self.magic)
        self.subsystem = self._u16(opt + 68)
        ndirs = self._u32(opt + dirs_at - 4)
        self.directories = []
        for i in range(ndirs):
            self.directories.append(struct.unpack_from('<II', d, opt + dirs_at + 8 * i))
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from('<8sIIII', d, sec + 40 * i)
            self.sections.append(Section(name.rstrip(b'\0').decode('latin-1'),
                                         vaddr, vsize, raw_ptr, raw_size))

    # -- helpers ------------------------------------------------------------

    def _u16(self, off):
        return struct.unpack_from('<H', self.data, off)[0]

    def _u32(self, off):
        return struct.unpack_from('<I', self.data, off)[0]

    def rva_to_offset(self, rva):
        for s in self.sections:
            size = max(s.vsize, s.raw_size)
            if s.vaddr <= rva < s.vaddr + size:
                if rva - s.vaddr >= s.raw_size:
                    raise PEError('RVA 0x%x is in uninitialised data' % rva)
                return s.raw_ptr + (rva - s.vaddr)
        raise PEError('RVA 0x%x is in no section' % rva)

    def directory(self, index):
        if index >= len(self.directories):
            return 0, 0
        return self.directories[index]

    def _cstring(self, off):
        end = self.data.index(b'\0', off)
        return self.data[off:end].decode('latin-1')

    # -- what the tests ask -------------------------------------------------

    @property
    def is_pe32plus(self):
        return self.magic == PE32PLUS_MAGIC

    def imported_dlls(self):
        """Names of the DLLs in the import and delay-import tables, as written."""
        names = []
        rva, size = self.directory(DIR_IMPORT)
        if rva:
            off = self.rva_to_offset(rva)
            while True:
                desc = struct.unpack_from('<IIIII', self.data, off)
                if desc == (0, 0, 0, 0, 0):
                    break
                names.append(self._cstring(self.rva_to_offset(desc[3])))
                off += 20
        rva, size = self.directory(DIR_DELAY_IMPORT)
        if rva:
            off = self.rva_to_offset(rva)
            while True:
                desc = struct.unpack_from('<8I', self.data, off)
                if desc == (0,) * 8:
                    break
                names.append(self._cstring(self.rva_to_offset(desc[1])))
                off += 32
        return names

    def resources(self):
        """{(type, name, lang): bytes} for every resource in the file."""
        rva, size = self.directory(DIR_RESOURCE)
        if not rva:
            return {}
        base = self.rva_to_offset(rva)
        out = {}

        def entries(dir_off):
            nnamed, nids = struct.unpack_from('<HH', self.data, base + dir_off + 12)
            for i in range(nnamed + nids):
                name, target = struct.unpack_from('<II', self.data, base + dir_off + 16 + 8 * i)
                if name & 0x80000000:
                    soff = base + (name & 0x7FFFFFFF)
                    n = self._u16(soff)
                    key = self.data[soff + 2:soff + 2 + 2 * n].decode('utf-16-le')
                else:
                    key = name & 0xFFFF
                yield key, target

        for rtype, t1 in entries(0):
            if not t1 & 0x80000000:
                raise PEError('resource type entry is not a directory')
            for rname, t2 in entries(t1 & 0x7FFFFFFF):
                if not t2 & 0x80000000:
                    raise PEError('resource name entry is not a directory')
                for lang, t3 in entries(t2 & 0x7FFFFFFF):
                    if t3 & 0x80000000:
                        raise PEError('resource language entry is a directory')
                    data_rva, data_size, _, _ = struct.unpack_from('<IIII', self.data, base + t3)
                    off = self.rva_to_offset(data_rva)
                    key = (rtype, rname, lang)
                    if key in out:
                        raise PEError('resource %r appears twice' % (key,))
                    out[key] = self.data[off:off + data_size]
        return out


def load(path):
    with open(path, 'rb') as f:
        return PEFile(f.read())


def read_resources(path):
    return load(path).resources()


if __name__ == '__main__':
    import sys
    for p in sys.argv[1:]:
        pe = load(p)
        print('%s: machine 0x%x magic 0x%x subsystem %d' % (p, pe.machine, pe.magic, pe.subsystem))
        print('  imports:', ', '.join(pe.imported_dlls()))
        for (t, n, l), b in sorted(pe.resources().items(), key=lambda kv: str(kv[0])):
            print('  type %r name %r lang 0x%04x: %d bytes' % (t, n, l, len(b)))

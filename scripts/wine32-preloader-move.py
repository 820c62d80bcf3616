#!/usr/bin/python3
"""Moves the header-only first PT_LOAD segment of Wine's 32-bit preloader.

qemu-user reserves the whole address span of an executable's PT_LOAD
segments before mapping them. The preloader's first segment (the ELF
headers, file offset 0) sits at 0x08048000 while its code sits just below
0x7d400000, so qemu keeps almost 2 GB from the guest and Mesa's 29 MB
driver no longer fits ("failed to map segment"). Nothing refers to that
segment's address, so it can live right below the next one.

    wine32-preloader-move.py PRELOADER [NEW_ADDRESS]

Idempotent: a preloader already moved is left as it is. Exits non-zero when
the file is not the 32-bit ELF executable this expects.
"""

import os
import struct
import sys

DEFAULT_ADDRESS = 0x7d3ff000
PAGE = 0x1000
PT_LOAD = 1
ELF_HEADER = struct.Struct('<16sHHIIIIIHHHHHH')
PROGRAM_HEADER = struct.Struct('<IIIIIIII')  # type offset vaddr paddr filesz memsz flags align


def load_segments(data):
    ident, _type, machine, _version, _entry, phoff, _shoff, _flags, _ehsize, phentsize, phnum, *_ = \
        ELF_HEADER.unpack_from(data, 0)
    if ident[:4] != b'\x7fELF' or ident[4] != 1 or ident[5] != 1 or machine != 3:
        raise SystemExit('not a little-endian 32-bit i386 ELF file')
    if phentsize != PROGRAM_HEADER.size:
        raise SystemExit('unexpected program header size %d' % phentsize)
    segments = []
    for index in range(phnum):
        where = phoff + index * phentsize
        fields = PROGRAM_HEADER.unpack_from(data, where)
        if fields[0] == PT_LOAD:
            segments.append((where, fields))
    return segments


def move_first_segment(data, address):
    segments = load_segments(data)
    if len(segments) < 2:
        raise SystemExit('expected at least two PT_LOAD segments, found %d' % len(segments))
    (where, first), (_, second) = segments[0], segments[1]
    _type, offset, vaddr, paddr, filesz, memsz, flags, align = first
    if vaddr == address:
        return False
    if offset != 0:
        raise SystemExit('first PT_LOAD has file offset 0x%x, expected the headers at 0' % offset)
    end = address + ((memsz + PAGE - 1) // PAGE) * PAGE
    if address % PAGE or end > second[2]:
        raise SystemExit('0x%x..0x%x would overlap the next segment at 0x%x' % (address, end, second[2]))
    PROGRAM_HEADER.pack_into(data, where, PT_LOAD, offset, address, address, filesz, memsz, flags, align)
    print('moved the first PT_LOAD from 0x%08x to 0x%08x' % (vaddr, address))
    return True


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    path = sys.argv[1]
    address = int(sys.argv[2], 0) if len(sys.argv) == 3 else DEFAULT_ADDRESS
    with open(path, 'rb') as f:
        data = bytearray(f.read())
    if move_first_segment(data, address):
        with open(path + '.new', 'wb') as f:
            f.write(data)
        os.chmod(path + '.new', os.stat(path).st_mode)
        os.replace(path + '.new', path)


if __name__ == '__main__':
    main()

#!/usr/bin/python3
"""Packs the Windows users' archive: the program and a text for them.

Usage:
  make_archive.py --output Vexalune-1.0-win32.zip --version 1.0 \
      --exe build/win32/vexalune.exe --readme docs/windows-readme.txt

The archive depends on the bytes of its inputs only, not on when or by whom
it was made: every member has the same fixed time stamp and permissions, the
members come in a fixed order, and the text gets Windows line endings. Two
builds of the same sources therefore give the same archive, byte for byte.
"""

import argparse
import os
import zipfile

# The earliest time a zip entry can hold (MS-DOS date and time).
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
EXE_MODE = 0o100755
TEXT_MODE = 0o100644


def member(name, mode):
    info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
    info.create_system = 3  # Unix, so that external_attr carries the mode
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def windows_text(path, version):
    """The text as Notepad on any Windows shows it: UTF-8 with a byte order
    mark and CRLF line endings."""
    with open(path, encoding='utf-8') as f:
        text = f.read().replace('@VERSION@', version)
    return '\ufeff'.encode('utf-8') + text.replace('\r\n', '\n').replace('\n', '\r\n').encode('utf-8')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--output', required=True)
    parser.add_argument('--version', required=True)
    parser.add_argument('--exe', required=True)
    parser.add_argument('--readme', required=True)
    args = parser.parse_args()

    with open(args.exe, 'rb') as f:
        exe = f.read()
    members = [
        (member('vexalune.exe', EXE_MODE), exe),
        (member('README.txt', TEXT_MODE), windows_text(args.readme, args.version)),
    ]
    # Written beside the output and renamed, so that an interrupted build
    # leaves no half archive that looks up to date.
    partial = args.output + '.partial'
    with zipfile.ZipFile(partial, 'w', compresslevel=9) as archive:
        for info, data in members:
            archive.writestr(info, data)
    os.replace(partial, args.output)


if __name__ == '__main__':
    main()

#!/usr/bin/python3
"""Tells, from the Wine log of a failed run under the emulated 32-bit Wine,
whether the program failed or the emulator did.

qemu-user sometimes fails a guest where real hardware would not:
  - "qemu: uncaught target signal N" - qemu could not deliver a signal to
    the guest's handler and ended the process itself;
  - Wine's "Got unexpected trap" - qemu handed Wine's signal handler a
    faulting context with a trap number Wine does not know (qemu gives -1),
    so a fault Wine would handle ends in an exception it cannot.
Which process it hit decides what the failure means. The log must come from
a run with WINEDEBUG containing "+pid" and "trace+loaddll" (so each line
names its Windows process, and each process's .exe is known) and "err+seh"
(the trap message).

    wine32-triage.py LOG PROGRAM EXIT_CODE

Prints one verdict line and exits with
  0  the run passed (exit code 0), whatever the log says
  1  the program failed, no emulator fault seen: never to be retried
  2  the emulator failed inside the program's own process
  3  the emulator failed in another Wine process (wineserver helpers,
     services, explorer); the program may have been a bystander
"""

import ntpath
import re
import sys

LOADED = re.compile(r'^([0-9a-f]{4,}):[0-9a-f]{4,}:trace:loaddll:\S+ Loaded L"(.*?)" at ')
WINE_TRAP = re.compile(r'^(?:([0-9a-f]{4,}):)?[0-9a-f]{4,}:err:seh:\S+ (Got unexpected trap.*)$')
QEMU_SIGNAL = re.compile(r'qemu: uncaught target signal.*')

PASSED, PROGRAM, EMULATOR_IN_PROGRAM, EMULATOR_ELSEWHERE = 0, 1, 2, 3


def process_names(lines):
    """Windows pid -> name of the first .exe loaded in it."""
    names = {}
    for line in lines:
        match = LOADED.match(line)
        if match and match.group(2).lower().endswith('.exe'):
            names.setdefault(match.group(1), ntpath.basename(match.group(2)))
    return names


def triage(lines, program, exit_code):
    """Returns (verdict, message)."""
    program = ntpath.basename(program.replace('/', '\\')).lower()
    names = process_names(lines)
    traps = []
    for line in lines:
        match = WINE_TRAP.match(line.strip())
        if match:
            traps.append((match.group(1), match.group(2)))
    qemu_signals = [m.group(0) for m in map(QEMU_SIGNAL.search, lines) if m]

    def is_program(pid):
        return pid is not None and names.get(pid, '').lower() == program

    if exit_code == 0:
        return PASSED, 'passed'
    # The emulated program's own process ends by the signal, seen as 128+N.
    program_signalled = exit_code > 128 and exit_code < 128 + 65
    in_program = [t for t in traps if is_program(t[0])]
    elsewhere = [t for t in traps if not is_program(t[0])]
    if qemu_signals and program_signalled:
        return EMULATOR_IN_PROGRAM, 'EMULATOR FAILED in the program %s itself: %s (exit code %d)' % (
            program, qemu_signals[0], exit_code)
    if in_program:
        return EMULATOR_IN_PROGRAM, 'EMULATOR FAILED in the program %s itself: Wine: %s (exit code %d)' % (
            program, in_program[0][1], exit_code)
    if elsewhere or qemu_signals:
        where = ', '.join(sorted({names.get(pid, 'process %s' % pid) for pid, _ in elsewhere})) or 'another process'
        what = elsewhere[0][1] if elsewhere else qemu_signals[0]
        return EMULATOR_ELSEWHERE, 'EMULATOR FAILED in %s, not in the program %s: %s (program exit code %d)' % (
            where, program, what, exit_code)
    return PROGRAM, 'PROGRAM FAILED: %s exited with code %d (0x%x); no emulator fault in the log' % (
        program, exit_code, exit_code & 0xffffffff)


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    with open(sys.argv[1], errors='replace') as f:
        lines = f.read().splitlines()
    verdict, message = triage(lines, sys.argv[2], int(sys.argv[3]))
    print('wine32: ' + message)
    sys.exit(verdict)


if __name__ == '__main__':
    main()

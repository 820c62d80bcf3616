#!/usr/bin/python3
"""Tells, from the Wine log of a failed run under the emulated 32-bit Wine,
whether the program failed or the emulator did.

qemu-user sometimes fails a guest where real hardware would not:
  - "qemu: uncaught target signal N" - qemu could not deliver a signal to
    the guest's handler and ended the process itself;
  - Wine's "Got unexpected trap" - qemu hands Wine's signal handler a
    faulting context with trap number -1, so a page fault Wine would handle
    (or turn into an access violation) becomes an illegal instruction.
In a Wine process other than the program (explorer.exe, services.exe, ...)
either is the emulator's failure. In the program's own process it is not
told apart from the program's own fault: under qemu a bad pointer of the
program's arrives as the same trap. The log must come from a run with
WINEDEBUG containing "+pid" and "trace+loaddll" (so each line names its
Windows process, and each process's .exe is known) and "err+seh".

    wine32_triage.py LOG PROGRAM EXIT_CODE
    wine32_triage.py --wedged LOG PROGRAM   prints the process that keeps
        trapping and exits 0, or exits 1

Prints one verdict line and exits with
  0  the run passed (exit code 0), whatever the log says
  1  the program failed, no emulator fault in the log
  2  the program failed and faulted in its own process (its own fault as
     far as anyone can tell: never to be retried)
  3  the emulator failed in another Wine process and the program shows no
     fault of its own: it may have been a bystander
"""

import collections
import ntpath
import re
import sys

LOADED = re.compile(r'^([0-9a-f]{4,}):[0-9a-f]{4,}:trace:loaddll:\S+ Loaded L"(.*?)" at ')
WINE_TRAP = re.compile(r'^(?:([0-9a-f]{4,}):)?[0-9a-f]{4,}:err:seh:\S+ (Got unexpected trap.*)$')
QEMU_SIGNAL = re.compile(r'qemu: uncaught target signal.*')

PASSED, PROGRAM, PROGRAM_FAULTED, EMULATOR = 0, 1, 2, 3
WEDGED_AFTER = 20


def process_names(lines):
    """Windows pid -> name of the first .exe loaded in it."""
    names = {}
    for line in lines:
        match = LOADED.match(line)
        if match and match.group(2).lower().endswith('.exe'):
            names.setdefault(match.group(1), ntpath.basename(match.group(2)))
    return names


def emulator_faults(lines, program):
    """([faults in the program's process], [(process, fault) elsewhere]) as
    the log tells them. A qemu signal report names no process: it counts as
    elsewhere here; triage() places it by the program's exit code."""
    program = ntpath.basename(program.replace('/', '\\')).lower()
    names = process_names(lines)
    in_program, elsewhere = [], []
    for line in lines:
        match = WINE_TRAP.match(line.strip())
        if match:
            pid, what = match.group(1), 'Wine: ' + match.group(2)
            name = names.get(pid, 'process %s' % pid)
            if name.lower() == program:
                in_program.append(what)
            else:
                elsewhere.append((name, what))
        match = QEMU_SIGNAL.search(line)
        if match:
            elsewhere.append(('another process', match.group(0)))
    return in_program, elsewhere


def wedged(lines, program, repeats=WEDGED_AFTER):
    """The name of a process other than the program that has trapped
    `repeats` times or more, or None. Wine then keeps re-raising in it and
    the process hangs, and the program with it when it waits for that one
    (services.exe, explorer.exe)."""
    program = ntpath.basename(program.replace('/', '\\')).lower()
    names = process_names(lines)
    counts = collections.Counter()
    for line in lines:
        match = WINE_TRAP.match(line.strip())
        if match and names.get(match.group(1), '').lower() != program:
            counts[names.get(match.group(1), 'process %s' % match.group(1))] += 1
    for name, count in counts.items():
        if count >= repeats:
            return name
    return None


def triage(lines, program, exit_code):
    """Returns (verdict, message) for a run that ended with exit_code."""
    name = ntpath.basename(program.replace('/', '\\'))
    if exit_code == 0:
        return PASSED, 'passed'
    in_program, elsewhere = emulator_faults(lines, name)
    others = [(where, what) for where, what in elsewhere if where != 'another process']
    qemu_signals = [what for where, what in elsewhere if where == 'another process']
    # qemu ends the process it could not deliver a signal in by that signal:
    # the program's own process then ends with 128+N.
    if qemu_signals and 128 < exit_code < 128 + 65 and not others:
        in_program.append(qemu_signals[0])
    also = ''
    if others:
        also = '; the emulator also failed in %s: %s' % (', '.join(sorted({w for w, _ in others})), others[0][1])
    if in_program:
        return PROGRAM_FAULTED, ('PROGRAM FAILED: %s exited with code %d after a fault in its own process (%s)%s'
                                 % (name, exit_code, in_program[0], also))
    if elsewhere:
        where = ', '.join(sorted({w for w, _ in elsewhere}))
        return EMULATOR, 'EMULATOR FAILED in %s, not in the program %s: %s (program exit code %d)' % (
            where, name, elsewhere[0][1], exit_code)
    return PROGRAM, 'PROGRAM FAILED: %s exited with code %d (0x%x); no emulator fault in the log' % (
        name, exit_code, exit_code & 0xffffffff)


def main():
    args = sys.argv[1:]
    if len(args) == 3 and args[0] == '--wedged':
        with open(args[1], errors='replace') as f:
            name = wedged(f.read().splitlines(), args[2])
        if name:
            print(name)
        sys.exit(0 if name else 1)
    if len(args) != 3:
        raise SystemExit(__doc__)
    with open(args[0], errors='replace') as f:
        lines = f.read().splitlines()
    verdict, message = triage(lines, args[1], int(args[2]))
    print('wine32: ' + message)
    sys.exit(verdict)


if __name__ == '__main__':
    main()

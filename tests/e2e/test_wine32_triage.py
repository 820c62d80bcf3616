#!/usr/bin/python3
"""The verdicts scripts/wine32_triage.py gives on Wine logs of the shapes the
emulated 32-bit Wine produced here: a fault in another process is the
emulator's; one in the program's own process, or none, is the program's.

  /usr/bin/python3 tests/e2e/test_wine32_triage.py
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
import wine32_triage as triage  # noqa: E402

PROGRAM = '/build/win32/tests/app/app_window_shell.exe'
LOADED = [
    '0020:0024:trace:loaddll:build_module Loaded L"Z:\\\\build\\\\win32\\\\tests\\\\app\\\\app_window_shell.exe" at 00400000: native',
    '0038:003c:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\services.exe" at 00400000: builtin',
    '009c:00a0:trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\explorer.exe" at 00400000: builtin',
]
TRAP_EXPLORER = '009c:00a8:err:seh:segv_handler Got unexpected trap -1'
TRAP_PROGRAM = '0020:00b8:err:seh:segv_handler Got unexpected trap -1'
QEMU = 'qemu: uncaught target signal 11 (Segmentation fault) - core dumped'
GTEST_FAILURE = 'tests/app/window_shell_test.cpp:133: Failure'


class TriageTest(unittest.TestCase):

    def test_verdicts(self):
        # (log after the DLL list, exit code, verdict, words the message must hold)
        cases = [
            ([TRAP_EXPLORER, QEMU], 0, triage.PASSED, 'passed'),
            ([GTEST_FAILURE], 1, triage.PROGRAM, 'PROGRAM FAILED'),
            ([TRAP_EXPLORER], 1, triage.EMULATOR, 'EMULATOR FAILED in explorer.exe'),
            ([TRAP_EXPLORER, QEMU], 139, triage.EMULATOR, 'EMULATOR FAILED'),
            ([TRAP_PROGRAM], 41, triage.PROGRAM_FAULTED, 'PROGRAM FAILED'),
            ([TRAP_EXPLORER, TRAP_PROGRAM], 41, triage.PROGRAM_FAULTED, 'also failed in explorer.exe'),
            ([QEMU], 139, triage.PROGRAM_FAULTED, 'in its own process'),
            ([QEMU], 1, triage.EMULATOR, 'another process'),
        ]
        for tail, code, verdict, words in cases:
            with self.subTest(log=tail, exit_code=code):
                got, message = triage.triage(LOADED + tail, PROGRAM, code)
                self.assertEqual(got, verdict, message)
                self.assertIn(words, message)

    def test_a_process_trapping_over_and_over_is_wedged_the_program_never(self):
        self.assertEqual(triage.wedged(LOADED + [TRAP_EXPLORER] * triage.WEDGED_AFTER, PROGRAM), 'explorer.exe')
        self.assertIsNone(triage.wedged(LOADED + [TRAP_EXPLORER] * (triage.WEDGED_AFTER - 1), PROGRAM))
        self.assertIsNone(triage.wedged(LOADED + [TRAP_PROGRAM] * 50, PROGRAM))


if __name__ == '__main__':
    unittest.main(verbosity=2)

#!/usr/bin/python3
"""End-to-end: the release (32-bit) vexalune.exe as built, under the emulated
32-bit Wine (scripts/wine32-env.sh), on a desktop of its own: the first
frame, the text following the pointer, the About box, both ways out, the
client area's size, and that the process is the 32-bit program.

  /usr/bin/python3 tests/e2e/test_release.py --exe build/win32/vexalune.exe

The emulator runs the program at ~13 frames per second and needs 6-35 s to
the first frame, so the deadlines are longer than the 64-bit tests' ones;
each is polled. When a check fails, the failure says whether the program
failed or the emulator did, in another Wine process (see wine32_triage.py).
"""

import os
import sys
import time

import program_case
from program_case import desktop
from desktop import ABOUT_TITLE, CLEAR_COLOR, CLIENT_SIZE, MAIN_TITLE
from program_case import ProgramTestCase

sys.path.insert(0, os.path.join(desktop.SOURCE_DIR, 'scripts'))
import wine32_triage  # noqa: E402

WINE32_ENV_SCRIPT = os.path.join(desktop.SOURCE_DIR, 'scripts', 'wine32-env.sh')
# Each line of Wine's log names its process, and the log names each
# process's program, so that a fault can be placed (see wine32_triage.py).
TRIAGE_DEBUG = '+pid,trace+loaddll'

START_SECONDS = 90
FOLLOW_SECONDS = 20
EXIT_SECONDS = 30
# Where the pointer waits before the program starts: inside the client area
# wherever the window manager puts the window on the 1024x768 screen.
POINTER_AT_START = (400, 300)


class ReleaseProgramTest(ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        exe = program_case.OPTIONS['exe']
        cls.wine = desktop.Wine.from_env_script(WINE32_ENV_SCRIPT, build_dir=os.path.dirname(exe))

    def start(self):
        wine = self.wine
        session = self.open_session(
            wine=wine, extra_env={'WINEDEBUG': wine.env.get('WINEDEBUG', '-all') + ',' + TRIAGE_DEBUG})
        self.session = session
        session.move_pointer(*POINTER_AT_START)
        session.launch()
        window = session.wait_window(MAIN_TITLE, timeout=START_SECONDS)
        client = session.client_area(window, timeout=START_SECONDS)
        white = b'\xff' * (client[2] * client[3] * 3)
        first = desktop.poll(lambda: (lambda image: image if image.data != white else None)(
            session.screenshot(client)), START_SECONDS, what='the first frame')
        print('first frame %.1f s after the start' % (time.monotonic() - session.launched_at), flush=True)
        return session, window, client, first

    def setUp(self):
        self.session = None

    def verdict(self):
        """Program or emulator, from the program's log so far (see
        scripts/wine32_triage.py)."""
        session = self.session
        if session is None or session.log_path is None:
            return 'no program started'
        lines = session.program_log(tail=0).splitlines()
        in_program, elsewhere = wine32_triage.emulator_faults(lines, session.exe)
        code = session.program.poll() if session.program else None
        state = 'running' if code is None else 'exit code %d' % code
        # What the program shows tells its own failure (a message box) from
        # a desktop the emulator broke.
        try:
            state += ', windows shown: %r' % [name for _, name, _ in session.windows()]
        except Exception as error:  # the X server may be what failed
            state += ', windows unknown: %s' % error
        if in_program:
            return 'PROGRAM FAILED (%s) after a fault in its own process: %s%s' % (
                state, in_program[0], ''.join('; the emulator also failed in %s: %s' % e for e in elsewhere[:1]))
        if elsewhere:
            return 'EMULATOR FAILED in %s, not in the program (%s): %s' % (elsewhere[0][0], state, elsewhere[0][1])
        return 'PROGRAM FAILED (%s); no emulator fault in the log' % state

    def check(self, step, *args, **kwargs):
        """Runs one step; a failure says what failed, program or emulator."""
        try:
            return step(*args, **kwargs)
        except (AssertionError, desktop.DesktopError) as error:
            raise AssertionError('%s\n%s' % (error, self.verdict())) from None

    def once_more_if_the_emulator_failed(self, body):
        """Runs body; when it fails only because the emulator failed in
        another Wine process, runs it once more in a new session. A failure
        of the program is never run again."""
        try:
            body()
        except AssertionError as error:
            if 'EMULATOR FAILED' not in str(error):
                raise
            print('once more, in a new session, after: %s' % error, flush=True)
            self.doCleanups()
            self.session = None
            body()

    def test_frames_text_about_box_and_exit_by_menu(self):
        self.once_more_if_the_emulator_failed(self.frames_text_about_box_and_exit_by_menu)

    def test_alt_f4_exits_with_code_0(self):
        self.once_more_if_the_emulator_failed(self.alt_f4_exits_with_code_0)

    def frames_text_about_box_and_exit_by_menu(self):
        session, window, client, first = self.check(self.start)

        def is_the_32_bit_program():
            process = session.program_process()
            print('program process: %r, runs %s' % (process, os.readlink('/proc/%d/exe' % process.pid)), flush=True)
            self.assertEqual(os.path.realpath(process.module_path), os.path.realpath(session.exe), process)
            self.assertEqual(process.machine, 'i386', process)
            # The Linux process is qemu's: the program really runs emulated.
            self.assertEqual(os.path.basename(os.readlink('/proc/%d/exe' % process.pid)), 'qemu-i386-static')
        self.check(is_the_32_bit_program)

        self.assertEqual(tuple(client[2:]), CLIENT_SIZE, 'client area %r' % (client,))

        def first_frame_cleared_with_text_at_pointer():
            pointer = (POINTER_AT_START[0] - client[0], POINTER_AT_START[1] - client[1])
            layout = desktop.TextLayout(first, pointer)
            print('first frame: %r' % layout, flush=True)
            # Cleared to 1E415A (no stray pixel outside the text's box) and
            # the text drawn at the pointer. A frame drawn before the pointer
            # was read would show the text elsewhere: that is a failure too.
            self.assertTrue(layout.text_in_box_only(), layout)
            self.assertEqual(first.pixel(0, 0), CLEAR_COLOR)
            self.assertEqual(first.pixel(CLIENT_SIZE[0] - 1, CLIENT_SIZE[1] - 1), CLEAR_COLOR)
        self.check(first_frame_cleared_with_text_at_pointer)

        for pointer in [(20, 30), (330, 220)]:
            self.check(self.move_pointer_to_client, session, client, pointer)
            self.check(self.wait_for_text, session, client, pointer, (), FOLLOW_SECONDS)

        def about_box_by_accelerator_while_frames_go_on():
            session.key('alt+question', window=window)
            about = session.wait_window(ABOUT_TITLE, timeout=EXIT_SECONDS)
            covered = self.to_client(client, session.frame_geometry(about))
            below = covered[1] + covered[3] + 20
            for pointer in [(20, below), (320, below + 60)]:
                self.move_pointer_to_client(session, client, pointer)
                # Frames that stopped would leave the text where it was.
                self.wait_for_text(session, client, pointer, [covered], FOLLOW_SECONDS)
            session.key('Escape', window=about)
            session.wait_no_window(ABOUT_TITLE, EXIT_SECONDS)
            self.assertIsNone(session.program.poll(), 'program still running after the box closed')
        self.check(about_box_by_accelerator_while_frames_go_on)

        # ファイル(F) > アプリケーションの終了(X)
        self.check(session.key, 'alt+f', 'x', window=window)
        self.check(self.assert_exits_cleanly, session, window, EXIT_SECONDS)

    def alt_f4_exits_with_code_0(self):
        session, window, _, _ = self.check(self.start)
        self.check(session.key, 'alt+F4', window=window)
        self.check(self.assert_exits_cleanly, session, window, EXIT_SECONDS)


if __name__ == '__main__':
    program_case.main()

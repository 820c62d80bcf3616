"""What the end-to-end tests of Vexalune share: their command line and a test
case that starts the real program on a private desktop (Xvfb and a window
manager) with a private prefix (tests/support/desktop.py).

  /usr/bin/python3 tests/e2e/test_....py --exe build/win64/vexalune.exe [unittest options]

The executable may also come from VEXALUNE_EXE.
"""

import argparse
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import desktop  # noqa: E402

OPTIONS = {'exe': None}

# Deadlines, not expectations: each is polled, so a quick machine passes as
# soon as the thing is seen and only a program that never does it waits the
# whole time. One frame is 33 ms; on an idle machine the text follows the
# pointer in 0.1-0.2 s and the program ends 0.2 s after a close, but these
# two cores are shared with other programs rendering.
FOLLOW_SECONDS = 10
EXIT_SECONDS = 10


class ProgramTestCase(unittest.TestCase):
    """Starts sessions that end with the test, whatever happens."""

    def open_session(self, **options):
        session = desktop.Session(OPTIONS['exe'], **options)
        session.open()
        self.addCleanup(session.cleanup)
        return session

    def start_program(self, **options):
        """(session, main window, client area on the screen) of a freshly
        started program whose client area Direct3D has begun to draw."""
        session = self.open_session(**options)
        session.launch()
        window, client = self.wait_first_frame(session)
        return session, window, client

    @classmethod
    def start_shared_program(cls, **options):
        """start_program for setUpClass: one program for all the tests of a
        class, each of which only looks at it (a start costs seconds)."""
        session = desktop.Session(OPTIONS['exe'], **options)
        session.open()
        cls.addClassCleanup(session.cleanup)
        session.launch()
        window, client = cls.wait_first_frame(session)
        return session, window, client

    def assert_still_running(self, session):
        """For tests that share a program: an earlier one must not have
        ended it."""
        if session.program.poll() is not None:
            self.fail('the shared program ended earlier (exit code %d); it said: %s'
                      % (session.program.returncode, session.program_log(1500)))

    @classmethod
    def wait_first_frame(cls, session):
        """(main window, client area) once Direct3D has drawn into it."""
        window = session.wait_window(desktop.MAIN_TITLE)
        client = session.client_area(window)
        # The child window shows white (the class brush) for up to ~0.7 s
        # before the first frame replaces it, whatever that frame holds.
        white = b'\xff' * (client[2] * client[3] * 3)
        desktop.poll(lambda: session.screenshot(client).data != white, 30, what='the first frame')
        return window, client

    def move_pointer_to_client(self, session, client, point):
        session.move_pointer(client[0] + point[0], client[1] + point[1])

    def wait_for_text(self, session, client, pointer, ignore=(), timeout=FOLLOW_SECONDS):
        """Polls until the text shows in the box at pointer (client
        coordinates) and nowhere else; returns (layout, seconds it took)."""
        started = time.monotonic()
        while True:
            # The verdict comes from a picture taken after the deadline, not
            # from one that merely finished after it on a slow machine.
            shot_at = time.monotonic() - started
            layout = desktop.TextLayout(session.screenshot(client), pointer, ignore)
            if layout.text_in_box_only():
                return layout, time.monotonic() - started
            if session.program.poll() is not None:
                self.fail('the program ended (exit code %d); last picture: %r' % (session.program.returncode, layout))
            if shot_at > timeout:
                self.fail('%.2f s after the move the text is not (only) in the box at %r: %r'
                          % (shot_at, pointer, layout))
            time.sleep(0.05)

    def end_leftover(self, session):
        """After a run of several on one session: a run that failed must not
        leave its program to the next, which expects to find the only window
        titled Vexalune."""
        if session.program is not None and session.program.poll() is None:
            session.program.kill()
            session.program.wait()

    def to_client(self, client, rect):
        """A screen rectangle in client coordinates."""
        return (rect[0] - client[0], rect[1] - client[1], rect[2], rect[3])

    def assert_exits_cleanly(self, session, window, timeout=EXIT_SECONDS):
        try:
            code = session.wait_exit(timeout)
        except desktop.DesktopError as error:
            self.fail(str(error))
        # Wine ends a process whose X connection broke with exit code 1 (Xlib
        # prints "XIO: fatal IO error" first); the log tells that apart from
        # a code the program returned.
        self.assertEqual(code, 0, 'exit code; the program said: %s' % session.program_log(1500))
        self.assertEqual(session.program_processes(), [], 'program processes left')
        self.assertFalse(session.x.is_viewable(window), 'main window still shown')


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--exe', default=os.environ.get('VEXALUNE_EXE'))
    args, rest = parser.parse_known_args()
    if not args.exe or not os.path.isfile(args.exe):
        parser.error('--exe must name the built vexalune.exe (got %r)' % args.exe)
    OPTIONS.update(exe=os.path.abspath(args.exe))
    # CTest ends a test that runs too long; the sessions' cleanups still run.
    desktop.end_sessions_on_termination()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

"""What the end-to-end tests of Vexalune share: their command line and a test
case that starts the real program on a private display with a private
prefix (see harness.py).

  /usr/bin/python3 tests/e2e/test_....py --exe build/win64/vexalune.exe \
      [--source-dir .] [unittest options]

The executable may also come from VEXALUNE_EXE.
"""

import argparse
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

OPTIONS = {'exe': None, 'source_dir': harness.SOURCE_DIR}

# One frame is 33 ms. Measured from the pointer's move to a screenshot
# showing the text there: 0.08-0.18 s on an idle machine (a few frames plus
# ~50 ms per screenshot), up to 1.4 s with six more copies of the program
# rendering on the same two cores. A program whose text stays behind fails
# whatever the bound.
FOLLOW_SECONDS = 2.0

# The window takes up to ~2 s to go after the program has been asked to end
# (measured: Alt+F4, menu, close message, Esc on the About box alike).
EXIT_SECONDS = 5


class ProgramTestCase(unittest.TestCase):
    """Starts sessions that end with the test, whatever happens."""

    def open_session(self, **options):
        session = harness.Session(OPTIONS['exe'], OPTIONS['source_dir'], **options)
        session.open()
        self.addCleanup(session.cleanup)
        return session

    def start_program(self, **options):
        """(session, main window, client area on the screen) of a freshly
        started program whose client area Direct3D has begun to draw."""
        session = self.open_session(**options)
        session.launch()
        window = session.wait_window(harness.MAIN_TITLE)
        client = session.client_area(window)
        # The child window shows white (the class brush) for up to ~0.7 s
        # before the first frame replaces it, whatever that frame holds.
        white = b'\xff' * (client[2] * client[3] * 3)
        harness.poll(lambda: session.screenshot(client).data != white, 20, what='the first frame')
        return session, window, client

    def move_pointer_to_client(self, session, client, point):
        session.move_pointer(client[0] + point[0], client[1] + point[1])

    def wait_for_text(self, session, client, pointer, ignore=(), timeout=FOLLOW_SECONDS):
        """Polls until the text shows in the box at pointer (client
        coordinates) and nowhere else; returns (layout, seconds it took)."""
        started = time.monotonic()
        while True:
            # The verdict comes from a picture taken after the bound, not
            # from one that merely finished after it on a slow machine.
            shot_at = time.monotonic() - started
            layout = harness.TextLayout(session.screenshot(client), pointer, ignore)
            if layout.text_in_box_only():
                return layout, time.monotonic() - started
            if session.program.poll() is not None:
                self.fail('the program ended (exit code %d); last picture: %r' % (session.program.returncode, layout))
            if shot_at > timeout:
                self.fail('%.2f s after the move the text is not (only) in the box at %r: %r'
                          % (shot_at, pointer, layout))
            time.sleep(0.01)

    def to_client(self, client, rect):
        """A screen rectangle in client coordinates."""
        return (rect[0] - client[0], rect[1] - client[1], rect[2], rect[3])

    def assert_exits_cleanly(self, session, window, timeout=EXIT_SECONDS):
        try:
            code = session.wait_exit(timeout)
        except harness.HarnessError as error:
            self.fail(str(error))
        self.assertEqual(code, 0, 'exit code')
        self.assertEqual(session.program_processes(), [], 'program processes left')
        self.assertFalse(session.x.is_viewable(window), 'main window still shown')


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--exe', default=os.environ.get('VEXALUNE_EXE'))
    parser.add_argument('--source-dir', default=harness.SOURCE_DIR)
    args, rest = parser.parse_known_args()
    if not args.exe or not os.path.isfile(args.exe):
        parser.error('--exe must name the built vexalune.exe (got %r)' % args.exe)
    OPTIONS.update(exe=os.path.abspath(args.exe), source_dir=os.path.abspath(args.source_dir))
    # CTest ends a test that runs too long; the sessions' cleanups still run.
    harness.end_sessions_on_termination()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

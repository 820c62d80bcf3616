#!/usr/bin/python3
"""End-to-end: what the real vexalune.exe draws into its client area - the
clear colour, and the white text in a 300 x 50 box at the mouse pointer -
read back as pixels from the X server.

  /usr/bin/python3 tests/e2e/test_rendering.py --exe build/win64/vexalune.exe
"""

import statistics
import time

import program_case
from program_case import desktop
from desktop import ABOUT_TITLE, CLEAR_COLOR, CLIENT_SIZE
from program_case import EXIT_SECONDS, FOLLOW_SECONDS, ProgramTestCase


# The frame timer's period, and how far the median of the intervals between
# consecutive frames may lie from it: Wine's timers keep it within a few ms
# on an idle machine; other work on the two cores moves single intervals a
# lot but their median little.
FRAME_MS = 33
FRAME_TOLERANCE_MS = 8
INTERVALS = 30


class RenderingTest(ProgramTestCase):
    """These tests only move the pointer and look: they share one program."""

    @classmethod
    def setUpClass(cls):
        cls.session, cls.window, cls.client = cls.start_shared_program()

    def setUp(self):
        self.assert_still_running(self.session)

    def test_a_frame_is_presented_every_33_ms(self):
        # Each Present puts the whole back buffer into the client area's X
        # window: one X DAMAGE report of 640 x 480, stamped by the X server.
        counter = self.session.count_frames(self.window)
        self.addCleanup(counter.stop)
        frames = counter.wait_frames(INTERVALS + 1, time.monotonic(), timeout=2 * FOLLOW_SECONDS)
        sizes = {(f['width'], f['height']) for f in frames}
        self.assertEqual(sizes, {CLIENT_SIZE}, 'every update a whole frame')
        intervals = [b['server_ms'] - a['server_ms'] for a, b in zip(frames, frames[1:])]
        median = statistics.median(intervals)
        print('median of %d intervals between frames: %.1f ms; all: %r' % (len(intervals), median, intervals))
        self.assertLessEqual(abs(median - FRAME_MS), FRAME_TOLERANCE_MS, intervals)

    def test_client_area_is_cleared_to_1e415a(self):
        # With the pointer far right of and below the window the text's box
        # lies outside the client area: every pixel must be the clear colour.
        screen = self.session.x.attributes(self.session.x.root)
        self.session.move_pointer(screen.width - 5, screen.height - 5)

        def off_colour():
            image = self.session.screenshot(self.client)
            return [(x, y, c) for x, y, c in image.pixels() if c != CLEAR_COLOR]
        try:
            desktop.poll(lambda: not off_colour(), FOLLOW_SECONDS, what='an all-clear client area')
        except desktop.DesktopError:
            wrong = off_colour()
            self.fail('%d pixels are not 1E415A, e.g. %r' % (len(wrong), wrong[:5]))

        # With the text showing, points its box cannot reach keep the colour.
        self.move_pointer_to_client(self.session, self.client, (20, 30))
        self.wait_for_text(self.session, self.client, (20, 30))
        image = self.session.screenshot(self.client)
        width, height = CLIENT_SIZE
        for point in [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1),
                      (width // 2, height // 2), (19, 30), (320, 30), (20, 80)]:
            self.assertEqual(image.pixel(*point), CLEAR_COLOR, 'pixel at %r' % (point,))

    def test_text_is_drawn_white_in_the_box_at_the_pointer_and_follows_it(self):
        # (pointer, whether the box runs past the client area's edge)
        cases = [((20, 30), None), ((500, 300), 'right'), ((100, 200), None),
                 ((100, 465), 'bottom'), ((0, 0), None), ((330, 120), None)]
        whole_text = set()
        for pointer, clipped_at in cases:
            with self.subTest(pointer=pointer):
                self.move_pointer_to_client(self.session, self.client, pointer)
                # Fails unless the text shows in this box, and only there,
                # within a few frames of the move.
                layout, _ = self.wait_for_text(self.session, self.client, pointer)
                left, top, right, bottom = layout.glyph_bounds
                # Left- and top-aligned in the box, not centred in it.
                self.assertLessEqual(left - pointer[0], 6, layout)
                self.assertLessEqual(top - pointer[1], 12, layout)
                if clipped_at == 'right':
                    self.assertGreaterEqual(right, CLIENT_SIZE[0] - 8, 'text cut at the edge, not moved: %r' % layout)
                elif clipped_at == 'bottom':
                    self.assertGreaterEqual(bottom, CLIENT_SIZE[1] - 3, 'text cut at the edge, not moved: %r' % layout)
                else:
                    whole_text.add(layout.glyph_pixels)
                    # Nine full-width characters of a 24-pixel font, ~216 px
                    # (213 measured): nothing cuts the text inside its box.
                    self.assertGreaterEqual(right - left, 205, layout)
        # Uncut, it is the same text wherever it is drawn.
        self.assertEqual(len(whole_text), 1, whole_text)


class FramesUnderTheAboutBoxTest(ProgramTestCase):

    def setUp(self):
        self.session, self.window, self.client = self.start_program()

    def test_frames_go_on_while_the_about_box_is_open(self):
        start = (300, 200)
        self.move_pointer_to_client(self.session, self.client, start)
        self.wait_for_text(self.session, self.client, start)
        self.session.key('alt+question', window=self.window)
        about = self.session.wait_window(ABOUT_TITLE, timeout=EXIT_SECONDS)
        covered = self.to_client(self.client, self.session.frame_geometry(about))
        below = covered[1] + covered[3] + 20
        self.assertLess(below, CLIENT_SIZE[1] - 100, 'room below the box: %r' % (covered,))

        for pointer in [(20, below), (320, below + 60)]:
            with self.subTest(pointer=pointer):
                self.move_pointer_to_client(self.session, self.client, pointer)
                # Frames that stopped would leave the text at the start point.
                self.wait_for_text(self.session, self.client, pointer, ignore=[covered])
        self.assertEqual([w[0] for w in self.session.windows(ABOUT_TITLE)], [about], 'box still open')
        self.session.key('Escape', window=about)
        self.session.wait_no_window(ABOUT_TITLE, EXIT_SECONDS)


if __name__ == '__main__':
    program_case.main()

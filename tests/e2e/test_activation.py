#!/usr/bin/python3
"""End-to-end: the real vexalune.exe activated and deactivated for real by a
window manager - minimised and restored, the focus given to another X window
and back, dragged by its caption - with its keyboard device unacquired and
acquired again each time, as Wine's own DirectInput trace reports it, and
its frames going on.

  /usr/bin/python3 tests/e2e/test_activation.py --exe build/win64/vexalune.exe
"""

import re
import subprocess
import time

import program_case
from program_case import desktop
from desktop import CLIENT_SIZE
from program_case import EXIT_SECONDS, FOLLOW_SECONDS, ProgramTestCase

# Wine's trace channel of DirectInput: every Acquire and Unacquire of a
# device, with the thread that made it.
TRACE = {'WINEDEBUG': '+dinput'}
KEYBOARD_CALL = re.compile(r'^([0-9a-f]{4}):trace:dinput:dinput_device_(Acquire|Unacquire) iface ([0-9A-F]+)', re.M)

# Whole client-area updates (Presents) that count as "frames go on": about
# a third of a second of them.
FRAMES_GOING_ON = 10


class ActivationTest(ProgramTestCase):

    def setUp(self):
        self.session, self.window, self.client = self.start_program(extra_env=TRACE)
        self.counter = self.session.count_frames(self.window)
        self.addCleanup(self.counter.stop)
        calls = desktop.poll(self.keyboard_calls, 10, what='the keyboard acquired at start-up')
        self.assertEqual(calls[0][1], 'Acquire', calls)
        # The program acquires on its one thread; Wine's trace names it.
        self.thread, self.keyboard = calls[0][0], calls[0][2]

    def keyboard_calls(self):
        """[(thread, 'Acquire'|'Unacquire', device)] in the order Wine traced them."""
        return KEYBOARD_CALL.findall(self.session.program_log(0))

    def wait_keyboard_call(self, since, name):
        """The index of the first call `name` of the keyboard after the first
        `since` calls, polled until the deadline."""
        def found():
            calls = self.keyboard_calls()
            for index in range(since, len(calls)):
                if calls[index][1:] == (name, self.keyboard):
                    return index + 1
            return None
        try:
            return desktop.poll(found, FOLLOW_SECONDS, what='%s of the keyboard after call %d' % (name, since))
        except desktop.DesktopError as error:
            self.fail('%s; calls traced: %r' % (error, self.keyboard_calls()[since:]))

    def assert_frames_go_on(self, after, what):
        try:
            frames = self.counter.wait_frames(FRAMES_GOING_ON, after, whole=CLIENT_SIZE, timeout=FOLLOW_SECONDS)
        except desktop.DesktopError as error:
            self.fail('%s: %s (%d updates of any size since)' % (what, error, len(self.counter.frames(after))))
        return frames

    def assert_text_follows(self, point):
        client = self.session.client_area(self.window)
        self.move_pointer_to_client(self.session, client, point)
        self.wait_for_text(self.session, client, point)

    def test_minimised_and_restored_the_keyboard_is_released_and_taken_again(self):
        s, window = self.session, self.window
        self.assert_text_follows((40, 60))
        for round_number in range(2):
            with self.subTest(round=round_number + 1):
                since = len(self.keyboard_calls())
                s.minimize(window)
                released = self.wait_keyboard_call(since, 'Unacquire')
                self.assertIsNone(s.program.poll(), 'still running while minimised')

                restored_at = time.monotonic()
                s.restore(window)
                self.wait_keyboard_call(released, 'Acquire')
                self.assert_frames_go_on(restored_at, 'after the restore')
                self.assert_text_follows((200 + 100 * round_number, 300))

    def test_focus_to_another_window_and_back_releases_and_takes_the_keyboard(self):
        s, window = self.session, self.window
        self.assert_text_follows((40, 60))
        for round_number in range(2):
            with self.subTest(round=round_number + 1):
                since = len(self.keyboard_calls())
                other = subprocess.Popen(['xmessage', '-geometry', '+700+600', 'another window'], env=s.x_env,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.addCleanup(other.kill)
                # The window manager gives a new window the focus.
                other_window = desktop.poll(
                    lambda: [w for w, name, _ in s.windows('xmessage') if s.x.active_window() == w], 10,
                    what='xmessage to be shown and active')[0]
                released = self.wait_keyboard_call(since, 'Unacquire')
                lost_at = time.monotonic()
                self.assert_frames_go_on(lost_at, 'while another window has the focus')
                self.assert_text_follows((300, 100 + 200 * round_number))

                s.focus(window)
                self.wait_keyboard_call(released, 'Acquire')
                self.assertNotEqual(s.x.active_window(), other_window)
                self.assert_frames_go_on(time.monotonic(), 'with the focus back')
                self.assert_text_follows((100, 200 + 100 * round_number))
                other.kill()
                other.wait()

    def test_dragged_by_its_caption_it_draws_on_during_and_after(self):
        s, window = self.session, self.window
        frame = s.frame_geometry(window)
        extents = s.x.property_values(window, '_NET_FRAME_EXTENTS')  # left, right, top, bottom
        # The caption's middle, away from the buttons at its ends.
        grab = (frame[0] + frame[2] // 2, frame[1] + extents[2] // 2)
        offset = (150, 100)
        s.move_pointer(*grab)
        s.xdotool('mousedown', 1)
        pressed_at = time.monotonic()
        try:
            steps = 20
            for step in range(1, steps + 1):
                s.move_pointer(grab[0] + offset[0] * step // steps, grab[1] + offset[1] * step // steps)
                time.sleep(0.05)
            # Held still at the end of the drag, as a hand does before it lets go.
            during = self.assert_frames_go_on(pressed_at, 'during the drag')
        finally:
            s.xdotool('mouseup', 1)
        released_at = time.monotonic()
        self.assertLess(during[0]['time'], released_at, 'frames while the button was held: %r' % during[:3])

        moved = desktop.poll(lambda: s.frame_geometry(window)[:2] == (frame[0] + offset[0], frame[1] + offset[1])
                             and s.frame_geometry(window), 10, what='the window to follow the drag')
        self.assertEqual(moved[2:], frame[2:], 'size unchanged')
        self.assert_frames_go_on(released_at, 'after the drag')
        self.assert_text_follows((250, 250))
        self.assertIsNone(s.program.poll(), 'still running')
        s.key('alt+F4', window=window)
        self.assert_exits_cleanly(s, window, EXIT_SECONDS)


if __name__ == '__main__':
    program_case.main()

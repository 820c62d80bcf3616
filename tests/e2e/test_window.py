#!/usr/bin/python3
"""End-to-end: the main window on a desktop - where it lands, what the window
manager is told about it, its icon - and the ways the program ends, seen
from the X server the real vexalune.exe runs on.

  /usr/bin/python3 tests/e2e/test_window.py --exe build/win64/vexalune.exe
"""

import os
import struct

import program_case
from program_case import desktop
from desktop import CLIENT_SIZE, MAIN_TITLE, SOURCE_DIR
from program_case import ProgramTestCase

ICONS = {'large': os.path.join(SOURCE_DIR, 'res', 'icons', 'vexalune.ico'),
         'small': os.path.join(SOURCE_DIR, 'res', 'icons', 'vexalune_small.ico')}

# Motif WM hints (what Wine derives from the window's style): functions.
MWM_FUNC_RESIZE, MWM_FUNC_MOVE, MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE, MWM_FUNC_CLOSE = 2, 4, 8, 16, 32
MWM_HINTS_FUNCTIONS = 1


def ico_images(path):
    """{(width, height): [ARGB int per pixel, rows top to bottom]} of the
    32-bit images of an .ico file: the format Wine hands the window manager
    in _NET_WM_ICON."""
    with open(path, 'rb') as f:
        data = f.read()
    _, kind, count = struct.unpack_from('<HHH', data, 0)
    assert kind == 1, path
    images = {}
    for index in range(count):
        _, _, _, _, _, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * index)
        header_size, width, double_height = struct.unpack_from('<Iii', data, offset)
        if bits != 32:
            continue
        height = double_height // 2
        pixels = offset + header_size
        rows = []
        for y in range(height - 1, -1, -1):  # stored bottom-up
            row = struct.unpack_from('<%dI' % width, data, pixels + y * width * 4)
            rows.extend(row)  # little-endian BGRA is 0xAARRGGBB
        images[(width, height)] = rows
    return images


def net_wm_icon_images(values):
    """[((width, height), [ARGB ...])] of a _NET_WM_ICON value."""
    images, i = [], 0
    while i + 2 <= len(values):
        width, height = values[i], values[i + 1]
        images.append(((width, height), values[i + 2:i + 2 + width * height]))
        i += 2 + width * height
    return images


class MainWindowTest(ProgramTestCase):
    """These tests only look at the window: they share one program."""

    @classmethod
    def setUpClass(cls):
        cls.session, cls.window, cls.client = cls.start_shared_program()

    def setUp(self):
        self.assert_still_running(self.session)

    def test_window_vexalune_sits_at_the_top_left_with_a_640x480_client_area(self):
        s, window, client = self.session, self.window, self.client
        self.assertEqual([w[0] for w in s.windows()], [window], 'the only visible window')
        self.assertEqual(s.x.name(window), MAIN_TITLE, '_NET_WM_NAME, the caption openbox draws')
        self.assertEqual(client[2:], CLIENT_SIZE, 'client area (Direct3D\'s X window)')

        top = s.geometry(window)
        frame = s.frame_geometry(window)
        extents = s.x.property_values(window, '_NET_FRAME_EXTENTS')  # left, right, top, bottom
        print('frame %r, Wine\'s window %r, _NET_FRAME_EXTENTS %r, client area %r' % (frame, top, extents, client))
        self.assertNotEqual(s.x.frame_of(window), window, 'managed: the window manager framed it')
        self.assertEqual(frame, (top[0] - extents[0], top[1] - extents[2], top[2] + extents[0] + extents[1],
                                 top[3] + extents[2] + extents[3]), 'frame %r around %r, extents %r'
                         % (frame, top, extents))
        # The program puts its outer corner at the screen's corner. Wine
        # keeps the client area where Windows puts it (static gravity) and
        # the desktop's theme draws a frame as wide as Windows' around it.
        self.assertEqual(frame[:2], (0, 0), 'outer frame %r; Wine\'s window %r, _NET_FRAME_EXTENTS %r'
                         % (frame, top, extents))
        # Above the client area, in Wine's X window, is the menu bar, one line.
        self.assertEqual((client[0], client[2]), (top[0], top[2]), 'client area spans the window')
        self.assertEqual(client[1] + client[3], top[1] + top[3], 'client area ends at the window bottom')
        self.assertTrue(15 <= client[1] - top[1] <= 40, 'menu bar %d px high' % (client[1] - top[1]))

    def test_what_the_desktop_is_told_matches_the_style(self):
        s, window = self.session, self.window
        hints = s.x.property_values(window, '_MOTIF_WM_HINTS')
        self.assertIsNotNone(hints, '_MOTIF_WM_HINTS')
        self.assertTrue(hints[0] & MWM_HINTS_FUNCTIONS, 'functions given: %r' % hints)
        allowed = {s.x.atom_name(a) for a in s.x.property_values(window, '_NET_WM_ALLOWED_ACTIONS') or []}
        print('_MOTIF_WM_HINTS %r, _NET_WM_ALLOWED_ACTIONS %r' % (hints, sorted(allowed)))
        # What Wine tells (Motif functions, from the style) and what openbox
        # makes of it and of the fixed size hints (allowed actions).
        for what, motif_bit, actions, wanted in [
                ('move', MWM_FUNC_MOVE, ['MOVE'], True),
                ('minimise', MWM_FUNC_MINIMIZE, ['MINIMIZE'], True),
                ('close', MWM_FUNC_CLOSE, ['CLOSE'], True),
                ('maximise', MWM_FUNC_MAXIMIZE, ['MAXIMIZE_HORZ', 'MAXIMIZE_VERT'], False),
                ('resize', MWM_FUNC_RESIZE, ['RESIZE'], False)]:
            with self.subTest(what=what, told_by='Motif functions'):
                self.assertEqual(bool(hints[1] & motif_bit), wanted, 'functions 0x%x' % hints[1])
            with self.subTest(what=what, told_by='_NET_WM_ALLOWED_ACTIONS'):
                self.assertEqual(['_NET_WM_ACTION_' + a in allowed for a in actions], [wanted] * len(actions))

    def test_the_icon_the_desktop_shows_is_the_programs_own(self):
        values = self.session.x.property_values(self.window, '_NET_WM_ICON')
        self.assertTrue(values, '_NET_WM_ICON set')
        shown = net_wm_icon_images(values)
        files = {role: ico_images(path) for role, path in ICONS.items()}
        print('_NET_WM_ICON holds %r; the icon files hold %r'
              % ([size for size, _ in shown], {role: sorted(images) for role, images in files.items()}))
        self.assertEqual(sum(2 + w * h for (w, h), _ in shown), len(values), 'whole images')
        # Wine hands over the class icons as they were loaded: the large one
        # first, at the system's icon size (32 x 32), then the small one if
        # it differs; each must be, pixel for pixel, an image of its file.
        self.assertEqual(shown[0][0], (32, 32), 'the large icon comes first')
        for index, ((size, pixels), role) in enumerate(zip(shown, ['large', 'small'])):
            with self.subTest(image=index, role=role, size=size):
                own = files[role].get(size)
                self.assertIsNotNone(own, 'no %dx%d 32-bit image in %s' % (size + (ICONS[role],)))
                different = [(i % size[0], i // size[0], '%08x' % a, '%08x' % b)
                             for i, (a, b) in enumerate(zip(pixels, own)) if a != b]
                self.assertEqual(len(different), 0, '%d of %d pixels differ, e.g. (x, y, shown, file) %r'
                                 % (len(different), len(own), different[:4]))


class ExitTest(ProgramTestCase):

    def click_exit_in_menu(self, session, window, client):
        top = session.geometry(window)
        menu_bar_middle = (top[1] + client[1]) // 2
        session.click(top[0] + 30, menu_bar_middle)  # "ファイル(F)"
        popups = session.wait_popup()
        x, y, width, height = popups[0][1]
        session.click(x + width // 2, y + height // 2)  # its one item

    def test_each_way_of_closing_ends_the_program_with_exit_code_0(self):
        ways = {
            'menu アプリケーションの終了 by keys': lambda s, w, c: s.key('alt+f', 'x', window=w),
            'menu アプリケーションの終了 by mouse': self.click_exit_in_menu,
            'Alt+F4': lambda s, w, c: s.key('alt+F4', window=w),
            # What a window manager's close box sends; Wine makes WM_CLOSE of it.
            'WM_DELETE_WINDOW': lambda s, w, c: s.close_window(w),
            # The close box itself, through the window manager.
            'wmctrl -c': lambda s, w, c: s.desktop.run(['wmctrl', '-i', '-c', '0x%x' % w]),
        }
        # One desktop and prefix for all, as a user starts the program again
        # and again: each way still closes a program of its own.
        session = self.open_session()
        for name, close in ways.items():
            with self.subTest(name):
                try:
                    session.launch()
                    window, client = self.wait_first_frame(session)
                    close(session, window, client)
                except desktop.DesktopError as error:
                    self.fail('%s: %s' % (name, error))
                self.assert_exits_cleanly(session, window)
            self.end_leftover(session)


if __name__ == '__main__':
    program_case.main()

#!/usr/bin/python3
"""End-to-end: the main window and the ways the program ends, seen from the
X server the real vexalune.exe runs on.

  /usr/bin/python3 tests/e2e/test_window.py --exe build/win64/vexalune.exe
"""

import program_case
from harness import CLIENT_SIZE
from program_case import ProgramTestCase


class MainWindowTest(ProgramTestCase):

    def test_window_vexalune_has_640x480_client_area_below_menu_at_top_left(self):
        session, window, client = self.start_program()
        self.assertEqual([w[0] for w in session.windows()], [window], 'the only visible window')
        top = session.geometry(window)

        self.assertEqual(client[2:], CLIENT_SIZE)
        # With no window manager Wine leaves caption and borders (a few
        # pixels, ~20 for the caption) out of the X window and shifts it by
        # them: a window created at the screen's corner lands here.
        self.assertTrue(0 <= top[0] <= 8 and 0 <= top[1] <= 30, 'window at %r' % (top,))
        # What the X window holds above the client area is the menu bar,
        # one line of it.
        self.assertEqual((client[0], client[2]), (top[0], top[2]), 'client area spans the window')
        self.assertEqual(client[1] + client[3], top[1] + top[3], 'client area ends at the window bottom')
        self.assertTrue(15 <= client[1] - top[1] <= 40, 'menu bar %d px high' % (client[1] - top[1]))


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
        }
        for name, close in ways.items():
            with self.subTest(name):
                session, window, client = self.start_program()
                close(session, window, client)
                self.assert_exits_cleanly(session, window)
                session.cleanup()


if __name__ == '__main__':
    program_case.main()

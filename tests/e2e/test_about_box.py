#!/usr/bin/python3
"""End-to-end: the About box of the real vexalune.exe - the ways it opens and
closes, and that it is modal.

  /usr/bin/python3 tests/e2e/test_about_box.py --exe build/win64/vexalune.exe
"""

import program_case
from program_case import desktop
from desktop import ABOUT_OK_CENTRE, ABOUT_TITLE
from program_case import EXIT_SECONDS, ProgramTestCase


class AboutBoxTest(ProgramTestCase):

    def setUp(self):
        self.session, self.window, self.client = self.start_program()

    def open_with(self, how):
        keys = {'Alt+?': ['alt+question'], 'Alt+/': ['alt+slash'], 'menu': ['alt+h', 'a']}[how]
        self.session.key(*keys, window=self.window)
        return self.session.wait_window(ABOUT_TITLE, timeout=EXIT_SECONDS)

    def close_with(self, how, about):
        s = self.session
        if how == 'close box':
            s.close_window(about)
        elif how == 'click on OK':
            x, y, width, height = s.geometry(about)
            s.click(x + round(width * ABOUT_OK_CENTRE[0]), y + round(height * ABOUT_OK_CENTRE[1]))
        else:
            # Space presses the focused button, which is OK, the only one.
            s.key({'Esc': 'Escape', 'Enter': 'Return', 'Space on OK': 'space'}[how], window=about)

    def test_each_way_opens_and_closes_the_about_box(self):
        cases = [('Alt+?', 'Esc'), ('Alt+/', 'Enter'), ('menu', 'click on OK'),
                 ('Alt+?', 'Space on OK'), ('Alt+/', 'close box')]
        for opener, closer in cases:
            with self.subTest(open=opener, close=closer):
                self.assertEqual(self.session.windows(ABOUT_TITLE), [], 'no box before')
                about = self.open_with(opener)
                self.close_with(closer, about)
                self.session.wait_no_window(ABOUT_TITLE, EXIT_SECONDS)
                self.assertIsNone(self.session.program.poll(), 'program still running')
                self.assertTrue(self.session.x.is_viewable(self.window), 'main window still shown')
        # One box per opening, however briefly: the watcher saw every map.
        self.assertEqual(len(self.session.watcher.maps(ABOUT_TITLE)), len(cases))

    def test_accelerators_while_the_box_is_open_open_no_second_one(self):
        about = self.open_with('Alt+?')
        for keys in ('alt+question', 'alt+slash'):
            self.session.key(keys, window=about)
            # As a user who clicked the main window first: a box that is not
            # modal would let it take the keys.
            self.session.click(self.client[0] + 600, self.client[1] + 440)
            self.session.key(keys, window=self.window)

        def second_box():
            shown = [w[0] for w in self.session.windows(ABOUT_TITLE)]
            mapped = self.session.watcher.maps(ABOUT_TITLE)
            return (shown, len(mapped)) if shown != [about] or len(mapped) != 1 else None
        # Watched for the whole period a box takes to come at worst, rather
        # than looked at once after a fixed sleep.
        try:
            asked = desktop.poll_never(second_box, EXIT_SECONDS, what='a second box or none (shown, maps)')
        except desktop.DesktopError as error:
            self.fail(str(error))
        self.assertGreater(asked, 10, 'looked often enough')
        self.close_with('Esc', about)
        self.session.wait_no_window(ABOUT_TITLE, EXIT_SECONDS)


if __name__ == '__main__':
    program_case.main()

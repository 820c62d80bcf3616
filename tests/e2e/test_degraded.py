#!/usr/bin/python3
"""End-to-end: the real vexalune.exe on machines that lack something - no
audio driver at all, no Direct3D.

  /usr/bin/python3 tests/e2e/test_degraded.py --exe build/win64/vexalune.exe
"""

import re

import program_case
from program_case import desktop
from desktop import MAIN_TITLE
from program_case import ProgramTestCase


def registry_value(reg_file, key, name):
    """The raw value of name under key in a Wine .reg file, or None."""
    with open(reg_file, encoding='utf-8', errors='replace') as f:
        text = f.read()
    section = re.search(r'^\[%s\][^\n]*\n(.*?)(?:\n\[|\Z)' % re.escape(key), text, re.S | re.M)
    if section is None:
        return None
    value = re.search(r'^"%s"=(.*)$' % re.escape(name), section.group(1), re.M)
    return value.group(1) if value else None


class NoAudioDriverTest(ProgramTestCase):

    def test_draws_and_exits_0_with_no_audio_driver(self):
        session = self.open_session()
        # An empty driver list: Wine loads no audio driver at all.
        session.wine_command(['reg', 'add', r'HKCU\Software\Wine\Drivers', '/v', 'Audio', '/d', '', '/f'])
        self.assertEqual(registry_value(session.prefix + '/user.reg', r'Software\\Wine\\Drivers', 'Audio'), '""')

        session.launch()
        window = session.wait_window(MAIN_TITLE)
        client = session.client_area(window)
        pointer = (170, 215)
        self.move_pointer_to_client(session, client, pointer)
        # Clear colour everywhere but the text's box, white text in it.
        self.wait_for_text(session, client, pointer, timeout=10)

        session.key('alt+F4', window=window)
        self.assert_exits_cleanly(session, window)


class NoDirect3DTest(ProgramTestCase):

    def test_ends_by_itself_with_exit_code_0_and_no_message_box(self):
        # Without GLX, Wine's Direct3D finds no OpenGL to run on.
        session = self.open_session(xvfb_args=['-extension', 'GLX'])
        self.assertFalse(session.x.has_extension('GLX'))
        session.launch()

        watcher = session.watcher

        def others():
            # A message box is an ordinary managed window; Wine's own helper
            # windows are 1x1 override-redirect ones.
            return [m for m in watcher.maps() if m['name'] != MAIN_TITLE
                    and (not m['override_redirect'] or (m['geometry'] and m['geometry'][2:] != [1, 1]))]

        # Ends as soon as either the program does or another window shows up,
        # rather than waiting for a box nobody will click.
        desktop.poll(lambda: session.program.poll() is not None or others(), 20,
                     what='the program to end')
        self.assertEqual(others(), [], 'no window but the main one')
        main_maps = desktop.poll(lambda: watcher.maps(MAIN_TITLE), 2, what='the main window in the log')
        # Its window's destruction comes last: once seen, every window the
        # program made is in the log.
        main = main_maps[0]['window']
        desktop.poll(lambda: [e for e in watcher.events if e['event'] == 'destroy' and e['window'] == main], 5,
                     what='the main window to be destroyed')

        self.assertEqual(others(), [], 'no window but the main one')
        self.assertEqual(session.wait_exit(5), 0, 'exit code')
        self.assertEqual(session.windows(), [], 'nothing left on the screen')
        self.assertEqual(session.program_processes(), [], 'program processes left')


if __name__ == '__main__':
    program_case.main()

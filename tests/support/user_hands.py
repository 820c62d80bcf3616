#!/usr/bin/python3
"""A user's hands on the real program, at random but replayable: the pointer
sweeping in and out of the client area, menus opened with the mouse and the
keyboard and dismissed, the About box opened every way and closed every
way, the window minimised and restored, the focus taken away by another
window and given back, keys typed, the window dragged by its caption -
while the program is watched for what a user would notice.

Everything the hands do comes from random.Random(seed) alone, as a plan of
episodes that each start and end with the main window alone and active
(plan(seed)); points are fractions of the area they fall in, so the same
seed gives the same sequence wherever the window happens to be. A failure
names the seed and the episode.

Checked after every episode:
  - the program is running;
  - every window ever mapped (the window watcher's record, so a box that
    lived for a moment counts) is the main window, the About box, the other
    window the hands opened (xmessage), or a popup (menus, Wine's helpers);
  - never two About boxes at once, and one About box for each opening;
  - no menu left open, the main window shown;
  - frames go on: the client area's pixels change when the pointer moves
    to another spot of it.
Checked at the end (finish): the text at the pointer on the clear colour,
exit through the menu with code 0 within 10 s, no process of the program
left.

Used by tests/e2e/test_user_hands.py (a minute, in the suite) and by
bench/soak.py --user-input (long runs with the soak's counters).

  /usr/bin/python3 tests/support/user_hands.py --seed 7 --list 20
      prints the first 20 episodes of a seed's plan, without a program.
"""

import argparse
import collections
import hashlib
import math
import os
import random
import subprocess
import sys
import tempfile
import threading
import time

import desktop
from desktop import ABOUT_OK_CENTRE, ABOUT_TITLE, MAIN_TITLE, DesktopError, poll

OTHER_TITLE = 'xmessage'

# The part of an X id that a client chooses; the rest names the client
# (the X server's default for its 256 clients).
X_ID_MASK = 0x1FFFFF

# A sweep moves the pointer at most 200 times a second: a pause after every
# ten moves. A pause after each move would be slower: on a loaded machine a
# sleep of 5 ms lasts about 20.
MOVES_PER_PAUSE = 10
MOVE_PAUSE = 0.05

# Deadlines for things a user waits for (a box to open, a menu to close, a
# frame to change); polled, so only a fault waits them out. Generous: two
# cores shared with other programs rendering.
WAIT_SECONDS = 20
# The exit through the menu, as a user would accept it.
EXIT_SECONDS = 10

# Keys typed at the main window: none opens a menu (Alt, F10) or closes
# anything (Alt+F4).
TYPED_KEYS = (['%c' % c for c in 'abcdefghijklmnopqrstuvwxyz0123456789']
              + ['space', 'Return', 'Escape', 'Tab', 'BackSpace', 'Delete', 'Left', 'Right', 'Up', 'Down',
                 'Home', 'End', 'comma', 'period', 'slash', 'question', 'minus', 'shift+a', 'shift+z',
                 'ctrl+c', 'ctrl+v', 'F1', 'F5'])
# Keys typed at the open About box that leave it open (Enter, Space and Esc
# close it, and are closers of their own).
KEYS_IN_ABOUT = ['Tab', 'a', 'x', 'Left', 'Right', 'shift+Tab', '1']

# (episode, weight): pointer sweeps make most of a user's input.
EPISODES = [('sweep', 30), ('click', 6), ('type', 10), ('menu', 14), ('about', 16), ('minimise', 6),
            ('focus_away', 8), ('drag', 6)]

ABOUT_OPENERS = ['menu_mouse', 'menu_keyboard', 'alt+?', 'alt+/']
ABOUT_CLOSERS = ['escape', 'enter', 'ok_button', 'close_box']


class HandsFailure(Exception):
    pass


# --------------------------------------------------------------------------
# The plan: a pure function of the seed

def _points(rng, count, inside_share):
    """[(area, fx, fy)]: 'client' points fall in the client area, 'screen'
    ones anywhere, mostly outside the client area."""
    points = []
    for _ in range(count):
        area = 'client' if rng.random() < inside_share else 'screen'
        points.append((area, round(rng.random(), 4), round(rng.random(), 4)))
    return points


def _sweep(rng, most=200):
    return _points(rng, rng.randint(5, most), rng.choice([1.0, 0.8, 0.5]))


def _keys(rng, choices, most):
    return [rng.choice(choices) for _ in range(rng.randint(1, most))]


def episode_params(kind, rng):
    if kind == 'sweep':
        return {'points': _sweep(rng)}
    if kind == 'click':
        return {'point': _points(rng, 1, 1.0)[0]}
    if kind == 'type':
        return {'keys': _keys(rng, TYPED_KEYS, 12)}
    if kind == 'menu':
        menu, opener = rng.choice(['file', 'help']), rng.choice(['mouse', 'alt', 'f10'])
        # F10 selects the first title, whatever the hand had in mind.
        return {'menu': 'file' if opener == 'f10' else menu, 'open': opener,
                # Right walks a menu the keyboard opened to the other title
                # (under a mouse resting on its title Wine's menu goes back
                # there; and once Right has wrapped round from the last title
                # to the first, Wine's menu ignores the next Right).
                'walk': 0 if opener == 'mouse' else rng.randint(0, 1), 'hover': rng.randint(0, 20),
                'dismiss': rng.choice(['escape', 'click_client', 'click_bar'])}
    if kind == 'about':
        during = []
        for _ in range(rng.randint(0, 3)):
            what = rng.choice(['sweep', 'keys', 'again'])
            if what == 'sweep':
                during.append(('sweep', _sweep(rng, 80)))
            elif what == 'keys':
                during.append(('keys', _keys(rng, KEYS_IN_ABOUT, 4)))
            else:
                # A user who clicks the main window and asks for the box
                # again, which a modal box must not allow.
                during.append(('again', rng.choice(ABOUT_OPENERS)))
        return {'open': rng.choice(ABOUT_OPENERS), 'during': during, 'close': rng.choice(ABOUT_CLOSERS)}
    if kind == 'minimise':
        return {'points': _sweep(rng, 60)}
    if kind == 'focus_away':
        return {'points': _sweep(rng, 60), 'back': rng.choice(['activate', 'click_client'])}
    if kind == 'drag':
        return {'to': (round(rng.uniform(0.05, 0.95), 4), round(rng.uniform(0.05, 0.95), 4)),
                'steps': rng.randint(3, 40)}
    raise ValueError(kind)


def plan(seed):
    """Yields (index, kind, params) forever, from the seed alone."""
    rng = random.Random(seed)
    kinds = [k for k, _ in EPISODES]
    weights = [w for _, w in EPISODES]
    index = 0
    while True:
        kind = rng.choices(kinds, weights)[0]
        yield index, kind, episode_params(kind, rng)
        index += 1


def describe(index, kind, params):
    """One line for the log: the points of a sweep are summed up."""
    shown = dict(params)
    for key in ('points',):
        if key in shown:
            shown[key] = '%d points, digest %s' % (len(shown[key]), _digest(shown[key]))
    if 'during' in shown:
        shown['during'] = [(what, '%d points, digest %s' % (len(value), _digest(value)) if what == 'sweep'
                            else value) for what, value in shown['during']]
    return '#%d %s %s' % (index, kind, shown)


def _digest(value):
    return hashlib.sha1(repr(value).encode()).hexdigest()[:8]


# --------------------------------------------------------------------------
# The hands

class Hands:
    """Drives one running program's main window through a seed's plan.

    hands = Hands(session, window, seed)
    hands.run(seconds=60)         # or episodes=N, or until stop() is called
    hands.finish()                # end checks and the exit through the menu
    """

    def __init__(self, session, window, seed, log=None, replay=''):
        self.session, self.window, self.seed = session, window, seed
        self.replay = replay
        self.log = log or (lambda line: None)
        self.plan = plan(seed)
        self.counts = collections.Counter()
        self.moves = 0
        self.move_seconds = 0.0
        self.abouts_opened = 0
        self.current = None
        self.history = collections.deque(maxlen=30)
        self._watched = 0
        self._abouts_shown = set()
        self._abouts_seen = set()
        self._stop = threading.Event()
        self._menu_bar = None
        self._client = None

    # -- geometry, looked up each time: drags move the window

    def client(self):
        """The client area on the screen; where it was, while the window is
        minimised."""
        if self._client is not None and not self.session.x.is_viewable(self.window):
            return self._client
        self._client = self.session.client_area(self.window, timeout=WAIT_SECONDS)
        return self._client

    def screen_size(self):
        attributes = self.session.x.attributes(self.session.x.root)
        return attributes.width, attributes.height

    def resolve(self, point):
        """Screen coordinates of a planned (area, fx, fy)."""
        area, fx, fy = point
        if area == 'client':
            x, y, width, height = self.client()
        else:
            (width, height), x, y = self.screen_size(), 0, 0
        return x + min(int(fx * width), width - 1), y + min(int(fy * height), height - 1)

    # -- running

    def stop(self):
        """Makes run() return after the episode under way."""
        self._stop.set()

    def run(self, seconds=None, episodes=None):
        """Plays the plan until seconds have passed, episodes have been
        played or stop() was called. Raises HandsFailure."""
        self.current = 'calibration of the menu bar'
        try:
            self.calibrate()
        except (DesktopError, subprocess.SubprocessError) as error:
            self.fail(str(error))
        started = time.monotonic()
        for index, kind, params in self.plan:
            if self._stop.is_set() or (episodes is not None and index >= episodes):
                break
            if seconds is not None and time.monotonic() - started >= seconds:
                break
            self.current = describe(index, kind, params)
            self.history.append(self.current)
            self.log(self.current)
            try:
                getattr(self, 'do_' + kind)(**params)
                self.check(index)
            except (DesktopError, subprocess.SubprocessError) as error:
                self.fail(str(error))
            self.counts[kind] += 1
        self.current = None
        return self.counts

    def fail(self, what):
        raise HandsFailure('%s\n  seed %d, episode %s\n  screen: %s\n  replay: %s'
                           % (what, self.seed, self.current or '(none)', self.save_screen(),
                              self.replay or 'the same command with --seed %d' % self.seed))

    def save_screen(self):
        """A picture of the whole screen as the failure left it."""
        path = os.path.join(tempfile.gettempdir(), 'user-hands-%d-%d.png' % (self.seed, os.getpid()))
        try:
            self.session.screenshot().save_png(path)
            return path
        except Exception as error:  # the failure itself matters more
            return 'none (%s)' % error

    def summary(self):
        rate = self.moves / self.move_seconds if self.move_seconds else 0.0
        return ('seed %d: %d episodes %s; %d pointer moves (%.0f a second while sweeping); %d About boxes'
                % (self.seed, sum(self.counts.values()), dict(sorted(self.counts.items())), self.moves, rate,
                   self.abouts_opened))

    # -- the menu bar, measured once: where each menu's popup opens is
    # where its title starts on the bar

    def calibrate(self):
        s = self.session
        s.focus(self.window)
        origin = s.geometry(self.window)
        lefts = {}
        for menu, key in (('file', 'alt+f'), ('help', 'alt+h')):
            s.key(key, window=self.window)
            popup = self.wait_one_popup('the %s menu' % menu)
            lefts[menu] = popup[1][0] - origin[0]
            self.dismiss_menu_with_escape()
        if not lefts['file'] < lefts['help']:
            self.fail('menus out of order on the bar: %r' % lefts)
        self._menu_bar = lefts
        self.check(-1)

    def bar_point(self, menu):
        """Screen point on a menu's title in the bar (between the window's
        top and the client area)."""
        window, client = self.session.geometry(self.window), self.client()
        return window[0] + self._menu_bar[menu] + 12, (window[1] + client[1]) // 2

    def popup_menu(self, popup):
        """Which menu a popup is, by where it opened."""
        left = popup[1][0] - self.session.geometry(self.window)[0]
        return min(self._menu_bar, key=lambda menu: abs(self._menu_bar[menu] - left))

    # -- input

    def sweep(self, points):
        """Moves the pointer through the points, in one xdotool run."""
        self.move_through([self.resolve(point) for point in points])

    def move_through(self, screen_points):
        args = []
        for number, (x, y) in enumerate(screen_points, 1):
            args += ['mousemove', str(x), str(y)]
            if number % MOVES_PER_PAUSE == 0:
                args += ['sleep', str(MOVE_PAUSE)]
        started = time.monotonic()
        self.session.xdotool(*args, timeout=60 + len(screen_points) * MOVE_PAUSE)
        self.move_seconds += time.monotonic() - started
        self.moves += len(screen_points)

    def wait_one_popup(self, what):
        # While a menu hands over to the next one, both may show for a moment.
        def one():
            self.session.check_running()
            popups = self.session.popups()
            return popups[0] if len(popups) == 1 else None
        try:
            return poll(one, WAIT_SECONDS, what=what)
        except DesktopError as error:
            self.fail('%s; popups shown: %r' % (error, self.session.popups()))

    def wait_menu(self, menu):
        """The one popup, once it is menu's."""
        def found():
            popup = self.wait_one_popup('a menu')
            return popup if self.popup_menu(popup) == menu else None
        return poll(found, WAIT_SECONDS, what='the %s menu to be the one open' % menu)

    def wait_no_popup(self, what):
        poll(lambda: not self.session.popups(), WAIT_SECONDS, what=what)

    def dismiss_menu_with_escape(self):
        # The first Esc closes the popup, the second leaves the menu bar.
        self.session.key('Escape', 'Escape')
        self.wait_no_popup('the menu to close after Esc')

    # -- episodes

    def do_sweep(self, points):
        self.sweep(points)

    def do_click(self, point):
        self.session.click(*self.resolve(point))

    def do_type(self, keys):
        self.session.key(*keys, window=self.window)

    def do_menu(self, menu, open, walk, hover, dismiss):
        s = self.session
        if open == 'mouse':
            self.session.click(*self.bar_point(menu))
        else:
            # The hand that is on the keys left the mouse on the client
            # area: a pointer resting on the bar takes the menu back to its
            # title whenever Wine's popups change under it.
            client = self.client()
            s.move_pointer(client[0] + client[2] - 20, client[1] + client[3] - 20)
            if open == 'alt':
                s.key('alt+' + menu[0], window=self.window)
            else:
                # F10 selects the first title; Down opens it.
                s.key('F10', 'Down', window=self.window)
        popup = self.wait_one_popup('the %s menu to open (%s)' % (menu, open))
        opened = menu
        if self.popup_menu(popup) != opened:
            self.fail('the %s menu opened instead of the %s menu' % (self.popup_menu(popup), opened))
        # Right walks along the bar, the popups following; there are two
        # menus.
        # One press at a time, each seen done, as a user watching the menus.
        for _ in range(walk):
            s.key('Right')
            opened = ({'file', 'help'} - {opened}).pop()
            popup = self.wait_menu(opened)
        # The pointer over the popup's items, never clicking them.
        x, y, width, height = popup[1]
        if hover:
            self.move_through([(x + width * (i + 1) // (hover + 2), y + height // 2) for i in range(hover)])
        if dismiss == 'escape':
            self.dismiss_menu_with_escape()
        elif dismiss == 'click_client':
            client = self.client()
            self.session.click(client[0] + client[2] // 2, client[1] + client[3] - 40)
            self.wait_no_popup('the menu to close after a click in the client area')
        else:
            # A click on the open menu's title closes a menu the mouse
            # opened; one the keyboard opened stays under Wine, and the
            # user's next try is Esc.
            self.session.click(*self.bar_point(self.popup_menu(s.popups()[0])))
            try:
                poll(lambda: not s.popups(), 3, what='')
            except DesktopError:
                pass
            self.dismiss_menu_with_escape()

    def open_about(self, how, target=None):
        s = self.session
        target = target or self.window
        if how == 'menu_mouse':
            self.session.click(*self.bar_point('help'))
            popup = self.wait_one_popup('the help menu to open')
            if self.popup_menu(popup) != 'help':
                # Its one item would end the program.
                self.fail('a click on the help menu opened the %s menu: %r' % (self.popup_menu(popup), popup))
            x, y, width, height = popup[1]
            self.session.click(x + width // 2, y + height // 2)
        elif how == 'menu_keyboard':
            s.key('alt+h', 'a', window=target)
        elif how == 'alt+?':
            s.key('alt+question', window=target)
        else:
            s.key('alt+slash', window=target)

    def do_about(self, open, during, close):
        s = self.session
        self.open_about(open)
        about = s.wait_window(ABOUT_TITLE, timeout=WAIT_SECONDS)
        self.abouts_opened += 1
        self.check_windows()
        for what, value in during:
            if what == 'sweep':
                self.sweep(value)
            elif what == 'keys':
                s.key(*value, window=about)
            else:
                self.ask_again(value)
            self.check_windows()
            shown = s.windows(ABOUT_TITLE)
            if [window for window, _, _ in shown] != [about]:
                self.fail('About boxes shown after %s %r: %r, not the one box 0x%x'
                          % (what, value if what == 'again' else '', shown, about))
        self.close_about(about, close)
        s.wait_no_window(ABOUT_TITLE, WAIT_SECONDS)

    def ask_again(self, how):
        """A click on the main window's client area, then the box asked for
        again: a modal box keeps the activation and the keys, and the
        disabled main window opens no menu."""
        s = self.session
        client = self.client()
        s.click(client[0] + client[2] - 30, client[1] + client[3] - 30)
        if how == 'menu_mouse':
            self.session.click(*self.bar_point('help'))
            try:
                popup = poll(s.popups, 1.0, what='a popup')
            except DesktopError:
                return
            self.fail('the main window opened its %s menu while the About box was open: %r'
                      % (self.popup_menu(popup[0]), popup))
        self.open_about(how, target=self.window)

    def close_about(self, about, how):
        s = self.session
        if how == 'close_box':
            # Through the window manager, as its close button does.
            s.desktop.run(['wmctrl', '-i', '-c', '0x%x' % about])
        elif how == 'ok_button':
            x, y, width, height = s.geometry(about)
            s.click(x + round(width * ABOUT_OK_CENTRE[0]), y + round(height * ABOUT_OK_CENTRE[1]))
        else:
            s.key({'escape': 'Escape', 'enter': 'Return'}[how], window=about)

    def do_minimise(self, points):
        s = self.session
        where = s.frame_geometry(self.window)
        s.minimize(self.window)
        self.sweep(points)
        s.check_running()
        s.restore(self.window)
        # The window manager shows the window growing out of its icon for a
        # moment; it ends where it was.
        poll(lambda: s.frame_geometry(self.window) == where, WAIT_SECONDS,
             what='the restored window back at %r (it is at %r)' % (where, s.frame_geometry(self.window)))

    def do_focus_away(self, points, back):
        s = self.session
        width, height = self.screen_size()
        other = subprocess.Popen(['xmessage', '-geometry', '+%d+%d' % (width - 260, height - 120),
                                  'another window'], env=s.x_env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            # A new window gets the focus from the window manager.
            other_window = poll(lambda: [w for w, _, _ in s.windows(OTHER_TITLE) if s.x.active_window() == w],
                                WAIT_SECONDS, what='xmessage to be shown and active')[0]
            self.sweep(points)
            if back == 'click_client' and not self.covers(s.frame_geometry(other_window), self.client()):
                client = self.client()
                s.click(client[0] + 20, client[1] + 20)
                poll(lambda: s.x.active_window() == self.window, WAIT_SECONDS,
                     what='the main window to be active after a click on it')
            else:
                s.focus(self.window)
        finally:
            other.kill()
            other.wait()
        s.wait_no_window(OTHER_TITLE, WAIT_SECONDS)

    @staticmethod
    def covers(rect, client):
        """Whether rect overlaps the client area's top-left corner, where a
        click goes."""
        return desktop.rect_contains(rect, client[0] + 20, client[1] + 20)

    def do_drag(self, to, steps):
        s = self.session
        frame = s.frame_geometry(self.window)
        extents = s.x.property_values(self.window, '_NET_FRAME_EXTENTS')  # left, right, top, bottom
        width, height = self.screen_size()
        # The caption's middle, away from the buttons at its ends.
        grab = (frame[0] + frame[2] // 2, frame[1] + extents[2] // 2)
        target = (int(to[0] * (width - frame[2])), int(to[1] * (height - frame[3])))
        s.move_pointer(*grab)
        s.xdotool('mousedown', '1')
        try:
            for step in range(1, steps + 1):
                s.move_pointer(grab[0] + (target[0] - frame[0]) * step // steps,
                               grab[1] + (target[1] - frame[1]) * step // steps)
                time.sleep(MOVE_PAUSE / MOVES_PER_PAUSE)
        finally:
            s.xdotool('mouseup', '1')

        # The window manager resists at the screen's edges; the rest must follow.
        def followed():
            moved = s.frame_geometry(self.window)
            return math.hypot(moved[0] - target[0], moved[1] - target[1]) <= 25 and moved
        moved = poll(followed, WAIT_SECONDS, what='the window to follow the drag to %r (it is at %r)'
                     % (target, s.frame_geometry(self.window)))
        if moved[2:] != frame[2:]:
            self.fail('the drag changed the size: %r to %r' % (frame, moved))

    # -- checks

    def check(self, index):
        """The state between two episodes: running, only our windows ever,
        one About box at a time, no menu open, frames going on."""
        s = self.session
        s.check_running()
        self.check_windows()
        shown = s.windows(ABOUT_TITLE)
        if shown:
            self.fail('an About box is still shown: %r' % shown)
        if s.popups():
            self.fail('a menu is still open: %r' % s.popups())
        if not s.x.is_viewable(self.window):
            self.fail('the main window is not shown')
        if len(self._abouts_seen) != self.abouts_opened:
            self.fail('%d About boxes were mapped for %d openings'
                      % (len(self._abouts_seen), self.abouts_opened))
        self.check_frames(index)

    def check_windows(self):
        """Replays the watcher's record since the last look: every mapped
        window must be ours, and no two About boxes may be mapped at once."""
        self.session.check_running()
        events = self.session.watcher.events
        for event in events[self._watched:]:
            window = event['window']
            if event['event'] == 'map':
                name = event.get('name')
                if name == ABOUT_TITLE:
                    self._abouts_seen.add(window)
                    self._abouts_shown.add(window)
                    if len(self._abouts_shown) > 1:
                        self.fail('two About boxes shown at once: %s'
                                  % ', '.join('0x%x' % w for w in sorted(self._abouts_shown)))
                elif (name not in (MAIN_TITLE, OTHER_TITLE) and not event.get('override_redirect')
                      and not self.window_managers_own(window)):
                    self.fail('a window that is none of ours was shown: %r' % event)
            elif event['event'] in ('unmap', 'destroy'):
                self._abouts_shown.discard(window)
        self._watched = len(events)

    def window_managers_own(self, window):
        """Whether the window manager made window (a frame whose map came
        before the watcher knew it as one): the X server hands each client
        its own block of ids, and the window manager's check window is one
        of its own."""
        manager = self.session.x.window_manager()
        return manager is not None and window & ~X_ID_MASK == manager & ~X_ID_MASK

    def check_frames(self, index):
        """Moves the pointer to another spot of the client area and waits for
        the text to show there: the frames go on and follow the pointer."""
        client = self.client()
        pointer = self.session.x.pointer()
        # A spot that depends on nothing random, away from the pointer.
        spot = (40 + (index * 137) % (client[2] - 340), 40 + (index * 89) % (client[3] - 90))
        if math.hypot(client[0] + spot[0] - pointer[0], client[1] + spot[1] - pointer[1]) < 120:
            spot = (client[2] - 320 - spot[0] + 40, client[3] - 60 - spot[1] + 40)
        self.text_at(spot, 'frames stopped')

    def text_at(self, spot, what):
        """Moves the pointer to spot (client coordinates) and polls until the
        text shows there, on the clear colour and nowhere else; returns the
        TextLayout seen."""
        s = self.session
        client = self.client()
        s.move_pointer(client[0] + spot[0], client[1] + spot[1])
        seen = []

        def shown():
            s.check_running()
            layout = desktop.TextLayout(s.screenshot(client), spot)
            seen[:] = [layout]
            return layout.text_in_box_only() and layout
        try:
            return poll(shown, WAIT_SECONDS, 0.1, what='the text at the pointer')
        except DesktopError as error:
            self.fail('%s: after the pointer moved to %r in the client area %r, the text is not (only) '
                      'there on the clear colour (%s): %r' % (what, spot, client, error, seen))

    def finish(self, exit_how='menu_mouse'):
        """End checks: the text at the pointer, then the exit through the
        File menu (its one item), code 0 within EXIT_SECONDS, no process of
        the program left. Returns the seconds the exit took."""
        s = self.session
        self.current = 'finish'
        try:
            self.check_windows()
            layout = self.text_at((150, 200), 'at the end')
            self.log('text at the pointer: %r' % layout)
            if exit_how == 'menu_mouse':
                self.session.click(*self.bar_point('file'))
                popup = self.wait_one_popup('the file menu to open')
                if self.popup_menu(popup) != 'file':
                    self.fail('a click on the file menu opened the %s menu' % self.popup_menu(popup))
                x, y, width, height = popup[1]
                asked = time.monotonic()
                self.session.click(x + width // 2, y + height // 2)
            else:
                asked = time.monotonic()
                s.key('alt+f', 'x', window=self.window)
            try:
                code = s.wait_exit(EXIT_SECONDS)
            except DesktopError as error:
                self.fail('exit through the menu: %s' % error)
            took = time.monotonic() - asked
            if code != 0:
                self.fail('exit through the menu gave exit code %d' % code)
            try:
                poll(lambda: not s.program_processes(), WAIT_SECONDS, what='no program process')
            except DesktopError:
                self.fail('program processes left: %r' % s.program_processes())
            return took
        except (DesktopError, subprocess.SubprocessError) as error:
            self.fail(str(error))


class HandsThread(threading.Thread):
    """Hands running in a thread of their own until stop(), for a soak that
    samples counters meanwhile. After join, .failure holds the failure's
    text, or None."""

    def __init__(self, hands):
        super().__init__(daemon=True)
        self.hands = hands
        self.failure = None

    def run(self):
        try:
            self.hands.run()
        except HandsFailure as error:
            self.failure = str(error)
        except Exception as error:  # reported, not swallowed: the soak prints it
            self.failure = '%s: %s\n  seed %d, episode %s' % (type(error).__name__, error, self.hands.seed,
                                                               self.hands.current)

    def stop(self, timeout=300):
        self.hands.stop()
        self.join(timeout)


def new_seed():
    return random.SystemRandom().randrange(1 << 31)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--seed', type=int, required=True)
    parser.add_argument('--list', type=int, default=20, help='how many episodes to print')
    args = parser.parse_args(argv)
    for (index, kind, params) in plan(args.seed):
        if index >= args.list:
            break
        print(describe(index, kind, params))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

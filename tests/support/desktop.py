#!/usr/bin/python3
"""A Windows program under Wine on a private desktop, looked at from outside:
windows, frames, geometry, keys, pointer, pixels, processes, exit.

Standard library only (Xlib through ctypes). Everything started here ends
with its owner's cleanup, also after a failure, and a Python process that is
killed outright takes its X server, window manager and program with it.

  Desktop   an Xvfb that picks its own display (-displayfd), and Debian's
            openbox on it, started after it and waited for until it has
            taken over (_NET_SUPPORTING_WM_CHECK on the root window), with
            a theme whose frame measures what Windows' does
            (tests/support/openbox); or no window manager at all
            (window_manager=False)
  Wine      one Wine installation as a bash environment script describes it
            (loader, wineserver, variables, how to make the shared prefix):
            Wine.from_env_script('scripts/wine-env.sh') is the 64-bit one
  Session   one program in a prefix of its own on a desktop (its own one
            unless given): launch, window watcher, the program's process,
            pointer, keys, screenshots, exit, cleanup

Processes of one prefix share one wineserver, hence one Windows desktop:
one foreground window, one explorer.exe bound to whichever X display came
first, and `wineserver -k` in one test's cleanup would end every other
test's program. So each session copies the shared prefix: drive_c is
hard-linked (Wine only reads it while a program runs; nothing under it
changes) and the registry files, which Wine rewrites by rename, are copied.
That takes ~30 ms instead of ~1 s and 700 MB; a full copy is the fallback
when the link fails (another file system).

In code (tests/e2e/program_case.py shows the usual use):
  with Session(exe) as s:                 # or Session(exe, desktop=d, wine=w)
      s.wine_command(['reg', 'add', ...])  # optional, before launch
      s.launch()
      window = s.wait_window('Vexalune')  # visible top-level window by title
      client = s.client_area(window)      # screen (x, y, w, h) of the client area
      s.move_pointer(x, y); s.key('alt+F4', window=window); s.close_window(window)
      image = s.screenshot(client)        # Image: .pixel(x, y), .pixels()
      s.watcher.maps()                    # every window ever mapped
      s.program_process()                 # ProgramProcess(pid, module_path, machine)
      code = s.wait_exit(timeout)

Command line:
  desktop.py run-headless --exe EXE [--screenshot PNG] [--env-script SH]
      Starts the program on a private desktop, shows it a few seconds with
      the pointer over the client area, saves a PNG of the window with its
      caption and borders, closes it with Alt+F4 and exits with its code.
  desktop.py serve [--no-window-manager]
      Starts a desktop, prints its display (":N") once the window manager
      has taken over, and keeps it until it is terminated or its parent
      process ends.
  desktop.py watch-windows DISPLAY / count-frames DISPLAY WINDOW
      The child processes of WindowWatcher and FrameCounter.
"""

import argparse
import collections
import ctypes
import ctypes.util
import errno
import fcntl
import json
import os
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
WINE_ENV_SCRIPT = os.path.join(SOURCE_DIR, 'scripts', 'wine-env.sh')
# Where openbox finds the theme of the project's desktops (themes/NAME/openbox-3).
OPENBOX_DATA = os.path.join(SOURCE_DIR, 'tests', 'support', 'openbox')

ABOUT_TITLE = 'バージョン情報'
# Where the About box's OK button has its centre in the box's client area, as
# a fraction of it: the dialog template is 230 x 75 dialog units and the
# button spans x 195..225, y 6..17. Wine maps exactly the client area to the
# X window.
ABOUT_OK_CENTRE = (210 / 230, 11.5 / 75)
MAIN_TITLE = 'Vexalune'
CLIENT_SIZE = (640, 480)
CLEAR_COLOR = (0x1E, 0x41, 0x5A)
TEXT_BOX = (300, 50)
SCREEN = '1024x768x24'


class DesktopError(Exception):
    pass


def poll(condition, timeout, interval=0.05, what='condition'):
    """Calls condition() until it returns something true and returns that;
    raises DesktopError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise DesktopError('timed out after %.1f s waiting for %s' % (timeout, what))
        time.sleep(interval)


def poll_never(condition, period, interval=0.05, what='condition'):
    """For negative checks: calls condition() for the whole period and raises
    DesktopError as soon as it returns something true. Returns how many
    times it was asked (a check that was never asked proves nothing)."""
    deadline = time.monotonic() + period
    asked = 0
    while True:
        result = condition()
        asked += 1
        if result:
            raise DesktopError('%s: %r' % (what, result))
        if time.monotonic() >= deadline:
            return asked
        time.sleep(interval)


# --------------------------------------------------------------------------
# Children that die with us

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Runs in the child between fork and exec. SIGKILL from CTest's timeout
    # gives Python no chance to clean up; this way the X server, the window
    # manager and the program still go. Wine's own helpers (wineserver,
    # explorer) follow when their display and last client are gone.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
    os.setsid()


def _spawn(args, **kwargs):
    return subprocess.Popen(args, preexec_fn=_die_with_parent, **kwargs)


def _stop_process(process, timeout=5):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class ChildLines:
    """A child process of this module that prints 'ready' (as a JSON line)
    once it listens, then one JSON line per thing seen; the lines are
    collected by a thread (Xlib wants one thread per connection, hence a
    process of its own)."""

    def __init__(self, args, env, what):
        self.records = []
        self._lock = threading.Lock()
        self.process = _spawn([sys.executable, os.path.abspath(__file__)] + [str(a) for a in args],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        first = self._read_line(timeout=20)
        if first is None or first.get('event') != 'ready':
            self.stop()
            raise DesktopError('%s did not start (%r)' % (what, first))
        self._thread = threading.Thread(target=self._pump, daemon=True)
        self._thread.start()

    def _read_line(self, timeout):
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            return None
        line = self.process.stdout.readline()
        return json.loads(line) if line else None

    def _pump(self):
        for line in self.process.stdout:
            record = json.loads(line)
            with self._lock:
                self.records.append(record)

    def snapshot(self):
        with self._lock:
            return list(self.records)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        thread = getattr(self, '_thread', None)
        if thread is not None:
            thread.join(timeout=5)
        self.process.stdout.close()


def _emit(record):
    sys.stdout.write(json.dumps(record) + '\n')
    sys.stdout.flush()


# --------------------------------------------------------------------------
# Xlib through ctypes. Only what xdotool and xprop cannot do well (names as
# raw UTF-8 whatever the locale, WM_DELETE_WINDOW, windows that live only for
# a moment, DAMAGE) or what is polled often.

_Window = ctypes.c_ulong
_Atom = ctypes.c_ulong


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ('x', ctypes.c_int), ('y', ctypes.c_int), ('width', ctypes.c_int), ('height', ctypes.c_int),
        ('border_width', ctypes.c_int), ('depth', ctypes.c_int), ('visual', ctypes.c_void_p),
        ('root', _Window), ('c_class', ctypes.c_int), ('bit_gravity', ctypes.c_int),
        ('win_gravity', ctypes.c_int), ('backing_store', ctypes.c_int),
        ('backing_planes', ctypes.c_ulong), ('backing_pixel', ctypes.c_ulong),
        ('save_under', ctypes.c_int), ('colormap', ctypes.c_ulong), ('map_installed', ctypes.c_int),
        ('map_state', ctypes.c_int), ('all_event_masks', ctypes.c_long),
        ('your_event_mask', ctypes.c_long), ('do_not_propagate_mask', ctypes.c_long),
        ('override_redirect', ctypes.c_int), ('screen', ctypes.c_void_p)]


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
        ('display', ctypes.c_void_p), ('window', _Window), ('message_type', _Atom),
        ('format', ctypes.c_int), ('l', ctypes.c_long * 5)]


class _XStructureEvent(ctypes.Structure):
    # The common head of MapNotify, UnmapNotify, DestroyNotify and
    # ReparentNotify (whose third window is the new parent).
    _fields_ = [
        ('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
        ('display', ctypes.c_void_p), ('event', _Window), ('window', _Window),
        ('parent', _Window)]


class _XCreateWindowEvent(ctypes.Structure):
    _fields_ = [
        ('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
        ('display', ctypes.c_void_p), ('parent', _Window), ('window', _Window)]


class _XRectangle(ctypes.Structure):
    _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short),
                ('width', ctypes.c_ushort), ('height', ctypes.c_ushort)]


class _XDamageNotifyEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('drawable', ctypes.c_ulong), ('damage', ctypes.c_ulong),
                ('level', ctypes.c_int), ('more', ctypes.c_int), ('timestamp', ctypes.c_ulong),
                ('area', _XRectangle), ('geometry', _XRectangle)]


class _XImage(ctypes.Structure):
    # The head of Xlib's XImage, up to the colour masks.
    _fields_ = [('width', ctypes.c_int), ('height', ctypes.c_int), ('xoffset', ctypes.c_int),
                ('format', ctypes.c_int), ('data', ctypes.c_void_p), ('byte_order', ctypes.c_int),
                ('bitmap_unit', ctypes.c_int), ('bitmap_bit_order', ctypes.c_int), ('bitmap_pad', ctypes.c_int),
                ('depth', ctypes.c_int), ('bytes_per_line', ctypes.c_int), ('bits_per_pixel', ctypes.c_int),
                ('red_mask', ctypes.c_ulong), ('green_mask', ctypes.c_ulong), ('blue_mask', ctypes.c_ulong)]


class _XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('xclient', _XClientMessageEvent),
                ('xstructure', _XStructureEvent), ('xcreate', _XCreateWindowEvent),
                ('damage', _XDamageNotifyEvent), ('pad', ctypes.c_long * 24)]


_CREATE_NOTIFY, _DESTROY_NOTIFY, _UNMAP_NOTIFY, _MAP_NOTIFY, _REPARENT_NOTIFY = 16, 17, 18, 19, 21
_CLIENT_MESSAGE = 33
_IS_UNMAPPED, _IS_VIEWABLE = 0, 2
_STRUCTURE_NOTIFY_MASK = 1 << 17
_SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
_ANY_PROPERTY_TYPE = 0
_Z_PIXMAP = 2
_ALL_PLANES = 0xFFFFFFFF
_DAMAGE_REPORT_RAW_RECTANGLES = 0

_xlib = None
_xdamage = None
_error_handler = None


def _load_xlib():
    global _xlib, _error_handler
    if _xlib is not None:
        return _xlib
    lib = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    p, i, u = ctypes.c_void_p, ctypes.c_int, ctypes.c_ulong
    signatures = {
        'XOpenDisplay': (p, [ctypes.c_char_p]),
        'XCloseDisplay': (i, [p]),
        'XDefaultRootWindow': (_Window, [p]),
        'XInternAtom': (_Atom, [p, ctypes.c_char_p, i]),
        'XGetAtomName': (p, [p, _Atom]),
        'XQueryTree': (i, [p, _Window, ctypes.POINTER(_Window), ctypes.POINTER(_Window),
                           ctypes.POINTER(ctypes.POINTER(_Window)), ctypes.POINTER(ctypes.c_uint)]),
        'XGetWindowAttributes': (i, [p, _Window, ctypes.POINTER(_XWindowAttributes)]),
        'XTranslateCoordinates': (i, [p, _Window, _Window, i, i, ctypes.POINTER(i), ctypes.POINTER(i),
                                      ctypes.POINTER(_Window)]),
        'XGetWindowProperty': (i, [p, _Window, _Atom, ctypes.c_long, ctypes.c_long, i, _Atom,
                                   ctypes.POINTER(_Atom), ctypes.POINTER(i), ctypes.POINTER(u),
                                   ctypes.POINTER(u), ctypes.POINTER(ctypes.c_void_p)]),
        'XFree': (i, [p]),
        'XSendEvent': (i, [p, _Window, i, ctypes.c_long, ctypes.POINTER(_XEvent)]),
        'XSelectInput': (i, [p, _Window, ctypes.c_long]),
        'XNextEvent': (i, [p, ctypes.POINTER(_XEvent)]),
        'XSync': (i, [p, i]),
        'XFlush': (i, [p]),
        'XQueryExtension': (i, [p, ctypes.c_char_p, ctypes.POINTER(i), ctypes.POINTER(i), ctypes.POINTER(i)]),
        'XSetErrorHandler': (p, [p]),
        'XGetInputFocus': (i, [p, ctypes.POINTER(_Window), ctypes.POINTER(i)]),
        'XQueryPointer': (i, [p, _Window, ctypes.POINTER(_Window), ctypes.POINTER(_Window), ctypes.POINTER(i),
                              ctypes.POINTER(i), ctypes.POINTER(i), ctypes.POINTER(i), ctypes.POINTER(ctypes.c_uint)]),
        'XGetImage': (p, [p, _Window, i, i, ctypes.c_uint, ctypes.c_uint, u, i]),
        'XGetPixel': (u, [p, i, i]),
        'XDestroyImage': (i, [p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    # Windows come and go while we look at them; a BadWindow must not end
    # the process, which is what Xlib's default handler does.
    _error_handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
    lib.XSetErrorHandler(ctypes.cast(_error_handler, ctypes.c_void_p))
    _xlib = lib
    return lib


def _load_xdamage():
    global _xdamage
    if _xdamage is None:
        name = ctypes.util.find_library('Xdamage')
        if name is None:
            return None
        lib = ctypes.CDLL(name)
        p = ctypes.c_void_p
        lib.XDamageQueryExtension.restype = ctypes.c_int
        lib.XDamageQueryExtension.argtypes = [p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
        lib.XDamageCreate.restype = ctypes.c_ulong
        lib.XDamageCreate.argtypes = [p, ctypes.c_ulong, ctypes.c_int]
        _xdamage = lib
    return _xdamage


class XConnection:
    """One connection to an X display. Close it before the server goes:
    Xlib ends the process when its server disappears."""

    def __init__(self, display):
        self.x = _load_xlib()
        self.display_name = display
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise DesktopError('cannot open X display %s' % display)
        self.root = self.x.XDefaultRootWindow(self.dpy)
        self._atoms = {}

    def close(self):
        if self.dpy:
            self.x.XCloseDisplay(self.dpy)
            self.dpy = None

    def atom(self, name):
        if name not in self._atoms:
            self._atoms[name] = self.x.XInternAtom(self.dpy, name.encode(), 0)
        return self._atoms[name]

    def atom_name(self, atom):
        raw = self.x.XGetAtomName(self.dpy, atom)
        if not raw:
            return None
        try:
            return ctypes.string_at(raw).decode('latin-1')
        finally:
            self.x.XFree(raw)

    def has_extension(self, name):
        a, b, c = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        return bool(self.x.XQueryExtension(self.dpy, name.encode(), ctypes.byref(a), ctypes.byref(b), ctypes.byref(c)))

    def _tree(self, window):
        root, parent = _Window(), _Window()
        children = ctypes.POINTER(_Window)()
        count = ctypes.c_uint()
        if not self.x.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return None, []
        result = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return parent.value, result

    def children(self, window):
        return self._tree(window)[1]

    def parent(self, window):
        return self._tree(window)[0]

    def attributes(self, window):
        attributes = _XWindowAttributes()
        if not self.x.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes)):
            return None
        return attributes

    def geometry(self, window):
        """(x, y, width, height) on the screen, or None if the window is gone."""
        attributes = self.attributes(window)
        if attributes is None:
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), _Window()
        if not self.x.XTranslateCoordinates(self.dpy, window, self.root, 0, 0,
                                            ctypes.byref(x), ctypes.byref(y), ctypes.byref(child)):
            return None
        return (x.value, y.value, attributes.width, attributes.height)

    def pointer(self):
        """Where the pointer is on the screen."""
        root, child = _Window(), _Window()
        x, y, wx, wy, mask = ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_uint()
        self.x.XQueryPointer(self.dpy, self.root, ctypes.byref(root), ctypes.byref(child), ctypes.byref(x),
                             ctypes.byref(y), ctypes.byref(wx), ctypes.byref(wy), ctypes.byref(mask))
        return (x.value, y.value)

    def pixel(self, x, y):
        """(r, g, b) of one screen pixel, a round trip; None off the screen.
        The screen is 24-bit TrueColor (SCREEN): 0xRRGGBB."""
        image = self.x.XGetImage(self.dpy, self.root, x, y, 1, 1, _ALL_PLANES, _Z_PIXMAP)
        if not image:
            return None
        try:
            value = self.x.XGetPixel(image, 0, 0)
        finally:
            self.x.XDestroyImage(image)
        return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)

    def rgb(self, rect):
        """RGB bytes of a screen rectangle (x, y, width, height), rows top to
        bottom, in one round trip and without a process of its own (ImageMagick
        costs a core-second per picture on a loaded machine). Like any
        GetImage, it leaves the pointer's sprite out."""
        x, y, width, height = rect
        address = self.x.XGetImage(self.dpy, self.root, x, y, width, height, _ALL_PLANES, _Z_PIXMAP)
        if not address:
            raise DesktopError('XGetImage of %r failed' % (rect,))
        try:
            image = ctypes.cast(address, ctypes.POINTER(_XImage)).contents
            layout = (image.bits_per_pixel, image.byte_order, image.red_mask, image.green_mask, image.blue_mask)
            # The screen is 24-bit TrueColor (SCREEN), 32 bits per pixel,
            # least significant byte first: B, G, R, unused.
            if layout != (32, 0, 0xFF0000, 0xFF00, 0xFF):
                raise DesktopError('screen image layout %r, not 32-bit BGRX' % (layout,))
            raw = ctypes.string_at(image.data, image.bytes_per_line * height)
        finally:
            self.x.XDestroyImage(address)
        row_bytes = width * 4
        if image.bytes_per_line != row_bytes:
            raw = b''.join(raw[r * image.bytes_per_line:r * image.bytes_per_line + row_bytes] for r in range(height))
        rgb = bytearray(width * height * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = raw[2::4], raw[1::4], raw[0::4]
        return bytes(rgb)

    def is_viewable(self, window):
        attributes = self.attributes(window)
        return attributes is not None and attributes.map_state == _IS_VIEWABLE

    def property(self, window, name):
        """(type name, format, value) of a property, or None: value is bytes
        for format 8, a list of unsigned ints for 16 and 32."""
        actual_type, actual_format = _Atom(), ctypes.c_int()
        items, after = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        status = self.x.XGetWindowProperty(self.dpy, window, self.atom(name), 0, 1 << 24, 0, _ANY_PROPERTY_TYPE,
                                           ctypes.byref(actual_type), ctypes.byref(actual_format),
                                           ctypes.byref(items), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        try:
            count, fmt = items.value, actual_format.value
            if fmt == 8:
                value = ctypes.string_at(data.value, count)
            elif fmt == 16:
                value = list((ctypes.c_ushort * count).from_address(data.value))
            elif fmt == 32:
                # Xlib hands format-32 data over as longs.
                value = [v & 0xFFFFFFFF for v in (ctypes.c_ulong * count).from_address(data.value)]
            else:
                return None
            return (self.atom_name(actual_type.value), fmt, value)
        finally:
            self.x.XFree(data)

    def property_bytes(self, window, name):
        found = self.property(window, name)
        return found[2] if found is not None and found[1] == 8 else None

    def property_values(self, window, name):
        found = self.property(window, name)
        return found[2] if found is not None and found[1] == 32 else None

    def name(self, window):
        """The window's title as Wine set it (_NET_WM_NAME is UTF-8; WM_NAME
        may be in another encoding), or None."""
        raw = self.property_bytes(window, '_NET_WM_NAME')
        if raw is not None:
            return raw.decode('utf-8', 'replace')
        raw = self.property_bytes(window, 'WM_NAME')
        return raw.decode('latin-1') if raw is not None else None

    def client_of(self, frame):
        """The application's window in a window manager's frame (the one
        with WM_STATE), or frame itself when nothing manages it."""
        if self.property(frame, 'WM_STATE') is not None:
            return frame
        for child in self.children(frame):
            if self.property(child, 'WM_STATE') is not None:
                return child
        return frame

    def frame_of(self, window):
        """The child of the root that holds window: the window manager's
        frame around it, or window itself when nothing manages it."""
        while True:
            parent = self.parent(window)
            if parent is None or parent == 0 or parent == self.root:
                return window
            window = parent

    def top_level_windows(self, named_only=True):
        """[(window, name, geometry)] of the viewable application windows
        (inside their frames, when a window manager runs), bottom to top.
        Wine keeps a few 1x1 helper windows mapped; they have no name. Menus
        and other popups have an empty one."""
        result = []
        # The window manager's own check window is mapped off the screen.
        manager = self.window_manager()
        for frame in self.children(self.root):
            if frame == manager or not self.is_viewable(frame):
                continue
            window = self.client_of(frame)
            if not self.is_viewable(window):
                continue
            name = self.name(window)
            if named_only and not name:
                continue
            geometry = self.geometry(window)
            if geometry is not None:
                result.append((window, name, geometry))
        return result

    def transients_of(self, window):
        """Viewable application windows that say they belong to window
        (WM_TRANSIENT_FOR): its dialog boxes."""
        return [w for w, _, _ in self.top_level_windows(named_only=False)
                if (self.property_values(w, 'WM_TRANSIENT_FOR') or [None])[0] == window]

    def input_focus(self):
        """The window that has the X input focus."""
        focus, revert = _Window(), ctypes.c_int()
        self.x.XGetInputFocus(self.dpy, ctypes.byref(focus), ctypes.byref(revert))
        return focus.value

    def active_window(self):
        """What the window manager says is the active window (None if it
        says nothing)."""
        values = self.property_values(self.root, '_NET_ACTIVE_WINDOW')
        return values[0] if values else None

    def window_manager(self):
        """The window a window manager has named on the root window as its
        own, once it has taken over (EWMH: the window names itself too)."""
        values = self.property_values(self.root, '_NET_SUPPORTING_WM_CHECK')
        if not values or not values[0]:
            return None
        own = self.property_values(values[0], '_NET_SUPPORTING_WM_CHECK')
        return values[0] if own and own[0] == values[0] else None

    def send_delete_window(self, window):
        """What a window manager's close button does: a WM_DELETE_WINDOW
        message of the WM_PROTOCOLS kind, which Wine turns into SC_CLOSE and
        so WM_CLOSE."""
        event = _XEvent()
        event.xclient.type = _CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = self.atom('WM_PROTOCOLS')
        event.xclient.format = 32
        event.xclient.l[0] = self.atom('WM_DELETE_WINDOW')
        event.xclient.l[1] = 0  # CurrentTime
        if not self.x.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event)):
            raise DesktopError('XSendEvent failed')
        self.x.XSync(self.dpy, 0)

    def watch_windows(self, emit):
        """Calls emit(dict) for every map, unmap and destroy of an
        application's top-level window, forever; a window manager's frames
        are left out (emitted once as 'reparent'). The name is read at once:
        a window that lives for a moment is gone before anyone could ask.

        The root's substructure tells of windows created on it; each one is
        then watched itself, so that its map is still seen after a window
        manager has moved it into a frame."""
        x = self.x
        x.XSelectInput(self.dpy, self.root, _SUBSTRUCTURE_NOTIFY_MASK)
        x.XSync(self.dpy, 0)
        emit({'event': 'ready'})
        watched, frames = set(), set()
        event = _XEvent()
        while True:
            x.XNextEvent(self.dpy, ctypes.byref(event))
            now = time.monotonic()
            if event.type == _CREATE_NOTIFY:
                window = event.xcreate.window
                if event.xcreate.parent == self.root and window not in watched:
                    x.XSelectInput(self.dpy, window, _STRUCTURE_NOTIFY_MASK)
                    watched.add(window)
                    attributes = self.attributes(window)
                    # Mapped before our selection took effect: say so now.
                    if attributes is not None and attributes.map_state != _IS_UNMAPPED:
                        emit(self._map_record(window, now, attributes))
                continue
            if event.type == _REPARENT_NOTIFY:
                window, parent = event.xstructure.window, event.xstructure.parent
                if parent != self.root and parent not in frames:
                    frames.add(parent)
                    emit({'event': 'reparent', 'window': window, 'parent': parent, 'time': now})
                continue
            kinds = {_MAP_NOTIFY: 'map', _UNMAP_NOTIFY: 'unmap', _DESTROY_NOTIFY: 'destroy'}
            kind = kinds.get(event.type)
            if kind is None:
                continue
            window, source = event.xstructure.window, event.xstructure.event
            # A watched window reports itself; the root's report of the same
            # event is a duplicate.
            if window in watched and source != window:
                continue
            if window not in watched and source != self.root:
                continue
            if window in frames:
                continue
            if kind == 'map':
                emit(self._map_record(window, now, self.attributes(window)))
            else:
                emit({'event': kind, 'window': window, 'time': now})

    def _map_record(self, window, now, attributes):
        return {'event': 'map', 'window': window, 'time': now, 'name': self.name(window),
                'geometry': self.geometry(window),
                'override_redirect': bool(attributes.override_redirect) if attributes is not None else None}

    def count_damage(self, window, emit):
        """Calls emit(dict) for every drawing request that reached window,
        forever: monotonic time, the X server's time in ms, the size of the
        area. A Direct3D Present is one such request covering the whole
        client area."""
        xdamage = _load_xdamage()
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        if xdamage is None or not xdamage.XDamageQueryExtension(self.dpy, ctypes.byref(event_base),
                                                                 ctypes.byref(error_base)):
            emit({'event': 'no-damage'})
            return 1
        xdamage.XDamageCreate(self.dpy, window, _DAMAGE_REPORT_RAW_RECTANGLES)
        self.x.XSync(self.dpy, 0)
        emit({'event': 'ready'})
        event = _XEvent()
        notify = event_base.value
        while True:
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            # One request can damage several rectangles; the last says more=0.
            if event.type == notify and not event.damage.more:
                emit({'time': time.monotonic(), 'server_ms': event.damage.timestamp,
                      'width': event.damage.area.width, 'height': event.damage.area.height})


def damage_available(display):
    xdamage = _load_xdamage()
    if xdamage is None:
        return False
    connection = XConnection(display)
    try:
        a, b = ctypes.c_int(), ctypes.c_int()
        return bool(xdamage.XDamageQueryExtension(connection.dpy, ctypes.byref(a), ctypes.byref(b)))
    finally:
        connection.close()


class WindowWatcher(ChildLines):
    """Every application top-level window mapped, unmapped or destroyed on
    a display, so that a window which appeared only briefly is still seen."""

    def __init__(self, desktop):
        super().__init__(['watch-windows', desktop.display], desktop.env, 'the window watcher')

    @property
    def events(self):
        return self.snapshot()

    def maps(self, name=None):
        """Map events so far, optionally only those of windows titled name."""
        return [e for e in self.snapshot() if e['event'] == 'map' and (name is None or e.get('name') == name)]


class FrameCounter(ChildLines):
    """Every update of a window's contents, as the X DAMAGE extension
    reports it: with Direct3D drawing into the window, one per Present."""

    def __init__(self, desktop, window):
        super().__init__(['count-frames', desktop.display, window], desktop.env, 'the frame counter')

    def frames(self, start=None, end=None, whole=None):
        """[record] between two monotonic times; whole=(w, h) keeps only the
        updates of that size."""
        return [r for r in self.snapshot()
                if (start is None or r['time'] >= start) and (end is None or r['time'] < end)
                and (whole is None or (r['width'], r['height']) == tuple(whole))]

    def between(self, start, end):
        return [(r['time'], r['width'], r['height']) for r in self.frames(start, end)]

    def wait_frames(self, count, after, whole=None, timeout=10):
        """The first count updates after the monotonic time after."""
        return poll(lambda: self.frames(after, whole=whole)[:count] if len(self.frames(after, whole=whole)) >= count
                    else None, timeout, what='%d frames' % count)


# --------------------------------------------------------------------------
# Screenshots

class Image:
    """RGB pixels of a screen rectangle; pixel coordinates are relative to
    the rectangle's top-left corner."""

    def __init__(self, rect, data):
        self.rect = rect
        self.width, self.height = rect[2], rect[3]
        self.data = data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def pixels(self):
        """Yields (x, y, (r, g, b)) for every pixel."""
        data, width = self.data, self.width
        for y in range(self.height):
            row = y * width * 3
            for x in range(width):
                i = row + x * 3
                yield x, y, (data[i], data[i + 1], data[i + 2])

    def save_png(self, path):
        subprocess.run(['convert', '-size', '%dx%d' % (self.width, self.height), '-depth', '8',
                        'rgb:-', path], input=self.data, check=True)


# --------------------------------------------------------------------------
# The desktop: X server and window manager

class Xvfb:
    """A private virtual X server on a display number it picks itself."""

    def __init__(self, extra_args=(), screen=SCREEN):
        # Xvfb writes the number to -displayfd once it accepts connections.
        read_end, write_end = os.pipe()
        args = ['Xvfb', '-displayfd', str(write_end), '-screen', '0', screen, '-nolisten', 'tcp'] + list(extra_args)
        self.process = _spawn(args, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Read up to the newline: Xvfb writes the number and the newline
        # separately and dies of EPIPE if the pipe is closed in between.
        answer = b''
        deadline = time.monotonic() + 30
        try:
            while not answer.endswith(b'\n'):
                ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
                chunk = os.read(read_end, 64) if ready else b''
                if not chunk:
                    break
                answer += chunk
        finally:
            os.close(read_end)
        if not answer.strip().isdigit():
            self.stop()
            raise DesktopError('Xvfb %s gave no display number (%r)' % (' '.join(args), answer))
        self.display = ':%s' % answer.strip().decode()

    def stop(self):
        _stop_process(self.process)


class WindowManager:
    """Debian's openbox on a display, with no session management and a
    configuration of the project's own: Debian's default one (key and mouse
    bindings as a user has them), but with the theme in OPENBOX_DATA, whose
    frame measures what Windows' does. Nothing of the user's home is read
    or written: openbox looks for themes under XDG_DATA_HOME first, which
    points to an empty directory of the desktop's own."""

    DEFAULT_CONFIG = '/etc/xdg/openbox/rc.xml'
    THEME = 'Vexalune-Classic'

    def __init__(self, connection, env, workdir, timeout=30):
        config = self.write_config(workdir)
        home = os.path.join(workdir, 'data')
        os.makedirs(home, exist_ok=True)
        env = dict(env, XDG_DATA_HOME=home, XDG_CONFIG_HOME=home, XDG_CACHE_HOME=home,
                   XDG_DATA_DIRS=os.pathsep.join([OPENBOX_DATA, env.get('XDG_DATA_DIRS') or '/usr/local/share:/usr/share']))
        self.process = _spawn(['openbox', '--sm-disable', '--config-file', config], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

        def taken_over():
            if self.process.poll() is not None:
                raise DesktopError('openbox ended with exit code %d' % self.process.returncode)
            return connection.window_manager()
        self.check_window = poll(taken_over, timeout, 0.02, what='openbox to take over the display')

    @classmethod
    def write_config(cls, workdir):
        """The rc.xml openbox is started with: Debian's, its theme's name
        replaced by ours."""
        with open(cls.DEFAULT_CONFIG, encoding='utf-8') as f:
            default = f.read()
        config, replaced = re.subn(r'(<theme>\s*<name>)[^<]*(</name>)', r'\g<1>%s\g<2>' % cls.THEME, default, count=1)
        if replaced != 1:
            raise DesktopError('no <theme><name> in %s to replace' % cls.DEFAULT_CONFIG)
        path = os.path.join(workdir, 'rc.xml')
        with open(path, 'w', encoding='utf-8') as f:
            f.write(config)
        return path

    def stop(self):
        _stop_process(self.process)


class Desktop:
    """A private display with (by default) a window manager on it.

    with Desktop() as d:                # Desktop(window_manager=False,
        d.display, d.env, d.x          #         xvfb_args=['-extension', 'GLX'])
    """

    def __init__(self, window_manager=True, xvfb_args=(), screen=SCREEN):
        self.want_window_manager = window_manager
        self.xvfb_args = list(xvfb_args)
        self.screen = screen
        self.xvfb = None
        self.x = None
        self.window_manager = None
        self.display = None
        self.env = None
        self.workdir = None

    def start(self):
        try:
            self.workdir = tempfile.mkdtemp(prefix='vexalune-desktop-')
            self.xvfb = Xvfb(self.xvfb_args, self.screen)
            self.display = self.xvfb.display
            # X tools get no Wine settings: they are no Wine processes and
            # must not count as ones left in a prefix.
            self.env = {k: v for k, v in os.environ.items() if not k.startswith('WINE')}
            self.env['DISPLAY'] = self.display
            self.x = XConnection(self.display)
            if self.want_window_manager:
                self.window_manager = WindowManager(self.x, self.env, self.workdir)
            _live_desktops.add(self)
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        _live_desktops.discard(self)
        if self.window_manager is not None:
            self.window_manager.stop()
            self.window_manager = None
        if self.x is not None:
            self.x.close()
            self.x = None
        if self.xvfb is not None:
            self.xvfb.stop()
            self.xvfb = None
        if self.workdir is not None:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exception):
        self.stop()
        return False

    def run(self, args, timeout=10):
        """Runs an X tool (xdotool, wmctrl, ...) on this display; raises on
        failure."""
        subprocess.run([str(a) for a in args], env=self.env, check=True, timeout=timeout, stdout=subprocess.DEVNULL)

    def xdotool(self, *args, timeout=10):
        self.run(['xdotool'] + list(args), timeout=timeout)

    def screenshot(self, rect=None):
        """Image of a screen rectangle (x, y, width, height), by default the
        whole screen; the mouse pointer is left out."""
        if rect is None:
            attributes = self.x.attributes(self.x.root)
            rect = (0, 0, attributes.width, attributes.height)
        return Image(tuple(rect), self.x.rgb(rect))


# --------------------------------------------------------------------------
# Wine

# What a Wine environment script exports that names the installation; taken
# from the script alone, never inherited from whoever runs us.
_WINE_OWN_VARIABLES = ('WINEPREFIX', 'WINELOADER', 'WINESERVER', 'WINEARCH', 'VEXALUNE_BUILD')


class Wine:
    """One Wine installation, as a bash environment script describes it by
    the variables it exports (WINELOADER, WINESERVER, WINEPREFIX - the
    shared base prefix -, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, ...) and
    its function vexalune_ensure_prefix, which makes the base prefix."""

    def __init__(self, script, env):
        self.script = script
        self.env = env
        for name in ('WINELOADER', 'WINESERVER', 'WINEPREFIX'):
            if not env.get(name):
                raise DesktopError('%s exports no %s' % (script, name))
        self.loader = env['WINELOADER']
        self.server = env['WINESERVER']
        self.prefix = env['WINEPREFIX']

    @classmethod
    def from_env_script(cls, script=WINE_ENV_SCRIPT, build_dir=None, prefix=None):
        """build_dir: the build tree the script's defaults refer to (its
        VEXALUNE_BUILD); prefix: another base prefix than the script's."""
        script = os.path.abspath(script)
        base = {k: v for k, v in os.environ.items() if k not in _WINE_OWN_VARIABLES and k != 'DISPLAY'}
        if build_dir is not None:
            base['VEXALUNE_BUILD'] = os.path.abspath(build_dir)
        if prefix is not None:
            base['WINEPREFIX'] = os.path.abspath(prefix)
        dump = subprocess.run(['bash', '-c', 'source "$1" >/dev/null && env -0', '_', script],
                              env=base, stdout=subprocess.PIPE, check=True).stdout
        env = dict(item.split('=', 1) for item in dump.decode().split('\0') if '=' in item)
        env.pop('DISPLAY', None)
        return cls(script, env)

    def ensure_prefix(self):
        """Makes the shared base prefix, or brings an older one up to date
        (the script's function is idempotent and costs ~20 ms when there is
        nothing to do); parallel users wait for each other."""
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        with open(self.prefix + '.lock', 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            subprocess.run(['bash', '-c', 'source "$1" && vexalune_ensure_prefix', '_', self.script],
                           env=self.env, check=True)

    def environment(self, prefix, display, extra_env=None):
        """Wine's environment for a prefix and a display, with the code page
        932 locale the scripts give to Wine's processes only."""
        env = dict(self.env, WINEPREFIX=prefix, LC_ALL='ja_JP.UTF-8')
        if display is None:
            env.pop('DISPLAY', None)
        else:
            env['DISPLAY'] = display
        env.update(extra_env or {})
        return env

    def end_prefix(self, prefix, timeout=10):
        """wineserver -k, then -w with a timeout. Returns True when the
        prefix's wineserver is gone."""
        env = dict(self.env, WINEPREFIX=prefix)
        subprocess.run([self.server, '-k'], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=timeout)
        try:
            subprocess.run([self.server, '-w'], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=timeout)
        except subprocess.TimeoutExpired:
            return False
        return True


def copy_prefix(source, destination):
    """A private prefix: drive_c hard-linked where possible, the rest copied;
    symbolic links (dosdevices) stay links. In-process: a cp per entry
    costs a second on a loaded machine, the ~900 links a few milliseconds."""
    os.makedirs(destination)
    for entry in os.listdir(source):
        path, target = os.path.join(source, entry), os.path.join(destination, entry)
        if os.path.isdir(path) and not os.path.islink(path):
            if entry == 'drive_c':
                try:
                    shutil.copytree(path, target, symlinks=True, copy_function=os.link)
                    continue
                except (OSError, shutil.Error):  # another file system: copy
                    shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(path, target, symlinks=True)
        else:
            shutil.copy2(path, target, follow_symlinks=False)


def _read(path, mode='rb'):
    with open(path, mode) as f:
        return f.read()


def prefix_processes(prefix):
    """[(pid, command line)] of the live processes running in prefix."""
    wanted = b'WINEPREFIX=' + os.fsencode(prefix)
    result = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            if wanted not in _read('/proc/%s/environ' % entry).split(b'\0'):
                continue
            command = _read('/proc/%s/cmdline' % entry).replace(b'\0', b' ').decode('utf-8', 'replace').strip()
            if _read('/proc/%s/stat' % entry, 'r').rsplit(')', 1)[1].split()[0] == 'Z':
                continue
        except OSError:
            continue
        result.append((int(entry), command))
    return result


PE_MACHINES = {0x14C: 'i386', 0x8664: 'x86_64'}


def pe_machine(path):
    """'i386' or 'x86_64' from a PE file's header, or None."""
    try:
        with open(path, 'rb') as f:
            head = f.read(4096)
        offset = struct.unpack_from('<I', head, 0x3C)[0]
        if head[offset:offset + 4] != b'PE\0\0':
            return None
        return PE_MACHINES.get(struct.unpack_from('<H', head, offset + 4)[0])
    except (OSError, struct.error):
        return None


ProgramProcess = collections.namedtuple('ProgramProcess', 'pid module_path machine')


def mapped_modules(pid, name):
    """Paths of the files named name (case ignored) that process pid has
    mapped: under Wine, a process maps the image of the exe it runs."""
    found = []
    try:
        maps = _read('/proc/%d/maps' % pid).decode('utf-8', 'replace')
    except OSError:
        return found
    for line in maps.splitlines():
        fields = line.split(None, 5)
        if len(fields) == 6 and os.path.basename(fields[5]).lower() == name.lower() and fields[5] not in found:
            found.append(fields[5])
    return found


def find_program_processes(prefix, exe):
    """[ProgramProcess] of the processes of prefix that run exe: its name is
    in their command line (Wine shows the Windows path there; under an
    emulator the loader's arguments hold it) and its image is mapped in
    them, so the module path says which file runs."""
    name = os.path.basename(exe)
    result = []
    for pid, command in prefix_processes(prefix):
        words = [w.replace('\\', '/').rsplit('/', 1)[-1].lower() for w in command.split()]
        if name.lower() not in words:
            continue
        modules = mapped_modules(pid, name)
        if len(modules) == 1:
            result.append(ProgramProcess(pid, modules[0], pe_machine(modules[0])))
        elif modules:
            result.append(ProgramProcess(pid, ' '.join(modules), None))
    return result


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError as error:
        return error.errno == errno.EPERM


_live_sessions = set()
_live_desktops = set()


def end_sessions_on_termination():
    """On SIGTERM or SIGINT, cleans up every open session and exits, instead
    of letting unittest record an error and carry on with the next test."""
    def terminate(signum, _frame):
        for session in list(_live_sessions):
            try:
                session.cleanup()
            except Exception as error:  # keep going: the rest still has to go
                sys.stderr.write('cleanup after signal %d: %s\n' % (signum, error))
        for desktop in list(_live_desktops):
            desktop.stop()
        sys.stderr.write('ended by signal %d\n' % signum)
        sys.stderr.flush()
        os._exit(128 + signum)
    signal.signal(signal.SIGTERM, terminate)
    signal.signal(signal.SIGINT, terminate)


# --------------------------------------------------------------------------
# A program in a session

class Session:
    """One program under Wine with a prefix of its own on a desktop.

    with Session(exe) as s:             # a desktop of its own, 64-bit Wine
        s.launch()
        window = s.wait_window('Vexalune')
        ...
    desktop: a started Desktop to share (not stopped by the session), or
    None for one of its own (desktop_options go to it); wine: a Wine, by
    default the one of scripts/wine-env.sh for the exe's build tree;
    extra_env: more variables for Wine's processes (WINEDEBUG=+dinput, ...).
    """

    def __init__(self, exe, desktop=None, wine=None, extra_env=None, cwd=None, **desktop_options):
        self.exe = os.path.abspath(exe)
        self.desktop = desktop
        self._own_desktop = desktop is None
        self.desktop_options = desktop_options
        self.wine = wine
        self.extra_env = dict(extra_env or {})
        self.cwd = cwd or os.path.dirname(self.exe)
        self.x = None
        self.watcher = None
        self.program = None
        self.exit_code = None
        self.workdir = None
        self.prefix = None
        self.env = None
        self.x_env = None
        self.log_path = None
        self.launched_at = None

    # -- setting up

    def open(self):
        """Desktop, prefix and window watcher; the program is not started
        yet, so the prefix can still be changed (wine_command)."""
        _live_sessions.add(self)
        try:
            if self.desktop is None:
                self.desktop = Desktop(**self.desktop_options).start()
            self.x = self.desktop.x
            self.x_env = self.desktop.env
            if self.wine is None:
                self.wine = Wine.from_env_script(WINE_ENV_SCRIPT, build_dir=self._build_tree())
            self.wine.ensure_prefix()
            self.workdir = self._make_workdir()
            self.prefix = os.path.join(self.workdir, 'prefix')
            copy_prefix(self.wine.prefix, self.prefix)
            self.env = self.wine.environment(self.prefix, self.desktop.display, self.extra_env)
            self.watcher = WindowWatcher(self.desktop)
        except BaseException:
            self.cleanup()
            raise
        return self

    def _build_tree(self):
        # The nearest directory above the exe with a CMakeCache.txt (bench
        # programs sit one level down); the exe's own if there is none.
        directory = os.path.dirname(self.exe)
        while not os.path.isfile(os.path.join(directory, 'CMakeCache.txt')):
            parent = os.path.dirname(directory)
            if parent == directory:
                return os.path.dirname(self.exe)
            directory = parent
        return directory

    def _make_workdir(self):
        # Next to the shared prefix, so that the hard links work. Sessions
        # killed outright leave their directory; the next one removes it.
        parent = os.path.join(os.path.dirname(self.wine.prefix), 'e2e-sessions')
        os.makedirs(parent, exist_ok=True)
        for entry in os.listdir(parent):
            owner = entry.split('-')[0]
            if owner.isdigit() and not _pid_alive(int(owner)):
                stale = os.path.join(parent, entry)
                if not prefix_processes(os.path.join(stale, 'prefix')):
                    shutil.rmtree(stale, ignore_errors=True)
        path = os.path.join(parent, '%d-%08x' % (os.getpid(), random.getrandbits(32)))
        os.makedirs(path)
        return path

    def wine_command(self, args, timeout=60):
        """Runs a Wine command (reg, ...) in the session's prefix and waits
        until its wineserver has written the registry and gone."""
        result = subprocess.run([self.wine.loader] + list(args), env=self.env, timeout=timeout,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        subprocess.run([self.wine.server, '-w'], env=self.env, timeout=timeout, check=True)
        if result.returncode != 0:
            raise DesktopError('%s failed (%d): %s' % (' '.join(args), result.returncode, result.stdout[-2000:]))
        return result

    def launch(self, args=()):
        self.log_path = os.path.join(self.workdir, 'program.log')
        self.exit_code = None
        with open(self.log_path, 'ab') as log:
            self.launched_at = time.monotonic()
            self.program = _spawn([self.wine.loader, self.exe] + list(args), env=self.env,
                                  stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, cwd=self.cwd)
        return self.program

    def __enter__(self):
        return self.open()

    def __exit__(self, kind, value, traceback):
        self.cleanup(failed=kind is not None)
        return False

    # -- looking

    def windows(self, name=None):
        """Viewable named application top-level windows [(window, name, geometry)]."""
        return [w for w in self.x.top_level_windows() if name is None or w[1] == name]

    def popups(self):
        """Viewable popup windows (menus) as [(window, geometry)]: override-
        redirect top-levels larger than Wine's 1x1 helpers."""
        result = []
        for window, _, geometry in self.x.top_level_windows(named_only=False):
            attributes = self.x.attributes(window)
            if attributes is not None and attributes.override_redirect and geometry[2] > 1 and geometry[3] > 1:
                result.append((window, geometry))
        return result

    def wait_popup(self, timeout=10):
        return poll(self.popups, timeout, what='a popup window')

    def wait_window(self, name=MAIN_TITLE, timeout=30):
        """The one visible top-level window titled name."""
        def found():
            self.check_running()
            windows = self.windows(name)
            return windows[0][0] if len(windows) == 1 else None
        return poll(found, timeout, what='a visible window titled %r' % name)

    def wait_no_window(self, name, timeout=10):
        poll(lambda: not self.windows(name), timeout, what='no visible window titled %r' % name)

    def check_running(self):
        if self.program is not None and self.program.poll() is not None:
            raise DesktopError('the program ended with exit code %d' % self.program.returncode)

    def client_area(self, window, timeout=30):
        """Screen (x, y, width, height) of the client area: the child X window
        Direct3D draws into, which exists once the device does."""
        def child():
            self.check_running()
            viewable = [c for c in self.x.children(window) if self.x.is_viewable(c)]
            return self.x.geometry(viewable[0]) if len(viewable) == 1 else None
        return poll(child, timeout, what='the client area of window 0x%x' % window)

    def client_window(self, window):
        """The X window of the client area (Direct3D's), or None."""
        viewable = [c for c in self.x.children(window) if self.x.is_viewable(c)]
        return viewable[0] if len(viewable) == 1 else None

    def geometry(self, window):
        return self.x.geometry(window)

    def frame_geometry(self, window):
        """Screen rectangle of the window with what the window manager draws
        around it (caption, borders)."""
        return self.x.geometry(self.x.frame_of(window))

    def screenshot(self, rect=None):
        return self.desktop.screenshot(rect)

    def count_frames(self, window):
        """A FrameCounter on the client area's X window of window; stop() it."""
        child = self.client_window(window)
        if child is None:
            raise DesktopError('window 0x%x has no client area window' % window)
        return FrameCounter(self.desktop, child)

    # -- acting

    def xdotool(self, *args, timeout=10):
        self.desktop.xdotool(*args, timeout=timeout)

    def focus(self, window):
        """Makes window the one that gets the keys: through the window manager
        when there is one (as a click on it would), else by setting the X
        input focus, which is enough for Wine to make it the foreground one."""
        if self.desktop.window_manager is None:
            self.xdotool('windowfocus', '--sync', window)
            return
        # A window that a modal box has disabled hands the activation on to
        # the box, as on Windows.
        def ours():
            return [window] + self.x.transients_of(window)

        def focused():
            return self.x.active_window() in ours() and self.x.input_focus() in ours()
        if self.x.active_window() not in ours():
            self.xdotool('windowactivate', window)
        # Active is not yet focused: openbox names the window active at once,
        # and Wine takes the input focus when openbox's WM_TAKE_FOCUS reaches
        # it. A key pressed in between goes to openbox's own window, and its
        # Alt+F4 then closes nothing (seen under load).
        poll(focused, 10, what='window 0x%x (or its dialog box) to be active and focused' % window)

    def minimize(self, window):
        """Minimises window through the window manager; waits until it is
        no longer shown."""
        self.xdotool('windowminimize', window)
        poll(lambda: not self.x.is_viewable(window), 10, what='window 0x%x to be minimised' % window)

    def restore(self, window):
        """Shows a minimised window again and makes it active, as a click on
        it in a task bar does."""
        self.xdotool('windowactivate', window)
        poll(lambda: self.x.is_viewable(window) and self.x.active_window() == window, 10,
             what='window 0x%x to be shown and active' % window)

    def key(self, *keys, window=None):
        """Presses keys (xdotool names, e.g. 'alt+question') through XTEST, as
        a keyboard would, to the focused window (window is focused first)."""
        if window is not None:
            self.focus(window)
        self.xdotool('key', '--delay', '60', *keys)

    def move_pointer(self, x, y):
        # Not `mousemove --sync`: it waits ~15 s when the pointer is already there.
        self.xdotool('mousemove', x, y)
        poll(lambda: self.x.pointer() == (x, y), 5, 0.01, what='the pointer at %r' % ((x, y),))

    def click(self, x, y, button=1):
        self.move_pointer(x, y)
        self.xdotool('click', button)

    def close_window(self, window):
        """WM_CLOSE the way a window manager's close box asks for it."""
        self.x.send_delete_window(window)

    # -- the program's process

    def program_processes(self):
        """[ProgramProcess] of this prefix running the program's exe."""
        return find_program_processes(self.prefix, self.exe) if self.prefix else []

    def program_process(self, timeout=30):
        """The one process running the program's exe (pid, module_path,
        machine): the Linux process is the Windows one under Wine."""
        def one():
            self.check_running()
            found = self.program_processes()
            return found[0] if len(found) == 1 else None
        return poll(one, timeout, 0.1, what='one process running %s' % os.path.basename(self.exe))

    def wineserver_pid(self):
        """The prefix's wineserver process."""
        # Debian's wineserver is a script that runs wineserver64.
        name = os.path.basename(self.wine.server)
        found = [pid for pid, command in prefix_processes(self.prefix)
                 if any(os.path.basename(w).startswith(name) for w in command.split()[:3])]
        if len(found) != 1:
            raise DesktopError('expected one %s of the prefix, found %r' % (name, found))
        return found[0]

    # -- ending

    def wait_exit(self, timeout=10):
        """The program's exit code; raises DesktopError if it is still running."""
        try:
            self.exit_code = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise DesktopError('the program did not end within %.1f s' % timeout)
        return self.exit_code

    def program_log(self, tail=4000):
        try:
            with open(self.log_path, 'rb') as f:
                data = f.read()
            return (data[-tail:] if tail else data).decode('utf-8', 'replace')
        except (OSError, TypeError):
            return ''

    def cleanup(self, failed=False):
        """Ends everything the session started. Raises DesktopError if a
        process of the prefix survived."""
        _live_sessions.discard(self)
        if failed and self.log_path:
            sys.stderr.write('--- program output (%s) ---\n%s\n' % (self.exe, self.program_log()))
        leftovers = []
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.prefix is not None and os.path.isdir(self.prefix):
            try:
                self.wine.end_prefix(self.prefix)
            except subprocess.TimeoutExpired:
                pass
            try:
                poll(lambda: not prefix_processes(self.prefix), 10, what='the prefix to be idle')
            except DesktopError:
                leftovers = prefix_processes(self.prefix)
                for pid, _ in leftovers:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except OSError:
                        pass
        if self.watcher is not None:
            self.watcher.stop()
            self.watcher = None
        self.x = None
        if self._own_desktop and self.desktop is not None:
            self.desktop.stop()
            self.desktop = None
        if self.workdir is not None:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None
        if leftovers:
            raise DesktopError('processes left in the prefix after wineserver -k: %r' % leftovers)


# --------------------------------------------------------------------------
# Pixel checks shared by tests, benchmark and run-headless

def rect_contains(rect, x, y):
    return rect[0] <= x < rect[0] + rect[2] and rect[1] <= y < rect[1] + rect[3]


def text_box(pointer, client_size=CLIENT_SIZE):
    """The text's box in client coordinates for a pointer at client
    coordinates, clipped to the client area: (x, y, width, height)."""
    left, top = pointer
    right = min(left + TEXT_BOX[0], client_size[0])
    bottom = min(top + TEXT_BOX[1], client_size[1])
    return (left, top, max(0, right - left), max(0, bottom - top))


def white_alpha(color, background=CLEAR_COLOR, tolerance=0.1):
    """How opaque white over the background gives color: 0.0 is the
    background, 1.0 pure white; None if color is no such blend (another
    hue, or darker than the background)."""
    alphas = [(c - b) / (255 - b) for c, b in zip(color, background)]
    if min(alphas) < -tolerance or max(alphas) > 1 + tolerance or max(alphas) - min(alphas) > tolerance:
        return None
    return sum(alphas) / 3


class TextLayout:
    """What a client-area image shows around the text box of a pointer.

    glyph_pixels   pixels in the box that are white over the clear colour at
                   least half opaque (the strokes of the text)
    glyph_bounds   (left, top, right, bottom) of those pixels, inclusive
    brightest      highest such opacity in the box (1.0 = pure white)
    foreign        [(x, y, colour)] in the box that are neither the clear
                   colour nor white blended over it
    stray          [(x, y, colour)] outside the box that are not the clear
                   colour
    Pixels inside any ignore rectangle (client coordinates) are not looked at.
    """

    def __init__(self, image, pointer, ignore=()):
        self.box = box = text_box(pointer, (image.width, image.height))
        self.glyph_pixels, self.brightest = 0, 0.0
        self.glyph_bounds = None
        self.foreign, self.stray = [], []
        width, data = image.width, image.data
        clear = bytes(CLEAR_COLOR)
        clear_row = clear * width
        for y in range(image.height):
            row = data[y * width * 3:(y + 1) * width * 3]
            in_box_rows = box[1] <= y < box[1] + box[3]
            if row == clear_row:
                continue
            for x in range(width):
                pixel = row[x * 3:x * 3 + 3]
                if pixel == clear or any(rect_contains(r, x, y) for r in ignore):
                    continue
                color = tuple(pixel)
                if in_box_rows and box[0] <= x < box[0] + box[2]:
                    alpha = white_alpha(color)
                    if alpha is None:
                        self.foreign.append((x, y, color))
                    else:
                        self.brightest = max(self.brightest, alpha)
                        if alpha >= 0.5:
                            self.glyph_pixels += 1
                            self._extend_bounds(x, y)
                else:
                    self.stray.append((x, y, color))

    def _extend_bounds(self, x, y):
        b = self.glyph_bounds
        self.glyph_bounds = (x, y, x, y) if b is None else (min(b[0], x), min(b[1], y), max(b[2], x), max(b[3], y))

    def text_in_box_only(self, minimum_glyph_pixels=100):
        """True when white text is in the box and nothing is drawn outside it."""
        return (self.glyph_pixels >= minimum_glyph_pixels and self.brightest >= 0.9
                and not self.foreign and not self.stray)

    def __repr__(self):
        return ('TextLayout(box=%r, glyph_pixels=%d, glyph_bounds=%r, brightest=%.2f, foreign=%d %r, stray=%d %r)'
                % (self.box, self.glyph_pixels, self.glyph_bounds, self.brightest, len(self.foreign),
                   self.foreign[:5], len(self.stray), self.stray[:5]))


# --------------------------------------------------------------------------
# Command line

def run_headless(exe, wine_script, screenshot_path, pointer, show_seconds):
    """Shows the program on a private desktop, saves a picture of its window
    with the caption and borders the window manager draws, and closes it as
    a user would. Returns the program's exit code."""
    wine = Wine.from_env_script(wine_script, build_dir=os.path.dirname(os.path.abspath(exe)))
    with Session(exe, wine=wine) as session:
        session.launch()
        window = session.wait_window(MAIN_TITLE)
        client = session.client_area(window)
        session.move_pointer(client[0] + pointer[0], client[1] + pointer[1])
        started = time.monotonic()

        # The text at the pointer is the sign that frames are being drawn.
        def text_shown():
            session.check_running()
            return TextLayout(session.screenshot(client), pointer).text_in_box_only()
        poll(text_shown, 10, what='the text at the pointer')
        time.sleep(max(0.0, show_seconds - (time.monotonic() - started)))
        image = session.screenshot(session.frame_geometry(window))
        os.makedirs(os.path.dirname(os.path.abspath(screenshot_path)), exist_ok=True)
        image.save_png(screenshot_path)
        print('screenshot: %s' % os.path.abspath(screenshot_path), flush=True)
        session.key('alt+F4', window=window)
        code = session.wait_exit(10)
        print('exit code: %d' % code, flush=True)
        return code


def serve(window_manager):
    """Keeps a desktop until we are terminated or our parent ends (which
    terminates us); prints its display first."""
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)
    with Desktop(window_manager=window_manager) as desktop:
        print(desktop.display, flush=True)
        while True:
            signal.pause()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    headless = commands.add_parser('run-headless')
    headless.add_argument('--exe', required=True)
    headless.add_argument('--env-script', default=WINE_ENV_SCRIPT, help='the Wine to run it with')
    headless.add_argument('--screenshot', default=None)
    headless.add_argument('--pointer', default='170,215', help='client coordinates of the pointer')
    headless.add_argument('--seconds', type=float, default=3.0, help='how long the window is shown')
    served = commands.add_parser('serve')
    served.add_argument('--no-window-manager', action='store_true')
    watch = commands.add_parser('watch-windows')
    watch.add_argument('display')
    frames = commands.add_parser('count-frames')
    frames.add_argument('display')
    frames.add_argument('window', type=int)
    args = parser.parse_args(argv)

    if args.command == 'watch-windows':
        XConnection(args.display).watch_windows(_emit)
        return 0
    if args.command == 'count-frames':
        return XConnection(args.display).count_damage(args.window, _emit)

    end_sessions_on_termination()
    try:
        if args.command == 'serve':
            return serve(not args.no_window_manager)
        screenshot_path = args.screenshot or os.path.join(
            os.path.dirname(os.path.abspath(args.exe)), 'screenshots',
            'vexalune-%s.png' % time.strftime('%Y%m%d-%H%M%S'))
        pointer = tuple(int(v) for v in args.pointer.split(','))
        return run_headless(args.exe, args.env_script, screenshot_path, pointer, args.seconds)
    except DesktopError as error:
        print('%s: %s' % (args.command, error), file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

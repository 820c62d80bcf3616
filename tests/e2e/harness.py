#!/usr/bin/python3
"""Runs a Windows program of the 64-bit build under Wine on a private X server
and looks at it from outside: windows, geometry, keys, pointer, pixels, exit.

Standard library only. Everything a session starts is ended by its cleanup,
also after a failure, and a session that is killed outright takes its X
server and program with it (they die with the Python process).

Each session gets
  - its own Xvfb on the first free display number from a base (default 100;
    other people's experiments use lower numbers),
  - its own Wine prefix, copied from the shared one of the build tree.
    Processes of one prefix share one wineserver, hence one Windows desktop:
    one foreground window, one explorer.exe bound to whichever X display came
    first, and `wineserver -k` in one test's cleanup would end every other
    test's program. The copy hard-links drive_c (Wine only reads it while a
    program runs; measured: nothing under drive_c changes) and copies the
    registry files, which Wine rewrites by rename. That takes ~30 ms instead
    of ~1 s and 700 MB for a full copy; a full copy is the fallback when the
    link fails (another file system).

In code (tests/e2e/program_case.py shows the usual use):
  with Session(exe, source_dir, base_prefix=None, extra_env={}, xvfb_args=[]) as s:
      s.wine_command(['reg', 'add', ...])    # optional, before launch
      s.launch()
      window = s.wait_window('Vexalune')    # visible top-level window by title
      client = s.client_area(window)        # screen (x, y, w, h) of the client area
      s.move_pointer(x, y); s.key('alt+F4', window=window); s.close_window(window)
      image = s.screenshot(client)          # Image: .pixel(x, y), .pixels()
      s.watcher.maps()                      # every top-level window ever mapped
      code = s.wait_exit(timeout)
  Session.cleanup() (also run by `with`) ends the program, the prefix's
  wineserver, the watcher and Xvfb and removes the prefix copy.

Command line:
  harness.py run-headless --exe EXE [--source-dir DIR] [--screenshot PNG]
      Starts the program on a private display, shows it for a few seconds
      with the pointer over the client area, saves a PNG of the window,
      closes it with Alt+F4 and exits with the program's exit code.
  harness.py watch-windows DISPLAY
      Prints a JSON line for every top-level window mapped, unmapped or
      destroyed on DISPLAY (used by sessions; see WindowWatcher).
"""

import argparse
import ctypes
import ctypes.util
import errno
import fcntl
import json
import os
import random
import select
import shutil
import signal
import subprocess
import sys
import threading
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))

ABOUT_TITLE = 'バージョン情報'
MAIN_TITLE = 'Vexalune'
CLIENT_SIZE = (640, 480)
CLEAR_COLOR = (0x1E, 0x41, 0x5A)
TEXT_BOX = (300, 50)


class HarnessError(Exception):
    pass


def poll(condition, timeout, interval=0.05, what='condition'):
    """Calls condition() until it returns something true and returns that;
    raises HarnessError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise HarnessError('timed out after %.1f s waiting for %s' % (timeout, what))
        time.sleep(interval)


# --------------------------------------------------------------------------
# Children that die with us

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Runs in the child between fork and exec. SIGKILL from CTest's timeout
    # gives Python no chance to clean up; this way the X server and the
    # program still go. Wine's own helpers (wineserver, explorer) follow when
    # their display and last client are gone.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
    os.setsid()


def _spawn(args, **kwargs):
    return subprocess.Popen(args, preexec_fn=_die_with_parent, **kwargs)


# --------------------------------------------------------------------------
# Xlib through ctypes: window tree, geometry, names, client messages and a
# map/unmap watcher. Only what xdotool and xwininfo cannot do well (names as
# raw UTF-8 regardless of locale, WM_DELETE_WINDOW, seeing windows that live
# only for a moment) or what is polled often.

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
    # The common head of MapNotify, UnmapNotify and DestroyNotify.
    _fields_ = [
        ('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
        ('display', ctypes.c_void_p), ('event', _Window), ('window', _Window),
        ('override_redirect', ctypes.c_int)]


class _XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('xclient', _XClientMessageEvent),
                ('xstructure', _XStructureEvent), ('pad', ctypes.c_long * 24)]


_DESTROY_NOTIFY, _UNMAP_NOTIFY, _MAP_NOTIFY, _CLIENT_MESSAGE = 17, 18, 19, 33
_IS_VIEWABLE = 2
_SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
_ANY_PROPERTY_TYPE = 0

_xlib = None
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
        'XQueryPointer': (i, [p, _Window, ctypes.POINTER(_Window), ctypes.POINTER(_Window), ctypes.POINTER(i),
                              ctypes.POINTER(i), ctypes.POINTER(i), ctypes.POINTER(i), ctypes.POINTER(ctypes.c_uint)]),
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


class XConnection:
    """One connection to an X display. Close it before the server goes:
    Xlib ends the process when its server disappears."""

    def __init__(self, display):
        self.x = _load_xlib()
        self.display_name = display
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise HarnessError('cannot open X display %s' % display)
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

    def has_extension(self, name):
        a, b, c = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        return bool(self.x.XQueryExtension(self.dpy, name.encode(), ctypes.byref(a), ctypes.byref(b), ctypes.byref(c)))

    def children(self, window):
        root, parent = _Window(), _Window()
        children = ctypes.POINTER(_Window)()
        count = ctypes.c_uint()
        if not self.x.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return []
        result = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return result

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

    def is_viewable(self, window):
        attributes = self.attributes(window)
        return attributes is not None and attributes.map_state == _IS_VIEWABLE

    def property_bytes(self, window, name):
        actual_type, actual_format = _Atom(), ctypes.c_int()
        items, after = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        status = self.x.XGetWindowProperty(self.dpy, window, self.atom(name), 0, 1 << 16, 0, _ANY_PROPERTY_TYPE,
                                           ctypes.byref(actual_type), ctypes.byref(actual_format),
                                           ctypes.byref(items), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        try:
            if actual_format.value != 8:
                return None
            return ctypes.string_at(data.value, items.value)
        finally:
            self.x.XFree(data)

    def name(self, window):
        """The window's title as Wine set it (_NET_WM_NAME is UTF-8; WM_NAME
        may be in another encoding), or None."""
        raw = self.property_bytes(window, '_NET_WM_NAME')
        if raw is not None:
            return raw.decode('utf-8', 'replace')
        raw = self.property_bytes(window, 'WM_NAME')
        return raw.decode('latin-1') if raw is not None else None

    def top_level_windows(self, named_only=True):
        """[(window, name, geometry)] of the viewable children of the root,
        bottom to top. Wine keeps a few 1x1 helper windows mapped; they have
        no name. Menus and other popups have an empty one."""
        result = []
        for window in self.children(self.root):
            if not self.is_viewable(window):
                continue
            name = self.name(window)
            if named_only and not name:
                continue
            geometry = self.geometry(window)
            if geometry is not None:
                result.append((window, name, geometry))
        return result

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
            raise HarnessError('XSendEvent failed')
        self.x.XSync(self.dpy, 0)

    def watch(self, emit):
        """Calls emit(dict) for every map, unmap and destroy of a top-level
        window, forever. The name is read at once: a window that lives for
        a moment is gone before anyone could ask later."""
        self.x.XSelectInput(self.dpy, self.root, _SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XSync(self.dpy, 0)
        emit({'event': 'ready'})
        kinds = {_MAP_NOTIFY: 'map', _UNMAP_NOTIFY: 'unmap', _DESTROY_NOTIFY: 'destroy'}
        event = _XEvent()
        while True:
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            kind = kinds.get(event.type)
            if kind is None or event.xstructure.event != self.root:
                continue
            window = event.xstructure.window
            record = {'event': kind, 'window': window, 'time': time.monotonic()}
            if kind == 'map':
                record['name'] = self.name(window)
                record['geometry'] = self.geometry(window)
                record['override_redirect'] = bool(event.xstructure.override_redirect)
            emit(record)


class WindowWatcher:
    """A child process reporting every top-level window mapped on a display,
    so that a window which appeared only briefly is still seen."""

    def __init__(self, display, env):
        self.events = []
        self._lock = threading.Lock()
        self.process = _spawn([sys.executable, os.path.abspath(__file__), 'watch-windows', display],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        first = self._read_line(timeout=10)
        if first is None or first.get('event') != 'ready':
            self.stop()
            raise HarnessError('window watcher did not start')
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
            with self._lock:
                self.events.append(json.loads(line))

    def maps(self, name=None):
        """Map events so far, optionally only those of windows titled name."""
        with self._lock:
            return [e for e in self.events if e['event'] == 'map' and (name is None or e.get('name') == name)]

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        thread = getattr(self, '_thread', None)
        if thread is not None:
            thread.join(timeout=5)
        self.process.stdout.close()


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
# X server

class Xvfb:
    """A private virtual X server on the first free display from base."""

    def __init__(self, base=100, extra_args=(), screen='1024x768x24', attempts=100):
        self.process = None
        self.display = None
        for number in range(base, base + attempts):
            if self._taken(number):
                continue
            if self._try(number, extra_args, screen):
                return
        raise HarnessError('no free X display from :%d to :%d' % (base, base + attempts - 1))

    @staticmethod
    def _taken(number):
        # A server killed outright leaves its lock file; Xvfb itself takes
        # over a lock whose process is gone, so only a live one counts.
        try:
            with open('/tmp/.X%d-lock' % number) as lock:
                return _pid_alive(int(lock.read().strip()))
        except (OSError, ValueError):
            return False

    def _try(self, number, extra_args, screen):
        # Xvfb writes the number to -displayfd once it accepts connections,
        # or exits if another server got the number first.
        read_end, write_end = os.pipe()
        args = ['Xvfb', ':%d' % number, '-displayfd', str(write_end), '-screen', '0', screen,
                '-nolisten', 'tcp'] + list(extra_args)
        process = _spawn(args, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Read up to the newline: Xvfb writes the number and the newline
        # separately and dies of EPIPE if the pipe is closed in between.
        answer = b''
        deadline = time.monotonic() + 10
        try:
            while not answer.endswith(b'\n'):
                ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
                chunk = os.read(read_end, 64) if ready else b''
                if not chunk:
                    break
                answer += chunk
        finally:
            os.close(read_end)
        if answer.strip() == str(number).encode():
            self.process, self.display = process, ':%d' % number
            return True
        if process.poll() is None:
            process.kill()
        process.wait()
        return False

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# --------------------------------------------------------------------------
# Wine

def wine_environment(source_dir, build_dir, prefix, display, extra_env=None):
    """The environment scripts/wine-env.sh gives Wine (loader, debug and DLL
    settings), for prefix and display, plus the code page 932 locale that
    vexalune_wine gives to Wine's processes only."""
    base = {k: v for k, v in os.environ.items() if k not in ('WINEPREFIX', 'VEXALUNE_BUILD')}
    base['WINEPREFIX'] = prefix
    base['VEXALUNE_BUILD'] = build_dir
    dump = subprocess.run(['bash', '-c', 'source "$1" && env -0', '_', os.path.join(source_dir, 'scripts', 'wine-env.sh')],
                          env=base, stdout=subprocess.PIPE, check=True).stdout
    env = dict(item.split('=', 1) for item in dump.decode().split('\0') if '=' in item)
    env['LC_ALL'] = 'ja_JP.UTF-8'
    if display is None:
        env.pop('DISPLAY', None)
    else:
        env['DISPLAY'] = display
    env.update(extra_env or {})
    return env


def ensure_base_prefix(source_dir, build_dir, prefix):
    """Creates the shared prefix once; parallel tests wait for each other."""
    if os.path.isfile(os.path.join(prefix, 'system.reg')):
        return
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        env = {k: v for k, v in os.environ.items() if k not in ('DISPLAY',)}
        env.update(WINEPREFIX=prefix, VEXALUNE_BUILD=build_dir)
        subprocess.run(['bash', '-c', 'source "$1" && vexalune_ensure_prefix', '_',
                        os.path.join(source_dir, 'scripts', 'wine-env.sh')], env=env, check=True)


def copy_prefix(source, destination):
    """A private prefix: drive_c hard-linked where possible, the rest copied."""
    os.makedirs(destination)
    for entry in os.listdir(source):
        path = os.path.join(source, entry)
        if entry == 'drive_c':
            linked = subprocess.run(['cp', '-a', '--link', path, destination],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
            if not linked:
                shutil.rmtree(os.path.join(destination, entry), ignore_errors=True)
                subprocess.run(['cp', '-a', path, destination], check=True)
        else:
            subprocess.run(['cp', '-a', path, destination], check=True)


def prefix_processes(prefix):
    """[(pid, command line)] of the processes running in prefix."""
    wanted = b'WINEPREFIX=' + os.fsencode(prefix)
    result = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open('/proc/%s/environ' % entry, 'rb') as f:
                if wanted not in f.read().split(b'\0'):
                    continue
            with open('/proc/%s/cmdline' % entry, 'rb') as f:
                command = f.read().replace(b'\0', b' ').decode('utf-8', 'replace').strip()
            with open('/proc/%s/stat' % entry) as f:
                if f.read().rsplit(')', 1)[1].split()[0] == 'Z':
                    continue
        except OSError:
            continue
        result.append((int(entry), command))
    return result


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError as error:
        return error.errno == errno.EPERM


_live_sessions = set()


def end_sessions_on_termination():
    """On SIGTERM or SIGINT, cleans up every open session and exits, instead
    of letting unittest record an error and carry on with the next test."""
    def terminate(signum, _frame):
        for session in list(_live_sessions):
            try:
                session.cleanup()
            except Exception as error:  # keep going: the rest still has to go
                sys.stderr.write('cleanup after signal %d: %s\n' % (signum, error))
        sys.stderr.write('ended by signal %d\n' % signum)
        sys.stderr.flush()
        os._exit(128 + signum)
    signal.signal(signal.SIGTERM, terminate)
    signal.signal(signal.SIGINT, terminate)


class Session:
    """One program under Wine on a private display with a private prefix.

    with Session(exe) as s:
        s.launch()
        window = s.wait_window('Vexalune')
        ...
    """

    def __init__(self, exe, source_dir=SOURCE_DIR, base_prefix=None, extra_env=None, xvfb_args=(),
                 display_base=100, screen='1024x768x24'):
        self.exe = os.path.abspath(exe)
        self.source_dir = os.path.abspath(source_dir)
        self.build_dir = os.path.dirname(self.exe)
        self.base_prefix = os.path.abspath(base_prefix or os.path.join(self.build_dir, 'wineprefix'))
        self.extra_env = dict(extra_env or {})
        self.xvfb_args = list(xvfb_args)
        self.display_base = display_base
        self.screen = screen
        self.xvfb = None
        self.x = None
        self.watcher = None
        self.program = None
        self.exit_code = None
        self.workdir = None
        self.prefix = None
        self.env = None
        self.x_env = None
        self.log_path = None

    # -- setting up

    def open(self):
        """Display, prefix and window watcher; the program is not started yet,
        so the prefix can still be changed (wine_command)."""
        _live_sessions.add(self)
        try:
            self.xvfb = Xvfb(self.display_base, self.xvfb_args, self.screen)
            self.x = XConnection(self.xvfb.display)
            ensure_base_prefix(self.source_dir, self.build_dir, self.base_prefix)
            self.workdir = self._make_workdir()
            self.prefix = os.path.join(self.workdir, 'prefix')
            copy_prefix(self.base_prefix, self.prefix)
            self.env = wine_environment(self.source_dir, self.build_dir, self.prefix, self.xvfb.display, self.extra_env)
            # X tools get no Wine settings: they are no Wine processes and
            # must not count as ones left in the prefix.
            self.x_env = {k: v for k, v in os.environ.items() if not k.startswith('WINE')}
            self.x_env['DISPLAY'] = self.xvfb.display
            self.watcher = WindowWatcher(self.xvfb.display, self.x_env)
        except BaseException:
            self.cleanup()
            raise
        return self

    def _make_workdir(self):
        # Next to the shared prefix, so that the hard links work. Sessions
        # killed outright leave their directory; the next one removes it.
        parent = os.path.join(os.path.dirname(self.base_prefix), 'e2e-sessions')
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
        result = subprocess.run([self.env['WINELOADER']] + list(args), env=self.env, timeout=timeout,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        subprocess.run([self._wineserver(), '-w'], env=self.env, timeout=timeout, check=True)
        if result.returncode != 0:
            raise HarnessError('%s failed (%d): %s' % (' '.join(args), result.returncode, result.stdout[-2000:]))
        return result

    def _wineserver(self):
        loader = (self.env or {}).get('WINELOADER', '/usr/lib/wine/wine64')
        return os.path.join(os.path.dirname(loader), 'wineserver')

    def launch(self, args=()):
        self.log_path = os.path.join(self.workdir, 'program.log')
        with open(self.log_path, 'wb') as log:
            self.program = _spawn([self.env['WINELOADER'], self.exe] + list(args), env=self.env,
                                  stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  cwd=self.build_dir)
        return self.program

    def __enter__(self):
        return self.open()

    def __exit__(self, kind, value, traceback):
        self.cleanup(failed=kind is not None)
        return False

    # -- looking

    def windows(self, name=None):
        """Viewable named top-level windows [(window, name, geometry)]."""
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

    def wait_popup(self, timeout=5):
        return poll(self.popups, timeout, what='a popup window')

    def wait_window(self, name=MAIN_TITLE, timeout=20):
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
            raise HarnessError('the program ended with exit code %d' % self.program.returncode)

    def client_area(self, window, timeout=20):
        """Screen (x, y, width, height) of the client area: the child X window
        Direct3D draws into, which exists once the device does."""
        def child():
            self.check_running()
            viewable = [c for c in self.x.children(window) if self.x.is_viewable(c)]
            return self.x.geometry(viewable[0]) if len(viewable) == 1 else None
        return poll(child, timeout, what='the client area of window 0x%x' % window)

    def geometry(self, window):
        return self.x.geometry(window)

    def screenshot(self, rect=None):
        """Pixels of a screen rectangle (x, y, width, height), or of the whole
        screen. `import` leaves the mouse cursor out."""
        if rect is None:
            attributes = self.x.attributes(self.x.root)
            rect = (0, 0, attributes.width, attributes.height)
        x, y, width, height = rect
        data = subprocess.run(['import', '-window', 'root', '-crop', '%dx%d+%d+%d' % (width, height, x, y),
                               '+repage', '-depth', '8', 'rgb:-'],
                              env=self.x_env, stdout=subprocess.PIPE, check=True, timeout=30).stdout
        if len(data) != width * height * 3:
            raise HarnessError('screenshot of %r has %d bytes' % (rect, len(data)))
        return Image(rect, data)

    # -- acting

    def xdotool(self, *args):
        subprocess.run(['xdotool'] + [str(a) for a in args], env=self.x_env, check=True, timeout=10,
                       stdout=subprocess.DEVNULL)

    def focus(self, window):
        # No window manager: windowactivate needs one; setting the X input
        # focus is enough for Wine to make the window the foreground one.
        self.xdotool('windowfocus', '--sync', window)

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

    # -- ending

    def wait_exit(self, timeout=10):
        """The program's exit code; raises HarnessError if it is still running."""
        try:
            self.exit_code = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError('the program did not end within %.1f s' % timeout)
        return self.exit_code

    def program_processes(self):
        """Processes of this prefix running the program's executable."""
        name = os.path.basename(self.exe).lower()
        return [p for p in prefix_processes(self.prefix) if name in p[1].lower()] if self.prefix else []

    def program_log(self, tail=4000):
        try:
            with open(self.log_path, 'rb') as f:
                return f.read()[-tail:].decode('utf-8', 'replace')
        except (OSError, TypeError):
            return ''

    def cleanup(self, failed=False):
        """Ends everything the session started. Raises HarnessError if a
        process of the prefix survived."""
        _live_sessions.discard(self)
        if failed and self.log_path:
            sys.stderr.write('--- program output (%s) ---\n%s\n' % (self.exe, self.program_log()))
        leftovers = []
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.prefix is not None and os.path.isdir(self.prefix):
            env = dict(self.env or os.environ, WINEPREFIX=self.prefix)
            subprocess.run([self._wineserver(), '-k'], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                poll(lambda: not prefix_processes(self.prefix), 10, what='the prefix to be idle')
            except HarnessError:
                leftovers = prefix_processes(self.prefix)
                for pid, _ in leftovers:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except OSError:
                        pass
        if self.watcher is not None:
            self.watcher.stop()
            self.watcher = None
        if self.x is not None:
            self.x.close()
            self.x = None
        if self.xvfb is not None:
            self.xvfb.stop()
            self.xvfb = None
        if self.workdir is not None:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None
        if leftovers:
            raise HarnessError('processes left in the prefix after wineserver -k: %r' % leftovers)


# --------------------------------------------------------------------------
# Pixel checks shared by tests and run-headless

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

def run_headless(exe, source_dir, screenshot, pointer, show_seconds):
    """Shows the program on a private display, saves a picture of its window
    and closes it as a user would. Returns the program's exit code."""
    with Session(exe, source_dir) as session:
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
        image = session.screenshot(session.geometry(window))
        os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
        image.save_png(screenshot)
        print('screenshot: %s' % os.path.abspath(screenshot), flush=True)
        session.key('alt+F4', window=window)
        code = session.wait_exit(10)
        print('exit code: %d' % code, flush=True)
        return code


def _watch_windows(display):
    connection = XConnection(display)

    def emit(record):
        sys.stdout.write(json.dumps(record) + '\n')
        sys.stdout.flush()
    connection.watch(emit)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    headless = commands.add_parser('run-headless')
    headless.add_argument('--exe', required=True)
    headless.add_argument('--source-dir', default=SOURCE_DIR)
    headless.add_argument('--screenshot', default=None)
    headless.add_argument('--pointer', default='170,215', help='client coordinates of the pointer')
    headless.add_argument('--seconds', type=float, default=3.0, help='how long the window is shown')
    watch = commands.add_parser('watch-windows')
    watch.add_argument('display')
    args = parser.parse_args(argv)

    if args.command == 'watch-windows':
        _watch_windows(args.display)
        return 0

    end_sessions_on_termination()
    screenshot = args.screenshot or os.path.join(os.path.dirname(os.path.abspath(args.exe)), 'screenshots',
                                                 'vexalune-%s.png' % time.strftime('%Y%m%d-%H%M%S'))
    pointer = tuple(int(v) for v in args.pointer.split(','))
    try:
        return run_headless(args.exe, args.source_dir, screenshot, pointer, args.seconds)
    except HarnessError as error:
        print('run-headless: %s' % error, file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Soak: runs a Windows program of the 64-bit build under Wine for a long
time on a private desktop (tests/support/desktop.py), with the pointer moving over its client area all
the time, and samples its memory and handles to show whether they grow.

  /usr/bin/python3 bench/soak.py [--exe build/win64/vexalune.exe] [--minutes 10]
      [--sample-seconds 5] [--move-seconds 0.1] [--settle-minutes 1]
      [--title Vexalune] [--csv FILE] [--user-input [--seed N]] [-- program arguments]

--user-input: instead of the pointer alone, a user's hands drive the program
the whole time (tests/support/user_hands.py: menus, the About box, minimise,
focus away, typing, drags, pointer sweeps, from a seed) and check it after
each thing they do; at the end they check the text at the pointer and exit
through the menu. A failure prints the seed that replays it and makes the
exit status 1.

Counters, per sample:
  rss       VmRSS of the Linux process that runs the exe (/proc/PID/status)
  private   Private_Clean + Private_Dirty of it (/proc/PID/smaps_rollup):
            memory no other process shares, including what Wine's Unix side
            (Mesa, X) allocates for the program. Noisy by tens of MiB: the
            code pages of libLLVM, swrast_dri and wined3d count as private
            while no other process maps them and as shared while one does,
            so any other Direct3D program on the machine moves it
  anon      Anonymous of it (smaps_rollup): resident anonymous memory, where
            a heap leak shows, without the library pages that make
            "private" jump
  commit    committed MEM_PRIVATE memory as Windows sees it (process_stats)
  handles   kernel handles the process holds (process_stats)
  threads   its thread count (process_stats)
The first minute is start-up (fonts, device, caches filling), so growth is
measured from the sample at the end of it to the last one, and also fitted
over the same samples; a counter whose growth stands out of its noise gets
a warning. With a window, each sample also takes a picture of the client
area: with the pointer moving, a picture equal to the one before means the
program stopped drawing, which a flat memory curve would otherwise hide.
The exit status is 0 whatever the figures are: this is a
measurement. It is 1 only when the program ended on its own during the
soak, 2 when the soak could not be set up.

The control: bench/leak_control.exe leaks memory and handles at a rate it
prints; run against it the script must show each counter moving at that
rate, e.g.
  /usr/bin/python3 bench/soak.py --exe build/win64/bench/leak_control.exe --title '' --minutes 2
(--title '' : the program has no window; the pointer moves over the
screen's corner instead.)
"""

import argparse
import hashlib
import math
import os
import queue
import subprocess
import sys
import threading
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tests', 'support'))
import desktop  # noqa: E402
import user_hands  # noqa: E402

KIB = 1024

# (key, heading, unit, smallest growth that can count as a leak whatever the
# noise). The floors are the scale of what the
# program does by itself in a few seconds: a heap growing by a page here and
# there, a handle opened for a moment when a sample is taken.
COUNTERS = [
    ('rss', 'rss/KiB', 'KiB', 1024),
    ('private', 'private/KiB', 'KiB', 1024),
    ('anon', 'anon/KiB', 'KiB', 1024),
    ('commit', 'commit/KiB', 'KiB', 1024),
    ('handles', 'handles', '', 5),
    ('threads', 'threads', '', 2),
]


class SoakError(Exception):
    pass


def build_tree_of(exe):
    """The build tree an executable belongs to: the nearest directory above
    it with a CMakeCache.txt (bench programs sit one level down)."""
    directory = os.path.dirname(os.path.abspath(exe))
    while True:
        if os.path.isfile(os.path.join(directory, 'CMakeCache.txt')):
            return directory
        parent = os.path.dirname(directory)
        if parent == directory:
            return os.path.dirname(os.path.abspath(exe))
        directory = parent


# --------------------------------------------------------------------------
# Reading the counters

def proc_memory(pid):
    """(VmRSS, Private_Clean + Private_Dirty, Anonymous) in KiB."""
    rss = None
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                rss = int(line.split()[1])
    private, anonymous = 0, None
    with open('/proc/%d/smaps_rollup' % pid) as f:
        for line in f:
            if line.startswith(('Private_Clean:', 'Private_Dirty:')):
                private += int(line.split()[1])
            elif line.startswith('Anonymous:'):
                anonymous = int(line.split()[1])
    if rss is None or anonymous is None:
        raise SoakError('no VmRSS or Anonymous for pid %d' % pid)
    return rss, private, anonymous


class WindowsStats:
    """process_stats.exe --serve in the session's prefix: one sample of the
    program per request, without starting a Windows process each time."""

    def __init__(self, session, stats_exe):
        self.name = os.path.basename(session.exe)
        self.process = subprocess.Popen([session.wine.loader, stats_exe, '--serve', self.name],
                                        env=session.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def sample(self, timeout=20):
        """{key: int} of the one process running the exe."""
        self.process.stdin.write('\n')
        self.process.stdin.flush()
        records = []
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise SoakError('process_stats gave no answer within %d s' % timeout)
            if line is None:
                raise SoakError('process_stats ended: %s' % self.process.stderr.read()[-2000:])
            if line == '.':
                break
            records.append(dict((key, int(value)) for key, value in
                                (item.split('=', 1) for item in line.split())))
        if len(records) != 1:
            raise SoakError('expected one Windows process %s, process_stats saw %r' % (self.name, records))
        return records[0]

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# --------------------------------------------------------------------------
# The pointer

class PointerMover:
    """Moves the pointer every interval along a path that bounces across the
    rectangle, through XTEST as a mouse would, until stopped. The steps are
    prime to each other so the path covers the area instead of retracing a
    few lines, edges included (where the text is clipped)."""

    STEP = (37, 23)

    def __init__(self, x_env, rect, interval):
        self.x_env, self.rect, self.interval = x_env, rect, interval
        self.moves = 0
        self.failures = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        x0, y0, width, height = self.rect
        position, velocity = [width // 3, height // 3], list(self.STEP)
        next_move = time.monotonic()
        while not self._stop.is_set():
            for axis, size in ((0, width), (1, height)):
                position[axis] += velocity[axis]
                if not 0 <= position[axis] < size:
                    velocity[axis] = -velocity[axis]
                    position[axis] = min(max(position[axis], 0), size - 1)
            result = subprocess.run(['xdotool', 'mousemove', str(x0 + position[0]), str(y0 + position[1])],
                                    env=self.x_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if result.returncode == 0:
                self.moves += 1
            else:
                self.failures += 1
            next_move += self.interval
            self._stop.wait(max(0.0, next_move - time.monotonic()))

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=10)


# --------------------------------------------------------------------------
# Figures

def fit(points):
    """Least-squares (slope per second, residual standard deviation)."""
    n = len(points)
    mean_t = sum(t for t, _ in points) / n
    mean_v = sum(v for _, v in points) / n
    spread = sum((t - mean_t) ** 2 for t, _ in points)
    if n < 3 or spread == 0:
        return 0.0, 0.0
    slope = sum((t - mean_t) * (v - mean_v) for t, v in points) / spread
    residuals = [v - (mean_v + slope * (t - mean_t)) for t, v in points]
    return slope, math.sqrt(sum(r * r for r in residuals) / (n - 2))


def growth_report(samples, settle_seconds):
    """Lines describing each counter's growth from the end of the settling
    time to the last sample, and the warnings."""
    base_index = next((i for i, s in enumerate(samples) if s['t'] >= settle_seconds - 0.5), None)
    if base_index is None or base_index == len(samples) - 1:
        base_index = 0
    base, last = samples[base_index], samples[-1]
    span = last['t'] - base['t']
    lines = ['growth from t=%.0f s to t=%.0f s (%.0f s, %d samples):' % (base['t'], last['t'], span,
                                                                       len(samples) - base_index)]
    warnings = []
    for key, _, unit, floor in COUNTERS:
        values = [(s['t'], s[key]) for s in samples[base_index:]]
        delta = last[key] - base[key]
        slope, noise = fit(values)
        per_hour = delta / span * 3600 if span > 0 else 0.0
        unit_text = (' ' + unit) if unit else ''
        in_mib = ' = %+.1f MiB/h' % (per_hour / KIB) if unit == 'KiB' else ''
        lines.append('  %-8s %+10d%s   %+10.0f%s/h%s   (fitted %+.0f%s/h, noise +-%.0f%s)'
                     % (key, delta, unit_text, per_hour, unit_text, in_mib, slope * 3600, unit_text, noise,
                        unit_text))
        # A leak grows steadily: the fitted growth over the span must stand
        # out both of the scatter around the line and of what the program
        # does by itself, and the end points must agree with it.
        fitted = slope * span
        if fitted > max(3 * noise, floor) and delta > max(3 * noise, floor):
            warnings.append('WARNING: %s grew by %+d%s (%+.0f%s/h), more than its noise (+-%.0f%s) allows'
                            % (key, delta, unit_text, per_hour, unit_text, noise, unit_text))
    return lines, warnings


def format_row(sample, last='picture'):
    return '%7.0f %s %8s' % (sample['t'], ' '.join('%12d' % sample[key] for key, *_ in COUNTERS),
                             sample.get(last, '-'))


def header(last='picture'):
    """last: the column after the counters, 'picture' (changed since the
    sample before) or 'episodes' (the user input's, so far)."""
    return '%7s %s %8s' % ('t/s', ' '.join('%12s' % heading for _, heading, *_ in COUNTERS), last)


# --------------------------------------------------------------------------

def soak(args):
    build_tree = build_tree_of(args.exe)
    stats_exe = args.stats_exe or os.path.join(build_tree, 'bench', 'process_stats.exe')
    prefix = args.prefix or os.path.join(build_tree, 'wineprefix')
    if not os.path.isfile(stats_exe):
        raise SoakError('%s is missing: cmake --build %s --target process_stats' % (stats_exe, build_tree))
    duration = args.minutes * 60
    samples = []
    if args.user_input:
        driver = 'user input from seed %d' % args.seed
    else:
        driver = 'pointer moved every %.2f s' % args.move_seconds
    print('soak: %s %s for %.1f min, sample every %.0f s, %s'
          % (args.exe, ' '.join(args.program_args), args.minutes, args.sample_seconds, driver), flush=True)
    wine = desktop.Wine.from_env_script(os.path.join(args.source_dir, 'scripts', 'wine-env.sh'), prefix=prefix)
    with desktop.Session(args.exe, wine=wine) as session:
        session.launch(args.program_args)
        launched = time.monotonic()
        window = None
        if args.title:
            window = session.wait_window(args.title)
            rect = session.client_area(window)
        else:
            rect = (0, 0) + desktop.CLIENT_SIZE
        pid = session.program_process().pid
        stats = WindowsStats(session, stats_exe)
        hands = mover = None
        if args.user_input:
            hands = user_hands.HandsThread(user_hands.Hands(
                session, window, args.seed,
                replay='/usr/bin/python3 %s --user-input --seed %d --exe %s --minutes %g'
                % (os.path.abspath(__file__), args.seed, args.exe, args.minutes)))
            hands.start()
        else:
            mover = PointerMover(session.x_env, rect, args.move_seconds)
        ended_early = None
        try:
            print('display %s, Linux pid %d, pointer over %r' % (session.desktop.display, pid, rect), flush=True)
            last_column = 'picture' if hands is None else 'episodes'
            print(header(last_column), flush=True)
            tick = 1
            last_picture = None
            while True:
                due = launched + tick * args.sample_seconds
                if due - launched > duration + 0.5:
                    break
                time.sleep(max(0.0, due - time.monotonic()))
                tick += 1
                if session.program.poll() is not None:
                    ended_early = session.program.returncode
                    break
                if hands is not None and not hands.is_alive():
                    break
                windows_side = stats.sample()
                rss, private, anonymous = proc_memory(pid)
                sample = {'t': time.monotonic() - launched, 'rss': rss, 'private': private, 'anon': anonymous,
                          'commit': windows_side['private_commit'] // KIB,
                          'handles': windows_side['handles'], 'threads': windows_side['threads']}
                # The hands look at the frames themselves, after each thing
                # they do; the window moves and is minimised meanwhile.
                if window is not None and hands is None:
                    picture = hashlib.sha1(session.screenshot(rect).data).digest()
                    sample['picture'] = 'same' if picture == last_picture else 'new'
                    last_picture = picture
                if hands is not None:
                    sample['episodes'] = sum(hands.hands.counts.values())
                samples.append(sample)
                print(format_row(sample, last_column), flush=True)
        finally:
            if mover is not None:
                mover.stop()
            if hands is not None:
                hands.stop()
            stats.close()
        if mover is not None:
            print('pointer moves: %d (%d failed)' % (mover.moves, mover.failures))
        if hands is not None:
            print('user input: %s' % hands.hands.summary())
        if args.csv:
            with open(args.csv, 'w') as f:
                f.write('t,' + ','.join(key for key, *_ in COUNTERS) + '\n')
                for s in samples:
                    f.write('%.1f,%s\n' % (s['t'], ','.join(str(s[key]) for key, *_ in COUNTERS)))
        if len(samples) >= 2:
            lines, warnings = growth_report(samples, args.settle_minutes * 60)
            print('\n'.join(lines + warnings))
            if not warnings:
                print('no counter grew beyond its noise')
        still = [s['t'] for s in samples[1:] if s.get('picture') == 'same']
        if still:
            print('WARNING: the picture did not change since the sample before at t=%s s: frames stopped?'
                  % ', '.join('%.0f' % t for t in still))
        said = session.program_log(1000)
        if len(said) >= 1000:
            said = said.partition('\n')[2]  # from the first whole line
        said = said.strip()
        if said:
            print('the program printed:\n%s' % said)
        if ended_early is not None:
            print('the program ended by itself after %.0f s with exit code %d'
                  % (time.monotonic() - launched, ended_early))
            return 1
        if hands is not None:
            return finish_user_input(hands)
        if window is not None:
            session.close_window(window)
            print('closed by WM_DELETE_WINDOW: exit code %d' % session.wait_exit(10))
        return 0


def finish_user_input(hands):
    """The hands' verdict: a failure during the soak, else their end checks
    and the exit through the menu. Returns the exit status."""
    failure = hands.failure
    if failure is None and hands.is_alive():
        failure = 'the user input did not come to a stop (seed %d, episode %s)' % (hands.hands.seed,
                                                                                   hands.hands.current)
    if failure is None:
        try:
            took = hands.hands.finish()
            print('text at the pointer; exit through the menu: exit code 0 after %.2f s, no process left' % took)
            return 0
        except user_hands.HandsFailure as error:
            failure = str(error)
    print('FAILED under user input: %s\nlast episodes:\n  %s' % (failure, '\n  '.join(hands.hands.history)))
    return 1


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--exe', default=os.path.join(SOURCE_DIR, 'build', 'win64', 'vexalune.exe'))
    parser.add_argument('--source-dir', default=SOURCE_DIR)
    parser.add_argument('--minutes', type=float, default=10.0)
    parser.add_argument('--sample-seconds', type=float, default=5.0)
    parser.add_argument('--move-seconds', type=float, default=0.1, help='time between pointer moves')
    parser.add_argument('--settle-minutes', type=float, default=1.0,
                        help='start-up time left out of the growth figures')
    parser.add_argument('--title', default=desktop.MAIN_TITLE,
                        help="the program's window, over whose client area the pointer moves ('' for none)")
    parser.add_argument('--stats-exe', default=None, help='default: bench/process_stats.exe of the build tree')
    parser.add_argument('--prefix', default=None, help='Wine prefix to copy; default: wineprefix of the build tree')
    parser.add_argument('--csv', default=None, help='also write the samples to this file')
    parser.add_argument('--user-input', action='store_true',
                        help="a user's hands drive the program instead of the pointer alone")
    parser.add_argument('--seed', type=int, default=None, help='seed of the user input (default: a new one)')
    parser.add_argument('program_args', nargs='*', help='arguments for the program (after --)')
    args = parser.parse_args(argv)
    if args.user_input and not args.title:
        parser.error('--user-input needs the program\'s window (--title)')
    if args.seed is None:
        args.seed = user_hands.new_seed()
    args.exe = os.path.abspath(args.exe)
    if not os.path.isfile(args.exe):
        parser.error('no such program: %s' % args.exe)
    if args.minutes <= 0 or args.sample_seconds <= 0 or args.move_seconds <= 0:
        parser.error('--minutes, --sample-seconds and --move-seconds must be positive')
    desktop.end_sessions_on_termination()
    try:
        return soak(args)
    except (SoakError, desktop.DesktopError) as error:
        print('soak: %s' % error, file=sys.stderr)
        return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

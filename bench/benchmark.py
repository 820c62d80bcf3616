#!/usr/bin/python3
"""Frame cost and start-up of Vexalune against two floor programs, under Wine,
in one or both of Wine's Direct3D configurations.

  floor A  bench/floor_a.cpp: the program's calls (start-up and per frame),
           the same arguments and order, written plainly in one file
  floor B  bench/floor_b.cpp: the same window and device; per tick only
           clear, empty scene, present

Each program runs the same number of times, alternating (the order rotates
from round to round), each for the same time, each on a private Xvfb display
with a private Wine prefix, on a desktop of its own with a window manager
(tests/support/desktop.py), with the pointer over the client area so the
text is drawn. Per run:

  whole frame cost  the CPU per frame of the exe's process, its wineserver and
                    its X server together: what a frame costs the machine
  CPU per frame     CPU of the Linux process running the exe, all its threads
                    (the scheduler's nanosecond counts per thread, checked
                    against the process's user + system ticks in
                    /proc/PID/stat), over a steady window - from --settle
                    seconds after spawning to --seconds after it, moved later
                    (never shortened) when the first frame comes less than a
                    second before its start - divided by the frames
                    presented in that window. Frames are counted
                    from outside: the X DAMAGE extension reports every update
                    of the client area's X window, and every Present puts the
                    whole back buffer there (anything smaller fails the run).
                    Shown split by thread: wined3d's command stream thread,
                    Mesa's llvmpipe rasterisers, the rest. The run's wineserver
                    and X server are measured the same way.
  first frame       from spawning the Wine process until a point of the client
                    area (away from the text) shows the clear colour 1E415A,
                    read from the X server every ~2 ms; the median and the
                    quickest run
  peak working set  VmHWM of the exe's process at the end of the run
  exe size          bytes of the file

Configurations, each set explicitly for every program of it through Wine's
environment override (it wins over the prefix's registry value and replaces
any WINE_D3D_CONFIG of the caller's):

  off      csmt off (WINE_D3D_CONFIG=csmt=0): Direct3D on the program's own
           thread, as scripts/run.sh, the tests and the soak run it
  default  Wine's default, csmt on (WINE_D3D_CONFIG=csmt=1): wined3d runs
           Direct3D on a command-stream thread of its own, which waits for
           work by spinning, whatever the frame holds

--configurations off,default measures both in one rotation, side by side.
Per configuration a table shows medians over the rounds and the ratios
program/floor A and program/floor B of those medians; then the goals are
checked on the whole frame cost: program/floor A at most 1.05 in each
configuration, and with both measured, the program's cost with csmt off at
most 15 % of its cost with Wine's default. Each run also says how many
cores' worth of CPU other processes used meanwhile: the machine is shared,
and what else runs moves these figures.

  bench/benchmark.py [--configurations off|default|off,default] [--rounds 5]
                     [--seconds 20] [--settle 3] [--starts 5] [--gap 1]
                     [--program EXE] [--floor-a EXE] [--floor-b EXE]
                     [--extra NAME=EXE[:notext] ...] [--prefix DIR]
                     [--json FILE]

The executables default to those of build/win64 (build them first:
`cmake --build build/win64 --target vexalune floor_a floor_b`).
"""

import argparse
import json
import os
import statistics
import sys
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tests', 'support'))
import desktop  # noqa: E402

BUILD_DIR = os.path.join(SOURCE_DIR, 'build', 'win64')

# Screen coordinates. The programs put their outer corner at (0, 0), so the
# client area starts a few pixels right of and below it (further down with
# the program's menu bar). The pointer is placed before
# the program starts, so the first frame already has the text; the probe lies
# outside the text's 300 x 50 box and inside the client area of all three.
POINTER = (150, 150)
PROBE = (560, 420)

CLOCK_TICKS = os.sysconf('SC_CLK_TCK')
FRAME_INTERVAL = 0.033
# Seconds from the first frame to the earliest start of the steady window.
AFTER_FIRST_FRAME = 1.0

# Wine's Direct3D configurations: option name -> (heading, WINE_D3D_CONFIG).
CONFIGURATIONS = {
    'off': ("csmt off (WINE_D3D_CONFIG=csmt=0, as scripts/run.sh runs it)", 'csmt=0'),
    'default': ("Wine's default, csmt on (WINE_D3D_CONFIG=csmt=1)", 'csmt=1'),
}

# The goals, on the whole frame cost: the program against floor A in the
# same configuration, and the program with csmt off against itself with
# Wine's default.
GOAL_AGAINST_FLOOR_A = 1.05
GOAL_OFF_AGAINST_DEFAULT = 0.15


# --------------------------------------------------------------------------
# Reading /proc

def cpu_seconds(pid):
    """User + system CPU of a process, all its threads, dead ones included;
    in clock ticks, so 10 ms steps."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def thread_cpu(pid):
    """{thread id: (name, seconds on a CPU)} from the scheduler's nanosecond
    counts. Finer than cpu_seconds, but a thread that ends takes its time
    along; in a steady window none does (cpu_seconds is kept as a check)."""
    result = {}
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/stat' % (pid, tid)) as f:
                stat = f.read()
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                nanoseconds = int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            continue
        result[tid] = (stat[stat.index('(') + 1:stat.rindex(')')], nanoseconds / 1e9)
    return result


def thread_group(name):
    """Threads by role: wined3d's command stream thread (which runs the
    Direct3D commands when Wine's csmt is on, and waits for more by
    spinning), Mesa's llvmpipe rasterisers, and the rest (the program's own
    thread, which runs Direct3D itself when csmt is off)."""
    if name == 'wined3d_cs':
        return 'wined3d_cs'
    if name.startswith('llvmpipe'):
        return 'llvmpipe'
    return 'main+other'


def cpu_by_group(start, end):
    groups = {'wined3d_cs': 0.0, 'llvmpipe': 0.0, 'main+other': 0.0}
    for tid, (name, seconds) in end.items():
        groups[thread_group(name)] += seconds - start.get(tid, (name, 0.0))[1]
    return groups


def machine_busy_seconds():
    """CPU time the whole machine spent busy (all cores), from /proc/stat:
    the part of it not spent by the measured processes tells whether
    something else ran during a run."""
    with open('/proc/stat') as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return (sum(fields[:8]) - idle) / CLOCK_TICKS


def peak_working_set(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmHWM:'):
                return int(line.split()[1]) * 1024
    return None


# --------------------------------------------------------------------------
# One run

def launch_to_first_frame(session, name):
    """Spawns the program and returns the seconds until the clear colour
    shows in its client area."""
    session.move_pointer(*POINTER)
    spawned = time.monotonic()
    session.launch()
    while True:
        now = time.monotonic()
        if session.x.pixel(*PROBE) == desktop.CLEAR_COLOR:
            return spawned, now - spawned
        if session.program.poll() is not None:
            raise desktop.DesktopError('%s ended with exit code %d before its first frame'
                                       % (name, session.program.returncode))
        if now - spawned > 60:
            raise desktop.DesktopError('%s showed no frame within 60 s' % name)
        time.sleep(0.002)


def client_area_under_probe(session, name):
    """(window, client area) of the program, after making sure that the
    colour seen was the program's: the pointer and the probe must lie in
    its client area."""
    window = session.wait_window(desktop.MAIN_TITLE)
    client = session.client_area(window)
    for what, point in (('pointer', POINTER), ('probe', PROBE)):
        if not desktop.rect_contains(client, *point):
            raise desktop.DesktopError('the %s %r is outside the client area %r of %s' % (what, point, client, name))
    return window, client


def measure_start(name, exe, base_prefix, extra_env):
    """A run that ends at the first frame: start-up figures are the noisiest,
    and these runs are cheap."""
    session = desktop.Session(exe, wine=desktop.Wine.from_env_script(prefix=base_prefix), extra_env=extra_env)
    try:
        session.open()
        _, first_frame = launch_to_first_frame(session, name)
        client_area_under_probe(session, name)
        return {'name': name, 'start_only': True, 'first_frame_s': first_frame}
    finally:
        session.cleanup()


def measure(name, exe, seconds, settle, expect_text, base_prefix, extra_env):
    session = desktop.Session(exe, wine=desktop.Wine.from_env_script(prefix=base_prefix), extra_env=extra_env)
    counter = None
    try:
        session.open()
        spawned, first_frame = launch_to_first_frame(session, name)

        window, client = client_area_under_probe(session, name)
        if desktop.damage_available(session.desktop.display):
            counter = session.count_frames(window)

        exe_pid = session.program_process().pid
        if exe_pid != session.program.pid:
            raise desktop.DesktopError('the exe runs in process %d, not in the one spawned (%d)'
                                       % (exe_pid, session.program.pid))
        server_pid = session.wineserver_pid()
        xvfb_pid = session.desktop.xvfb.process.pid
        pids = {'exe': exe_pid, 'wineserver': server_pid, 'xvfb': xvfb_pid}

        # On a quiet machine the window runs from --settle after the spawn to
        # --seconds after it. A slow start (a loaded machine takes 10 s and
        # more to the first frame) moves it later, but does not shorten it,
        # and it begins a little after the first frame, not in the catch-up
        # of frames that follows it.
        start = max(spawned + settle, spawned + first_frame + AFTER_FIRST_FRAME, time.monotonic())
        time.sleep(max(0.0, start - time.monotonic()))
        start = time.monotonic()
        busy_start = machine_busy_seconds()
        cpu_start = {k: cpu_seconds(p) for k, p in pids.items()}
        threads_start = {k: thread_cpu(p) for k, p in pids.items()}
        time.sleep(max(0.0, start + (seconds - settle) - time.monotonic()))
        end = time.monotonic()
        threads_end = {k: thread_cpu(p) for k, p in pids.items()}
        cpu_end = {k: cpu_seconds(p) for k, p in pids.items()}
        busy_end = machine_busy_seconds()
        peak = peak_working_set(exe_pid)
        if session.program.poll() is not None:
            raise desktop.DesktopError('%s ended during the run (exit code %d)' % (name, session.program.returncode))

        window_seconds = end - start
        if counter is not None:
            frames = counter.between(start, end)
            partial = [f for f in frames if (f[1], f[2]) != desktop.CLIENT_SIZE]
            if partial:
                raise desktop.DesktopError('%s: %d updates of the client area were not whole frames: %r'
                                           % (name, len(partial), partial[:5]))
            frame_count, counted = len(frames), 'presented'
        else:
            frame_count, counted = window_seconds / FRAME_INTERVAL, 'timer'
        if frame_count == 0:
            raise desktop.DesktopError('%s presented no frame in the steady window' % name)

        # After the steady window, so that the look costs the run nothing.
        layout = desktop.TextLayout(session.screenshot(client), (POINTER[0] - client[0], POINTER[1] - client[1]))
        shows_text = layout.text_in_box_only()
        if shows_text != expect_text:
            raise desktop.DesktopError('%s: expected %s, saw %r' % (name, 'the text' if expect_text else 'no text', layout))

        groups = cpu_by_group(threads_start['exe'], threads_end['exe'])
        cpu = {k: sum(cpu_by_group(threads_start[k], threads_end[k]).values()) for k in pids}
        ticks = {k: cpu_end[k] - cpu_start[k] for k in pids}
        if abs(cpu['exe'] - ticks['exe']) > 0.05 + 0.05 * ticks['exe']:
            print('  note: %s used %.2f s of CPU by its threads\' counts, %.2f s by the process\'s ticks'
                  % (name, cpu['exe'], ticks['exe']), flush=True)

        result = {
            'name': name,
            'first_frame_s': first_frame,
            'frames': frame_count,
            'frames_counted': counted,
            'window_s': window_seconds,
            'fps': frame_count / window_seconds,
            'cpu_ms_per_frame': {k: 1000.0 * cpu[k] / frame_count for k in pids},
            'exe_threads_ms_per_frame': {k: 1000.0 * v / frame_count for k, v in groups.items()},
            'cpu_ticks_s': ticks,
            'cpu_share': {k: cpu[k] / window_seconds for k in pids},
            # Cores' worth of CPU that other processes used in the window.
            'others_busy': max(0.0, (busy_end - busy_start) - sum(ticks.values())) / window_seconds,
            'peak_working_set': peak,
            'exe_size': os.path.getsize(exe),
        }
        return result
    finally:
        if counter is not None:
            counter.stop()
        session.cleanup()


# --------------------------------------------------------------------------
# Table

def _first_frame_ms(r):
    return 1000.0 * r['first_frame_s']


def whole_frame_ms(r):
    """CPU per frame of everything that draws it: the exe's process, its
    wineserver and its X server."""
    return sum(r['cpu_ms_per_frame'][k] for k in ('exe', 'wineserver', 'xvfb'))


# (label, value of a run, format, which runs: 'full' the timed runs only,
# 'all' the start-only ones too, 'quickest' the least of all)
ROWS = [
    ('whole frame cost (exe+wineserver+Xvfb) (ms)', whole_frame_ms, '%.2f', 'full'),
    ('CPU per frame, exe process (ms)', lambda r: r['cpu_ms_per_frame']['exe'], '%.2f', 'full'),
    ('  of it wined3d_cs thread (ms)', lambda r: r['exe_threads_ms_per_frame']['wined3d_cs'], '%.2f', 'full'),
    ('  of it llvmpipe threads (ms)', lambda r: r['exe_threads_ms_per_frame']['llvmpipe'], '%.2f', 'full'),
    ('  of it main+other threads (ms)', lambda r: r['exe_threads_ms_per_frame']['main+other'], '%.2f', 'full'),
    ('CPU per frame, wineserver (ms)', lambda r: r['cpu_ms_per_frame']['wineserver'], '%.2f', 'full'),
    ('CPU per frame, Xvfb (ms)', lambda r: r['cpu_ms_per_frame']['xvfb'], '%.2f', 'full'),
    ('frames presented per second', lambda r: r['fps'], '%.1f', 'full'),
    ('start to first frame (ms)', _first_frame_ms, '%.0f', 'all'),
    # Other work on the machine only ever delays a start; the quickest run
    # is the closest to what the start-up itself costs.
    ('start to first frame, quickest run (ms)', _first_frame_ms, '%.0f', 'quickest'),
    ('peak working set (MiB)', lambda r: r['peak_working_set'] / 1048576.0, '%.1f', 'full'),
    ('executable size (bytes)', lambda r: r['exe_size'], '%d', 'full'),
]


def table(results, names):
    """Medians per program and the ratios of the first to each other one."""
    label_width = max(len(row[0]) for row in ROWS)
    heads = names + ['%s/%s' % (names[0], other) for other in names[1:]]
    width = max(10, max(len(h) for h in heads) + 2)
    lines = [' ' * label_width + ''.join(h.rjust(width) for h in heads)]
    for label, key, fmt, runs in ROWS:
        values = []
        for name in names:
            own = [key(r) for r in results if r['name'] == name and (runs != 'full' or not r.get('start_only'))]
            if not own:
                values.append(None)
            else:
                values.append(min(own) if runs == 'quickest' else statistics.median(own))
        cells = [(fmt % v if v is not None else '-').rjust(width) for v in values]
        for v in values[1:]:
            cells.append(('%.3f' % (values[0] / v) if v and values[0] is not None else '-').rjust(width))
        lines.append(label.ljust(label_width) + ''.join(cells))
    return '\n'.join(lines)


def spread(results, names):
    """min-max of the two main measures, per program, so a reader sees how
    far the rounds are apart."""
    lines = []
    for name in names:
        own = [r for r in results if r['name'] == name and not r.get('start_only')]
        whole = [whole_frame_ms(r) for r in own]
        first = [1000.0 * r['first_frame_s'] for r in results if r['name'] == name]
        others = [r['others_busy'] for r in own]
        lines.append('  %-10s whole frame %.2f-%.2f ms (other processes busy %.2f-%.2f cores, %d runs), '
                     'first frame %.0f-%.0f ms (%d starts)'
                     % (name, min(whole), max(whole), min(others), max(others), len(own), min(first), max(first),
                        len(first)))
    return '\n'.join(lines)


def median_whole_frame(results, configuration, name):
    return statistics.median(whole_frame_ms(r) for r in results
                             if r['configuration'] == configuration and r['name'] == name
                             and not r.get('start_only'))


def verdict(ratio, goal, as_percent=False):
    shown = ('%.1f %%' % (100.0 * ratio), '%.0f %%' % (100.0 * goal)) if as_percent else ('%.3f' % ratio, '%.2f' % goal)
    return '%s (goal at most %s: %s)' % (shown + ('met' if ratio <= goal else 'NOT met',))


def goals(results, configurations, names):
    """The goal ratios on the medians of the whole frame cost."""
    lines = ['Goals, on the whole frame cost (exe+wineserver+Xvfb), medians:']
    for configuration in configurations:
        program, floor_a, floor_b = (median_whole_frame(results, configuration, n) for n in names[:3])
        lines.append('  %s: program/floor A %s; program/floor B %.3f'
                     % (configuration, verdict(program / floor_a, GOAL_AGAINST_FLOOR_A), program / floor_b))
    if 'off' in configurations and 'default' in configurations:
        per_program = ['%s %.3f' % (name, median_whole_frame(results, 'off', name)
                                    / median_whole_frame(results, 'default', name)) for name in names]
        program = median_whole_frame(results, 'off', names[0])
        default = median_whole_frame(results, 'default', names[0])
        lines.append('  csmt off / Wine\'s default: program %.2f / %.2f ms = %s; %s'
                     % (program, default, verdict(program / default, GOAL_OFF_AGAINST_DEFAULT, as_percent=True),
                        ', '.join(per_program[1:])))
    else:
        lines.append('  csmt off / Wine\'s default: not measured (--configurations off,default)')
    return '\n'.join(lines)


def parse_configurations(text):
    configurations = [c.strip() for c in text.split(',') if c.strip()]
    unknown = [c for c in configurations if c not in CONFIGURATIONS]
    if unknown or not configurations or len(set(configurations)) != len(configurations):
        raise argparse.ArgumentTypeError('expected off, default or off,default, not %r' % text)
    return configurations


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--configurations', type=parse_configurations, default=['off'], metavar='off,default',
                        help="Wine's Direct3D configurations to measure, in one rotation: off (csmt off, "
                             "as scripts/run.sh runs the program; the default), default (Wine's default, "
                             "csmt on), or both")
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--seconds', type=float, default=20.0, help='length of each run, from spawning the program; the steady window keeps its length '
                             '(--seconds minus --settle) when a slow start delays it')
    parser.add_argument('--settle', type=float, default=3.0, help='start of the steady window, from spawning')
    parser.add_argument('--starts', type=int, default=5,
                        help='extra rounds that end at the first frame, for the start-up figures')
    parser.add_argument('--gap', type=float, default=1.0,
                        help='seconds of rest between runs, so one run\'s teardown does not overlap the next start')
    parser.add_argument('--program', default=os.path.join(BUILD_DIR, 'vexalune.exe'))
    parser.add_argument('--floor-a', default=os.path.join(BUILD_DIR, 'bench', 'floor_a.exe'))
    parser.add_argument('--floor-b', default=os.path.join(BUILD_DIR, 'bench', 'floor_b.exe'))
    parser.add_argument('--extra', action='append', default=[], metavar='NAME=EXE[:notext]',
                        help='another program in the rotation (investigation builds); ":notext" if it draws no text')
    parser.add_argument('--prefix', default=os.path.join(BUILD_DIR, 'wineprefix'),
                        help='the Wine prefix each run copies')
    parser.add_argument('--json', help='also write every run to this file')
    args = parser.parse_args(argv)
    if args.settle >= args.seconds:
        parser.error('--settle must be less than --seconds')
    if args.rounds < 1:
        parser.error('--rounds must be at least 1')

    programs = [('program', args.program, True), ('floor A', args.floor_a, True), ('floor B', args.floor_b, False)]
    for extra in args.extra:
        name, _, path = extra.partition('=')
        text = not path.endswith(':notext')
        programs.append((name, path[:-len(':notext')] if not text else path, text))
    for name, path, _ in programs:
        if not os.path.isfile(path):
            parser.error('%s: no file %s (build it first)' % (name, path))

    # Every (configuration, program) pair is one slot of the rotation, so the
    # configurations meet the same machine, round after round.
    slots = [(c, name, os.path.abspath(path), text) for name, path, text in programs for c in args.configurations]
    prefix = os.path.abspath(args.prefix)
    desktop.end_sessions_on_termination()
    names = [p[0] for p in programs]
    print('%d rounds x %d programs x %d configurations (%s) x %.0f s, steady window from %.0f s, '
          'then %d rounds of starts only; load average before: %s'
          % (args.rounds, len(programs), len(args.configurations), ', '.join(args.configurations), args.seconds,
             args.settle, args.starts, ' '.join('%.2f' % v for v in os.getloadavg())),
          flush=True)
    results = []
    for round_number in range(args.rounds):
        shift = round_number % len(slots)
        for configuration, name, path, text in slots[shift:] + slots[:shift]:
            time.sleep(args.gap)
            extra_env = {'WINE_D3D_CONFIG': CONFIGURATIONS[configuration][1]}
            result = measure(name, path, args.seconds, args.settle, text, prefix, extra_env)
            result['round'] = round_number + 1
            result['configuration'] = configuration
            results.append(result)
            threads = result['exe_threads_ms_per_frame']
            print('round %d %-7s %-10s first frame %5.0f ms  window %4.1f s  %5.1f frames/s  whole frame %.2f ms = exe %.2f ms '
                  '(wined3d_cs %.2f, llvmpipe %.2f, main+other %.2f) + wineserver %.2f ms + Xvfb %.2f ms  '
                  'VmHWM %.1f MiB  others busy %.2f cores'
                  % (round_number + 1, configuration, name, 1000 * result['first_frame_s'], result['window_s'],
                     result['fps'],
                     whole_frame_ms(result), result['cpu_ms_per_frame']['exe'], threads['wined3d_cs'],
                     threads['llvmpipe'], threads['main+other'], result['cpu_ms_per_frame']['wineserver'],
                     result['cpu_ms_per_frame']['xvfb'], result['peak_working_set'] / 1048576.0,
                     result['others_busy']), flush=True)

    for round_number in range(args.starts):
        shift = round_number % len(slots)
        for configuration, name, path, _ in slots[shift:] + slots[:shift]:
            time.sleep(args.gap)
            extra_env = {'WINE_D3D_CONFIG': CONFIGURATIONS[configuration][1]}
            result = measure_start(name, path, prefix, extra_env)
            result['configuration'] = configuration
            results.append(result)
            print('start %d %-7s %-10s first frame %5.0f ms'
                  % (round_number + 1, configuration, name, 1000 * result['first_frame_s']), flush=True)

    if args.json:
        with open(args.json, 'w') as f:
            json.dump(results, f, indent=1)
    counted = {r['frames_counted'] for r in results if not r.get('start_only')}
    for configuration in args.configurations:
        own = [r for r in results if r['configuration'] == configuration]
        print()
        print('%s' % CONFIGURATIONS[configuration][0])
        print('Medians over %d rounds (%.0f s runs, steady window %.0f-%.0f s; start-up over these and %d more '
              'starts):' % (args.rounds, args.seconds, args.settle, args.seconds, args.starts))
        print(table(own, names))
        print('Spread over rounds:')
        print(spread(own, names))
    print()
    print(goals(results, args.configurations, names))
    if counted == {'presented'}:
        print('Frames: counted as presented (X DAMAGE updates of the client area).')
    else:
        print('Frames: NOT counted - X DAMAGE unavailable; taken as steady-window time / 33 ms.')
    print('Load average after: %s' % ' '.join('%.2f' % v for v in os.getloadavg()))
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv[1:]))
    except desktop.DesktopError as error:
        print('benchmark: %s' % error, file=sys.stderr)
        sys.exit(1)

#!/usr/bin/python3
"""End-to-end: the real vexalune.exe started and closed as a user would, many
times in a row, each way of closing both right after its first frame and
after it has run a while. Every run must end with exit code 0 within a few
seconds and leave no vexalune.exe behind: a shutdown that races the
device's creation, a timer message after the window is gone, or a process
that lingers once its window is closed shows up in one run of many rather
than in the single run per closing of test_window.py.

  /usr/bin/python3 tests/e2e/test_start_stop.py --exe build/win64/vexalune.exe \\
      [--runs 20] [--early-seconds 0] [--late-seconds 2.5] [--exit-seconds 5] \\
      [unittest options]

All runs share one X server and one prefix: that is also how a user starts
the program again and again, with Wine's services already up.
"""

import argparse
import sys
import time

import program_case
from program_case import desktop
from program_case import ProgramTestCase

OPTIONS = {'runs': 20, 'early_seconds': 0.0, 'late_seconds': 2.5, 'exit_seconds': program_case.EXIT_SECONDS}

CLOSINGS = [
    ('menu アプリケーションの終了 by keys', lambda session, window: session.key('alt+f', 'x', window=window)),
    ('Alt+F4', lambda session, window: session.key('alt+F4', window=window)),
    # What a window manager's close box sends; Wine makes WM_CLOSE of it.
    ('WM_DELETE_WINDOW', lambda session, window: session.close_window(window)),
]


def schedule(runs, early_seconds, late_seconds):
    """[(closing name, close, timing name, seconds to run before closing)]:
    the closing changes every run and the timing every len(CLOSINGS) runs,
    so the first 2 * len(CLOSINGS) runs hold every pair once."""
    timings = [('early', early_seconds), ('late', late_seconds)]
    result = []
    for index in range(runs):
        closing, close = CLOSINGS[index % len(CLOSINGS)]
        timing, seconds = timings[(index // len(CLOSINGS)) % len(timings)]
        result.append((closing, close, timing, seconds))
    return result


class StartStopTest(ProgramTestCase):

    def test_every_run_exits_0_in_time_and_leaves_no_process(self):
        session = self.open_session()
        runs = schedule(OPTIONS['runs'], OPTIONS['early_seconds'], OPTIONS['late_seconds'])
        exit_times = []
        started = time.monotonic()
        for number, (closing, close, timing, seconds) in enumerate(runs, 1):
            with self.subTest(run=number, closing=closing, timing=timing):
                try:
                    launched = time.monotonic()
                    session.launch()
                    window, _ = self.wait_first_frame(session)
                    first_frame = time.monotonic() - launched
                    time.sleep(seconds)
                    asked = time.monotonic()
                    close(session, window)
                except desktop.DesktopError as error:
                    self.fail('run %d (%s, %s): %s' % (number, closing, timing, error))
                self.assert_exits_cleanly(session, window, OPTIONS['exit_seconds'])
                exit_times.append(time.monotonic() - asked)
                print('run %2d/%d  %-5s first frame after %.2f s, exit 0 %.2f s after the close  %s'
                      % (number, len(runs), timing, first_frame, exit_times[-1], closing), flush=True)
            self.end_leftover(session)
        print('%d of %d runs ended cleanly in %.1f s; slowest exit %.2f s'
              % (len(exit_times), len(runs), time.monotonic() - started, max(exit_times, default=0)),
              flush=True)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--runs', type=int, default=OPTIONS['runs'])
    parser.add_argument('--early-seconds', type=float, default=OPTIONS['early_seconds'],
                        help='how long an early run shows frames before it is closed')
    parser.add_argument('--late-seconds', type=float, default=OPTIONS['late_seconds'],
                        help='how long a late run shows frames before it is closed')
    parser.add_argument('--exit-seconds', type=float, default=OPTIONS['exit_seconds'],
                        help='how long the program may take to end once asked')
    args, rest = parser.parse_known_args()
    if args.runs < 1:
        parser.error('--runs must be at least 1')
    OPTIONS.update(runs=args.runs, early_seconds=args.early_seconds, late_seconds=args.late_seconds,
                   exit_seconds=args.exit_seconds)
    sys.argv[1:] = rest
    program_case.main()


if __name__ == '__main__':
    main()

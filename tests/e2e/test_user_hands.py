#!/usr/bin/python3
"""End-to-end: a minute of a user's hands on the real vexalune.exe on a
desktop with a window manager - pointer sweeps, menus, the About box every
way, minimise and restore, focus away and back, typing, drags - from a
seeded plan (tests/support/user_hands.py), then the exit through the menu.

  /usr/bin/python3 tests/e2e/test_user_hands.py --exe build/win64/vexalune.exe
      [--seed N] [--seconds 60] [--episodes N] [--verbose-hands]

Each run takes a new seed unless one is given, and prints it; a failure
prints the seed and the command that replays it.
"""

import argparse
import os
import sys

import program_case
from program_case import desktop  # noqa: F401  (puts tests/support on the path)
import user_hands
from program_case import ProgramTestCase

HANDS = {'seed': None, 'seconds': 60.0, 'episodes': None, 'verbose': False}


class UserHandsTest(ProgramTestCase):

    def test_a_minute_of_user_input_leaves_the_program_working(self):
        seed = HANDS['seed']
        replay = '/usr/bin/python3 %s --exe %s --seed %d' % (os.path.abspath(__file__), program_case.OPTIONS['exe'],
                                                             seed)
        print('\nuser hands: seed %d (replay: %s)' % (seed, replay), file=sys.stderr, flush=True)
        session, window, _ = self.start_program()
        log = (lambda line: print('hands: ' + line, file=sys.stderr, flush=True)) if HANDS['verbose'] else None
        hands = user_hands.Hands(session, window, seed, log=log, replay=replay)
        try:
            hands.run(seconds=None if HANDS['episodes'] else HANDS['seconds'], episodes=HANDS['episodes'])
            took = hands.finish()
        except user_hands.HandsFailure as failure:
            self.fail('%s\n  last episodes:\n    %s\n  %s'
                      % (failure, '\n    '.join(hands.history), hands.summary()))
        print('user hands: %s; exit through the menu took %.2f s' % (hands.summary(), took),
              file=sys.stderr, flush=True)
        self.assertGreater(sum(hands.counts.values()), 0, 'episodes played')


if __name__ == '__main__':
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--seed', type=int, default=None)
    parser.add_argument('--seconds', type=float, default=HANDS['seconds'])
    parser.add_argument('--episodes', type=int, default=None, help='play this many episodes instead')
    parser.add_argument('--verbose-hands', action='store_true', help='print every episode')
    args, rest = parser.parse_known_args()
    HANDS.update(seed=args.seed if args.seed is not None else user_hands.new_seed(), seconds=args.seconds,
                 episodes=args.episodes, verbose=args.verbose_hands)
    sys.argv = [sys.argv[0]] + rest
    program_case.main()

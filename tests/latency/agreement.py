#!/usr/bin/env python3
"""The outside measurement of one latency-check case, on one clock.

  agreement.py <probe.py folder> <raw> <split frame> <tool's sweeps, ms...>

<raw>: the probe's stereo recording, left what the program captures, right
what it plays. Before <split frame> the program measured (each sweep comes
back after the loopback's delay), after it it passed the clicks through (each
comes out after the streams' path). Both sides move by a step now and then
(the loopback adapts its delay, the platform mixes in steps of about 2 ms),
so the range of the tool's sweeps is compared with the range of the sum.
Exits 1 when the two ranges lie more than 3 ms apart, 77 when the streams'
path moved by more than that while the clicks went through (nothing steady
to compare with).
"""
import array
import sys

sys.path.insert(0, sys.argv[1])
from probe import CLICK_LEVEL, RATE, onset, round_trips_ms  # noqa: E402

# The tool itself calls sweeps up to 3 ms apart steady: a path that moves by
# less than that between its sweeps and the clicks still agrees.
TOLERANCE_MS = 3.0
NOT_STEADY = 77
SWEEP_LEVEL = 4000   # 16-bit units: about half the sweep's peak, above the passed clicks
SEARCH_S = 0.3
LOOPBACK_S = 0.1     # where a sweep's return is looked for (the loopback takes about 20 ms)
CLICK_SEEN = CLICK_LEVEL * 32767 / 2   # a click on the input stands far above a returning sweep


def load(path):
    samples = array.array('h')
    with open(path, 'rb') as f:
        samples.frombytes(f.read())
    return samples[0::2], samples[1::2]


def loopback_delays_ms(captured, played, end):
    """Lag from each sweep the program played to its return at its input."""
    lags, i, search = [], 0, int(SEARCH_S * RATE)
    while i < end - search:
        if abs(played[i]) < SWEEP_LEVEL:
            i += 1
            continue
        start = onset(played, max(0, i - 64), i + 64)
        window = (start, start + int(LOOPBACK_S * RATE)) if start is not None else None
        # A click of the input's click train inside the window would be taken
        # for the sweep's return: such a sweep tells nothing and is left out.
        if window and max(abs(v) for v in captured[window[0]:window[1]]) > CLICK_SEEN:
            window = None
        back = onset(captured, *window) if window else None
        if back is not None:
            lags.append(1000.0 * (back - start) / RATE)
        i += search
    return lags


def main():
    captured, played = load(sys.argv[2])
    split, tool = int(sys.argv[3]), [float(v) for v in sys.argv[4:]]
    loop = loopback_delays_ms(captured, played, split)
    path = round_trips_ms(captured, played, split, len(captured))
    if not loop or not path:
        print('  outside: sweeps back %d, clicks through %d: nothing to compare' % (len(loop), len(path)))
        return 1
    low, high = min(loop) + min(path), max(loop) + max(path)
    apart = max(min(tool) - high, low - max(tool), 0.0)
    print('  outside: loopback %.2f..%.2f ms (n=%d) + streams %.2f..%.2f ms (n=%d) = %.2f..%.2f ms; '
          'tool %.2f..%.2f ms' % (min(loop), max(loop), len(loop), min(path), max(path), len(path), low, high,
                                  min(tool), max(tool)))
    if max(path) - min(path) > TOLERANCE_MS:
        print('  not compared: the streams\' path moved while the clicks went through')
        return NOT_STEADY
    ok = apart <= TOLERANCE_MS
    print('  apart %.2f ms %s' % (apart, 'ok' if ok else 'FAILED'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

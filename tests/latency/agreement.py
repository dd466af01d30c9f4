#!/usr/bin/env python3
"""The outside measurement of one latency-check case, on one clock.

  agreement.py <probe.py folder> <raw> <split frame> <tool trip ms>

<raw>: the probe's stereo recording, left what the program captures, right
what it plays. Before <split frame> the program measured (each sweep comes
back after the loopback's delay), after it it passed the clicks through (each
comes out after the streams' path). Exits 1 when the sum differs from the
tool's round trip by more than 2 ms.
"""
import array
import statistics
import sys

sys.path.insert(0, sys.argv[1])
from probe import CLICK_LEVEL, RATE, onset, round_trips_ms  # noqa: E402

TOLERANCE_MS = 2.0
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
    split, tool_ms = int(sys.argv[3]), float(sys.argv[4])
    loop = loopback_delays_ms(captured, played, split)
    path = round_trips_ms(captured, played, split, len(captured))
    if not loop or not path:
        print('  outside: sweeps back %d, clicks through %d: nothing to compare' % (len(loop), len(path)))
        return 1
    outside = statistics.median(loop) + statistics.median(path)
    ok = abs(tool_ms - outside) <= TOLERANCE_MS
    print('  outside: loopback %.2f ms (n=%d, %.2f..%.2f) + streams %.2f ms (n=%d, %.2f..%.2f) = %.2f ms; '
          'tool - outside %+.2f ms %s'
          % (statistics.median(loop), len(loop), min(loop), max(loop), statistics.median(path), len(path),
             min(path), max(path), outside, tool_ms - outside, 'ok' if ok else 'FAILED'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

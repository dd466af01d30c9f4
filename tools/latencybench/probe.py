#!/usr/bin/env python3
"""The latency benchmark's sound-server side.

  probe.py clicks <wav>                 writes the test signal
  probe.py record <raw> <log>           records the probe sink until SIGTERM
  probe.py analyse <raw> <log> <runs>   prints the figures

The probe is a stereo null sink: the test signal is played into its left
channel, from which the program under test captures, and the program's output
is mixed into its right channel. One recorder of the probe's monitor thus sees
input and output on one clock: the lag from a click on the left to the same
click on the right is the round trip, whatever the recorder's own delay.

The recorder also notes the wall-clock time at which each block arrived, so a
sample's index converts to the wall clock the driving programs stamp their
events with (the earliest arrival bounds the recorder's delay from above).
"""
import array
import math
import os
import signal
import statistics
import subprocess
import sys
import time
import wave

RATE = 44100
CLICK_PERIOD_S = 0.4    # longer than any round trip we expect
CLICK_S = 0.005
CLICK_LEVEL = 0.8
TONE_LEVEL = 0.03       # a quiet tone under the clicks, so first audio shows at once
TONE_HZ = 220.0
SIGNAL_S = 30.0
FIRST_AUDIO_LEVEL = 100  # 16-bit units, well above silence, well below the tone
SEARCH_S = 0.35          # how far after an input click its output is looked for (< the period)


def write_clicks(path):
    samples = array.array('h')
    click_frames = int(CLICK_S * RATE)
    period_frames = int(CLICK_PERIOD_S * RATE)
    for i in range(int(SIGNAL_S * RATE)):
        x = TONE_LEVEL * math.sin(2 * math.pi * TONE_HZ * i / RATE)
        k = i % period_frames
        if k < click_frames:  # a cosine burst: full level from its first sample
            x += CLICK_LEVEL * math.cos(2 * math.pi * 1000.0 * k / RATE)
        samples.append(int(max(-1.0, min(1.0, x)) * 32767))
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def record(raw_path, log_path):
    parec = subprocess.Popen(['parec', '-d', 'hwbench_probe.monitor', '--raw', '--format=s16le', '--rate=%d' % RATE,
                              '--channels=2', '--latency-msec=5'], stdout=subprocess.PIPE)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    total = 0
    with open(raw_path, 'wb') as raw, open(log_path, 'w') as log:
        while not stop:
            try:
                block = os.read(parec.stdout.fileno(), 65536)
            except InterruptedError:
                continue
            now = time.time()
            if not block:
                break
            raw.write(block)
            total += len(block)
            log.write('%d %.6f\n' % (total, now))
    parec.terminate()
    parec.wait()


def load(raw_path, log_path):
    samples = array.array('h')
    with open(raw_path, 'rb') as f:
        samples.frombytes(f.read())
    left, right = samples[0::2], samples[1::2]
    # Wall time of frame 0: the smallest (arrival - frames delivered so far).
    start = min(t - (b // 4) / RATE for b, t in
                (map(float, line.split()) for line in open(log_path)))
    return left, right, start


def onset(x, begin, end):
    """First index in [begin, end) where |x| rises half-way from the level
    before begin to the peak inside; None when no click stands out."""
    before = max((abs(v) for v in x[max(0, begin - int(0.05 * RATE)):begin]), default=0)
    peak = max((abs(v) for v in x[begin:end]), default=0)
    if peak < 2 * before + 1000:
        return None
    threshold = before + (peak - before) / 2
    for i in range(begin, end):
        if abs(x[i]) > threshold:
            return i
    return None


def round_trips_ms(left, right, begin, end):
    lags = []
    i = begin
    search = int(SEARCH_S * RATE)
    while i < end - search:
        if abs(left[i]) < CLICK_LEVEL * 32767 / 2:
            i += 1
            continue
        click = onset(left, max(begin, i - 64), i + 64)
        out = onset(right, click, click + search) if click is not None else None
        if out is not None:
            lags.append(1000.0 * (out - click) / RATE)
        i += int(CLICK_PERIOD_S * RATE / 2)
    return lags


def first_audio(right, begin, end):
    for i in range(begin, end):
        if abs(right[i]) > FIRST_AUDIO_LEVEL:
            return i
    return None


def read_runs(path):
    """Lines "<label>.<round> <event> <epoch s>"; returns {run: {event: time}}."""
    runs = {}
    for line in open(path):
        parts = line.split()
        if len(parts) == 4 and parts[1] == 'passthru':  # "<run> passthru open <t>"
            parts = [parts[0], 'open', parts[3]]
        if len(parts) == 3:
            runs.setdefault(parts[0], {})[parts[1]] = float(parts[2])
    return runs


def measure_run(ev, left, right, start):
    """One run's figures in ms: round trips, start -> dialog, start -> first
    audio, and go -> first audio (go: Run! for the host, device open for the
    baseline, the moment audio may start)."""
    index = lambda t: max(0, min(len(right), int(round((t - start) * RATE))))
    go = ev.get('run', ev.get('open'))
    first = first_audio(right, index(go), index(ev['end'])) if go else None
    first_t = start + first / RATE if first is not None else None
    # Round trips only while audio runs steadily: from 0.5 s after the first audio.
    steady = index(first_t + 0.5) if first_t is not None else index(ev['end'])
    return {
        'trips': round_trips_ms(left, right, steady, index(ev.get('stop', ev['end']))),
        'dialog': 1000 * (ev['dialog'] - ev['launch']) if 'dialog' in ev else None,
        'start_first': 1000 * (first_t - ev['launch']) if first_t is not None else None,
        'go_first': 1000 * (first_t - go) if first_t is not None else None,
    }


def combine(runs):
    """Figures over the rounds of one program: the median of all its clicks,
    and the median of each per-run figure."""
    def median_of(key):
        values = [r[key] for r in runs if r[key] is not None]
        return (statistics.median(values), len(values)) if values else (None, 0)
    trips = [t for r in runs for t in r['trips']]
    figures = {key: median_of(key) for key in ('dialog', 'start_first', 'go_first')}
    figures['trip'] = (statistics.median(trips) if trips else None, len(trips))
    # How far the round trip moves from one start to the next (same settings).
    per_start = [statistics.median(r['trips']) for r in runs if r['trips']]
    figures['spread'] = (max(per_start) - min(per_start) if len(per_start) > 1 else None, len(per_start))
    figures['per_start'] = per_start
    # How far it moves within one start: the widest range of one run's clicks.
    figures['drift'] = max((max(r['trips']) - min(r['trips']) for r in runs if r['trips']), default=None)
    return figures


def analyse(raw_path, log_path, runs_path):
    left, right, start = load(raw_path, log_path)
    by_program = {}
    for run, ev in read_runs(runs_path).items():
        program = run.split('.')[0]
        if 'launch' not in ev or 'end' not in ev:
            print('%-18s did not complete' % run)
            continue
        by_program.setdefault(program, []).append(measure_run(ev, left, right, start))
    report({program: combine(runs) for program, runs in by_program.items()})


def ms(figure):
    value, count = figure
    return '%.1f ms (n=%d)' % (value, count) if value is not None else 'n/a'


def ratio(figure, base):
    return '%.2f x' % (figure[0] / base[0]) if figure[0] is not None and base[0] else 'n/a'


def report(figures):
    print('Round trip: median lag from a click at the probe input to the same click at its output')
    print('(n clicks); other figures: median over the rounds (n runs). Ratios are to the plain')
    print('pass-through of the same sound system measured in this run.')
    for system in ('wave', 'ds'):
        base = figures.get('passthru-' + system)
        if not base:
            continue
        print('%-18s round trip %s, spread over starts %s; start -> first audio %s; device open -> first audio %s'
              % ('passthru-' + system, ms(base['trip']), ms(base['spread']), ms(base['start_first']),
                 ms(base['go_first'])))
        for mode in ('graph', 'direct'):
            label = 'host-%s-%s' % (system, mode)
            h = figures.get(label)
            if not h:
                continue
            rows = (('round trip', h['trip'], base['trip'], 'round trip'),
                    ('program start -> dialog', h['dialog'], base['start_first'], 'start -> first audio'),
                    ('Run! -> first audio', h['go_first'], base['go_first'], 'device open -> first audio'))
            for name, figure, base_figure, base_name in rows:
                print('%-18s %-24s %7s baseline %-27s [%s]'
                      % (label, name, ratio(figure, base_figure), base_name, ms(figure)))
                label = ''
            print('%-18s %-24s %s (largest minus smallest per-start median: %s ms; widest within a start %s)'
                  % (label, 'round trip spread', ms(h['spread']), ' '.join('%.0f' % t for t in h['per_start']),
                     '%.1f ms' % h['drift'] if h['drift'] is not None else 'n/a'))


if __name__ == '__main__':
    command = sys.argv[1] if len(sys.argv) > 1 else ''
    if command == 'clicks' and len(sys.argv) == 3:
        write_clicks(sys.argv[2])
    elif command == 'record' and len(sys.argv) == 4:
        record(sys.argv[2], sys.argv[3])
    elif command == 'analyse' and len(sys.argv) == 5:
        analyse(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sys.exit(__doc__)

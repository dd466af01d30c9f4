#!/usr/bin/env python3
"""Glitch benchmark helper.

  glitch.py tone                 writes a steady 441 Hz tone (100 samples a
                                 period at 44100 Hz), mono s16le, to stdout
                                 for ever
  glitch.py count <probe.raw>    counts the glitch events in the right channel
                                 (the program's output) of a stereo s16le
                                 recording; prints "<events> <seconds>"

A glitch event is a stretch where the output differs from itself one tone
period earlier; stretches closer than 10 ms are one event. Only the part
where the output carries the tone is judged, less its first second (the start)
and its last half second (the stop).
"""
import array
import math
import sys

RATE = 44100
PERIOD = 100
AMPLITUDE = 0.25


def tone():
    period = array.array("h", (int(AMPLITUDE * 32767 * math.sin(2 * math.pi * k / PERIOD)) for k in range(PERIOD)))
    block = period.tobytes() * 441  # one second
    out = sys.stdout.buffer
    try:
        while True:
            out.write(block)
    except (BrokenPipeError, KeyboardInterrupt):
        pass


def count(path):
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    right = samples[1::2]
    peak = max((abs(x) for x in right), default=0)
    if peak < 1000:
        print("0 0")
        return
    present = [i for i in range(0, len(right), RATE // 100) if abs(right[i]) > peak // 8
               or any(abs(right[j]) > peak // 4 for j in range(i, min(i + PERIOD, len(right))))]
    start = present[0] + RATE
    end = present[-1] - RATE // 2
    if end <= start + PERIOD:
        print("0 0")
        return
    threshold = peak * 0.05
    events = 0
    last = -RATE
    for n in range(start, end):
        if abs(right[n] - right[n - PERIOD]) > threshold:
            if n - last > RATE // 100:
                events += 1
            last = n
    print(events, "%.2f" % ((end - start) / RATE))


if __name__ == "__main__":
    if sys.argv[1] == "tone":
        tone()
    elif sys.argv[1] == "count":
        count(sys.argv[2])

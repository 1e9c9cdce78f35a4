#!/usr/bin/env python3
"""Writes a drum loop as a mono 16-bit WAV: kick on beats 1 and 3, snare on 2 and 4, hats on
eighths. --swing delays the off-beat hats to two thirds of the beat; --fill drops the kick and
snare of one bar in four. Usage: tempo_loops.py BPM SECONDS OUT.wav [--swing] [--fill]"""
import math
import random
import struct
import sys
import wave

RATE = 48000


def kick(length=0.12):
    phase, out = 0.0, []
    for n in range(int(length * RATE)):
        t = n / RATE
        phase += 2 * math.pi * (45 + 75 * math.exp(-t * 30)) / RATE
        out.append(0.9 * math.sin(phase) * math.exp(-t * 22))
    return out


def noise_burst(length, decay, gain, rng, highpass):
    out, previous = [], 0.0
    for n in range(int(length * RATE)):
        white = rng.uniform(-1.0, 1.0)
        sample = white - previous if highpass else white
        previous = white
        out.append(gain * sample * math.exp(-n / RATE * decay))
    return out


def snare(rng):
    body = noise_burst(0.15, 25, 0.45, rng, False)
    return [s + 0.35 * math.sin(2 * math.pi * 190 * n / RATE) * math.exp(-n / RATE * 30)
            for n, s in enumerate(body)]


def main():
    bpm, seconds, path = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
    swing, fill = "--swing" in sys.argv, "--fill" in sys.argv
    rng = random.Random(7)
    samples = [0.0] * int(seconds * RATE)
    beat = 60.0 / bpm

    def add(sound, at):
        start = int(round(at * RATE))
        for n, s in enumerate(sound):
            if start + n < len(samples):
                samples[start + n] += s

    sounds = {"kick": kick(), "snare": snare(rng), "hat": noise_burst(0.04, 90, 0.15, rng, True)}
    index = 0
    while index * beat < seconds:
        at, bar = index * beat, index // 4
        dropped = fill and bar % 4 == 3
        if not dropped:
            add(sounds["kick"] if index % 2 == 0 else sounds["snare"], at)
        add(sounds["hat"], at)
        add(sounds["hat"], at + beat * (2.0 / 3.0 if swing else 0.5))
        index += 1
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        peak = max(1.0, max(abs(s) for s in samples))
        out.writeframes(b"".join(struct.pack("<h", int(32000 * s / peak)) for s in samples))


main()

#!/usr/bin/env python3
"""Watches one loop's run: reads the source as raw mono float32 on stdin (parec at 2 ms) to time
the hits it hears, and receives the program's OSC tempo and beat messages on a UDP port, both on
the monotonic clock. When stdin ends, prints one row of the accuracy table.
Usage: parec ... | tempo_observer.py PORT RATE BPM SECONDS NAME"""
import math
import os
import select
import socket
import statistics
import struct
import sys
import time

from osc_value import osc

port, rate, bpm, seconds, name = (int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]),
                                  float(sys.argv[4]), sys.argv[5])
period = 60.0 / bpm
# A kick or snare, never a hat, reaches this sample level; one hit is heard once.
HIT_LEVEL, REFRACTORY = 0.5, 0.15

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", port))
sock.setblocking(False)
stdin = sys.stdin.buffer.raw
hits, tempi, beats = [], [], []
pending, last_hit = b"", -1.0


while True:
    ready, _, _ = select.select([stdin, sock], [], [], 1.0)
    now = time.monotonic()
    if sock in ready:
        while True:
            try:
                address, value = osc(sock.recv(2048))
            except BlockingIOError:
                break
            if address == "/zandorex/beat":
                beats.append((now, value))
            elif address == "/zandorex/tempo":
                tempi.append((now, value))
    if stdin in ready:
        chunk = stdin.read(65536)
        if not chunk:
            break
        data = pending + chunk
        usable = len(data) // 4 * 4
        samples = struct.unpack("<%df" % (usable // 4), data[:usable])
        pending = data[usable:]
        for index, sample in enumerate(samples):
            # The newest frame came now; each earlier one a frame before.
            when = now - (len(samples) - 1 - index) / rate
            if abs(sample) >= HIT_LEVEL and when - last_hit > REFRACTORY:
                hits.append(when)
                last_hit = when

if len(hits) < 4:
    print(f"{name:10} no hits heard")
    sys.exit(1)
start = hits[0]
# The true beats: the loop's exact period, at the phase the hits agree on (a fill leaves beats
# without a hit; every hit is on a beat).
offsets = [h - (start + round((h - start) / period) * period) for h in hits]
phase = start + statistics.median(offsets)


def true_beat_near(t):
    return phase + round((t - phase) / period) * period


def tempo_ok(value):
    return value is not None and abs(value - bpm) <= 1.0


# Tempo: right within 8 s, and every message after that too.
late = [(t, v) for t, v in tempi if t - start > 8.0]
early_right = any(tempo_ok(v) for t, v in tempi if t - start <= 8.0)
first_right = next((t - start for t, v in tempi if tempo_ok(v)), None)
tempo_pass = early_right and all(tempo_ok(v) for _, v in late)
last_tempo = tempi[-1][1] if tempi else None
# Beats from 10 s on, to the end of the loop; half a period either way, so that a true beat on
# an edge is counted the same for the messages and for the truth.
begin, end = start + 10.0 - period / 2.0, start + seconds - period / 2.0
measured = [t for t, _ in beats if begin <= t < end]
distances = [abs(t - true_beat_near(t)) * 1000.0 for t in measured]
signed = [(t - true_beat_near(t)) * 1000.0 for t in measured]
expected = math.ceil((end - phase) / period) - math.ceil((begin - phase) / period)
median = statistics.median(distances) if distances else float("nan")
bias = statistics.median(signed) if signed else float("nan")
count_off = 100.0 * (len(measured) - expected) / expected
beats_pass = distances and median <= 20.0 and abs(count_off) <= 5.0
if os.environ.get("TEMPO_DEBUG"):
    print("tempi", [(round(t - start, 2), round(v, 2)) for t, v in tempi], file=sys.stderr)
    print("beats", [(round(t - start, 3), v, round((t - true_beat_near(t)) * 1000)) for t, v in beats],
          file=sys.stderr)
lock = f"{first_right:.1f}" if first_right is not None else "-"
tempo_text = f"{last_tempo:.2f}" if last_tempo is not None else "-"
print(f"{name:10} {bpm:6.1f} {tempo_text:>8} {lock:>7} {len(tempi):>5} "
      f"{'yes' if tempo_pass else 'NO':>8} {median:8.1f} {bias:+8.1f} {len(measured):>4}/{expected:<4} "
      f"{count_off:+6.1f}% {'yes' if beats_pass else 'NO':>6}")

#!/usr/bin/env python3
"""Plays one recorded song into the private server's feed sink and receives the program's OSC
tempo and beat messages on a UDP port, on the monotonic clock. When the song ends, prints one row
of the real-recordings table.
Usage: tempo_real_observer.py PORT FILE TRUE_BPM MINIMUM NAME AUBIO_BPM"""
import socket
import statistics
import subprocess
import sys
import time

from osc_value import osc

port, path, truth, minimum, name, aubio = (int(sys.argv[1]), sys.argv[2], float(sys.argv[3]),
                                           float(sys.argv[4]), sys.argv[5], sys.argv[6])
JUDGED_FROM = 15.0


def fold(bpm):
    """The tempo folded by octaves into [minimum, 2 minimum), as the program sends it."""
    while bpm < minimum:
        bpm *= 2.0
    while bpm >= 2.0 * minimum:
        bpm /= 2.0
    return bpm


sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", port))
sock.settimeout(0.05)
player = subprocess.Popen(["sox", "-q", path, "-t", "pulseaudio", "feed"])
start = time.monotonic()
tempi, beats = [], []
while player.poll() is None:
    try:
        address, value = osc(sock.recv(2048))
    except socket.timeout:
        continue
    now = time.monotonic() - start
    if address == "/zandorex/beat":
        beats.append(now)
    elif address == "/zandorex/tempo":
        tempi.append((now, value))
end = time.monotonic() - start

# The levels the range allows: the folded truth and, for a truth on the range's edge, its octave
# just past the edge; the one nearest the last tempo sent is judged.
levels = [level for level in (fold(truth), 2.0 * fold(truth))
          if minimum - 2.0 <= level <= 2.0 * minimum + 2.0]
wanted = min(levels, key=lambda level: abs(level - tempi[-1][1])) if tempi else levels[0]
period = 60.0 / wanted
# The share of the time from JUDGED_FROM on during which the newest tempo sent was right.
right, samples, at = 0, 0, JUDGED_FROM
while at < end:
    sent = [v for t, v in tempi if t <= at]
    right += 1 if sent and abs(sent[-1] - wanted) <= 2.0 else 0
    samples += 1
    at += 0.1
share = 100.0 * right / samples if samples else 0.0
# The beats' median distance to the steady grid of the true period that fits them best.
judged = [t for t in beats if t >= JUDGED_FROM]
best = float("nan")
if judged:
    best = min(statistics.median(abs((t - phase + period / 2) % period - period / 2) for t in judged)
               for phase in [period * step / 500.0 for step in range(500)]) * 1000.0
last = f"{tempi[-1][1]:.1f}" if tempi else "-"
print(f"{name:24} {truth:6.1f} {wanted:6.1f} {last:>6} {share:6.0f}% {best:7.1f} {len(judged):6} "
      f"{aubio:>8} {fold(float(aubio)) if aubio.replace('.', '', 1).isdigit() else 0:7.1f}  "
      f"{'yes' if share >= 80.0 and best <= 35.0 else 'NO'}")

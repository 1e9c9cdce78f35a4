#!/usr/bin/env python3
"""Helper of bench/cue_accuracy.sh.

  cue_accuracy.py mix KIT BPM SECONDS BASS_DB OUT.wav TRUTH.json SETUP.txt
      Mixes a groove of the kit's kick, snare and closed hat at 48 kHz (mono, 16-bit) with the
      hits at known times, writes their times per instrument and the technician's set-up for
      three trigger mappings (one KEY=VALUE a line, for kestrano --set).
  cue_accuracy.py score TRUTH.json JOURNAL WINDOW_MS GROOVE RESPONSE SPEED
      Prints one row per mapping: hits, turns on, precision, recall, F1, the matched cues' median
      lag, the false cues (and those of them in a hit's decay), the merged and the other missed
      hits.
"""
import json
import subprocess
import sys
import wave

import numpy as np

RATE = 48000
TICK = 0.050
MAPPINGS = ("kick", "snare", "hat")
# Each mapping's band, as set with NAME/bandLowCut and NAME/bandHighCut (0: no filter). The kick
# below 150 Hz, where only the bass line joins it; the snare's body and rattle between 200 Hz and
# 1 kHz, where its hits read about 9 dB above a kick or a closed hat of the same layer (in 1 to
# 4 kHz the hat comes within 6 dB, and the hats play twice as often); the closed hat above 6 kHz,
# where a snare reads 13 dB under it.
BANDS = {"kick": (0, 150), "snare": (200, 1000), "hat": (6000, 0)}
SAMPLES = {"kick": "PearlKick", "snare": "PearlSnare", "hat": "SabianHatClosed"}
# Velocity layers of the kit, softest first, and the gain from which each is played.
LAYERS = ((0.0, "Soft"), (0.55, "Med"), (0.7, "Hard"), (0.85, "Hardest"))
# Where the bass line's notes lie (Hz): E1, G1, A1, D2, one a beat, legato.
BASS_NOTES = (41.2, 49.0, 55.0, 73.4)


def load(path):
    """A sample at 48 kHz mono, starting at its onset (the first sample within 40 dB of its
    peak), so that a hit placed at t sounds from t."""
    raw = subprocess.run(["sox", path, "-t", "raw", "-r", str(RATE), "-c", "1", "-e",
                          "floating-point", "-b", "32", "-"], check=True, capture_output=True).stdout
    sound = np.frombuffer(raw, dtype=np.float32).astype(np.float64)
    onset = int(np.argmax(np.abs(sound) >= 0.01 * np.max(np.abs(sound))))
    return sound[onset:]


def pattern(bpm, bar):
    """The steps (16ths of the bar) each instrument plays in bar `bar`, with a kick double."""
    if bpm < 150:  # four on the floor: a kick on every beat, a double into every second bar
        kick = [0, 4, 8, 12] + ([15] if bar % 2 else [])
        hat = list(range(0, 16, 2)) + ([7, 15] if bar % 4 == 3 else [])
    else:  # drum and bass two-step: kick on 1 and the and of 3, doubled in every second bar
        kick = [0, 10] + ([11] if bar % 2 else [])
        hat = list(range(0, 16, 2)) + ([5, 13] if bar % 4 == 1 else [])
    return {"kick": kick, "snare": [4, 12], "hat": hat}


def band(signal, low, high):
    """The signal through the mapping's band: the magnitude of 2nd-order Butterworth filters,
    applied in the frequency domain (the levels, not the phase, are what the set-up needs)."""
    spectrum = np.fft.rfft(signal)
    f = np.maximum(np.fft.rfftfreq(len(signal), 1.0 / RATE), 1e-3)
    gain = np.ones_like(f)
    if low:
        gain /= np.sqrt(1 + (low / f) ** 4)
    if high:
        gain /= np.sqrt(1 + (f / high) ** 4)
    return np.fft.irfft(spectrum * gain, len(signal))


def tick_positions(signal):
    """The position each 50 ms tick reads at amplification 1: the meter is 20 times the RMS and
    the position a tenth of it."""
    n = int(TICK * RATE)
    ticks = len(signal) // n
    power = np.mean(signal[:ticks * n].reshape(ticks, n) ** 2, axis=1)
    return 2.0 * np.sqrt(power)


def mix(kit, bpm, seconds, bass_db, out, truth_path, setup_path):
    rng = np.random.default_rng(int(bpm))
    sounds = {name: {layer: load(f"{kit}/{prefix}-{layer}.wav") for _, layer in LAYERS}
              for name, prefix in SAMPLES.items()}
    length = int(seconds * RATE)
    stems = {name: np.zeros(length + RATE) for name in (*MAPPINGS, "bass")}
    truth = {name: [] for name in MAPPINGS}
    step, bar_length = 60.0 / bpm / 4, 60.0 / bpm * 4
    peak_kick = max(np.max(np.abs(s)) for s in sounds["kick"].values())
    bars = int(seconds / bar_length)
    for bar in range(bars):
        if bar % 16 == 15:  # the break: a bar of silence, bass included
            continue
        for name, steps in pattern(bpm, bar).items():
            for s in steps:
                at = bar * bar_length + s * step
                # Velocity: a backbeat within 4.4 dB, the hats within 7 dB.
                gain = rng.uniform(0.45 if name == "hat" else 0.6, 1.0)
                layer = [l for floor, l in LAYERS if gain >= floor][-1]
                start = int(round(at * RATE))
                sound = gain * sounds[name][layer]
                stems[name][start:start + len(sound)] += sound[:len(stems[name]) - start]
                truth[name].append(round(start / RATE, 6))
        for beat in range(4):
            start = int(round((bar * bar_length + beat * 4 * step) * RATE))
            n = int(round(4 * step * RATE))
            t = np.arange(n) / RATE
            note = BASS_NOTES[(bar // 2 + beat * (bar % 2)) % len(BASS_NOTES)]
            fade = np.minimum(1.0, np.minimum(t, t[::-1]) / 0.005)
            stems["bass"][start:start + n] += (peak_kick * 10 ** (bass_db / 20) * fade
                                               * np.sin(2 * np.pi * note * t))
    stems = {name: s[:length] for name, s in stems.items()}
    total = sum(stems.values())
    scale = 10 ** (-1 / 20) / np.max(np.abs(total))  # the mix peaks at -1 dBFS
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.round(total * scale * 32767).astype("<i2").tobytes())
    with open(truth_path, "w") as f:
        json.dump(truth, f)

    # The technician's set-up, as it is made at a sound check: each drum played alone gives the
    # level its hits reach on the meter (the 50 ms tick the window shows), the rest of the band
    # playing without it the level its band reads between its hits (the bass under the kick, the
    # snare's noise in the hat's band). The softest hit that matters is the 5th percentile, the
    # bleed the loudest tick more than 100 ms from any of the drum's own hits. The amplification
    # brings the loudest hit to position 0.9; the on threshold lies halfway (in dB) between the
    # bleed and the softest hit, the off threshold halfway between the bleed and the on
    # threshold, so that a hit's decay must fall close to the bleed before the trigger rearms and
    # the bleed alone never holds it on.
    lines = [f"mappings={','.join(MAPPINGS)}", "active=false"]
    n = int(TICK * RATE)
    for name in MAPPINGS:
        low, high = BANDS[name]
        own = tick_positions(band(stems[name] * scale, low, high))
        others = tick_positions(band((total - stems[name]) * scale, low, high))
        ends = (np.arange(len(own)) + 1) * TICK
        hits = np.array(truth[name])
        near = np.zeros(len(own), bool)
        peaks = []
        for h in hits:
            window = (ends > h) & (ends <= h + 0.100)
            near |= window
            peaks.append(own[window].max())
        soft, loud = np.percentile(peaks, 5), max(peaks)
        bleed = max(others[~near].max(), 1e-6)
        amplification = float(f"{0.9 / loud:.2g}")
        db = lambda p: 20 * np.log10(p * amplification)
        if soft >= bleed * 1.2:
            on = np.sqrt(soft * bleed)
            off = np.sqrt(on * bleed)
        else:  # the bleed reaches the softest hits: stay above it, lose those hits
            on, off = bleed * 1.2, bleed * 0.85
            print(f"{name}: the bleed ({db(bleed):.1f} dB) reaches the softest hits "
                  f"({db(soft):.1f} dB): on just above the bleed", file=sys.stderr)
        on, off = min(on * amplification, 1.0), min(off * amplification, 1.0)
        print(f"{name}: hits {db(soft):.1f} to {db(loud):.1f} dB, bleed {db(bleed):.1f} dB "
              f"(positions x{amplification}): on {on:.3f}, off {off:.3f}", file=sys.stderr)
        lines += [f"{name}/type=trigger", f"{name}/volumeAmplification={amplification}",
                  f"{name}/triggerOnThreshold={on:.3f}", f"{name}/triggerOffThreshold={off:.3f}"]
        lines += [f"{name}/band{k}={v}" for k, v in (("LowCut", low), ("HighCut", high)) if v]
    with open(setup_path, "w") as f:
        f.write("\n".join(lines) + "\n")


def score(truth_path, journal, window_ms, groove, response, speed):
    with open(truth_path) as f:
        truth = json.load(f)
    window = float(window_ms) / 1000
    turns = {name: [] for name in MAPPINGS}
    with open(journal) as f:
        for line in f:
            at, address, value = line.rstrip("\n").split("\t")[:3]
            name = address.rsplit("/", 1)[-1]
            if name in turns:
                turns[name].append((float(at), float(value) > 0))
    for name in MAPPINGS:
        hits = np.array(truth[name])
        ons = [at for at, on in turns[name] if on]
        offs = [at for at, on in turns[name] if not on]
        # Greedy, one to one: each hit in turn takes the earliest free turn on from its onset to
        # the window's end.
        taken, lags = set(), []
        matched_hits = np.zeros(len(hits), bool)
        for i, h in enumerate(hits):
            for j, at in enumerate(ons):
                if j not in taken and h - 1e-6 <= at <= h + window:
                    taken.add(j)
                    lags.append(at - h)
                    matched_hits[i] = True
                    break
        # A hit missed while the trigger was still on from an earlier sound was merged with it.
        def on_at(t):
            last_on = max((a for a in ons if a < t), default=None)
            return last_on is not None and not any(last_on < a <= t for a in offs)
        merged = sum(1 for i, h in enumerate(hits) if not matched_hits[i] and on_at(h))
        # A false cue within 250 ms after a hit of its own drum is that hit's decay turning the
        # trigger on again (or the bleed riding on it); the others are the bleed alone.
        again = sum(1 for j, at in enumerate(ons)
                    if j not in taken and np.any((hits <= at) & (at <= hits + 0.250)))
        tp = len(taken)
        precision = tp / len(ons) if ons else 0.0
        recall = tp / len(hits) if len(hits) else 0.0
        f1 = 2 * precision * recall / (precision + recall) if tp else 0.0
        lag = f"{1000 * np.median(lags):.1f}" if lags else "-"
        print(f"{groove:<8} {response:<5} {name:<6} {len(hits):5d} {len(ons):5d} {precision:6.3f} "
              f"{recall:6.3f} {f1:6.3f} {lag:>7} {len(ons) - tp:6d} {again:6d} {merged:6d} "
              f"{len(hits) - tp - merged:6d} {speed:>7}")


if __name__ == "__main__":
    if sys.argv[1] == "mix":
        mix(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), *sys.argv[6:9])
    elif sys.argv[1] == "score":
        score(*sys.argv[2:8])
    else:
        sys.exit(__doc__)

#!/usr/bin/env python3
"""The demo's programme keeps its promise to the silence detector set to 5 s at -38 dB: the
pauses in the talk are all shorter than 3 s, there are exactly four dead-air silences of 10 s
or more, the loudest peaks lie between -14 and -6 dBFS and the quiet parts stay at the noise
floor (well under -38 dB, never digital zero)."""
import array
import math
import sys

RATE, BLOCK = 48000, 480  # 10 ms blocks, as the utility captures them
THRESHOLD_DB = -38.0


def fail(text):
    sys.exit(f"FAIL: {text}")


with open(sys.argv[1], "rb") as wav:
    header = wav.read(44)
    samples = array.array("h")
    samples.frombytes(wav.read())
if header[:4] != b"RIFF" or header[8:16] != b"WAVEfmt " or header[36:40] != b"data":
    fail("not a canonical PCM WAV file")
channels, rate, bits = (int.from_bytes(header[22:24], "little"),
                        int.from_bytes(header[24:28], "little"),
                        int.from_bytes(header[34:36], "little"))
if (channels, rate, bits) != (2, RATE, 16):
    fail(f"{channels} channels, {rate} Hz, {bits} bits instead of 2, {RATE}, 16")
seconds = len(samples) / 2 / RATE
if not 170 <= seconds <= 190:
    fail(f"{seconds:.1f} s long instead of about three minutes")

levels = []
for start in range(0, len(samples), 2 * BLOCK):
    block = samples[start:start + 2 * BLOCK]
    peak = min(max(max(block), -min(block)), 32767)
    levels.append(20 * math.log10(peak / 32768) if peak else -90.3)

# Runs of quiet blocks, in seconds.
quiet_runs, run = [], 0
for level in levels + [0.0]:
    if level < THRESHOLD_DB:
        run += 1
    elif run:
        quiet_runs.append(run / 100)
        run = 0
long_silences = [r for r in quiet_runs if r >= 10]
pauses = [r for r in quiet_runs if r < 10]
if len(long_silences) != 4:
    fail(f"{len(long_silences)} silences of 10 s or more instead of 4: {long_silences}")
if max(pauses) >= 3:
    fail(f"a pause of {max(pauses):.2f} s in the talk")
loudest, quietest = max(levels), min(levels)
if not -14 <= loudest <= -5.9:
    fail(f"the loudest block peaks at {loudest:.1f} dBFS")
if not -75 < quietest < -55:
    fail(f"the quietest block peaks at {quietest:.1f} dBFS instead of the noise floor")
print(f"ok: {seconds:.0f} s, silences {long_silences} s, longest pause {max(pauses):.2f} s, "
      f"peaks {quietest:.1f} to {loudest:.1f} dBFS")

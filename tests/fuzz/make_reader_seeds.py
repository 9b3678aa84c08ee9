#!/usr/bin/python3
"""Writes the reader fuzzers' seeds from the test files: the demo phrase for the MIDI file
reader; for the recording reader, a take played from it, two takes with stray bytes between
them, a torn tail with a take after it, and a wrap. Run with /usr/bin/python3 (mido)."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PHRASE = os.path.join(HERE, "..", "..", "tools", "demo", "phrase.mid")
sys.path.insert(0, os.path.join(HERE, "..", "..", "testing"))
from mido_reading import channel_messages  # noqa: E402


def take(rate=44100):
    out = b""
    for now, message in channel_messages(PHRASE):
        data = message.bytes() + [0, 0]
        out += struct.pack("<II", round(now * rate), data[0] | data[1] << 8 | data[2] << 16)
    return out


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


with open(PHRASE, "rb") as f:
    write("smf_seeds", "phrase.mid", f.read())
one = take()
write("recording_seeds", "take.quorb", one)
write("recording_seeds", "stray-bytes.quorb", one + one[-8:-5] + take(48000))
write("recording_seeds", "torn-then-take.quorb", one + one[-8:-6] + one[:64])
write("recording_seeds", "wrap.quorb",
      struct.pack("<IIII", 0xFFFFFF00, 0x403C90, 0x10, 0x3C80) + one[:80])

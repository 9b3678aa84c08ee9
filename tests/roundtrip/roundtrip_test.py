#!/usr/bin/python3
"""MIDI file -> stand-in host -> module -> .quorb -> `quorb tomidi` -> MIDI file, refereed by mido,
an independent reader and writer of Standard MIDI Files.

    roundtrip_test.py --host QUORB_HOST --quorb QUORB [--emulator 'CMD|ARG|...'] --work DIR

Every program runs in DIR with relative paths, so the same test drives Windows builds under Wine.
"""
import os
import struct
import sys
import unittest

import mido

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
from mido_reading import channel_messages  # noqa: E402
from program_args import program_args, run_program  # noqa: E402

RATE = 48000  # clock ticks per second in the stand-in host
BLOCK = 64
PPQ = 960
BPM = 120
TICK = 60.0 / (BPM * PPQ)  # seconds per tick of the written file
# The pause is set on block boundaries (76800 and 115200 samples), so its length is cut exactly.
PAUSE = (1.6, 2.4)

ARGS = None


def run(program, *arguments, expect_ok=True):
    return run_program([*ARGS.emulator, program, *arguments], ARGS.work, 0 if expect_ok else None)


def work(name):
    return os.path.join(ARGS.work, name)


def write_quorb(name, records, tail=b""):
    with open(work(name), "wb") as f:
        for time, word in records:
            f.write(struct.pack("<II", time % 2**32, word))
        f.write(tail)


class RoundTrip(unittest.TestCase):
    def test_phrase_comes_back_with_the_pause_removed(self):
        # Input written by mido: two tracks, a tempo change, notes, controllers, a program change
        # and a pitch bend, at times that fall between samples.
        song = mido.MidiFile(type=1, ticks_per_beat=480)
        tempo = mido.MidiTrack()
        tempo.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(100)))
        tempo.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(150), time=1500))
        song.tracks.append(tempo)
        lead = mido.MidiTrack()
        lead.append(mido.Message("program_change", channel=2, program=10, time=7))
        for i in range(40):
            lead.append(mido.Message("note_on", channel=2, note=50 + i, velocity=20 + i, time=37))
            lead.append(mido.Message("control_change", channel=2, control=74, value=i, time=29))
            lead.append(mido.Message("note_off", channel=2, note=50 + i, velocity=3, time=41))
        lead.append(mido.Message("pitchwheel", channel=2, pitch=-1234, time=11))
        song.tracks.append(lead)
        drums = mido.MidiTrack()
        for i in range(12):
            drums.append(mido.Message("note_on", channel=9, note=36 + i % 3, velocity=100,
                                      time=0 if i == 0 else 240))
            drums.append(mido.Message("note_on", channel=9, note=36 + i % 3, velocity=0, time=0))
        song.tracks.append(drums)
        song.save(work("in.mid"))

        run(ARGS.host, "record", "in.mid", "take.quorb", "--rate", str(RATE), "--block",
            str(BLOCK), "--pause", f"{PAUSE[0]}-{PAUSE[1]}")
        run(ARGS.quorb, "tomidi", "take.quorb", "out.mid", "--rate", str(RATE), "--ppq",
            str(PPQ), "--bpm", str(BPM))

        expected = []
        for seconds, message in channel_messages(work("in.mid")):
            self.assertFalse(PAUSE[0] - 0.01 < seconds < PAUSE[0] + 0.01 or
                             PAUSE[1] - 0.01 < seconds < PAUSE[1] + 0.01,
                             "keep the input clear of the pause's edges")
            if seconds < PAUSE[0]:
                expected.append((seconds, message))
            elif seconds >= PAUSE[1]:
                expected.append((seconds - (PAUSE[1] - PAUSE[0]), message))
        # A note whose Note Off fell in the pause is still held at the end: tomidi closes it there.
        held = {}
        for _, message in expected:
            if message.type in ("note_on", "note_off"):
                key = (message.channel, message.note)
                if message.type == "note_on" and message.velocity > 0:
                    held[key] = True
                else:
                    held.pop(key, None)
        end = expected[-1][0]
        for channel, note in held:
            expected.append((end, mido.Message("note_off", channel=channel, note=note, velocity=64)))
        self.assertEqual(1, len(held), "the pause should cut one Note Off")
        got = channel_messages(work("out.mid"))
        self.assertGreater(len(expected), 100)
        self.assertEqual(len(expected), len(got))
        for (want_at, want), (got_at, message) in zip(expected, got):
            self.assertEqual(want, message)
            self.assertLessEqual(abs(want_at - got_at), TICK, f"{want} at {got_at}, not {want_at}")

        song = mido.MidiFile(work("out.mid"))
        self.assertEqual(0, song.type)
        self.assertEqual(PPQ, song.ticks_per_beat)

    def test_edge_files(self):
        two = [(0, 0x403C90), (100, 0x003C80), (200, 0x7F07B0), (5, 0x404090), (50, 0x004080)]
        wrapped = [(2**32 - 2 * RATE, 0x403C90), (RATE, 0x003C80)]  # 3 s across the wrap
        cases = {
            # name: (records, trailing bytes, tracks of channel messages with their seconds)
            "partial": (two[:2], b"\x01\x02\x03", [[0.0, 100 / RATE]]),
            "two": (two, b"", [[0.0, 100 / RATE, 200 / RATE], [5 / RATE, 50 / RATE]]),
            # Times are kept from each recording's time 0, so the wrapped one starts late.
            "wrapped": (wrapped, b"", [[(2**32 - 2 * RATE) / RATE, (2**32 + RATE) / RATE]]),
        }
        for name, (records, tail, tracks) in cases.items():
            with self.subTest(name):
                write_quorb(name + ".quorb", records, tail)
                run(ARGS.quorb, "tomidi", name + ".quorb", name + ".mid", "--rate", str(RATE))
                song = mido.MidiFile(work(name + ".mid"))
                self.assertEqual(0 if len(tracks) == 1 else 1, song.type)
                self.assertEqual(len(tracks), len(song.tracks))
                tempo_seconds = 60.0 / BPM / PPQ  # the defaults: 960 ppq at 120 bpm
                for track, want in zip(song.tracks, tracks):
                    ticks, times = 0, []
                    for message in track:
                        ticks += message.time
                        if not message.is_meta:
                            times.append(ticks * tempo_seconds)
                    self.assertEqual(len(want), len(times))
                    for w, g in zip(want, times):
                        self.assertLessEqual(abs(w - g), TICK)
                    self.assertEqual("end_of_track", track[-1].type)

    def test_damage_and_bad_input_fail_clearly(self):
        write_quorb("bad.quorb", [(0, 0x403C90)], b"\x01")
        info = run(ARGS.quorb, "info", "bad.quorb")
        self.assertIn("damaged from byte 8", info.stdout.decode())
        for arguments in (["info", "missing.quorb"], ["tomidi", "bad.quorb", "x.mid", "--rate", "x"],
                          ["tomidi", "missing.quorb", "x.mid", "--rate", "100"]):
            done = run(ARGS.quorb, *arguments, expect_ok=False)
            self.assertNotEqual(0, done.returncode, arguments)
            self.assertLess(done.returncode, 128, "a crash, not an error exit")


def main():
    global ARGS
    ARGS, rest = program_args("--host", "--quorb")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()

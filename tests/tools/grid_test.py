#!/usr/bin/python3
"""The grid as a musician gets it: takes whose beats and bars are known (make_grid_takes), steady
and expressive, in four meters, converted by the built quorb (natively, and as .exe under Wine);
mido reads the MIDI file's beats and bar lines back through its tempo map and time signatures.

    grid_test.py --quorb Q --maker M [--emulator 'CMD|ARG'] --work DIR
"""
import glob
import mido
import os
import re
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
from grid_reading import beats_and_bars, f_measure  # noqa: E402
from mido_reading import channel_messages  # noqa: E402
from program_args import program_args, run_program  # noqa: E402

ARGS = None
RATE = 44100
LEFT = 48  # x of second 0 in quorb view's drawing (tools/view/piano_roll.h)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def records(path):
    with open(path, "rb") as f:
        data = f.read()
    return [struct.unpack("<II", data[at:at + 8]) for at in range(0, len(data) - 7, 8)]


class Grid(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        run_program([*ARGS.emulator, ARGS.maker, "."], ARGS.work)
        cls.takes = sorted(os.path.basename(p)[:-5] for p in glob.glob(os.path.join(ARGS.work, "*.grid")))
        assert len(cls.takes) >= 10, "too few takes made"

    def convert(self, name, *options):
        return run_program([*ARGS.emulator, ARGS.quorb, "tomidi", name + ".quorb", name + ".mid",
                            "--rate", str(RATE), *options], ARGS.work).text

    def test_each_kind_of_take_lands_on_its_grid(self):
        for name in self.takes:
            with self.subTest(take=name):
                with open(os.path.join(ARGS.work, name + ".grid")) as f:
                    lines = [line.split() for line in f]
                numerator, denominator = int(lines[0][1]), int(lines[0][2])
                true_beats = [float(v) for kind, v in lines[1:] if kind == "b"]
                true_bars = [float(v) for kind, v in lines[1:] if kind == "db"]
                said = self.convert(name)
                self.assertIn("take 1:", said)
                beats, bars, meter = beats_and_bars(os.path.join(ARGS.work, name + ".mid"))
                self.assertGreaterEqual(f_measure(beats, true_beats), 0.97, "beat F")
                self.assertGreaterEqual(f_measure(bars, true_bars), 0.90, "bar F")
                inside = [b for b in beats if true_beats[0] <= b <= true_beats[-1]]
                found = median([b - a for a, b in zip(inside, inside[1:])])
                wanted = median([b - a for a, b in zip(true_beats, true_beats[1:])])
                self.assertLessEqual(abs(found / wanted - 1), 0.02, "tempo")
                if (numerator, denominator) in ((3, 4), (6, 8), (5, 4), (7, 4), (7, 8)):
                    self.assertEqual((numerator, denominator), meter, "meter")
                if not name.startswith(("accelerando", "ritardando")):
                    # Played to one tempo: the file keeps it, not the hands' 15 ms either side
                    # (after the partial beat a file may open with).
                    gaps = [b - a for a, b in zip(inside[1:], inside[2:])]
                    self.assertLessEqual(max(gaps) / min(gaps), 1.01, "one tempo")
                self.assert_every_message_in_place(name)

    def assert_every_message_in_place(self, name):
        """The notes do not move: every message at its recorded time, in its order; the only
        others are Note Offs ending a note struck again."""
        played = iter(channel_messages(os.path.join(ARGS.work, name + ".mid")))
        for time, word in records(os.path.join(ARGS.work, name + ".quorb")):
            wanted = [word & 0xFF, word >> 8 & 0x7F, word >> 16 & 0x7F]
            seconds, message = next(played)
            while message.bytes() != wanted:
                self.assertEqual("note_off", message.type, "a message the take lacks")
                seconds, message = next(played)
            self.assertLessEqual(abs(time / RATE - seconds), 0.001)

    def test_a_take_without_a_pulse_keeps_a_constant_tempo_and_says_so(self):
        # The tempo and meter the musician gave still hold (a quarter at 150 in 6/8: dotted
        # quarters 0.6 s apart).
        for options, line, meter, beat in (
                ([], "a constant 120 BPM in 4/4", (4, 4), 0.5),
                (["--meter", "3/4", "--tempo", "90"], "a constant 90 BPM in 3/4", (3, 4), 2 / 3),
                (["--meter", "6/8", "--tempo", "150"], "a constant 150 BPM in 6/8", (6, 8), 0.6)):
            with self.subTest(options=options):
                said = self.convert("few", *options)
                self.assertIn(line + " (no steady pulse found)", said)
                beats, _, found = beats_and_bars(os.path.join(ARGS.work, "few.mid"))
                self.assertEqual(meter, found)
                self.assertTrue(all(abs(b - a - beat) < 1e-3 for a, b in zip(beats, beats[1:])))

    def test_a_take_stretched_over_thousands_of_hours_costs_the_memory_of_its_notes(self):
        # Clock words that wrap at every other record, as damage can leave them: 250 notes over
        # 6,800 hours, and a steady phrase after 13,600 hours of controller records. Their grids
        # once took a beat every half second of that (gigabytes: "not enough memory" as the
        # 32-bit .exe); now they are read, converted and drawn like any take.
        def wrapping(count, word):
            records, time = [], 0
            for k in range(count):
                time = (time // 2**32 + (k % 2 == 0 and k > 0)) * 2**32 + (k % 2) * 0xC0000000
                records.append((time, word(k)))
            return records, (time // 2**32 + 1) * 2**32

        notes, _ = wrapping(500, lambda k: 0x90 | (60 + k // 2 % 12) << 8 | 90 << 16
                            if k % 2 == 0 else 0x80 | (60 + k // 2 % 12) << 8)
        lead, time = wrapping(1000, lambda k: 0xB0 | 7 << 8 | 100 << 16)
        for k in range(64):
            key = 48 if k % 4 == 0 else 60
            lead += [(time, 0x90 | key << 8 | 90 << 16), (time + 4410, 0x80 | key << 8)]
            time += RATE // 2
        for name, records in (("stretched", notes), ("late", lead)):
            with self.subTest(take=name):
                with open(os.path.join(ARGS.work, name + ".quorb"), "wb") as f:
                    f.write(b"".join(struct.pack("<II", t % 2**32, w) for t, w in records))
                for command in (["info"], ["view"], ["view", "--plain"]):
                    run_program([*ARGS.emulator, ARGS.quorb, *command, name + ".quorb", "--rate",
                                 str(RATE)], ARGS.work)
                self.convert(name)
                played = channel_messages(os.path.join(ARGS.work, name + ".mid"))
                self.assertEqual(len(records), len(played))
                for (stamp, _), (seconds, _) in zip(records, played):
                    self.assertLessEqual(abs(stamp / RATE - seconds), 0.001)

    def test_the_view_draws_the_bar_lines_of_the_file(self):
        # quorb view's numbered bar lines over the take are the file's, one for one, each at the x
        # of its second: found, in 3/4 and 6/8, and plain.
        for name, options in (("waltz_3-4_90", []), ("barcarolle_6-8_100", []),
                              ("march_4-4_100", ["--plain"])):
            with self.subTest(take=name, options=options):
                self.convert(name, *options)
                run_program([*ARGS.emulator, ARGS.quorb, "view", name + ".quorb", name + ".html",
                             "--rate", str(RATE), *options], ARGS.work)
                with open(os.path.join(ARGS.work, name + ".html"), encoding="utf-8") as f:
                    page = f.read()
                lines = re.search(r'class="bar" d="([^"]*)"', page)[1]
                drawn = [float(x) for x in re.findall(r"M([0-9.]+) [0-9]+V", lines)]
                numbers = [int(n) for n in re.findall(r'<text class="bn" [^>]*>(\d+)<', page)]
                end = records(os.path.join(ARGS.work, name + ".quorb"))[-1][0] / RATE
                _, bars, _ = beats_and_bars(os.path.join(ARGS.work, name + ".mid"))
                bars = [t for t in bars if t <= end]
                if drawn[0] > LEFT + 0.5:  # a pickup: the file's short bar from 0 is not numbered
                    bars = [t for t in bars if t > 0]
                self.assertEqual(len(bars), len(drawn))
                self.assertEqual(list(range(1, len(drawn) + 1)), numbers)
                scale = (drawn[-1] - LEFT) / bars[-1]
                for t, x in zip(bars, drawn):
                    self.assertAlmostEqual(LEFT + t * scale, x, delta=0.3)

    def test_what_the_musician_knows_is_kept(self):
        # A known tempo and meter, in BPM as the host and a DAW count them, quarters: the line
        # says the file's tempo so, and the counted beat's where it is another note.
        for name, options, line, meter in (
                ("waltz_3-4_90", ["--tempo", "90", "--meter", "3/4"], "90 BPM, 3/4", (3, 4)),
                ("riff_7-8_270", ["--meter", "7/8"], "135 BPM (270 eighths), 7/8", (7, 8)),
                ("barcarolle_6-8_100", ["--tempo", "150"], "150 BPM (100 dotted quarters), 6/8",
                 (6, 8))):
            with self.subTest(take=name, options=options):
                said = self.convert(name, *options)
                self.assertIn(line, said)
                _, _, found = beats_and_bars(os.path.join(ARGS.work, name + ".mid"))
                self.assertEqual(meter, found)
                tempos = [m.tempo for m in mido.MidiFile(os.path.join(ARGS.work, name + ".mid"))
                          .tracks[0] if m.type == "set_tempo"]
                self.assertAlmostEqual(int(line.split()[0]), mido.tempo2bpm(median(tempos)),
                                       delta=1)
        # --plain is today's file.
        said = self.convert("waltz_3-4_90", "--plain")
        _, _, meter = beats_and_bars(os.path.join(ARGS.work, "waltz_3-4_90.mid"))
        self.assertEqual((4, 4), meter)
        self.assertNotIn("take 1:", said)
        # However slow the quarter, a message moves by under 1 ms: the file's ticks get finer.
        for options in (["--tempo", "20"], ["--bpm", "8"], ["--meter", "6/8", "--tempo", "20"]):
            with self.subTest(options=options):
                self.convert("waltz_3-4_90", *options)
                self.assert_every_message_in_place("waltz_3-4_90")


def main():
    global ARGS
    ARGS, rest = program_args("--quorb", "--maker")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The built quorb and quorb-host as a user meets them: accidents that must not cost a take,
Windows habits, and errors in words. Natively, and as .exe under Wine (--emulator).

    tools_test.py --quorb Q --host H --holder HOLD --phrase MID [--emulator 'CMD|ARG'] --work DIR
"""
import contextlib
import os
import pty
import random
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
from mido_reading import channel_messages  # noqa: E402  (mido's reading, tempo map applied)
from program_args import program_args, run_program  # noqa: E402

ARGS = None
TICK = 60.0 / (120 * 960)  # seconds per tick of a converted file at the defaults


def run(program, *arguments, code=0, says=None):
    """Runs a tool in the work folder; checks its exit code and that its output says `says`."""
    return run_program([*ARGS.emulator, program, *arguments], ARGS.work, code, says)


@contextlib.contextmanager
def held(name):
    """While inside, another process holds the file `name` as the module holds a recording."""
    holder = subprocess.Popen([*ARGS.emulator, ARGS.holder, name], cwd=ARGS.work,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert holder.stdout.readline().strip() == b"held", "the holder did not take the file"
        yield
    finally:
        holder.communicate(b"")


def path(name):
    return os.path.join(ARGS.work, name)


def read(name):
    with open(path(name), "rb") as f:
        return f.read()


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


def messages(name):
    return channel_messages(path(name))


class Tools(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Every test here takes the default rate; the settings file is tried on a copy of quorb.
        stray = os.path.join(os.path.dirname(ARGS.quorb), "quorb.ini")
        assert not os.path.exists(stray), f"{stray} sets the rate for every test: remove it"
        shutil.copy(ARGS.phrase, path("phrase.mid"))
        run(ARGS.host, "record", "phrase.mid", "a.quorb")
        run(ARGS.host, "record", "phrase.mid", "b.quorb", "--pause", "1-2")
        for take in "ab":
            run(ARGS.quorb, "tomidi", take + ".quorb")
        cls.takes = [messages("a.mid"), messages("b.mid")]
        assert len(cls.takes[0]) > 50, "the demo take is too short to test with"

    def assertSameTake(self, name, want):
        got = messages(name)
        self.assertEqual([m for _, m in want], [m for _, m in got], name)
        for (w, _), (g, _) in zip(want, got):
            self.assertLessEqual(abs(w - g), TICK, name)

    def test_damage_costs_only_its_own_bytes(self):
        a, b = read("a.quorb"), read("b.quorb")
        torn = a[-8:]  # what a full disk leaves of a record: its first bytes
        for k in range(1, 8):
            with self.subTest(stray=k):
                for name in ("s-1.mid", "s-2.mid", "t-1.mid", "t-2.mid"):
                    if os.path.exists(path(name)):
                        os.remove(path(name))
                # Stray bytes between two takes: both read whole, the bytes named.
                write("s.quorb", a + torn[:k] + b)
                run(ARGS.quorb, "info", "s.quorb", says=f"{k} damaged byte")
                write("s.mid", b"notes")  # with --split, OUT only names the files written
                run(ARGS.quorb, "s.quorb", "--split")
                self.assertEqual(b"notes", read("s.mid"))
                self.assertSameTake("s-1.mid", self.takes[0])
                self.assertSameTake("s-2.mid", self.takes[1])
                # A torn tail, then a new take through the module: appended to the file as it
                # is; the reader names the torn bytes and makes no message of them.
                write("t.quorb", a + torn[:k])
                run(ARGS.host, "record", "phrase.mid", "t.quorb")
                self.assertEqual(a + torn[:k] + a, read("t.quorb"))
                run(ARGS.quorb, "info", "t.quorb", says=f"{k} damaged byte")
                run(ARGS.quorb, "tomidi", "t.quorb", "--split", says="t-2.mid")
                self.assertSameTake("t-1.mid", self.takes[0])
                self.assertSameTake("t-2.mid", self.takes[0])

    def test_no_command_destroys_a_file(self):
        take = read("a.quorb")
        write("other.quorb", take)
        if os.path.exists(path("link.quorb")):
            os.remove(path("link.quorb"))
        os.link(path("a.quorb"), path("link.quorb"))
        cases = [  # program, arguments, exit code, said
            (ARGS.quorb, ["tomidi", "a.quorb", "a.quorb"], 2, "is the recording being converted"),
            (ARGS.quorb, ["tomidi", "a.quorb", "link.quorb"], 2, "is the recording being"),
            (ARGS.quorb, ["tomidi", "a.quorb", "other.quorb"], 2, "is not a MIDI file"),
            (ARGS.quorb, ["tomidi", "phrase.mid", "a.mid"], 1, "a Standard MIDI File"),
            (ARGS.host, ["record", "phrase.mid", "phrase.mid"], 2, "is the MIDI file being"),
            (ARGS.host, ["record", "phrase.mid", "a.mid"], 1, "is a Standard MIDI File"),
            (ARGS.host, ["record", "phrase.mid", "wav.quorb"], 1, "is a WAV sound file, not a"),
        ]
        write("wav.quorb", b"RIFF\x24\0\0\0WAVEfmt " + bytes(64))  # named as a take
        before = {name: read(name) for name in ("a.quorb", "other.quorb", "phrase.mid", "a.mid",
                                                "wav.quorb")}
        listing = sorted(os.listdir(ARGS.work))
        for program, arguments, code, said in cases:
            run(program, *arguments, code=code, says=said)
        self.assertEqual(before, {name: read(name) for name in before})
        self.assertEqual(listing, sorted(os.listdir(ARGS.work)), "a temporary file was left")
        # A file another program holds: refused before anything is played.
        with held("held.quorb"):
            run(ARGS.host, "record", "phrase.mid", "held.quorb", code=1, says="another program")
        if not ARGS.emulator:  # a device that swallows the records: the growth check catches it
            run(ARGS.host, "record", "phrase.mid", "/dev/full", code=1, says="did not reach")

    def test_windows_habits_and_errors_in_words(self):
        name = "録音 Käse"
        run(ARGS.host, "record", "phrase.mid", name + ".quorb", says="played 59 messages")
        run(ARGS.quorb, name + ".quorb", says="44100 clock ticks per second assumed")
        self.assertSameTake(name + ".mid", self.takes[0])
        run(ARGS.quorb, "info", name + ".quorb", says=name + ".quorb")
        piped = run(ARGS.quorb, "tomidi", "a.quorb", "-").stdout
        self.assertEqual(read("a.mid"), piped, "standard output holds the MIDI file alone")
        os.makedirs(path("folder"), exist_ok=True)
        for program, arguments, code, said in [
            (ARGS.quorb, ["--version"], 0, "quorb "),
            (ARGS.host, ["--version"], 0, "quorb-host "),
            (ARGS.quorb, ["frob", "x"], 2, 'unknown command "frob"'),
            (ARGS.quorb, ["tomidi", "a.quorb", "--ppq", "abc"], 2, '"abc" is not a number'),
            (ARGS.quorb, ["info", "folder"], 1, "a folder, not a recording"),
            (ARGS.host, ["record", "folder", "x.quorb"], 1, "a folder, not a MIDI file"),
            (ARGS.host, ["record", "phrase.mid", "folder"], 1, "a folder, not a file"),
            (ARGS.host, ["record", "phrase.mid", "x.quorb", "--rate", "fast"], 2, "not a number"),
            (ARGS.host, ["record", "phrase.mid", "x.quorb", "--pause", "2-1"], 2, "FROM-TO"),
            (ARGS.host, ["record", "phrase.mid", "x.quorb", "--module", "phrase.mid"], 1,
             "not a 32-bit Windows module" if ARGS.emulator else "cannot load"),
            (ARGS.quorb, ["--help"], 0, "Usage: quorb [OPTIONS]"),
            (ARGS.quorb, ["-?"], 0, "Usage: quorb [OPTIONS]"),
            (ARGS.host, ["-?"], 0, "Usage: quorb-host [OPTIONS]"),
        ]:
            run(program, *arguments, code=code, says=said)
        help_text = run(ARGS.quorb, "tomidi", "--help").stdout.decode()
        self.assertNotIn("0xC0000000", help_text, "the takes rule belongs to quorb help format")

    def test_the_host_rate_from_the_settings_file(self):
        # A copy of quorb in a folder of its own: no other test sees its settings file.
        own = path(os.path.join("own", os.path.basename(ARGS.quorb)))
        os.makedirs(os.path.dirname(own), exist_ok=True)
        shutil.copy(ARGS.quorb, own)
        ini = os.path.join(os.path.dirname(own), "quorb.ini")
        r48, bad = b"rate = 48000\n", b"rate=48k"
        rows = [  # quorb.ini before (None: none, "": a folder), arguments, exit code, said
            (None, ["info", "a.quorb"], 0, "take 1: 0:07.429"),
            (None, ["set", "rate", "48000"], 0, "rate = 48000 written to"),
            (r48, ["info", "a.quorb"], 0, "take 1: 0:06.825"),
            (r48, ["info", "a.quorb", "--rate", "44100"], 0, "take 1: 0:07.429"),
            (r48, ["dump", "a.quorb"], 0, "6.825000 s"),
            (r48, ["a.quorb"], 0, "48000 clock ticks per second assumed, from the settings file"),
            (b"\xef\xbb\xbf# Notepad's\r\n RATE=22050\r\n", ["info", "a.quorb"], 0, "0:14.857"),
            (bad, ["a.quorb"], 1, 'quorb.ini line 1: rate: "48k" is not a number'),
            (r48 + b"ppq = 480\n", ["view", "a.quorb"], 1, 'line 2: "ppq = 480" is not a set'),
            (bad, ["set", "rate", "48000"], 0, "rate = 48000 written to"),
            (None, ["set", "rate", "44.1"], 2, "rate 44.1 looks like kHz: give 44100"),
            ("", ["set", "rate", "48000"], 1, "move quorb's folder to one of your own"),
        ]
        for before, arguments, code, says in rows:
            with self.subTest(before=before, arguments=arguments):
                if os.path.lexists(ini):
                    shutil.rmtree(ini) if os.path.isdir(ini) else os.remove(ini)
                if before is not None:
                    write(ini, before) if before else os.makedirs(ini)
                listing = sorted(os.listdir(ARGS.work))
                run(own, *arguments, code=code, says=says)
                self.assertTrue(code == 0 or listing == sorted(os.listdir(ARGS.work)))
                if code == 0 and arguments[0] == "set":
                    self.assertIn(b"\nrate = 48000\n", read(ini))
                elif before != "":
                    self.assertEqual(before, read(ini) if os.path.exists(ini) else None)
        shutil.rmtree(os.path.dirname(own))

    def test_one_rule_for_held_notes(self):
        # C4 struck, struck again, let go: two notes, the first ended by the second; none held.
        record = lambda time, word: time.to_bytes(4, "little") + word.to_bytes(4, "little")
        write("restruck.quorb", record(0, 0x403C90) + record(4410, 0x503C90)
              + record(8820, 0x3C80) + record(13230, 0x403E90))  # D4 held to the end
        said = run(ARGS.quorb, "tomidi", "restruck.quorb", "--rate", "44100").text
        self.assertIn("1 note still held", said)
        notes = [(round(t, 3), m.type, m.note) for t, m in messages("restruck.mid")
                 if m.type in ("note_on", "note_off")]
        self.assertEqual([(0, "note_on", 60), (0.1, "note_off", 60), (0.1, "note_on", 60),
                          (0.2, "note_off", 60), (0.3, "note_on", 62), (0.3, "note_off", 62)],
                         notes)
        run(ARGS.quorb, "info", "restruck.quorb", says="restruck: 1 note struck again")
        run(ARGS.quorb, "view", "restruck.quorb", "--rate", "44100")
        with open(path("restruck.html"), encoding="utf-8") as page:
            self.assertEqual(1, page.read().count("still held when the take ended"))

    def test_bad_command_lines_end_in_words_and_touch_nothing(self):
        write("text.mid", b"not MIDI")
        write("empty.quorb", b"")
        rows = [  # program, arguments, exit code, said
            (ARGS.quorb, [], 2, "give .quorb files to convert, or a command"),
            (ARGS.quorb, ["info", "none.quorb"], 1, "none.quorb: cannot open: no such file"),
            (ARGS.quorb, ["info", "empty.quorb"], 0, "records:  0"),
            (ARGS.quorb, ["tomidi", "a.quorb", "bad.mid", "--rate", "0"], 2,
             "--rate must be a number from 1000"),
            (ARGS.quorb, ["tomidi", "a.quorb", "bad.mid", "--recording", "2"], 2,
             "a.quorb holds 1 take;"),
            (ARGS.quorb, ["tomidi", "a.quorb", "none/bad.mid"], 1, "cannot write none/bad.mid"),
            *[(ARGS.quorb, ["tomidi", "a.quorb", "bad.mid", "--meter", meter], 2,
               f"--meter {meter}: give a meter as N/4") for meter in ("2/2", "11/8", "13/4", "4/4/4")],
            (ARGS.quorb, ["view", "a.quorb", "bad.html"], 0, "ticks per second assumed"),
            (ARGS.quorb, ["view", "a.quorb", "a.quorb"], 2, "is the recording being drawn"),
            (ARGS.quorb, ["view", "a.quorb", "phrase.mid"], 2, "is not a picture page"),
            (ARGS.host, ["record", "none.mid", "bad.quorb"], 1, "none.mid: cannot open"),
            (ARGS.host, ["record", "text.mid", "bad.quorb"], 1, "not a Standard MIDI File"),
            (ARGS.host, ["record", "phrase.mid", "none/bad.quorb"], 1, "cannot record into"),
            *[(ARGS.host, ["record", "phrase.mid", "bad.quorb", "--pause", pause], 2, "FROM-TO")
              for pause in ("2-1", "1-", "nan-2")],
            (ARGS.host, ["record", "phrase.mid", "bad.quorb", "--block", "0"], 2,
             "--block must be a whole number from 1"),
            (ARGS.host, ["record", "phrase.mid", "bad.quorb", "--block", "3000000000"], 2,
             "--block must be a whole number from 1"),
            (ARGS.host, ["record", "phrase.mid", "bad.quorb", "--module", "none.so"], 1,
             "none.so"),
            *[(ARGS.host, arguments, 2, "quorb-host --help tells how to use it")
              for arguments in (["record", "phrase.mid"], ["play", "phrase.mid", "bad.quorb"], [])],
        ]
        for program, arguments, code, says in rows:
            with self.subTest(arguments=arguments):
                done = run(program, *arguments, code=code, says=says)
                if code != 0:
                    self.assertTrue(done.stderr, "a failure must say why")
                self.assertFalse(os.path.exists(path("bad.quorb")), "a take was recorded")
                self.assertFalse(os.path.exists(path("bad.mid")), "a MIDI file was written")

    def test_no_take_invented_and_no_file_replaced_unasked(self):
        log = (os.path.join(ARGS.emulator[1], "drive-d", "DIAGNOSE.TXT") if ARGS.emulator
               else path("D:\\DIAGNOSE.TXT"))
        shutil.copy(ARGS.phrase, path("Sonate.mid"))
        song, take = read("Sonate.mid"), read("a.quorb")
        write("Sonate.quorb", take)
        write("torn.quorb", take + b"\x01")
        junk = {"sound.wav": b"RIFF\x24\0\0\0WAVEfmt " + bytes(64), "quorb.exe": b"MZ" + bytes(58) + b"\x40\0\0\0PE\0\0" + bytes(40),
                "mz.quorb": b"MZ\0\0" + take[4:],
                # 59.99959 s at 44100: rounds up to a whole minute
                "minute.quorb": (0).to_bytes(4, "little") + b"\x90\x3c\x40\0"
                + (2645982).to_bytes(4, "little") + b"\x80\x3c\x40\0",
                "song.zip": b"PK\x03\x04" + take, "song.mp3": b"ID3\x04" + take,
                "song.ogg": b"OggS" + take, "song.flac": b"fLaC" + take, "doc.pdf": b"%PDF-1.4",
                "notes.txt": "Käse: take 1\r\n".encode() * 9, "empty.quorb": b"",
                "random.quorb": random.Random(16).randbytes(102400)}
        for name, data in junk.items():
            write(name, data)
        os.makedirs(path("folder"), exist_ok=True)
        said = "no --rate given"
        rows = [  # program, arguments, exit code, said, {file: content afterwards, None: absent}
            (ARGS.quorb, ["Sonate.quorb"], 0, "wrote Sonate (2).mid (Sonate.mid is there",
             {"Sonate.mid": song}),
            (ARGS.quorb, ["tomidi", "Sonate.quorb"], 0, "wrote Sonate (3).mid", {"Sonate.mid": song}),
            (ARGS.quorb, ["Sonate.quorb", "torn.quorb"], 0, "the last 1 byte is not", {}),
            (ARGS.quorb, ["Sonate.quorb", "--split"], 0, "wrote Sonate-1.mid", {}),
            (ARGS.quorb, ["Sonate.quorb", "--split"], 0, "Sonate-1 (2).mid (Sonate-1.mid is", {}),
            (ARGS.quorb, ["tomidi", "Sonate.quorb", "Sonate.mid"], 0, "replaced Sonate.mid", {}),
            (ARGS.quorb, ["tomidi", "Sonate.quorb", "Neu.mid"], 0, "wrote Neu.mid", {}),
            (ARGS.quorb, ["view", "Sonate.quorb", "Sonate.html"], 0, "wrote Sonate.html", {}),
            (ARGS.quorb, ["view", "Sonate.quorb", "Sonate.html"], 0, "replaced Sonate.html", {}),
            (ARGS.quorb, ["Sonate.mid"], 1, "Sonate.mid: a Standard MIDI File, not a record", {}),
            (ARGS.quorb, ["mz.quorb"], 0, "wrote mz.mid", {}),  # a first time of 0x5A4D ticks
            *[(ARGS.quorb, [name], 1, f"{name}: {kind}", {name.rsplit(".", 1)[0] + ".mid": None})
              for name, kind in [("sound.wav", "a WAV sound file"),
                                 ("quorb.exe", "a Windows program or DLL"),
                                 ("song.zip", "a zip archive"), ("song.mp3", "an MP3 sound"),
                                 ("song.ogg", "an Ogg sound"), ("song.flac", "a FLAC sound"),
                                 ("doc.pdf", "a PDF document"), ("notes.txt", "plain text"),
                                 ("random.quorb", "not a recording: only 1"),
                                 ("empty.quorb", "holds no messages: nothing written")]],
            (ARGS.quorb, ["tomidi", "a.quorb", "x.mid", "--rate", "44.1"], 2, "give 44100",
             {"x.mid": None}),
            (ARGS.quorb, ["Info", "a.quorb", "b.quorb"], 2, "quorb: The following argument", {}),
            (ARGS.quorb, ["INFO", "a.quorb"], 0, "take 1: 0:07.", {}),
            (ARGS.quorb, ["info", "minute.quorb"], 0, "take 1: 1:00.000", {}),
            (ARGS.quorb, ["tomidi", "a.quorb", "--take", "0"], 2, "from 1 up, e.g. --take 2", {}),
            (ARGS.quorb, ["tomidi"], 2, "quorb: FILE is required", {}),
            (ARGS.quorb, ["/?"], 0, "quorb help format", {}),
            (ARGS.quorb, ["help", "format"], 0, "0xC0000000", {}),
            (ARGS.host, ["record", "phrase.mid", "Neu.midi"], 2, "ending in .quorb",
             {"Neu.midi": None}),
            (ARGS.host, ["record", "phrase.mid", "folder", "--diagnose"], 1, "a folder, not a", {}),
        ]
        for program, arguments, code, says, files in rows:
            with self.subTest(arguments=arguments):
                done = run(program, *arguments, code=code, says=says)
                name = os.path.basename(program).split(".")[0] + ": "
                for line in done.stderr.decode("utf-8", "replace").splitlines():
                    self.assertTrue(line.startswith(name), line)
                self.assertLessEqual((done.stdout + done.stderr).count(said.encode()), 1)
                if arguments != ["help", "format"]:  # reference, not help: may be longer
                    self.assertLessEqual(len(done.stdout.splitlines()), 30 if code == 0 else 1)
                for name, content in files.items():
                    self.assertEqual(content, read(name) if os.path.exists(path(name)) else None)
        with open(log) as diagnose:
            self.assertIn("err=", diagnose.read().splitlines()[-1])
        with held("held.quorb"):
            run(ARGS.quorb, "info", "held.quorb", code=1, says="being recorded by another program")
        if not ARGS.emulator:  # a console, and a log that cannot be written
            console, other = pty.openpty()
            done = subprocess.run([ARGS.quorb, "tomidi", "a.quorb", "-"], cwd=ARGS.work,
                                  stdout=other, stderr=subprocess.PIPE)
            os.close(console), os.close(other)
            self.assertEqual(2, done.returncode)
            self.assertIn(b"not written to a console", done.stderr)
            os.remove(log)
            os.makedirs(log)
            run(ARGS.host, "record", "phrase.mid", "d.quorb", "--diagnose", says="drive D:")
            os.rmdir(log)


def main():
    global ARGS
    ARGS, rest = program_args("--quorb", "--host", "--holder", "--phrase")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()

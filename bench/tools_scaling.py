#!/usr/bin/python3
"""How the quorb command scales: peak resident memory and time of info, dump and tomidi on
recordings of growing size, up to 2 million records (16 MB); tomidi on an hour of 200,000 notes
at random times and played steadily (the grid's goal: within 2 s), natively and, given the
Windows quorb.exe, under Wine too; and quorb view on a one-hour take of 100,000 notes: its
time, peak memory, bytes of picture per note, and how long rsvg-convert takes to render the
picture (when it is installed).

    tools_scaling.py QUORB [--records 500000,1000000,2000000] [--notes 100000]
                     [--windows QUORB.EXE --wine-run WINE_RUN.SH --wine-state DIR]

Each file is a realistic take: notes with their offs, controllers and pitch bends at times that
grow by up to 20 ms (at 44100 ticks per second), cut into two recordings. Peak memory is the
peak of the command's whole process (its libraries included) as GNU time (/usr/bin/time, Debian's
package "time") reports it: measured from a process of its own, so that this script's memory
does not count.
"""
import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import tempfile
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from picture_page import drawing_of  # noqa: E402

GOAL_BYTES_PER_RECORD = 64
GOAL_PICTURE_BYTES_PER_NOTE = 100


def make_take(path, records, seed=1):
    rng = random.Random(seed)
    now = 0
    out = open(path, "wb")
    for i in range(records):
        if i == records // 2:
            now = 0  # a second recording
        now += rng.randrange(0, 882)
        kind = rng.randrange(4)
        if kind < 2:
            word = (0x90 if kind == 0 else 0x80) | rng.randrange(16) | rng.randrange(128) << 8 \
                | rng.randrange(1, 128) << 16
        elif kind == 2:
            word = 0xB0 | rng.randrange(128) << 8 | rng.randrange(128) << 16
        else:
            word = 0xE0 | rng.randrange(128) << 8 | rng.randrange(128) << 16
        out.write(struct.pack("<II", now & 0xFFFFFFFF, word))
    out.close()


def make_hour(path, notes, seed=1):
    """An hour of playing at 44100 ticks a second: notes of 0.1 to 2 s on 4 channels, the pedal
    every few seconds, a pitch bend now and then."""
    rng = random.Random(seed)
    hour = 3600 * 44100
    events = []
    for _ in range(notes):
        on = rng.randrange(hour - 2 * 44100)
        channel, key = rng.randrange(4), rng.randrange(36, 96)
        events.append((on, 0x90 | channel | key << 8 | rng.randrange(1, 128) << 16))
        events.append((on + rng.randrange(4410, 2 * 44100), 0x80 | channel | key << 8))
    for at in range(0, hour, 4 * 44100):
        events.append((at, 0xB0 | 64 << 8 | 127 << 16))
        events.append((at + 3 * 44100, 0xB0 | 64 << 8))
    for _ in range(notes // 10):
        events.append((rng.randrange(hour), 0xE0 | rng.randrange(128) << 8 | rng.randrange(128) << 16))
    events.sort(key=lambda event: event[0])
    with open(path, "wb") as out:
        out.write(b"".join(struct.pack("<II", at, word) for at, word in events))


def make_steady_hour(path, notes, seed=1):
    """An hour played steadily at 120 BPM: a chord on every sixteenth, the bass on the beat,
    onsets moved by up to 10 ms; as many notes as asked, about."""
    rng = random.Random(seed)
    sixteenths = 3600 * 4 * 2 - 8
    per_chord = max(1, round(notes / sixteenths))
    events = []
    for k in range(sixteenths):
        on = int((1 + k * 0.125 + rng.uniform(-0.01, 0.01)) * 44100)
        beat = k % 4 == 0
        for n in range(per_chord):
            key = 36 if beat and n == 0 else rng.randrange(55, 84)
            velocity = rng.randrange(90, 120) if beat else rng.randrange(40, 70)
            events.append((on, 0x90 | key << 8 | velocity << 16))
            events.append((on + int(0.11 * 44100), 0x80 | key << 8))
    events.sort(key=lambda event: event[0])
    with open(path, "wb") as out:
        out.write(b"".join(struct.pack("<II", at, word) for at, word in events))


def make_lone_notes(path, hours, seed=1):
    """A note every 3 to 4 s for hours on end (a generative patch left running overnight): more
    beats than records, so what the grid holds per beat shows."""
    rng = random.Random(seed)
    events, at = [], 44100
    while at < hours * 3600 * 44100:
        key = rng.randrange(40, 90)
        events.append((at, 0x90 | key << 8 | 90 << 16))
        events.append((at + 22050, 0x80 | key << 8))
        at += int(rng.uniform(3.0, 4.0) * 44100)
    with open(path, "wb") as out:
        out.write(b"".join(struct.pack("<II", at & 0xFFFFFFFF, word) for at, word in events))


def measure(command):
    """Peak resident bytes and wall seconds of a command, its output thrown away."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M", *command],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise SystemExit(f"{command} failed with status {done.returncode}")
        return int(report.read()) * 1024, seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quorb")
    parser.add_argument("--records", default="500000,1000000,2000000")
    parser.add_argument("--notes", type=int, default=100000)
    parser.add_argument("--windows", help="the Windows quorb.exe, timed under Wine as well")
    parser.add_argument("--wine-run", help="the script that runs a Windows program under Wine")
    parser.add_argument("--wine-state", help="its state folder (the Wine prefix)")
    args = parser.parse_args()
    counts = [int(n) for n in args.records.split(",")]
    with tempfile.TemporaryDirectory() as work:
        empty = os.path.join(work, "empty.quorb")
        open(empty, "wb").close()
        base, _ = measure([args.quorb, "info", empty])
        print(f"quorb on an empty file: {base / 2**20:.1f} MiB resident")
        print(f"{'command':8} {'records':>9} {'peak MiB':>9} {'B/record':>9} "
              f"{'above empty':>12} {'seconds':>8} {'ns/record':>10}")
        worst = 0.0
        for n in counts:
            take = os.path.join(work, f"take{n}.quorb")
            make_take(take, n)
            for name, command in [
                ("info", [args.quorb, "info", take]),
                ("dump", [args.quorb, "dump", take, "--rate", "44100"]),
                ("tomidi", [args.quorb, "tomidi", take, os.path.join(work, "take.mid")]),
            ]:
                peak, seconds = measure(command)
                worst = max(worst, peak / n)
                print(f"{name:8} {n:9} {peak / 2**20:9.1f} {peak / n:9.1f} "
                      f"{(peak - base) / n:12.1f} {seconds:8.2f} {seconds / n * 1e9:10.0f}")
            os.remove(take)
        print(f"largest peak per record: {worst:.1f} bytes (goal: at most "
              f"{GOAL_BYTES_PER_RECORD}) - {'met' if worst <= GOAL_BYTES_PER_RECORD else 'NOT met'}")

        # The grid of an hour of playing, found by tomidi: at random times (one pass of the beat
        # tracker) and played steadily (a second pass, held to the player's time). Under Wine
        # the paths are the Windows ones of drive Z: and Wine's start counts in; its peak
        # memory is not the program's alone, so only the time is given.
        for label, maker in (("at random times", make_hour), ("played steadily", make_steady_hour)):
            take, out = os.path.join(work, "grid.quorb"), os.path.join(work, "grid.mid")
            maker(take, 200000)
            records = os.path.getsize(take) // 8
            runs = [("natively", [args.quorb, "tomidi", take, out])]
            if args.windows:
                windows = ["Z:" + p.replace("/", "\\") for p in (take, out)]
                runs.append(("the Windows build under Wine", [args.wine_run, args.wine_state,
                                                               args.windows, "tomidi", *windows]))
            for where, command in runs:
                measured = [measure(command) for _ in range(3)]
                best = min(seconds for _, seconds in measured)
                peak = max(peak for peak, _ in measured)
                memory = f", peak {peak / records:.1f} B/record" if where == "natively" else ""
                print(f"tomidi: an hour of 200,000 notes {label} ({records} records), {where}: "
                      f"{best:.2f} s, best of 3{memory} (goal: the grid within 2 s) - "
                      f"{'met' if best <= 2 else 'NOT met'}")

        # Sparser hours: the grid finder's memory must follow the notes, not the take's length.
        for notes in (100000, 36000):
            take, out = os.path.join(work, "sparse.quorb"), os.path.join(work, "sparse.mid")
            make_hour(take, notes)
            records = os.path.getsize(take) // 8
            peak, seconds = measure([args.quorb, "tomidi", take, out])
            print(f"tomidi: an hour of {notes} notes at random times ({records} records): "
                  f"{seconds:.2f} s, peak {peak / 2**20:.1f} MiB, {peak / records:.1f} B/record, "
                  f"{(peak - base) / records:.1f} above empty")
        take, out = os.path.join(work, "lone.quorb"), os.path.join(work, "lone.mid")
        make_lone_notes(take, 10)
        records = os.path.getsize(take) // 8
        peak, seconds = measure([args.quorb, "tomidi", take, out])
        print(f"tomidi: ten hours of a note every 3.5 s ({records} records): {seconds:.2f} s, "
              f"peak {peak / 2**20:.1f} MiB, {peak / records:.1f} B/record")

        take, picture = os.path.join(work, "hour.quorb"), os.path.join(work, "hour.html")
        make_hour(take, args.notes)
        peak, seconds = measure([args.quorb, "view", take, picture])
        per_note = os.path.getsize(picture) / args.notes
        print(f"view: {args.notes} notes in an hour ({os.path.getsize(take)} bytes): "
              f"{seconds:.2f} s, peak {peak / 2**20:.1f} MiB, picture {os.path.getsize(picture)} "
              f"bytes, {per_note:.1f} bytes a note (goal: under {GOAL_PICTURE_BYTES_PER_NOTE}) - "
              f"{'met' if per_note < GOAL_PICTURE_BYTES_PER_NOTE else 'NOT met'}")
        renderer = shutil.which("rsvg-convert")
        if renderer:
            with open(picture, encoding="utf-8") as page:
                drawing = os.path.join(work, "hour.svg")
                with open(drawing, "w", encoding="utf-8") as f:
                    f.write(drawing_of(page.read()))
            # librsvg renders at most 32767 pixels a side; a long take's page is wider than that.
            with open(drawing, encoding="utf-8") as f:
                width = float(re.search(r'<svg width="([0-9.]+)"', f.read()).group(1))
            zoom = min(1.0, 32000 / width)
            peak, seconds = measure([renderer, "--zoom", f"{zoom:.4f}", drawing, "-o",
                                     os.path.join(work, "hour.png")])
            print(f"rsvg-convert renders it ({width:.0f} px wide, at zoom {zoom:.2f}) in "
                  f"{seconds:.2f} s, peak {peak / 2**20:.1f} MiB")


if __name__ == "__main__":
    main()

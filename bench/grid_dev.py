#!/usr/bin/python3
"""How well the grid lands, measured as a musician gets it: each performance is played through
the module by quorb-host, the take converted by quorb tomidi, and the MIDI file's beats and bar
lines (mido, through its tempo map and time signatures) compared with the annotated ones: the
F-measure within 70 ms. Every message must stay within 1 ms of its recorded time.

    grid_dev.py --quorb Q --host H --maker M [--performances FOLDER] --work DIR

FOLDER holds NAME.mid and NAME_annotations.txt ("seconds <TAB> seconds <TAB> b|db[,...]"); it
is development data, read when it is there. The takes with known grids (make_grid_takes) are
measured the same way, steady and expressive apart.
"""
import argparse
import glob
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from grid_reading import beats_and_bars, f_measure  # noqa: E402



def run(*command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{command}: {done.stdout}{done.stderr}")
    return done.stdout + done.stderr


def measure(quorb, take, beats, bars, work, *options):
    """Beat F, bar F and what quorb said of the grid."""
    said = run(quorb, "tomidi", take, "out.mid", "--rate", "44100", *options, cwd=work)
    found_beats, found_bars, _ = beats_and_bars(os.path.join(work, "out.mid"))
    os.remove(os.path.join(work, "out.mid"))
    line = next((l for l in said.splitlines() if ": take 1: " in l), "").split(": take 1: ")[-1]
    return f_measure(found_beats, beats), f_measure(found_bars, bars), line


def performances(args, work):
    rows = []
    for midi in sorted(glob.glob(os.path.join(args.performances, "*.mid"))):
        name = os.path.basename(midi)[:-4]
        beats, bars = [], []
        with open(os.path.join(args.performances, name + "_annotations.txt")) as f:
            for line in f:
                parts = line.split("\t")
                (bars if parts[2].startswith("db") else beats).append(float(parts[0]))
                if parts[2].startswith("db"):
                    beats.append(float(parts[0]))
        take = os.path.join(work, "take.quorb")
        if os.path.exists(take):
            os.remove(take)
        run(args.host, "record", midi, take, cwd=work)
        # The take's time 0 is the first block; the performance's second 0 is the file's.
        beat_f, bar_f, line = measure(args.quorb, take, sorted(beats), sorted(bars), work)
        plain = measure(args.quorb, take, sorted(beats), sorted(bars), work, "--plain")
        rows.append((name, beat_f, bar_f, line, plain[0], plain[1]))
    return rows


def main():
    parser = argparse.ArgumentParser()
    for option in ("--quorb", "--host", "--maker", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--performances", default="")
    args = parser.parse_args()
    # The programs run inside the work folder, so their paths must not be relative to here.
    args.quorb, args.host, args.maker = map(os.path.abspath, (args.quorb, args.host, args.maker))
    work = os.path.abspath(args.work)
    args.performances = os.path.abspath(args.performances) if args.performances else ""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    run(args.maker, ".", cwd=work)
    steady, moving = [], []
    for grid in sorted(glob.glob(os.path.join(work, "*.grid"))):
        name = os.path.basename(grid)[:-5]
        with open(grid) as f:
            lines = [line.split() for line in f]
        beats = [float(v) for kind, v in lines[1:] if kind == "b"]
        bars = [float(v) for kind, v in lines[1:] if kind == "db"]
        beat_f, bar_f, line = measure(args.quorb, name + ".quorb", beats, bars, work)
        (steady if lines[0][3] == lines[0][4] else moving).append((name, beat_f, bar_f, line))
    for what, rows in (("steady takes", steady), ("accelerando and ritardando", moving)):
        print(f"{what}: beat F {statistics.mean(r[1] for r in rows):.3f}, "
              f"bar F {statistics.mean(r[2] for r in rows):.3f} over {len(rows)}")
        for name, beat_f, bar_f, line in rows:
            print(f"  {name:34} {beat_f:.3f} {bar_f:.3f}  {line}")
    if not args.performances or not os.path.isdir(args.performances):
        print("grid-dev not found: human performances skipped")
        return 0
    rows = performances(args, work)
    print(f"human performances ({len(rows)}, expressive): "
          f"beat F {statistics.mean(r[1] for r in rows):.3f}, "
          f"bar F {statistics.mean(r[2] for r in rows):.3f}; "
          f"{sum(r[1] >= 0.8 for r in rows)} at beat F 0.8 or more, "
          f"{sum(r[2] >= 0.6 for r in rows)} at bar F 0.6 or more")
    print(f"  the same with --plain (a constant 120 BPM in 4/4): "
          f"beat F {statistics.mean(r[4] for r in rows):.3f}, "
          f"bar F {statistics.mean(r[5] for r in rows):.3f}")
    for name, beat_f, bar_f, line, _, _ in rows:
        print(f"  {name[:44]:44} {beat_f:.3f} {bar_f:.3f}  {line}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

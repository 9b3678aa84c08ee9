#!/usr/bin/python3
"""quorb view as a user sees it: the built quorb draws known takes, rsvg-convert renders the
drawing of the page (or headless Chromium shows the page), and pixels at known places must have
the colours of what was played there, of the legend, and of a long take's sixteenths.

    view_test.py --quorb Q --rsvg RSVG_CONVERT [--emulator 'CMD|ARG'] --work DIR
    view_test.py --quorb Q --rsvg R --chromium=CHROMIUM --work DIR  # 77: CHROMIUM is NOTFOUND
"""
import os
import pathlib
import struct
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
from picture_page import drawing_of  # noqa: E402
from program_args import program_args, run_program  # noqa: E402

# The layout of tools/view/piano_roll.h, in pixels.
LEFT, ROLL_FIT, MAX_PER_SECOND, MIN_PER_SECOND, ROW = 48, 1120, 200, 50, 6
TITLE, LEGEND, HEADING, GAP, PEDAL, AXIS, AFTER = 30, 22, 26, 4, 8, 14, 18
LEGEND_MIDDLE, LEGEND_CHANNELS, SWATCH_STEP = TITLE + 8, 110, 30
LEGEND_GAP, VELOCITY_ITEM, HELD_ITEM = 16, 230, 150
CHANNEL = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
           "#bcbd22", "#17becf", "#393b79", "#637939", "#8c6d31", "#843c39", "#7b4173", "#00a087"]
WHITE, DAMAGE, PAUSE = "#ffffff", "#e00000", "#000000"
RATE = 1000  # ticks a second: times below are in milliseconds


def rec(ms, status, a=0, b=0):
    return struct.pack("<II", ms, status | a << 8 | b << 16)


# Take 1, 10 s: two notes, the pedal down from 1 s to 4 s, a note still held at the end, and a
# record stamped as a pause ended (9000 before 5500), which stands ahead and is placed at 5.5 s.
TAKE1 = b"".join([
    rec(0, 0xB0, 7, 100), rec(1000, 0x90, 60, 127), rec(1000, 0xB0, 64, 127),
    rec(2000, 0x99, 64, 120), rec(3000, 0x80, 60), rec(4000, 0x89, 64), rec(4000, 0xB0, 64, 0),
    rec(5000, 0xB0, 7, 90), rec(9000, 0xB0, 7, 80), rec(5500, 0xB0, 7, 70),
    rec(6000, 0x91, 67, 127), rec(10000, 0xB0, 7, 100)])
# Take 2, 4 s, with 3 stray bytes after its first second: a damage mark at 1 s.
TAKE2 = [rec(0, 0x90, 60, 127), rec(1000, 0x80, 60)] + [rec(1000 + 100 * i, 0xB0, 7, i)
                                                       for i in range(31)]
ODD_FILES = [  # what, bytes, --rate: each drawn quickly into a picture of at most 2 MiB
    ("a clock of ages at the lowest rate", rec(0, 0x90, 60, 9) + rec(0xFFFFFFF0, 0x80, 60), "1000"),
    ("a take every 3 records", b"".join(rec(t, 0x90, 60, 9) for _ in range(1500) for t in (0, 5, 9)), "1000"),
]
FILE = TAKE1 + b"".join(TAKE2[:3]) + b"\x01\x02\x03" + b"".join(TAKE2[3:])
# A minute: a note, then at 50 s a bar of sixteenths at 120 beats a minute, C4 and D4 in turn.
SIXTEENTHS = [(50 + k / 8, 60 + 2 * (k % 2)) for k in range(16)]
LONG = b"".join([rec(0, 0x90, 60, 100), rec(500, 0x80, 60),
                 *[rec(round(s * 1000), 0x90, key, 100) + rec(round(s * 1000) + 100, 0x80, key)
                   for s, key in SIXTEENTHS], rec(60000, 0xB0, 7, 1)])


def take_geometry(seconds, top):
    """x of a second, y of a key's row middle, y of the pedal band, and the section's end, for a
    take without bends whose notes lie from C4 to B4."""
    per_second = min(MAX_PER_SECOND, max(MIN_PER_SECOND, ROLL_FIT / seconds))
    roll = top + HEADING
    pedal = roll + 12 * ROW + GAP
    return (lambda s: LEFT + s * per_second, lambda key: roll + (71 - key) * ROW + ROW // 2,
            pedal + PEDAL // 2, pedal + PEDAL + AXIS + AFTER)


X1, Y1, PEDAL1, END1 = take_geometry(10, TITLE + LEGEND)
X2, Y2, _, _ = take_geometry(4, END1)
VELOCITY = LEGEND_CHANNELS + 3 * SWATCH_STEP + LEGEND_GAP  # after channels 1, 2 and 10
CASES = [(f"legend: channel {c}", LEGEND_CHANNELS + i * SWATCH_STEP + 6, LEGEND_MIDDLE,
          CHANNEL[c - 1]) for i, c in enumerate([1, 2, 10])] + [  # what, x, y, colour
    ("legend: the hardest velocity", VELOCITY + 48, LEGEND_MIDDLE, CHANNEL[0]),
    ("legend: damage", VELOCITY + VELOCITY_ITEM + HELD_ITEM + 1, LEGEND_MIDDLE - 3, DAMAGE),
    ("note on channel 1", X1(2), Y1(60), CHANNEL[0]),
    ("note on channel 10", X1(3), Y1(64), CHANNEL[9]),
    ("no note: background", X1(8.25), Y1(62), WHITE),
    ("after a note's end", X1(3.25), Y1(60), WHITE),
    ("pedal down", X1(2.5), PEDAL1, CHANNEL[0]),
    ("pedal up", X1(4.75), PEDAL1, "#f4f4f4"),
    ("a hanging note reaches the end", X1(9.75), Y1(67), CHANNEL[1]),
    ("a hanging note is marked", X1(10) + 1.5, Y1(67), "#000000"),
    ("a pause end is marked", X1(5.5) - 0.5, [Y1(k) for k in range(62, 72)], PAUSE),
    ("damage is marked", X2(1) - 0.5, [Y2(k) for k in range(62, 72)], DAMAGE),
    ("take 2's note", X2(0.5), Y2(60), CHANNEL[0]),
]
XL, YL, _, _ = take_geometry(60, TITLE + LEGEND)
LONG_CASES = [case for k, (s, key) in enumerate(SIXTEENTHS) for case in [
    (f"sixteenth {k + 1}", XL(s + 0.05), YL(key), CHANNEL[0]),
    (f"no other key under sixteenth {k + 1}", XL(s + 0.05), YL(122 - key), WHITE)]]


def png_pixels(data):
    """Rows of "#rrggbb" of an 8-bit RGB or RGBA PNG, as rsvg-convert writes it."""
    width, height = struct.unpack(">II", data[16:24])
    assert data[24] == 8 and data[25] in (2, 6) and data[28] == 0, "not 8-bit RGB(A), not interlaced"
    n = 3 if data[25] == 2 else 4
    chunks, at = b"", 8
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            chunks += data[at + 8:at + 8 + size]
        at += 12 + size
    raw, stride, rows, prior = zlib.decompress(chunks), width * n, [], bytearray(width * n)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b, c = prior[i], prior[i - n] if i >= n else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(["#%02x%02x%02x" % tuple(line[i:i + 3]) for i in range(0, stride, n)])
        prior = line
    return rows


def run(command, work):
    return run_program(command, work).text


def pixels_of(args, name):
    """NAME.html as the renderer shows it: rows of "#rrggbb", and where the drawing starts."""
    png = os.path.join(args.work, name + ".png")
    if args.chromium:  # the page itself in a browser engine, the drawing inside the body's margin
        with tempfile.TemporaryDirectory() as profile:
            run_program([args.chromium, "--headless", "--no-sandbox", "--disable-gpu",
                         "--no-first-run", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                         "--force-device-scale-factor=1", f"--user-data-dir={profile}",
                         f"--screenshot={png}", "--window-size=3200,900",
                         pathlib.Path(args.work, name + ".html").as_uri()], args.work)
    else:
        with open(os.path.join(args.work, name + ".html"), encoding="utf-8") as page:
            drawing = drawing_of(page.read())
        with open(os.path.join(args.work, name + ".svg"), "w", encoding="utf-8") as f:
            f.write(drawing)
        run([args.rsvg, name + ".svg", "-o", png], args.work)
    with open(png, "rb") as f:
        return png_pixels(f.read()), 8 if args.chromium else 0


def main():
    args, rest = program_args("--quorb", "--rsvg")
    args.chromium = rest[0].split("=", 1)[1] if rest else ""  # --chromium=PATH
    if args.chromium.endswith("NOTFOUND"):
        print("skipped: no Chromium found (tools/install-deps.sh installs Debian's chromium)")
        return 77
    emulator = args.emulator
    for what, data, rate in ODD_FILES:
        with open(os.path.join(args.work, "odd.quorb"), "wb") as f:
            f.write(data)
        run([*emulator, args.quorb, "view", "odd.quorb", "odd.html", "--rate", rate], args.work)
        assert os.path.getsize(os.path.join(args.work, "odd.html")) < 2 * 2**20, what
    with open(os.path.join(args.work, "evening & night.quorb"), "wb") as f:
        f.write(FILE)
    said = run([*emulator, args.quorb, "view", "evening & night.quorb", "evening.html", "--rate",
                str(RATE)], args.work)
    assert "wrote evening.html: 2 takes, 4 notes" in said, said
    assert "3 damaged bytes skipped in 1 place" in said, said
    # Like the MIDI files: an implied picture never replaces a file.
    for wrote in ("evening & night.html", "evening & night (2).html"):
        said = run([*emulator, args.quorb, "view", "evening & night.quorb"], args.work)
        assert f"wrote {wrote}" in said, said
    with open(os.path.join(args.work, "long.quorb"), "wb") as f:
        f.write(LONG)
    run([*emulator, args.quorb, "view", "long.quorb", "--rate", str(RATE)], args.work)
    failed = []
    for name, cases in (("evening", CASES), ("long", LONG_CASES)):
        pixels, at = pixels_of(args, name)
        for what, x, ys, colour in cases:
            ys = ys if isinstance(ys, list) else [ys]
            seen = [pixels[int(y) + at][int(x) + at] for y in ys]
            if colour not in seen:
                failed.append(f"{what}: {colour} wanted at x {int(x)}, y {ys}; "
                              f"seen {sorted(set(seen))}")
    print("\n".join(failed) or f"{len(CASES) + len(LONG_CASES)} places have their colours")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

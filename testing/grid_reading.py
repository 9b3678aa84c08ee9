"""A MIDI file's grid as a DAW shows it, and the measure a grid is judged by: what the grid test
and make bench-grid share."""
import mido

TOLERANCE = 0.07  # seconds: a beat within it of a true one counts, as beat tracking is measured


def f_measure(found, truth):
    """A found time is a hit within TOLERANCE of a truth time not matched yet; found times
    outside the truth's span (widened by TOLERANCE) do not count."""
    if not truth:
        return 1.0
    truth = sorted(truth)
    low, high = truth[0] - TOLERANCE, truth[-1] + TOLERANCE
    found = [t for t in found if low <= t <= high]
    unmatched, hits = list(truth), 0
    for t in found:
        best = min(unmatched, key=lambda u: abs(u - t), default=None)
        if best is not None and abs(best - t) <= TOLERANCE:
            unmatched.remove(best)
            hits += 1
    return 0.0 if hits == 0 else 2 * hits / (len(found) + len(truth))


def beats_and_bars(path):
    """A MIDI file's beats and bar lines in seconds, through its tempo map, as its time
    signatures place them: the counted beat is the quarter in x/4, the half in x/2 and the dotted
    quarter in 6/8, 9/8 and 12/8, the eighth throughout a file in 5/8 or 7/8 (where a bar of 6/8
    is one a beat short); in any other signature (a short bar of 3/16, say) the beat of the file's
    main meter goes on from the bar's start. Each signature starts a bar."""
    midi = mido.MidiFile(path)
    ppq = midi.ticks_per_beat
    tempos, meters, end = {}, {}, 0
    for track in midi.tracks:
        tick = 0
        for message in track:
            tick += message.time
            end = max(end, tick)
            if message.type == "set_tempo":
                tempos[tick] = message.tempo
            elif message.type == "time_signature":
                meters[tick] = (message.numerator, message.denominator)
    points = sorted(tempos.items()) or [(0, 500000)]
    if points[0][0] != 0:
        points.insert(0, (0, 500000))

    def seconds(tick):
        at, last_tick, last_tempo = 0.0, 0, points[0][1]
        for point, tempo in points[1:]:
            if point >= tick:
                break
            at += (point - last_tick) * last_tempo / ppq / 1e6
            last_tick, last_tempo = point, tempo
        return at + (tick - last_tick) * last_tempo / ppq / 1e6

    def unit(numerator, denominator, main=False):
        if denominator == 2 or denominator == 4:
            return ppq * 4 // denominator
        if denominator == 8 and numerator % 3 == 0 and numerator > 3:
            return ppq * 3 // 2
        if main and denominator == 8 and numerator in (5, 7):
            return ppq // 2
        return None

    segments = sorted(meters.items()) or [(0, (4, 4))]
    lengths = {}
    for i, (start, meter) in enumerate(segments):
        stop = segments[i + 1][0] if i + 1 < len(segments) else end
        lengths[meter] = lengths.get(meter, 0) + stop - start
    main = max((m for m in lengths if unit(*m, main=True)), key=lambda m: lengths[m],
               default=(4, 4))
    counted = unit(*main, main=True)
    eighths = main[1] == 8 and counted == ppq // 2
    beats, bars = [], []
    for i, (start, (numerator, denominator)) in enumerate(segments):
        stop = segments[i + 1][0] if i + 1 < len(segments) else end + 1
        step = counted if eighths else unit(numerator, denominator) or counted
        bar = ppq * 4 * numerator // denominator
        tick = start
        while tick < stop:
            bars.append(seconds(tick))
            beat = tick
            while beat < min(tick + bar, stop):
                beats.append(seconds(beat))
                beat += step
            tick += bar
    return beats, bars, main

#!/usr/bin/python3
"""Writes phrase.mid, the short phrase `make demo` records: two tracks (type 1), a tempo change
half-way, notes, a program change, controllers and a pitch bend. Run it to make the file anew:
    /usr/bin/python3 tools/demo/make_phrase.py tools/demo/phrase.mid
"""
import sys

import mido

PPQ = 480


def main(path):
    song = mido.MidiFile(type=1, ticks_per_beat=PPQ)
    tempo = mido.MidiTrack()
    tempo.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(120), time=0))
    # From bar 3 on, a little faster: the stand-in host must follow tempo changes.
    tempo.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(140), time=8 * PPQ))
    song.tracks.append(tempo)

    melody = mido.MidiTrack()
    melody.append(mido.Message("program_change", channel=0, program=4, time=0))
    melody.append(mido.Message("control_change", channel=0, control=7, value=100, time=0))
    notes = [60, 62, 64, 65, 67, 65, 64, 62, 60, 64, 67, 72, 67, 64, 60, 55]
    for i, note in enumerate(notes):
        melody.append(mido.Message("note_on", channel=0, note=note, velocity=64 + i, time=0))
        if i == 10:
            melody.append(mido.Message("pitchwheel", channel=0, pitch=2048, time=PPQ // 2))
            melody.append(mido.Message("note_off", channel=0, note=note, velocity=0,
                                       time=PPQ // 2 - 20))
        else:
            melody.append(mido.Message("note_off", channel=0, note=note, velocity=0,
                                       time=PPQ - 20))
        melody.append(mido.Message("control_change", channel=0, control=1, value=i * 8,
                                   time=20))
    song.tracks.append(melody)

    bass = mido.MidiTrack()
    for note in [36, 43, 41, 36]:
        bass.append(mido.Message("note_on", channel=1, note=note, velocity=90, time=0))
        bass.append(mido.Message("note_on", channel=1, note=note, velocity=0, time=4 * PPQ))
    song.tracks.append(bass)
    song.save(path)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "phrase.mid")

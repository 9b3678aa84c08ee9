#!/usr/bin/python3
"""Writes the fuzzer's seed corpus: the end-to-end tests' scenarios in the fuzzer's input
language (see contract_fuzzer.cpp). Run from anywhere: python3 tests/fuzz/make_corpus.py"""
import os
import struct

CREATE, OPEN, CLOSE, DISPATCH, STATUS, MIDI, BLOCK, REC, SWITCH, CHOOSE, CLOCK, EVENT = range(12)


def act(action, obj, fmt="", *args):
    return bytes([action, obj]) + (struct.pack("<" + fmt, *args) if fmt else b"")


def create(obj, pins=4): return act(CREATE, obj, "B", pins)
def choose(obj, file): return act(CHOOSE, obj, "B", file)
def rec(obj, value): return act(REC, obj, "h", value)
def block(obj): return act(BLOCK, obj)
def midi(obj, word): return act(MIDI, obj, "I", word)
def clock(obj, ticks): return act(CLOCK, obj, "I", ticks)


SEEDS = {
    "one-message": [create(0), act(OPEN, 0), rec(0, 1), choose(0, 0), block(0), clock(0, 480),
                    midi(0, 0x00403C90), act(CLOSE, 0)],
    "pause": [create(0), act(OPEN, 0), rec(0, 1), choose(0, 0), block(0), clock(0, 100),
              midi(0, 0x90), rec(0, 0), block(0), clock(0, 500), midi(0, 0x91), block(0),
              rec(0, 1), midi(0, 0x92), block(0), clock(0, 7), midi(0, 0x93)],
    "system-messages": [create(1), act(OPEN, 1), rec(1, 1), choose(1, 1), block(1),
                        midi(1, 0xF8), midi(1, 0xF0), midi(1, 0xE0), midi(1, 0x7F)],
    "two-objects-one-file": [create(0), create(1), act(OPEN, 0), act(OPEN, 1), rec(0, 1),
                             rec(1, 1), act(SWITCH, 1, "B", 1), choose(0, 2), choose(1, 2),
                             block(0), block(1), midi(0, 0x90), midi(1, 0x91), act(CLOSE, 0),
                             choose(1, 2), block(1), midi(1, 0x92)],
    "reselect-and-reopen": [create(2), act(OPEN, 2), rec(2, 1), choose(2, 3), block(2),
                            midi(2, 0x90), choose(2, 3), midi(2, 0x91), block(2),
                            act(OPEN, 2), midi(2, 0x92), choose(2, 3), block(2),
                            midi(2, 0x93)],
    "bad-files": [create(3), act(OPEN, 3), rec(3, 1), act(SWITCH, 3, "B", 1), choose(3, 4),
                  midi(3, 0x90), choose(3, 5), choose(3, 7), choose(3, 6), block(3),
                  midi(3, 0x90), choose(3, 0), block(3), midi(3, 0x94)],
    "few-pins": [create(0, 2), act(OPEN, 0), rec(0, 1), choose(0, 0), block(0), midi(0, 0x90),
                 act(STATUS, 0, "ii", 2, 1)],
    "hostile-dispatch": [create(1), act(DISPATCH, 1, "iiiB", 6, 2, 0, 1),
                         act(DISPATCH, 1, "iiiB", 13, 0, 0, 0),
                         act(DISPATCH, 1, "iiiB", 6, -1, 0, 1),
                         act(DISPATCH, 1, "iiiB", 0, 0, 0, 0), act(STATUS, 1, "ii", 99, 1),
                         act(STATUS, 1, "ii", -1, 1), act(EVENT, 1, "iiI", 21, 0, 0),
                         act(EVENT, 1, "iiI", 7, 5, 5), act(DISPATCH, 1, "iiiB", 1, 0, 0, 0)],
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, actions in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"".join(actions))


if __name__ == "__main__":
    main()

"""The independent reading of Standard MIDI Files that the round trip, the tools' test and the
release check compare against: mido's (Debian's python3-mido), not the project's own reader."""
import mido


def channel_messages(path):
    """(seconds, message) for every channel message of a file, tempo map applied by mido."""
    out, now = [], 0.0
    for message in mido.MidiFile(path):  # merged tracks, delta times in seconds
        now += message.time
        if not message.is_meta and message.type != "sysex":
            out.append((now, message.copy(time=0)))
    return out


#!/usr/bin/python3
"""Writes etude.mid beside this script: a short study in A minor for examples/etude.toml.

Format 1 with three tracks: the tempo map (96 beats a minute, a slowing down over the last two
bars), a "melody" on channel 1 and "chords" on channel 2 played with the sustain pedal. Needs
Debian's python3-mido. The file is committed; run this again only to change the piece.
"""
from pathlib import Path

import mido

TICKS = 480  # per quarter note


def bpm(beats):
    return mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(beats))


def track(name, events):
    """A track from (tick, message) pairs in any order."""
    result = mido.MidiTrack([mido.MetaMessage("track_name", name=name)])
    now = 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        result.append(message.copy(time=tick - now))
        now = tick
    result.append(mido.MetaMessage("end_of_track", time=TICKS))
    return result


def notes(channel, phrase, velocity):
    """(tick, message) pairs for (key, start beat, length in beats) notes."""
    events = []
    for i, (key, start, length) in enumerate(phrase):
        accent = velocity + (12 if start % 4 == 0 else 0) - 4 * (i % 2)
        events.append((round(start * TICKS),
                       mido.Message("note_on", channel=channel, note=key, velocity=accent)))
        events.append((round((start + length) * TICKS),
                       mido.Message("note_off", channel=channel, note=key, velocity=64)))
    return events


MELODY = [
    (69, 0, 1), (72, 1, 1), (76, 2, 1.5), (74, 3.5, 0.5),
    (72, 4, 1), (71, 5, 0.5), (72, 5.5, 0.5), (74, 6, 2),
    (76, 8, 1), (77, 9, 1), (79, 10, 1.5), (77, 11.5, 0.5),
    (76, 12, 1), (74, 13, 1), (71, 14, 2),
    (72, 16, 0.5), (74, 16.5, 0.5), (76, 17, 1), (72, 18, 1), (71, 19, 1),
    (69, 20, 4),
]
CHORDS = [  # keys, start beat, length
    ((45, 57, 60, 64), 0), ((41, 57, 60, 65), 4), ((48, 55, 60, 64), 8), ((43, 55, 59, 62), 12),
    ((45, 57, 60, 64), 16), ((40, 56, 59, 64), 18), ((45, 57, 60, 64), 20),
]


def main():
    tempo = [(0, bpm(96)), (16 * TICKS, bpm(88)), (18 * TICKS, bpm(76)), (20 * TICKS, bpm(60))]
    chords = []
    for keys, start in CHORDS:
        chords += notes(1, [(key, start, 1.5) for key in keys], 58)
        chords.append((start * TICKS + 10, mido.Message("control_change", channel=1, control=64,
                                                        value=127)))
        chords.append(((start + 2) * TICKS - 10,
                       mido.Message("control_change", channel=1, control=64, value=0)))
    song = mido.MidiFile(type=1, ticks_per_beat=TICKS)
    song.tracks += [track("tempo", tempo), track("melody", notes(0, MELODY, 84)),
                    track("chords", chords)]
    song.save(Path(__file__).with_name("etude.mid"))


if __name__ == "__main__":
    main()

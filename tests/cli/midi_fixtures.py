#!/usr/bin/python3
"""Writes the MIDI files of the renderer's tests into the directory given as argument.

The files are written with mido, a writer independent of the renderer's reader. Each well-formed
file NAME.mid comes with NAME.notes: the notes it is meant to play, one a line as
"start end key velocity channel track", start and end in samples at 48 kHz, computed here with
exact fractions from the ticks, the tempo map and the note rules (velocity-0 note-on ends a note,
the oldest of several notes of one key ends first, the sustain pedal holds note ends, all notes
off ends every note, notes held at the end of the file end there). Notes are listed by start.

malformed.tsv lists the damaged files: "name<TAB>byte offset<TAB>part of the error message".
"""
import struct
import sys
from fractions import Fraction
from pathlib import Path

import mido

RATE = 48000


def sample(seconds):
    """The sample a time falls on; the files avoid times halfway between two samples."""
    position = seconds * RATE
    assert position.denominator == 1 or (position - int(position)) != Fraction(1, 2), seconds
    return round(position)


class Song:
    """A file built from absolute-tick events per track, with its expected notes."""

    def __init__(self, ticks_per_beat=480, file_type=1):
        self.ticks_per_beat = ticks_per_beat
        self.type = file_type
        self.tracks = []  # lists of (tick, order, message)
        self.tempos = []  # (tick, microseconds per quarter note)

    def track(self, name=None):
        self.tracks.append([])
        if name is not None:
            self.add(len(self.tracks) - 1, 0, mido.MetaMessage("track_name", name=name))
        return len(self.tracks) - 1

    def add(self, track, tick, message):
        self.tracks[track].append((tick, len(self.tracks[track]), message))
        if message.type == "set_tempo":
            self.tempos.append((tick, message.tempo))

    def seconds(self, tick):
        """Ticks to seconds through the tempo map, exactly."""
        seconds, at, tempo = Fraction(0), 0, 500000
        for change, micros in sorted(self.tempos, key=lambda t: t[0]):
            if change > tick:
                break
            seconds += Fraction((change - at) * tempo, 10**6 * self.ticks_per_beat)
            at, tempo = change, micros
        return seconds + Fraction((tick - at) * tempo, 10**6 * self.ticks_per_beat)

    def save(self, path, end_ticks=None):
        midi = mido.MidiFile(type=self.type, ticks_per_beat=self.ticks_per_beat)
        for index, events in enumerate(self.tracks):
            track = mido.MidiTrack()
            now = 0
            for tick, _, message in sorted(events, key=lambda e: (e[0], e[1])):
                track.append(message.copy(time=tick - now))
                now = tick
            end = (end_ticks or {}).get(index, now)
            track.append(mido.MetaMessage("end_of_track", time=end - now))
            midi.tracks.append(track)
        midi.save(path)


def write_notes(path, notes):
    with open(path, "w") as out:
        for note in sorted(notes, key=lambda n: n[0]):
            out.write(" ".join(str(v) for v in note) + "\n")


def on(channel, key, velocity):
    return mido.Message("note_on", channel=channel, note=key, velocity=velocity)


def off(channel, key, velocity=64):
    return mido.Message("note_off", channel=channel, note=key, velocity=velocity)


def control(channel, number, value):
    return mido.Message("control_change", channel=channel, control=number, value=value)


def tempo_song(out):
    """Format 1: a tempo track with three tempo changes, two note tracks on different channels,
    running status (mido writes it for repeated statuses), velocity-0 note-ons as note-offs and
    two overlapping notes of one key."""
    song = Song(ticks_per_beat=480)
    tempo = song.track("tempo")
    song.add(tempo, 0, mido.MetaMessage("set_tempo", tempo=500000))
    song.add(tempo, 960, mido.MetaMessage("set_tempo", tempo=400000))
    song.add(tempo, 1440, mido.MetaMessage("set_tempo", tempo=750000))
    song.add(tempo, 2400, mido.MetaMessage("set_tempo", tempo=250000))
    lead = song.track("lead")
    bass = song.track("bass")
    # (track, channel, key, velocity, start tick, end tick, ended by a velocity-0 note-on)
    plan = [
        (lead, 0, 60, 100, 0, 480, True),
        (lead, 0, 64, 90, 480, 1200, True),
        (lead, 0, 67, 80, 1300, 2500, False),
        (lead, 0, 72, 127, 2500, 2900, True),
        (bass, 1, 36, 70, 0, 1440, False),
        (bass, 1, 43, 60, 1500, 3000, True),
    ]
    for track, channel, key, velocity, start, end, zero in plan:
        song.add(track, start, on(channel, key, velocity))
        song.add(track, end, on(channel, key, 0) if zero else off(channel, key))
    notes = [(sample(song.seconds(s)), sample(song.seconds(e)), k, v, c + 1, t + 1)
             for t, c, k, v, s, e, _ in plan]
    # Two notes of one key at once: the first note-off ends the older one.
    song.add(bass, 3100, on(1, 40, 50))
    song.add(bass, 3200, on(1, 40, 55))
    song.add(bass, 3300, off(1, 40))
    song.add(bass, 3500, off(1, 40))
    notes += [(sample(song.seconds(3100)), sample(song.seconds(3300)), 40, 50, 2, bass + 1),
              (sample(song.seconds(3200)), sample(song.seconds(3500)), 40, 55, 2, bass + 1)]
    song.save(out / "tempo.mid")
    write_notes(out / "tempo.notes", notes)


def smpte_song(out):
    """SMPTE time, 25 frames a second of 40 ticks: 1000 ticks a second whatever the tempo says.
    mido writes quarter-note files only, so the division is set in the written header."""
    song = Song(ticks_per_beat=96, file_type=0)
    track = song.track()
    song.add(track, 0, mido.MetaMessage("set_tempo", tempo=1000000))  # no effect on SMPTE time
    plan = [(62, 100, 250, 1250), (65, 40, 500, 2000), (69, 127, 1999, 2003)]
    for key, velocity, start, end in plan:
        song.add(track, start, on(3, key, velocity))
        song.add(track, end, off(3, key))
    song.save(out / "smpte.mid")
    data = bytearray((out / "smpte.mid").read_bytes())
    data[12:14] = bytes([256 - 25, 40])
    (out / "smpte.mid").write_bytes(bytes(data))
    write_notes(out / "smpte.notes",
                [(sample(Fraction(s, 1000)), sample(Fraction(e, 1000)), k, v, 4, 1)
                 for k, v, s, e in plan])


def pedal_song(out):
    """Format 0 with a tempo change: the sustain pedal holds note ends until it is lifted, all
    notes off (CC 123) ends the notes it finds, respecting the pedal, all sound off (CC 120) ends
    the notes of its channel, and notes still held at the end of the file end there, at the end
    of the track (later than its last note)."""
    song = Song(ticks_per_beat=100, file_type=0)
    track = song.track("pedal")
    song.add(track, 0, mido.MetaMessage("set_tempo", tempo=600000))
    song.add(track, 300, mido.MetaMessage("set_tempo", tempo=300000))
    s = song.seconds
    events = [
        (0, on(0, 60, 100)), (50, control(0, 64, 127)), (100, off(0, 60)),  # held by the pedal
        (120, on(0, 62, 90)), (150, off(0, 62)),                            # held too
        (200, control(0, 64, 0)),                                           # both end here
        (250, on(0, 64, 80)), (300, control(0, 123, 0)),                    # ended by CC 123
        (320, on(0, 65, 70)), (330, control(0, 64, 100)),
        (340, control(0, 123, 0)),                                          # held by the pedal
        (360, control(0, 64, 0)),                                           # 65 ends here
        (400, on(0, 67, 60)),                                               # never released
        (420, on(1, 48, 50)), (430, on(1, 50, 40)),
        (440, control(1, 120, 0)),                                          # both end here
    ]
    for tick, message in events:
        song.add(track, tick, message)
    song.save(out / "pedal.mid", end_ticks={0: 500})
    write_notes(out / "pedal.notes", [
        (sample(s(0)), sample(s(200)), 60, 100, 1, 1),
        (sample(s(120)), sample(s(200)), 62, 90, 1, 1),
        (sample(s(250)), sample(s(300)), 64, 80, 1, 1),
        (sample(s(320)), sample(s(360)), 65, 70, 1, 1),
        (sample(s(400)), sample(s(500)), 67, 60, 1, 1),
        (sample(s(420)), sample(s(440)), 48, 50, 2, 1),
        (sample(s(430)), sample(s(440)), 50, 40, 2, 1),
    ])


def ignored_song(out):
    """Messages no module can follow beside two notes: three pitch bends, two program changes,
    two other controllers, one channel pressure, one poly pressure and one system-exclusive."""
    song = Song(ticks_per_beat=480)
    track = song.track("odd")
    for tick, message in [
        (0, mido.Message("program_change", program=5)),
        (0, on(0, 60, 100)),
        (10, mido.Message("pitchwheel", pitch=100)),
        (20, mido.Message("pitchwheel", pitch=200)),
        (30, mido.Message("pitchwheel", pitch=0)),
        (40, control(0, 1, 64)),
        (50, control(0, 7, 100)),
        (60, mido.Message("aftertouch", value=30)),
        (70, mido.Message("polytouch", note=60, value=20)),
        (80, mido.Message("sysex", data=[0x7e, 0x7f, 0x09, 0x01])),
        (90, mido.Message("program_change", program=6)),
        (480, off(0, 60)),
        (480, on(0, 62, 100)),
        (960, off(0, 62)),
    ]:
        song.add(track, tick, message)
    song.save(out / "ignored.mid")
    s = song.seconds
    write_notes(out / "ignored.notes", [(0, sample(s(480)), 60, 100, 1, 1),
                                        (sample(s(480)), sample(s(960)), 62, 100, 1, 1)])


def chunk(tag, body):
    return tag + struct.pack(">I", len(body)) + body


def header(tracks=1, file_type=0, division=96):
    return chunk(b"MThd", struct.pack(">HHH", file_type, tracks, division))


def malformed(out):
    """Damaged files, each with the offset of its damage."""
    end = bytes([0x00, 0xFF, 0x2F, 0x00])
    note = bytes([0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40])
    whole = header() + chunk(b"MTrk", note + end)
    cases = {
        # The file stops inside the track: the chunk length runs past the end.
        "truncated": (whole[:-3], 18, "runs past the end of the file"),
        # The last track announced is missing.
        "missing-track": (header(tracks=2, file_type=1) + chunk(b"MTrk", note + end),
                          len(whole), "ends after 1 of 2 tracks"),
        "chunk-length": (header() + b"MTrk" + struct.pack(">I", 1000) + note + end,
                         18, "chunk length 1000 runs past the end"),
        # A data byte first, with no status before it.
        "running-status": (header() + chunk(b"MTrk", bytes([0x00, 0x3C, 0x40]) + note + end),
                           23, "running status"),
        # A delta time of five bytes.
        "long-number": (header() + chunk(b"MTrk", bytes([0x81] * 4 + [0x01]) + note[1:] + end),
                        22, "over four bytes"),
        # Inside the chunk, an event cut short by the chunk's own end.
        "event-cut": (header() + chunk(b"MTrk", note + bytes([0x00, 0x90, 0x3C])),
                      33, "runs past the end of its track chunk"),
        "no-notes": (header() + chunk(b"MTrk", bytes([0x00, 0xB0, 0x07, 0x64]) + end),
                     30, "no notes"),
        "not-midi": (b"RIFF" + bytes(20), 0, "not a Standard MIDI File"),
        "format-2": (header(file_type=2) + chunk(b"MTrk", note + end), 8, "format 2"),
        "smpte-rate": (header(division=0xE400 | 40) + chunk(b"MTrk", note + end), 12,
                       "frames a second"),
        "status-in-data": (header() + chunk(b"MTrk", bytes([0x00, 0x90, 0x3C, 0x90]) + end),
                           25, "needs a data byte"),
    }
    with open(out / "malformed.tsv", "w") as table:
        for name, (data, offset, message) in cases.items():
            (out / f"{name}.mid").write_bytes(data)
            table.write(f"{name}\t{offset}\t{message}\n")
    # Well formed, but the largest delta time before its end of track puts that end 16 days on.
    (out / "far-end.mid").write_bytes(
        header() + chunk(b"MTrk", note + bytes([0xFF, 0xFF, 0xFF, 0x7F]) + end[1:]))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    tempo_song(out)
    smpte_song(out)
    pedal_song(out)
    ignored_song(out)
    malformed(out)


if __name__ == "__main__":
    main()

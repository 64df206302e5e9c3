// A MIDI file's notes as notes of a patch: the file's messages go through the shared MIDI note
// layer, as live MIDI does in the instrument, and each note goes to the part its route names.
#pragma once

#include <string>
#include <vector>

#include "midi_file.h"
#include "patch.h"

namespace rmcli {

// Appends the file's notes to `notes`, on the sample grid of `sampleRate`, and answers a line
// for the render's summary naming the messages the modules cannot follow (empty when none).
// Throws PatchError at the route that names a track or channel the file lacks.
std::string addMidiNotes(const MidiDef& midi, const MidiFile& file, int sampleRate,
                         std::vector<NoteDef>& notes);

}  // namespace rmcli

// libFuzzer target: the renderer's Standard MIDI File reader on arbitrary bytes, and the messages
// of every file it reads through the host's MIDI note layer, as the renderer plays them. A file
// is either refused with an offset inside it or read into messages that keep the reader's
// promises, and every note the layer starts ends; the sanitizers turn any memory error or
// undefined behaviour into a finding.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "midi_file.h"
#include "rmhost/note_layer.h"

// The sanitizer runtime is a shared library in this build (for the plug-in targets), loaded after
// the C++ runtime that libFuzzer needs; that order is sound, so the runtime's check is off.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}

namespace {

// Counts the notes that start and end; a note may end only once.
struct Balance : rmhost::MidiNotes::Sink {
  std::vector<bool> open;
  void noteOn(int64_t, int32_t note, int, int, int) override {
    if (note != static_cast<int32_t>(open.size())) std::abort();
    open.push_back(true);
  }
  void noteOff(int64_t, int32_t note) override {
    if (note < 0 || note >= static_cast<int32_t>(open.size()) || !open[note]) std::abort();
    open[note] = false;
  }
  void soundOff(int64_t, int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const rmcli::MidiFile file = rmcli::parseMidiFile({data, size});
    double last = 0.0;
    for (const rmcli::MidiMessage& message : file.messages) {
      const bool ordered = std::isfinite(message.seconds) && message.seconds >= last &&
                           message.seconds <= file.endSeconds;
      const bool wellFormed = message.bytes[0] >= 0x80 && message.bytes[0] < 0xf0 &&
                              std::all_of(message.bytes + 1, message.bytes + message.size,
                                          [](uint8_t b) { return b < 0x80; });
      const bool known =
          message.track >= 0 && message.track < static_cast<int>(file.trackNames.size());
      if (!ordered || !wellFormed || !known) std::abort();
      last = message.seconds;
    }
    rmhost::MidiNotes layer(64);  // small, so that full capacity is reached too
    Balance balance;
    for (const rmcli::MidiMessage& message : file.messages)
      layer.message(std::llround(message.seconds * 48000.0), message.bytes, message.size, balance);
    layer.endAll(std::llround(file.endSeconds * 48000.0), balance);
    if (std::find(balance.open.begin(), balance.open.end(), true) != balance.open.end())
      std::abort();
  } catch (const rmcli::MidiFileError& error) {
    if (error.offset() > size) std::abort();
  }
  return 0;
}

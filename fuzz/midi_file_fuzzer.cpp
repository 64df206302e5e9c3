// libFuzzer target: the renderer's Standard MIDI File reader on arbitrary bytes. A file is either
// refused with an offset inside it or read into messages that keep the reader's promises; the
// sanitizers turn any memory error or undefined behaviour into a finding.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "midi_file.h"

// The sanitizer runtime is a shared library in this build (for the plug-in targets), loaded after
// the C++ runtime that libFuzzer needs; that order is sound, so the runtime's check is off.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}

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
      const bool known = message.track >= 0 &&
                         message.track < static_cast<int>(file.trackNames.size());
      if (!ordered || !wellFormed || !known) std::abort();
      last = message.seconds;
    }
  } catch (const rmcli::MidiFileError& error) {
    if (error.offset() > size) std::abort();
  }
  return 0;
}

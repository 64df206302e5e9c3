#include <algorithm>

#include "rmhost/note_layer.h"

namespace rmhost {

namespace {

constexpr int kSustain = 64;
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;

}  // namespace

int64_t IgnoredMessages::total() const {
  return pitchBend + programChange + channelPressure + polyPressure + controller + system;
}

MidiNotes::MidiNotes(int32_t capacity) : held_(static_cast<size_t>(std::max(capacity, 1))) {}

void MidiNotes::reset() {
  count_ = 0;
  nextNote_ = 0;
  std::fill(std::begin(pedal_), std::end(pedal_), false);
  ignored_ = {};
}

void MidiNotes::message(int64_t clock, const uint8_t* bytes, size_t size, Sink& sink) {
  if (size == 0 || bytes[0] < 0x80 || bytes[0] >= 0xF0) {
    ++ignored_.system;
    return;
  }
  const int kind = bytes[0] & 0xF0;
  const int channel = bytes[0] & 0x0F;
  const size_t needed = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  if (size < needed) {
    ++ignored_.system;
    return;
  }
  const int data1 = bytes[1] & 0x7F;
  const int data2 = needed == 3 ? bytes[2] & 0x7F : 0;
  switch (kind) {
    case 0x80:
      keyUp(clock, channel, data1, sink);
      break;
    case 0x90:
      if (data2 == 0)
        keyUp(clock, channel, data1, sink);
      else
        noteOn(clock, channel, data1, data2, sink);
      break;
    case 0xA0:
      ++ignored_.polyPressure;
      break;
    case 0xB0:
      controller(clock, channel, data1, data2, sink);
      break;
    case 0xC0:
      ++ignored_.programChange;
      break;
    case 0xD0:
      ++ignored_.channelPressure;
      break;
    default:
      ++ignored_.pitchBend;
      break;
  }
}

void MidiNotes::noteOn(int64_t clock, int channel, int key, int velocity, Sink& sink) {
  if (count_ == static_cast<int32_t>(held_.size())) end(clock, 0, sink);
  const int32_t note = nextNote_++;
  held_[static_cast<size_t>(count_++)] = {note, static_cast<uint8_t>(channel),
                                          static_cast<uint8_t>(key), true};
  sink.noteOn(clock, note, channel, key, velocity);
}

void MidiNotes::keyUp(int64_t clock, int channel, int key, Sink& sink) {
  for (int32_t i = 0; i < count_; ++i) {
    Held& held = held_[static_cast<size_t>(i)];
    if (!held.keyDown || held.channel != channel || held.key != key) continue;
    if (pedal_[channel])
      held.keyDown = false;
    else
      end(clock, i, sink);
    return;
  }
}

void MidiNotes::controller(int64_t clock, int channel, int number, int value, Sink& sink) {
  switch (number) {
    case kSustain: {
      pedal_[channel] = value >= 64;
      if (pedal_[channel]) return;
      for (int32_t i = 0; i < count_;) {
        const Held& held = held_[static_cast<size_t>(i)];
        if (held.channel == channel && !held.keyDown)
          end(clock, i, sink);
        else
          ++i;
      }
      return;
    }
    case kAllNotesOff:
      for (int32_t i = 0; i < count_;) {
        Held& held = held_[static_cast<size_t>(i)];
        if (held.channel != channel || !held.keyDown) {
          ++i;
        } else if (pedal_[channel]) {
          held.keyDown = false;
          ++i;
        } else {
          end(clock, i, sink);
        }
      }
      return;
    case kAllSoundOff:
      for (int32_t i = 0; i < count_;) {
        if (held_[static_cast<size_t>(i)].channel == channel)
          end(clock, i, sink);
        else
          ++i;
      }
      sink.soundOff(clock, channel);
      return;
    default:
      ++ignored_.controller;
      ignored_.controllers[number] = true;
  }
}

void MidiNotes::endAll(int64_t clock, Sink& sink) {
  while (count_ > 0) end(clock, 0, sink);
}

// Ends the note in `slot` and closes the gap, keeping the oldest note first.
void MidiNotes::end(int64_t clock, int32_t slot, Sink& sink) {
  const int32_t note = held_[static_cast<size_t>(slot)].note;
  std::copy(held_.begin() + slot + 1, held_.begin() + count_, held_.begin() + slot);
  --count_;
  sink.noteOff(clock, note);
}

}  // namespace rmhost

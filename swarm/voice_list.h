// The voice list shared by all clones of one swarm module.
//
// Every clone is one voice and owns a slot (its voiceIndex). The list keeps the slots that hold a
// note in an order from newest to oldest, steals the oldest ones when a note would exceed the
// "poly" limit, and carries the state that continues from note to note whichever clone plays
// it: the rotating start phase, the clone that played the last note and the bank parameters of
// the last phase set-up. It is created by the first clone that opens and used without a lock;
// the host never runs two clones of one module at once.
#pragma once

#include <array>
#include <cstdint>

namespace swarm {

class Module;

class VoiceList {
 public:
  static constexpr int16_t slotCount = 32;
  // paramSnapshot entry that has never been taken.
  static constexpr float snapshotUnset = -1234.0f;

  explicit VoiceList(float sampleRate) noexcept;

  // A note starts on `voice`: steals the oldest voices while the order holds `poly` or more
  // (re-placing `voice` itself if it is among them), then makes `voice` the newest.
  void noteOn(int16_t voice, int16_t poly, Module* owner) noexcept;
  // The note on `voice` ended: the voice moves to the oldest end, so it is stolen first.
  void release(int16_t voice) noexcept;

  bool listed(int16_t voice) const noexcept { return older[voice] >= 0; }

  // Takes the "incr" value of a note-on: a new step restarts the rotating phase.
  void takeRotateStep(double step) noexcept;
  // One step of the rotating phase for a phase set-up, folded back once towards [-1, 1].
  double advanceRotation() noexcept;

  double rotateStep = 0.0;   // half-turns per note: the "incr" of the last note-on
  double rotatePhase = 0.0;  // half-turns
  double fadeStep;           // level fall per sample of a stolen voice: 10 ms from 1 to 0
  int32_t count = 0;
  int16_t newest = -1;
  int16_t oldest = -1;
  bool bankChanged = false;
  std::array<float, slotCount> paramSnapshot;  // by pin index, at the last phase set-up
  std::array<int16_t, slotCount> older;        // next older slot; the oldest holds itself
  std::array<int16_t, slotCount> newer;        // next newer slot; -1 for the newest
  std::array<bool, slotCount> stolen{};
  Module* lastOwner = nullptr;

 private:
  void stealOldest() noexcept;
  void unlink(int16_t voice) noexcept;
};

}  // namespace swarm

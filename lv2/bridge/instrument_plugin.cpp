// The instrument: MIDI in, stereo out. Each voice is one swarm clone (all clones in one group, so
// the module's shared voice list, stealing and hand-over work as it intends) and one vellum
// envelope; the voice's stereo signal times its envelope, summed over the voices in use, times
// the output gain. MIDI becomes notes, voices and pin changes through the host library's note
// layer, as in the renderer.
//
// The note layer may move a gate to one clock before a note that takes its voice, so it must know
// the notes of clock t before it hands out the cues of clock t - 1: the session runs one frame
// behind the host, and the plug-in reports one frame of latency.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>

#include "bridge/plugins.h"
#include "rmhost/note_layer.h"

namespace rmlv2 {

namespace {

// Longest a voice stays taken after its note's end: the envelope's release (about one segment
// at its rate) and a little more for the oscillator's own tail.
constexpr double kLongestRelease = 10.0;
constexpr double kReleaseMargin = 0.02;
constexpr int32_t kNoteSlots = 1024;  // notes remembered between their start and their cues

class InstrumentPlugin final : public SessionPlugin, private rmhost::MidiNotes::Sink {
 public:
  explicit InstrumentPlugin(HostContext context)
      : SessionPlugin(std::move(context)),
        midiEvent_(context_.map->map(context_.map->handle, LV2_MIDI__MidiEvent)) {}

 private:
  struct Voice {
    rmhost::InstanceId oscillator = -1;
    rmhost::InstanceId envelope = -1;
    const float* left = nullptr;
    const float* right = nullptr;
    const float* shape = nullptr;
    double velocityGain = 1.0;  // of its latest note
  };
  struct NoteInfo {
    int key = 60;
    int velocity = 127;
  };

  void build() override {
    const int32_t oscillators = session_->addGroup();
    const int32_t envelopes = session_->addGroup();
    std::vector<rmhost::InstanceId> swarmIds;
    std::vector<rmhost::InstanceId> vellumIds;
    for (Voice& voice : voices_) {
      voice.oscillator = create(*context_.swarm, oscillators);
      swarmIds.push_back(voice.oscillator);
    }
    for (Voice& voice : voices_) {
      voice.envelope = create(*context_.vellum, envelopes);
      vellumIds.push_back(voice.envelope);
    }
    const auto pin = [&](Module module, const char* name) {
      return session_->findPin(module == Module::swarm ? swarmIds[0] : vellumIds[0], name);
    };
    oscDrive_ = {};
    oscDrive_.pitch = pin(Module::swarm, "fc_1");
    oscDrive_.voiceGate = pin(Module::swarm, "gate");
    oscDrive_.trigger = pin(Module::swarm, "sync");
    envDrive_ = {};
    envDrive_.gate = pin(Module::vellum, "Gate");
    envDrive_.velocity = pin(Module::vellum, "Overall Level");
    levelPort_ = nullptr;
    for (const Port& port : context_.layout.ports) {
      if (port.module == Module::vellum && port.pin == envDrive_.velocity) levelPort_ = &port;
      if (port.module == Module::vellum && port.name == "Release") releasePort_ = &port;
    }
    feedControls(Module::swarm, swarmIds);
    feedControls(Module::vellum, vellumIds, envDrive_.velocity);
    for (Voice& voice : voices_) {
      for (int32_t p : {oscDrive_.voiceGate, oscDrive_.trigger}) {
        session_->setInitial(voice.oscillator, p, 0.0);
      }
      session_->setInitial(voice.envelope, envDrive_.gate, 0.0);
      session_->setInitial(voice.envelope, envDrive_.velocity, levelPort_->defaultValue);
      voice.velocityGain = 1.0;
    }
    for (Voice& voice : voices_) session_->open(voice.oscillator);
    for (Voice& voice : voices_) session_->open(voice.envelope);
    for (Voice& voice : voices_) {
      voice.left = session_->buffer(voice.oscillator, pin(Module::swarm, "outputl"));
      voice.right = session_->buffer(voice.oscillator, pin(Module::swarm, "outputr"));
      voice.shape = session_->buffer(voice.envelope, pin(Module::vellum, "Signal Out"));
    }
    level_ = levelPort_->defaultValue;
    release_ = releaseClocks(releasePort_->defaultValue);
    pulse_ = std::max<int64_t>(1, std::llround(0.001 * context_.sampleRate));
    allocator_.emplace(kMaxVoices, release_, pulse_);
    allocator_->setVoices(kDefaultVoices);
    midi_.reset();
    hostClock_ = 0;
    sinceRender_ = 0;
  }

  int64_t releaseClocks(float rate) const {
    const double seconds = rate > 1.0 / kLongestRelease ? 1.0 / rate : kLongestRelease;
    return std::llround((seconds + kReleaseMargin) * context_.sampleRate);
  }

  int32_t voicesHeard() const noexcept override { return std::popcount(heard_); }

  void render(uint32_t frames) noexcept override {
    const int64_t hostStart = hostClock_;
    heard_ = 0;
    left_ = port<float>(Role::audioLeft);
    right_ = port<float>(Role::audioRight);
    if (float* latency = port<float>(Role::latency)) *latency = 1.0f;
    // Output frame f shows session clock hostStart + f - 1; the very first frame shows nothing.
    outBase_ = hostStart - 1;
    for (int64_t c = outBase_; c < session_->clock() && c < hostStart - 1 + frames; ++c) {
      left_[c - outBase_] = right_[c - outBase_] = 0.0f;
    }
    applyInstrumentControls();
    if (auto* sequence = port<LV2_Atom_Sequence>(Role::midiIn)) {
      uint32_t last = 0;
      LV2_ATOM_SEQUENCE_FOREACH(sequence, event) {
        if (event->body.type != midiEvent_ || frames == 0) continue;
        const auto frame =
            static_cast<uint32_t>(std::clamp<int64_t>(event->time.frames, last, frames - 1));
        last = frame;
        const int64_t clock = hostStart + frame;
        if (sinceRender_ >= kFlushAt) renderUntil(clock - 1);
        ++sinceRender_;
        midi_.message(clock, reinterpret_cast<const uint8_t*>(event + 1), event->body.size, *this);
      }
    }
    renderUntil(hostStart + frames - 1);
    hostClock_ = hostStart + frames;
  }

  // Controls of the instrument itself and the envelope level, which notes scale by velocity.
  void applyInstrumentControls() noexcept {
    const int64_t now = session_->clock();
    applyControls(now);
    const auto voices = static_cast<int32_t>(control(*context_.layout.find(Role::voices)));
    if (voices != allocator_->voicesInUse()) {
      allocator_->silence(now);
      allocator_->setVoices(voices);
    }
    const int64_t release = releaseClocks(control(*releasePort_));
    if (release != release_) allocator_->setRelease(release_ = release);
    const float level = control(*levelPort_);
    if (level != level_) {
      level_ = level;
      for (const Voice& voice : voices_) {
        session_->setValue(voice.envelope, envDrive_.velocity, level * voice.velocityGain, now);
      }
    }
    envDrive_.velocityLevel = level_;
    envDrive_.sensitivity = control(*context_.layout.find(Role::velocity));
    gain_ = control(*context_.layout.find(Role::gain));
  }

  void noteOn(int64_t clock, int32_t note, int, int key, int velocity) override {
    notes_[static_cast<size_t>(note) % kNoteSlots] = {key, velocity};
    allocator_->noteOn(clock, note);
  }
  void noteOff(int64_t clock, int32_t note) override { allocator_->noteOff(clock, note); }
  void soundOff(int64_t clock, int) override { allocator_->silence(clock); }

  // Hands the cues before `until` to the modules and renders the session up to there.
  void renderUntil(int64_t until) noexcept {
    allocator_->drain(until, [&](const rmhost::VoiceEvent& event) { play(event); });
    sinceRender_ = 0;
    while (session_->clock() < until) {
      const int64_t clock = session_->clock();
      const int64_t gridLeft = kMaxBlock - clock % kMaxBlock;
      const auto block = static_cast<int32_t>(std::min<int64_t>(until - clock, gridLeft));
      session_->runBlock(block);
      mix(clock - outBase_, block);
    }
  }

  void play(const rmhost::VoiceEvent& event) noexcept {
    Voice& voice = voices_[static_cast<size_t>(event.voice)];
    const NoteInfo& note = notes_[static_cast<size_t>(event.note) % kNoteSlots];
    if (event.cue == rmhost::VoiceCue::start) {
      voice.velocityGain = rmhost::velocityGain(note.velocity, envDrive_.sensitivity);
    }
    rmhost::driveCue(oscDrive_, event, note.key, note.velocity, [&](int32_t pin, double value) {
      session_->setValue(voice.oscillator, pin, value, event.clock);
    });
    rmhost::driveCue(envDrive_, event, note.key, note.velocity, [&](int32_t pin, double value) {
      session_->setValue(voice.envelope, pin, value, event.clock);
    });
  }

  // Each voice's sound times its envelope, summed as the renderer's mixer sums, times the gain.
  void mix(int64_t at, int32_t frames) noexcept {
    const int32_t voices = allocator_->voicesInUse();
    for (int32_t i = 0; i < frames; ++i) {
      double l = 0.0;
      double r = 0.0;
      for (int32_t v = 0; v < voices; ++v) {
        const Voice& voice = voices_[static_cast<size_t>(v)];
        const float vl = voice.left[i] * voice.shape[i];
        const float vr = voice.right[i] * voice.shape[i];
        if (vl != 0.0f || vr != 0.0f) heard_ |= uint32_t{1} << v;
        l += static_cast<double>(vl);
        r += static_cast<double>(vr);
      }
      left_[at + i] = finiteOrZero(static_cast<float>(l * gain_));
      right_[at + i] = finiteOrZero(static_cast<float>(r * gain_));
    }
  }

  const LV2_URID midiEvent_;
  std::array<Voice, kMaxVoices> voices_{};
  std::array<NoteInfo, kNoteSlots> notes_{};
  rmhost::MidiNotes midi_;
  std::optional<rmhost::VoiceAllocator> allocator_;
  rmhost::NoteDrive oscDrive_;
  rmhost::NoteDrive envDrive_;
  const Port* levelPort_ = nullptr;
  const Port* releasePort_ = nullptr;
  float level_ = 1.0f;
  double gain_ = 1.0;
  int64_t release_ = 0;
  int64_t pulse_ = 1;
  int64_t hostClock_ = 0;  // host frames run since activation
  int64_t outBase_ = 0;    // session clock shown at output frame 0 of the current run
  int32_t sinceRender_ = 0;
  uint32_t heard_ = 0;  // voices heard in the current run, one bit each
  static_assert(kMaxVoices <= 32, "one bit of heard_ per voice");
  float* left_ = nullptr;
  float* right_ = nullptr;
};

}  // namespace

std::unique_ptr<SessionPlugin> makeInstrumentPlugin(HostContext context) {
  return std::make_unique<InstrumentPlugin>(std::move(context));
}

}  // namespace rmlv2

// Note-on, the hand-over of the previous note's bank, bank-change tracking, the wake-up and its
// announcements, and the phase set-up.
#include <algorithm>
#include <cmath>
#include <complex>

#include "swarm_fixture.h"

namespace swarm_test {
namespace {

using swarm::dsp::Complex;

std::vector<PinValue> sounding(std::vector<PinValue> extra = {}) {
  std::vector<PinValue> pins = {
      {pins::gate, 1.0}, {pins::oscs, 8}, {pins::partials, 3},       {pins::fc1, 0.5},
      {pins::fm1, 0.5},  {pins::a1, 0.6}, {pins::pitchSpread, 0.05}, {pins::phaseSpread, 0.3}};
  pins.insert(pins.end(), extra.begin(), extra.end());
  return pins;
}

void expectStatus(const rmhost::Request& r, int32_t pin, int32_t status, int64_t clock) {
  EXPECT_EQ(r.index, pin);
  EXPECT_EQ(r.value, status);
  EXPECT_EQ(r.ptr, clock);
  EXPECT_EQ(r.clock, clock);
}

TEST(SwarmNotes, NoteOnThresholdWakeUpAndTail) {
  Voices v(1);
  const ProcessEntry renderFast = v.session.record(v.ids[0])->processEntry;
  v.set(0, pins::sync, 0.1, 5);  // exactly 0.1 starts nothing
  v.run(1);
  EXPECT_FALSE(v[0].noteArmed);
  v.set(0, pins::sync, 0.1000001, 1030);
  v.set(0, pins::gate, 1.0, 1100);
  v.run(1);
  EXPECT_TRUE(v[0].noteArmed);
  EXPECT_EQ(v[0].voiceList->lastOwner, &v[0]);
  EXPECT_TRUE(v.requests(0, hostProcessChanged).empty());  // renderFast has been current
  auto status = v.requests(0, hostOutputStatus);
  ASSERT_EQ(status.size(), 2u);
  expectStatus(status[0], pins::outputL, pinStreaming, 1100);
  expectStatus(status[1], pins::outputR, pinStreaming, 1100);
  EXPECT_FALSE(v[0].tailStarted);

  v.session.clearRequests();
  v.set(0, pins::gate, 0.0, 2048);  // the next block starts with the gate closed: the tail
  v.set(0, pins::gate, 1.0, 2500);  // and the gate opens again within it
  v.run(1);
  status = v.requests(0, hostOutputStatus);
  ASSERT_EQ(status.size(), 4u);
  expectStatus(status[0], pins::outputL, pinOneOff, 2048);
  expectStatus(status[1], pins::outputR, pinOneOff, 2048);
  expectStatus(status[2], pins::outputL, pinStreaming, 2500);
  expectStatus(status[3], pins::outputR, pinStreaming, 2500);
  const auto changes = v.requests(0, hostProcessChanged);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].clock, 2048);
  EXPECT_EQ(changes[1].clock, 2500);
  EXPECT_FALSE(v[0].tailStarted);
  EXPECT_EQ(v.session.record(v.ids[0])->processEntry, renderFast);
}

TEST(SwarmNotes, RotatingPhaseIsSharedAcrossClones) {
  // Two voices at poly 2: no note steals, so every set-up belongs to a note.
  Voices v(2, sounding({{pins::retrigger, 1}, {pins::incr, 0.5}, {pins::poly, 2}}));
  for (double expected : {0.5, 1.0, -0.5, 0.0, 0.5}) {
    const size_t voice = static_cast<size_t>(v.session.clock() / 1024) % 2;
    v.note(voice, v.session.clock() + 10);
    v.run(1);
    EXPECT_EQ(v[0].voiceList->rotatePhase, expected);
  }
  // A new "incr" restarts the phase at the next note-on.
  v.set(1, pins::incr, 0.25, v.session.clock() + 5);
  v.note(1, v.session.clock() + 10);
  v.run(1);
  EXPECT_EQ(v[0].voiceList->rotatePhase, 0.25);
}

void expectSameFilter(const swarm::dsp::SmoothingFilter& a, const swarm::dsp::SmoothingFilter& b) {
  EXPECT_EQ(a.x1, b.x1);
  EXPECT_EQ(a.y1, b.y1);
  EXPECT_EQ(a.b0, b.b0);
  EXPECT_EQ(a.b1, b.b1);
  EXPECT_EQ(a.a1, b.a1);
  EXPECT_EQ(a.cutoff, b.cutoff);
  EXPECT_EQ(a.cutoffOffset, b.cutoffOffset);
  EXPECT_EQ(a.offsetRatio, b.offsetRatio);
  EXPECT_EQ(a.gliding, b.gliding);
}

TEST(SwarmNotes, NextNoteContinuesThePreviousBank) {
  Voices v(2, sounding());
  v.play(0, 10);
  v.run(2);
  const swarm::Module& a = v[0];

  // The note-on of the second clone, delivered by hand so that its state can be seen at once.
  rmhost::Session& s = v.session;
  s.beginBlock();
  s.buffer(v.ids[1], pins::sync)[0] = 1.0f;
  ModuleEvent syncUp{0, eventPinStatus, pinOneOff, 0, pins::sync};
  s.deliver(v.ids[1], syncUp, 0);
  swarm::Module& b = v[1];
  ASSERT_TRUE(b.stateCopied);
  ASSERT_EQ(b.oscCount, 8u);
  for (uint32_t k = 0; k < 8; ++k) {
    EXPECT_EQ(b.oscillators[k].carrier.re, a.oscillators[k].carrier.re);
    EXPECT_EQ(b.oscillators[k].modulatorPowN.im, a.oscillators[k].modulatorPowN.im);
    EXPECT_EQ(b.oscillators[k].gain, a.oscillators[k].gain);
  }
  EXPECT_EQ(b.stage.peak.value, a.stage.peak.value);
  EXPECT_EQ(b.stage.peak.fallFactor, a.stage.peak.fallFactor);
  expectSameFilter(b.stage.levelSmoother, a.stage.levelSmoother);
  expectSameFilter(b.stage.leftDcFilter, a.stage.leftDcFilter);
  expectSameFilter(b.stage.rightDcFilter, a.stage.rightDcFilter);

  // Its retune keeps the copied phases: one sample later each carrier is the copied one, at
  // unit length times gain, turned by one step.
  s.process(v.ids[1], 0, 1);
  s.endBlock();
  for (uint32_t k = 0; k < 8; ++k) {
    const auto& o = b.oscillators[k];
    const std::complex<double> copied(a.oscillators[k].carrier.re, a.oscillators[k].carrier.im);
    const std::complex<double> expected = copied / std::abs(copied) * o.gain *
                                          std::complex<double>(o.carrierStep.re, o.carrierStep.im);
    EXPECT_NEAR(o.carrier.re, expected.real(), 1e-12) << k;
    EXPECT_NEAR(o.carrier.im, expected.imag(), 1e-12) << k;
  }
}

// Two voices gated on from the start; the first plays for 200 blocks, then the second takes its
// bank over at a block start. Sessions process voices in creation order, so the copy is the
// first voice's state at the end of that block: the second voice's block continues the first
// voice's waveform and level, and equals the first voice's next block up to the rounding of
// the retune.
TEST(SwarmNotes, HandOverKeepsTheFollowerAndFiltersPastTheRetune) {
  Voices v(2, sounding({{pins::poly, 2}}));
  v.note(0, 0);
  v.run(200);
  const swarm::Module& a = v[0];
  swarm::Module& b = v[1];
  const int64_t handOver = v.session.clock();
  v.note(1, handOver);
  v.run(1);
  ASSERT_TRUE(b.stateCopied);
  ASSERT_FALSE(b.notePending);
  EXPECT_FALSE(b.oscsRecomputed);
  EXPECT_FALSE(b.filtersNeedInit);
  // The long-settled level smoother was not restarted: no glide from 40 Hz, no follower at 0.5.
  EXPECT_FALSE(b.stage.levelSmoother.gliding);
  EXPECT_EQ(b.stage.levelSmoother.cutoff, a.stage.levelSmoother.cutoff);
  EXPECT_EQ(b.stage.peak.fallFactor, a.stage.peak.fallFactor);

  const std::vector<float> second(v.out(1, pins::outputL), v.out(1, pins::outputL) + 1024);
  v.run(1);
  const float* first = v.out(0, pins::outputL);
  double largestDifference = 0.0;
  double peak = 0.0;
  for (size_t j = 0; j < second.size(); ++j) {
    largestDifference = std::max(largestDifference, std::fabs(double(second[j]) - first[j]));
    peak = std::max(peak, std::fabs(double(first[j])));
  }
  EXPECT_GT(peak, 0.1);
  EXPECT_LT(largestDifference, 1e-4 * peak);
}

TEST(SwarmNotes, BankChangesForbidTheCopyOnce) {
  struct Case {
    int32_t pin;
    double initial;
    double value;
    bool marksChange;
  };
  const Case cases[] = {
      {pins::wind, 0.0, 0.01, true},
      {pins::phaseSpread, 0.3, 0.4, true},
      {pins::phaseSpread, 0.3, 0.3, false},
      {pins::oscs, 8, 10, true},
      {pins::oscs, 8, 8, false},
      {pins::retrigger, 0, 1, true},
      {pins::retrigger, 1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "pin " << c.pin << " to " << c.value);
    Voices v(2, sounding({{c.pin, c.initial}, {pins::poly, 2}}));
    v.set(0, c.pin, c.value, 3);  // before the first note nothing is tracked
    v.run(1);
    EXPECT_FALSE(v[0].voiceList->bankChanged);
    v.set(0, c.pin, c.initial, 1030);
    v.play(0, 1040);
    v.run(1);
    v.set(0, c.pin, c.value, 2100);
    v.run(1);
    EXPECT_EQ(v[0].voiceList->bankChanged, c.marksChange);
    v.play(1, 3100);
    v.run(1);
    EXPECT_EQ(v[1].stateCopied, !c.marksChange && v[1].retrigger == 0);
    EXPECT_FALSE(v[0].voiceList->bankChanged);  // the fresh set-up took a new snapshot
    v.play(0, 4110);
    v.run(1);
    EXPECT_EQ(v[0].stateCopied, v[0].retrigger == 0);
  }
}

// Phase set-up run directly on an instance, with every pin constant at its initial value.
struct PhaseCase {
  uint32_t count;
  double wind, ratio, spread, phase, rotate;
  int retrigger;
};

swarm::Module& setUpPhases(Voices& v, const PhaseCase& c) {
  v.ids.push_back(v.add({{pins::oscs, double(c.count)},
                         {pins::wind, c.wind},
                         {pins::fm1, c.ratio},
                         {pins::pitchSpread, c.spread},
                         {pins::phaseSpread, c.phase},
                         {pins::rotate, c.rotate},
                         {pins::retrigger, double(c.retrigger)}}));
  swarm::Module& m = v[v.ids.size() - 1];
  m.oscCount = c.count;
  return m;
}

TEST(SwarmNotes, InitPhasesWithoutWindOrSpread) {
  Voices v(0);
  const PhaseCase c{5, 0.0, 0.7, 0.01, 0.0, 0.0, 0};
  swarm::Module& m = setUpPhases(v, c);
  m.initPhases(0, 0);
  const double o = 3.2805 / (5.0 * 5.0 * 5.0);
  double t = 0.0;
  for (uint32_t i = 0; i < c.count; ++i) {
    EXPECT_EQ(m.oscillators[i].carrier.re, 1.0);
    EXPECT_EQ(m.oscillators[i].carrier.im, 0.0);
    EXPECT_NEAR(m.oscillators[i].modulator.re, std::cos(t), 1e-14);
    EXPECT_NEAR(m.oscillators[i].modulator.im, std::sin(t), 1e-14);
    t = std::fmod(t + o * std::pow(1.1, i), 3.141592653589793);
  }
  EXPECT_EQ(m.oscillators[c.count].modulator.re, 1.0);  // beyond the count: untouched
}

TEST(SwarmNotes, InitPhasesGeneralCase) {
  Voices v(0);
  const PhaseCase c{12, 0.013, 0.37, 0.021, 0.7, 0.3, 1};
  swarm::Module& m = setUpPhases(v, c);
  m.voiceList->rotateStep = 0.5;
  m.voiceList->rotatePhase = 0.75;
  m.initPhases(0, 0);
  EXPECT_EQ(m.voiceList->rotatePhase, -0.75);  // 1.25 folded back once

  // The same set-up in long double, from the nominal pitch 440 * 2^(10 (i PS + 0.5) - 5).
  using Real = long double;
  const Real pi = 3.141592653589793238L;
  const Real f = -0.75L + Real(float(c.rotate));
  const Real ph = Real(float(c.phase));
  const Real windTime = 44100.0L * Real(float(c.wind)) * 60.0L;
  const Real l = (ph * 0.98L + 1.5L) * 3.0L;
  const Real mm = l / (5.0L * c.count);
  Real o = mm * mm * mm * l;
  Real h = ph * 10.0L;
  const Real r = (50 / c.count + 1) * (ph - 0.6L) + 1.1L;
  Real t = 0.0L;
  Real u = 0.0L;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Real pitch = 440.0L * std::pow(2.0L, 10.0L * (i * Real(float(c.spread)) + 0.5L) - 5.0L);
    const Real omega = 2.0L * pi * pitch / 44100.0L;
    const Real a = omega * windTime + u - f * pi;
    const Real b = omega * Real(float(c.ratio)) * windTime + t;
    SCOPED_TRACE(i);
    EXPECT_NEAR(m.oscillators[i].carrier.re, double(std::cos(a)), 1e-9);
    EXPECT_NEAR(m.oscillators[i].carrier.im, double(std::sin(a)), 1e-9);
    EXPECT_NEAR(m.oscillators[i].modulator.re, double(std::cos(b)), 1e-9);
    EXPECT_NEAR(m.oscillators[i].modulator.im, double(std::sin(b)), 1e-9);
    t = std::fmod(t + o, pi);
    u = std::fmod(u + h, pi);
    o *= r;
    h *= r;
  }
}

}  // namespace
}  // namespace swarm_test

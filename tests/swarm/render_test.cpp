// The voice's sound and its process sequencing, observed at the outputs: partial series, the
// output level, both render paths, gating, stealing, the tail and its sleep request, and
// robustness over long runs and absurd inputs.
#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <random>

#include "rmhost/alloc_counter.h"
#include "swarm_fixture.h"

namespace swarm_test {
namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Stereo {
  std::vector<float> left;
  std::vector<float> right;
};

// Runs `blocks` blocks and keeps what one voice wrote.
Stereo record(Voices& v, size_t voice, int blocks) {
  Stereo out;
  const size_t frames = static_cast<size_t>(v.session.config().blockSize);
  for (int b = 0; b < blocks; ++b) {
    v.session.runBlock();
    out.left.insert(out.left.end(), v.out(voice, pins::outputL),
                    v.out(voice, pins::outputL) + frames);
    out.right.insert(out.right.end(), v.out(voice, pins::outputR),
                     v.out(voice, pins::outputR) + frames);
  }
  return out;
}

// Amplitude of the component at `hz` in x[from, from + count).
double amplitudeAt(const std::vector<float>& x, size_t from, size_t count, double hz, double rate) {
  std::complex<double> sum;
  for (size_t j = 0; j < count; ++j) {
    sum += double(x[from + j]) * std::polar(1.0, -kTwoPi * hz * double(j) / rate);
  }
  return 2.0 * std::abs(sum) / double(count);
}

std::vector<PinValue> withGate(std::vector<PinValue> pins) {
  pins.push_back({pins::gate, 1.0});
  return pins;
}

TEST(SwarmRender, SingleOscillatorWithoutPartialsIsSineAndCosineAtFc1) {
  // "oscs" 1 ignores the spread: the oscillator sits at "fc_1" 0.6, that is 880 Hz.
  Voices v(1, withGate({{pins::oscs, 1},
                        {pins::fc1, 0.6},
                        {pins::pitchSpread, 0.3},
                        {pins::partials, 0},
                        {pins::a1, 0.5}}));
  v.play(0, 0);
  const Stereo out = record(v, 0, 8);
  const double step = kTwoPi * 880.0 / 44100.0;
  for (size_t j = 4096; j + 1 < out.left.size(); ++j) {
    // right + i left turns by one step per sample: cosine and sine of one phase.
    const std::complex<double> now(out.right[j], out.left[j]);
    const std::complex<double> next(out.right[j + 1], out.left[j + 1]);
    ASSERT_NEAR(std::arg(next * std::conj(now)), step, 1e-5) << j;
    ASSERT_NEAR(std::abs(next) / std::abs(now), 1.0, 1e-3) << j;
  }
}

TEST(SwarmRender, WaveBlendSelectsTheSeriesBelowOrAboveTheCarrier) {
  // Carrier 440 Hz, spacing 110 Hz, two partials each at half the previous amplitude.
  struct Case {
    double wave;
    double expected[5];  // at 220, 330, 440, 550, 660 Hz relative to 440 Hz
  };
  for (const Case& c :
       {Case{0.0, {0.25, 0.5, 1.0, 0.0, 0.0}}, Case{1.0, {0.0, 0.0, 1.0, 0.5, 0.25}},
        Case{0.5, {0.125, 0.25, 1.0, 0.25, 0.125}}}) {
    SCOPED_TRACE(c.wave);
    Voices v(1, withGate({{pins::oscs, 1},
                          {pins::fc1, 0.5},
                          {pins::fm1, 0.25},
                          {pins::partials, 2},
                          {pins::a1, 0.5},
                          {pins::wave1, c.wave}}));
    v.play(0, 0);
    const Stereo out = record(v, 0, 70);
    for (const std::vector<float>* x : {&out.left, &out.right}) {
      const double carrier = amplitudeAt(*x, 60000, 4410, 440.0, 44100.0);
      for (int p = 0; p < 5; ++p) {
        const double hz = 220.0 + 110.0 * p;
        // The DC filter leaves the 220 Hz partial about 1.2% weaker than the carrier.
        EXPECT_NEAR(amplitudeAt(*x, 60000, 4410, hz, 44100.0) / carrier, c.expected[p], 0.02) << hz;
      }
    }
  }
}

TEST(SwarmRender, PartialsStopBelowMaxFrequency) {
  // Partials at 440 Hz steps above a 440 Hz carrier: the count is cut so that the last one
  // lies half a step below maxFrequency.
  struct Case {
    float rate;
    int lastPartial;  // multiple of 440 Hz
  };
  for (const Case& c :
       {Case{44100.0f, 47}, Case{48000.0f, 47}, Case{32000.0f, 34}, Case{22050.0f, 23}}) {
    SCOPED_TRACE(c.rate);
    Voices v(1,
             withGate({{pins::oscs, 1},
                       {pins::fc1, 0.5},
                       {pins::fm1, 1.0},
                       {pins::partials, 100},
                       {pins::a1, 0.99},
                       {pins::wave1, 1.0}}),
             rmhost::SessionConfig{c.rate, 1024, -1, false});
    v.play(0, 0);
    const Stereo out = record(v, 0, int(c.rate) / 1024 + 4);
    const size_t window = size_t(c.rate) / 10;
    const size_t from = out.left.size() - window;
    const double last = amplitudeAt(out.left, from, window, 440.0 * c.lastPartial, c.rate);
    const double beyond = amplitudeAt(out.left, from, window, 440.0 * (c.lastPartial + 1), c.rate);
    EXPECT_GT(last, 0.005);
    EXPECT_LT(beyond, last * 1e-3);
  }
}

std::vector<PinValue> richBank(double oscs, double wave = 0.3) {
  return withGate({{pins::oscs, oscs},
                   {pins::partials, 20},
                   {pins::fc1, 0.4},
                   {pins::fm1, 0.3},
                   {pins::a1, 0.7},
                   {pins::a2, 0.5},
                   {pins::pitchSpread, 0.01},
                   {pins::wave1, wave},
                   {pins::phaseSpread, 0.2}});
}

// A voice whose renderFast sums its bank along `path`, as on a processor whose widest path that
// is; host blocks of 256 frames.
std::unique_ptr<Voices> voiceOnPath(dsp::BankPath path, double oscs, double wave) {
  auto v =
      std::make_unique<Voices>(0, std::vector<PinValue>{}, rmhost::SessionConfig{44100.0f, 256});
  v->ids.push_back(v->create(richBank(oscs, wave)));
  (*v)[0].bankPath = path;
  v->session.open(v->ids[0]);
  v->play(0, 0);
  return v;
}

// Two seconds of every path this processor runs against the single path: the same samples up to
// the rounding of the sums' different order of additions.
TEST(SwarmRender, EveryPathAgreesWithTheSinglePath) {
  for (dsp::BankPath path : dsp::kBankPaths) {
    if (!dsp::processorRuns(path) || path == dsp::BankPath::single) continue;
    for (double oscs : {7.0, 8.0, 1.0, 45.0, 200.0}) {
      for (double wave : {0.0, 0.3, 1.0}) {
        SCOPED_TRACE(testing::Message()
                     << dsp::bankPathName(path) << " oscs " << oscs << " wave " << wave);
        auto other = voiceOnPath(path, oscs, wave);
        auto single = voiceOnPath(dsp::BankPath::single, oscs, wave);
        const Stereo a = record(*other, 0, 345);
        const Stereo b = record(*single, 0, 345);
        EXPECT_FALSE((*other)[0].notePending);  // blocks after the first ran renderFast
        EXPECT_EQ((*other)[0].bankPath, path);
        double largest = 0.0;
        for (size_t j = 0; j < a.left.size(); ++j) {
          ASSERT_NEAR(a.left[j], b.left[j], 1e-5) << j;
          ASSERT_NEAR(a.right[j], b.right[j], 1e-5) << j;
          largest = std::max(largest, double(std::fabs(a.left[j])));
        }
        EXPECT_GT(largest, 0.1);
      }
    }
  }
}

TEST(SwarmRender, ChunkedSinglePathEqualsTheSampleBySampleRender) {
  // The single path adds the oscillators in the order of the sample-by-sample render, so both
  // give the same samples to the bit; calls of 700 and 324 frames cross the scratch size.
  auto voice = [](bool sampleBySample) {
    auto v = std::make_unique<Voices>(1, richBank(9));
    v->session.setSplitter(
        [](rmhost::InstanceId, int32_t, int32_t left) { return std::min(left, 700); });
    (*v)[0].bankPath = dsp::BankPath::single;
    v->play(0, 0);
    // A note-on without a rise keeps a note pending, which defers every block to renderGeneral.
    if (sampleBySample) v->set(0, pins::sync, 0.5, 1024);
    return v;
  };
  auto fast = voice(false);
  auto general = voice(true);
  const Stereo a = record(*fast, 0, 6);
  const Stereo b = record(*general, 0, 6);
  ASSERT_TRUE((*general)[0].notePending);
  ASSERT_FALSE((*fast)[0].notePending);
  for (size_t j = 0; j < a.left.size(); ++j) {
    ASSERT_EQ(a.left[j], b.left[j]) << j;
    ASSERT_EQ(a.right[j], b.right[j]) << j;
  }
}

TEST(SwarmRender, GatedOffSamplesWriteZeroAndFreezeTheVoice) {
  // A note-on without a rise keeps the voice in the sample-by-sample render; one voice's gate
  // then closes for 100 samples, the other's stays open.
  auto gated = [](bool gap) {
    auto v = std::make_unique<Voices>(1, richBank(9));
    v->play(0, 0);
    v->set(0, pins::sync, 0.5, 1024);
    v->session.setStream(
        v->ids[0], pins::gate,
        [gap](int64_t clock, float* out, int32_t frames) {
          for (int32_t j = 0; j < frames; ++j) {
            const int64_t t = clock + j;
            out[j] = gap && t >= 1324 && t < 1424 ? 0.0f : 1.0f;
          }
        },
        1024);
    return v;
  };
  auto open = gated(false);
  auto closed = gated(true);
  const Stereo a = record(*open, 0, 2);
  const Stereo b = record(*closed, 0, 2);
  ASSERT_TRUE(closed->operator[](0).notePending);
  for (size_t j = 1024; j < 1324; ++j) ASSERT_EQ(b.left[j], a.left[j]) << j;
  for (size_t j = 1324; j < 1424; ++j) {
    ASSERT_EQ(b.left[j], 0.0f) << j;
    ASSERT_EQ(b.right[j], 0.0f) << j;
  }
  // Bank, filters and follower stood still: the rest is the open voice's sound, 100 samples late.
  for (size_t j = 1424; j < 2048; ++j) {
    ASSERT_EQ(b.left[j], a.left[j - 100]) << j;
    ASSERT_EQ(b.right[j], a.right[j - 100]) << j;
  }
}

TEST(SwarmRender, StolenVoiceFadesIn441SamplesThenStartsItsTail) {
  Voices v(2, richBank(4), rmhost::SessionConfig{44100.0f, 256, -1, true});
  v.play(0, 0);
  v.run(4);
  v.play(1, 1024);  // poly 1: the first voice is stolen from its next block (clock 1280) on
  v.session.clearRequests();
  const Stereo out = record(v, 0, 4);
  EXPECT_TRUE(v[0].voiceList->stolen[0]);
  // The level falls by 1/441 per sample from the block at clock 1280.
  EXPECT_NE(out.left[1280 - 1024 + 439], 0.0f);
  for (size_t j = 1280 - 1024 + 441; j < out.left.size(); ++j) ASSERT_EQ(out.left[j], 0.0f) << j;
  EXPECT_EQ(v[0].level, 0.0);
  const auto status = v.requests(0, hostOutputStatus);
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[0].value, pinOneOff);
  EXPECT_EQ(status[0].clock, 1792);  // the first block to start at level 0
  EXPECT_TRUE(v[0].tailStarted);
}

TEST(SwarmRender, TailOfSixteen64FrameCallsEndsInSleep) {
  Voices v(1, richBank(3));
  v.session.setSplitter([](rmhost::InstanceId, int32_t, int32_t) { return 64; });
  v.play(0, 0);
  v.set(0, pins::gate, 0.0, 2048);
  v.run(4);
  const auto sleeps = v.requests(0, hostSleep);
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(sleeps[0].clock, 2048 + 16 * 64);  // the sixteenth call after the tail started
  EXPECT_TRUE(v.session.asleep(v.ids[0]));
  EXPECT_EQ(v[0].tailRemaining, 0);

  // A host that keeps calling a voice that asked to sleep: the count stops at its lowest value.
  swarm::Module& m = v[0];
  m.tailRemaining = std::numeric_limits<int32_t>::min() + 10;
  v.session.beginBlock();
  m.renderTail(0, 64);
  EXPECT_EQ(m.tailRemaining, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(v.requests(0, hostSleep).size(), 2u);
}

TEST(SwarmRender, SteadyMagnitudeSettlesAtHalf) {
  // Three oscillators at one pitch with different phases: a sum of constant magnitude, which
  // the follower and smoother bring to 0.5. (A magnitude that varies within each period lets the
  // follower fall between its peaks, and the peaks then settle above 0.5.)
  Voices v(1, withGate({{pins::oscs, 3}, {pins::fc1, 0.45}, {pins::phaseSpread, 0.5}}));
  v.play(0, 0);
  const Stereo out = record(v, 0, 220);
  for (size_t j = out.left.size() - 22050; j < out.left.size(); ++j) {
    ASSERT_NEAR(std::hypot(double(out.left[j]), double(out.right[j])), 0.5, 0.005) << j;
  }
}

TEST(SwarmRender, SyncRisingAtEverySampleRetunesAtEverySample) {
  Voices v(1, withGate({{pins::oscs, 2}}));
  // "sync" rises for the first 512 samples of the second block and then holds; "fc_1" moves on.
  v.session.setStream(
      v.ids[0], pins::sync,
      [](int64_t clock, float* out, int32_t frames) {
        for (int32_t j = 0; j < frames; ++j)
          out[j] = float(std::min<int64_t>(clock + j, 1536)) * 1e-3f;
      },
      0);
  v.session.setStream(
      v.ids[0], pins::fc1,
      [](int64_t clock, float* out, int32_t frames) {
        for (int32_t j = 0; j < frames; ++j) out[j] = 0.3f + float(clock + j) * 1e-5f;
      },
      0);
  v.run(1);
  swarm::Module& m = v[0];
  v.session.beginBlock();
  const float* fc1 = v.session.buffer(v.ids[0], pins::fc1);
  double tuned = 0.0;
  for (int32_t j = 0; j < 1024; ++j) {
    m.renderGeneral(j, 1);
    if (j <= 512) tuned = 440.0 * std::exp((double(fc1[j]) * 10.0 - 5.0) * 0.6931471805599453);
    const auto& step = m.oscillators[0].carrierStep;
    ASSERT_NEAR(std::atan2(step.im, step.re), m.phaseStepPerHz * tuned, 1e-13) << j;
  }
  v.session.endBlock();
}

TEST(SwarmRender, RenormIndexWrapsAt200) {
  Voices v(1, {}, rmhost::SessionConfig{44100.0f, 16, -1, false});
  v.run(199);
  EXPECT_EQ(v[0].renormIndex, 199);
  v.run(1);
  EXPECT_EQ(v[0].renormIndex, 0);
}

bool allFinite(const Stereo& s, double bound) {
  for (size_t j = 0; j < s.left.size(); ++j) {
    if (!(std::fabs(s.left[j]) <= bound && std::fabs(s.right[j]) <= bound)) return false;
  }
  return true;
}

TEST(SwarmRender, TenMinutesStayFiniteAndBounded) {
  Voices v(1,
           withGate({{pins::oscs, 2},
                     {pins::partials, 5},
                     {pins::fc1, 0.45},
                     {pins::fm1, 0.5},
                     {pins::a1, 0.9}}),
           rmhost::SessionConfig{44100.0f, 4096, -1, false});
  v.play(0, 0);
  Stereo out;
  for (int b = 0; b < 600 * 44100 / 4096; ++b) {
    out = record(v, 0, 1);
    ASSERT_TRUE(allFinite(out, 2.0)) << "block " << b;
  }
  EXPECT_FALSE(allFinite(out, 0.1));  // still sounding
  // The per-block renormalisation kept every phasor at its set-up length.
  for (uint32_t k = 0; k < 2; ++k) {
    const auto& s = v[0].oscillators[k];
    EXPECT_NEAR(std::hypot(s.carrier.re, s.carrier.im) / s.gain, 1.0, 1e-9);
    EXPECT_NEAR(std::hypot(s.modulator.re, s.modulator.im) / s.decay, 1.0, 1e-9);
  }
}

TEST(SwarmRender, AbsurdPinValuesKeepTheOutputFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {std::nan(""), inf, -inf, 1e30, -1e30, 5e9, -7.0, 0.0, 1.0, 0.5, -1.0};
  Voices v(1, withGate({}));
  // Before the first retune the voice is silent.
  v.set(0, pins::gate, 1.0, 0);
  ASSERT_TRUE(allFinite(record(v, 0, 2), 0.0));

  std::mt19937 random(3);
  const int32_t shaping[] = {pins::fc1,   pins::fm1,          pins::partials, pins::a1,
                             pins::wave1, pins::rotate,       pins::incr,     pins::pitchSpread,
                             pins::a2,    pins::pitchShuffle, pins::wind,     pins::phaseSpread};
  for (int note = 0; note < 60; ++note) {
    const int64_t at = v.session.clock() + 7;
    for (int32_t pin : shaping) v.set(0, pin, values[random() % std::size(values)], at);
    v.set(0, pins::retrigger, double(random() % 2), at);
    v.set(0, pins::oscs, double(random() % 240) - 20.0, at);
    v.note(0, at + 1);
    ASSERT_TRUE(allFinite(record(v, 0, 2), 1e7)) << "note " << note;
  }
}

TEST(SwarmRender, NoHeapAllocationOnTheAudioPath) {
  Voices v(3, richBank(60), rmhost::SessionConfig{44100.0f, 1024, -1, false});
  v.session.setSplitter([](rmhost::InstanceId, int32_t, int32_t remaining) {
    return std::min(remaining, 300);  // calls longer and shorter than the scratch sums
  });
  ASSERT_TRUE(rmhost::allocationCounterWorks());
  rmhost::armAllocationCounter(true);
  for (size_t i = 0; i < 3; ++i) v.play(i, 100 + 1024 * int64_t(i));
  v.set(0, pins::gate, 0.0, 5000);
  v.run(8);
  EXPECT_EQ(rmhost::audioPathHeapOperations().total(), 0u);
  rmhost::armAllocationCounter(false);
}

// "a_1" 1.01 over 70000 partials: 1.01^70001 is about 3e302, which the closed form still
// carries, so the decay stays as given. The carrier's gain (about 3e-305) and the modulator's
// power are so far from 1 that their squares leave the double range; the renormalisation at
// the end of every block must keep them at their lengths, or the oscillator falls silent.
TEST(SwarmRender, LongSeriesKeepTheirDecayAndKeepSounding) {
  Voices v(1, withGate({{pins::oscs, 1},
                        {pins::partials, 70000},
                        {pins::fm1, 0.0001},
                        {pins::fc1, 0.5},
                        {pins::a1, 1.01}}));
  v.note(0, 0);
  v.run(1);
  const dsp::OscillatorState& s = v[0].oscillators[0];
  const double d = double(1.01f);
  EXPECT_EQ(s.decay, d);
  EXPECT_NEAR(std::log(s.decayPowN) / std::log(d), 70001.0, 1e-6);
  EXPECT_EQ(s.gain, (d - 1.0) / (s.decayPowN - 1.0));

  const Stereo later = record(v, 0, 250);  // every block renormalised slot 0
  EXPECT_NEAR(std::hypot(s.carrier.re / s.gain, s.carrier.im / s.gain), 1.0, 1e-9);
  EXPECT_NEAR(std::hypot(s.modulatorPowN.re / s.decayPowN, s.modulatorPowN.im / s.decayPowN), 1.0,
              1e-9);
  float peak = 0.0f;
  for (size_t j = later.left.size() - 50 * 1024; j < later.left.size(); ++j) {
    peak = std::max(peak, std::hypot(later.left[j], later.right[j]));
  }
  EXPECT_GT(peak, 0.01f);
}

// A blend far outside 0 to 1 is used as given as long as the contribution it scales can be
// squared in the output stage; the output stays finite and normalised.
TEST(SwarmRender, LargeWaveBlendsAreUsedAsGiven) {
  for (float wave : {1e13f, 3e38f, -3e38f}) {
    SCOPED_TRACE(wave);
    Voices v(1, withGate({{pins::oscs, 2},
                          {pins::partials, 3},
                          {pins::fm1, 0.5},
                          {pins::fc1, 0.5},
                          {pins::a1, 0.5},
                          {pins::wave1, wave}}));
    v.note(0, 0);
    const Stereo out = record(v, 0, 20);
    EXPECT_EQ(v[0].oscillators[1].waveMix, double(wave));
    EXPECT_TRUE(allFinite(out, 1e4));   // the follower starts from 0.5, far below the sums
    EXPECT_FALSE(allFinite(out, 0.1));  // sounding
  }
}

}  // namespace
}  // namespace swarm_test

#include "picture.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace rmcli {

namespace {

constexpr Color kBackground{18, 18, 24};
constexpr Color kPanel{6, 6, 10};
constexpr Color kGrid{52, 52, 64};
constexpr Color kText{214, 214, 220};
constexpr Color kLeftDim{40, 110, 150};
constexpr Color kLeft{110, 210, 255};
constexpr Color kRightDim{150, 95, 40};
constexpr Color kRight{255, 180, 90};
constexpr int kFontScale = 2;
constexpr double kFloorDb = -100.0;  // the bottom of the level scale
constexpr double kLowestHz = 20.0;
constexpr int kStripSteps = 40;  // 2.5 dB per colour in a strip

// A perceptually ordered dark-to-bright ramp for the spectrogram levels.
Color levelColor(double t) {
  static constexpr std::array<Color, 6> kRamp = {Color{0, 0, 4},      Color{50, 10, 95},
                                                 Color{135, 30, 105}, Color{212, 72, 66},
                                                 Color{250, 155, 20}, Color{252, 250, 170}};
  t = std::clamp(t, 0.0, 1.0) * (kRamp.size() - 1);
  const size_t i = std::min(static_cast<size_t>(t), kRamp.size() - 2);
  const double f = t - static_cast<double>(i);
  auto mix = [f](uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(std::lround(a + (b - a) * f));
  };
  return {mix(kRamp[i].r, kRamp[i + 1].r), mix(kRamp[i].g, kRamp[i + 1].g),
          mix(kRamp[i].b, kRamp[i + 1].b)};
}

// Power spectra of Hann-windowed frames, relative to a full-scale sine.
class Spectrum {
 public:
  explicit Spectrum(int size)
      : size_(size),
        in_(fftw_alloc_real(static_cast<size_t>(size))),
        out_(fftw_alloc_complex(static_cast<size_t>(size / 2 + 1))),
        // Scalar code only: which vector code FFTW picks depends on the processor, and the
        // pictures must come out the same, byte for byte, on every machine.
        plan_(fftw_plan_dft_r2c_1d(size, in_, out_, FFTW_ESTIMATE | FFTW_NO_SIMD)),
        window_(static_cast<size_t>(size)) {
    for (int i = 0; i < size; ++i)
      window_[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / size);
  }
  ~Spectrum() {
    fftw_destroy_plan(plan_);
    fftw_free(out_);
    fftw_free(in_);
  }
  Spectrum(const Spectrum&) = delete;
  Spectrum& operator=(const Spectrum&) = delete;

  int bins() const { return size_ / 2 + 1; }

  // Adds the power of each bin of the frame of `channel` centred at `centre` to `power`.
  void accumulate(const AudioBuffer& audio, int channel, int64_t centre,
                  std::vector<double>& power) {
    const int64_t first = centre - size_ / 2;
    for (int i = 0; i < size_; ++i) {
      const int64_t frame = first + i;
      const float sample =
          frame >= 0 && frame < audio.frames ? audio.samples[2 * frame + channel] : 0.0f;
      in_[i] = window_[i] * sample;
    }
    fftw_execute(plan_);
    const double fullScale = size_ / 4.0;  // |X| of a unit sine under a Hann window
    for (int k = 0; k < bins(); ++k)
      power[k] += (out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1]) / (fullScale * fullScale);
  }

 private:
  int size_;
  double* in_;
  fftw_complex* out_;
  fftw_plan plan_;
  std::vector<double> window_;
};

struct Box {
  int x, y, w, h;
  int right() const { return x + w; }
  int bottom() const { return y + h; }
};

// A step of 1, 2 or 5 times a power of ten that gives at most `count` ticks over `range`.
double niceStep(double range, int count) {
  const double raw = range / count;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * decade >= raw) return m * decade;
  return 10.0 * decade;
}

std::string secondsLabel(double value, double step) {
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string hertzLabel(double hz) {
  char text[32];
  if (hz >= 1000.0)
    std::snprintf(text, sizeof text, "%gk", hz / 1000.0);
  else
    std::snprintf(text, sizeof text, "%g", hz);
  return text;
}

void drawLane(Canvas& canvas, const AudioBuffer& audio, const Box& lane, int channel, Color dim,
              Color bright, const char* label) {
  canvas.fill(lane.x, lane.y, lane.w, lane.h, kPanel);
  const int centre = lane.y + lane.h / 2;
  const double half = lane.h / 2.0 - 3.0;
  canvas.hline(lane.x, lane.right() - 1, centre, kGrid);
  auto row = [&](double v) {
    return centre - static_cast<int>(std::lround(std::clamp(v, -1.0, 1.0) * half));
  };
  for (int x = 0; x < lane.w; ++x) {
    const int64_t from = x * audio.frames / lane.w;
    const int64_t to = std::max(from + 1, (x + 1) * audio.frames / lane.w);
    float low = 0.0f, high = 0.0f;
    double squares = 0.0;
    for (int64_t f = from; f < to && f < audio.frames; ++f) {
      const float s = audio.samples[2 * f + channel];
      low = std::min(low, s);
      high = std::max(high, s);
      squares += static_cast<double>(s) * s;
    }
    const double rms = std::sqrt(squares / static_cast<double>(to - from));
    canvas.vline(lane.x + x, row(high), row(low), dim);
    canvas.vline(lane.x + x, row(rms), row(-rms), bright);
  }
  canvas.text(lane.x - 8 - Canvas::textWidth(label, kFontScale),
              centre - Canvas::textHeight(kFontScale) / 2, label, bright, kFontScale);
}

// `steps` above 0 rounds the levels to that many steps over the scale, for pictures that must
// stay small.
void drawSpectrogram(Canvas& canvas, const AudioBuffer& audio, const Box& box, int steps = 0) {
  const int size = audio.sampleRate > 48000 ? 8192 : 4096;
  Spectrum spectrum(size);
  const double binHz = static_cast<double>(audio.sampleRate) / size;
  const double top = audio.sampleRate / 2.0;
  const double ratio = top / kLowestHz;
  std::vector<double> power(static_cast<size_t>(spectrum.bins()));
  for (int x = 0; x < box.w; ++x) {
    std::fill(power.begin(), power.end(), 0.0);
    const int64_t centre = static_cast<int64_t>((x + 0.5) * audio.frames / box.w);
    spectrum.accumulate(audio, 0, centre, power);
    spectrum.accumulate(audio, 1, centre, power);
    for (int y = 0; y < box.h; ++y) {
      // Row y covers the frequencies between its lower and upper edge on the log scale.
      const double low =
          kLowestHz * std::pow(ratio, static_cast<double>(box.h - 1 - y) / box.h) / binHz;
      const double high =
          kLowestHz * std::pow(ratio, static_cast<double>(box.h - y) / box.h) / binHz;
      double value = 0.0;
      if (high - low < 1.0) {  // narrower than a bin: interpolate between the two nearest
        const double at = std::sqrt(low * high);
        const int k = std::min(static_cast<int>(at), spectrum.bins() - 2);
        const double f = at - k;
        value = power[k] * (1.0 - f) + power[k + 1] * f;
      } else {
        for (int k = static_cast<int>(std::ceil(low));
             k <= static_cast<int>(high) && k < spectrum.bins(); ++k)
          value = std::max(value, power[k]);
      }
      const double db = 10.0 * std::log10(value / 2.0 + 1e-30);  // mean power of both channels
      double level = (db - kFloorDb) / -kFloorDb;
      if (steps > 0) level = std::round(std::clamp(level, 0.0, 1.0) * steps) / steps;
      canvas.set(box.x + x, box.y + y, levelColor(level));
    }
  }
  // Frequency axis: 1, 2 and 5 times each power of ten.
  const auto rowOf = [&](double hz) {
    return box.bottom() - 1 -
           static_cast<int>(std::lround(std::log(hz / kLowestHz) / std::log(ratio) * box.h));
  };
  for (double decade = 10.0; decade < top; decade *= 10.0)
    for (double m : {1.0, 2.0, 5.0}) {
      const double hz = m * decade;
      if (hz < kLowestHz * 1.5 || hz > top) continue;
      const int y = rowOf(hz);
      canvas.hline(box.x - 6, box.x - 1, y, kText);
      const std::string label = hertzLabel(hz);
      canvas.text(box.x - 10 - Canvas::textWidth(label, kFontScale),
                  y - Canvas::textHeight(kFontScale) / 2, label, kText, kFontScale);
    }
  canvas.text(box.x - 10 - Canvas::textWidth("Hz", kFontScale),
              box.y - 6 - Canvas::textHeight(kFontScale), "Hz", kText, kFontScale);
}

void drawLevelScale(Canvas& canvas, const Box& box) {
  for (int y = 0; y < box.h; ++y)
    canvas.hline(box.x, box.right() - 1, box.y + y,
                 levelColor(1.0 - static_cast<double>(y) / (box.h - 1)));
  for (int db = 0; db >= kFloorDb; db -= 20) {
    const int y = box.y + static_cast<int>(std::lround(db / kFloorDb * (box.h - 1)));
    canvas.hline(box.right(), box.right() + 4, y, kText);
    const std::string label = std::to_string(db);
    canvas.text(box.right() + 8, y - Canvas::textHeight(kFontScale) / 2, label, kText, kFontScale);
  }
  canvas.text(box.x, box.y - 14 - Canvas::textHeight(kFontScale), "dB", kText, kFontScale);
}

void drawTimeAxis(Canvas& canvas, const AudioBuffer& audio, const Box& plot, const Box& waves) {
  const double seconds = static_cast<double>(audio.frames) / audio.sampleRate;
  const double step = niceStep(seconds, 12);
  for (int i = 0; i * step <= seconds + 1e-9; ++i) {
    const double t = i * step;
    const int x = plot.x + static_cast<int>(std::lround(t / seconds * (plot.w - 1)));
    for (int y = waves.y; y < waves.bottom(); y += 3) canvas.set(x, y, kGrid);
    canvas.vline(x, plot.bottom(), plot.bottom() + 5, kText);
    const std::string label = secondsLabel(t, step);
    const int width = Canvas::textWidth(label, kFontScale);
    canvas.text(std::min(x - width / 2, plot.right() - width), plot.bottom() + 10, label, kText,
                kFontScale);
  }
  canvas.text(plot.right() + 12, plot.bottom() + 10, "s", kText, kFontScale);
}

}  // namespace

Canvas drawStrip(const AudioBuffer& audio, int width, int height) {
  Canvas canvas(width, height, kBackground);
  const int left = 56, right = 24, top = 24, bottom = 34;
  const Box spectrogram{left, top, width - left - right, height - top - bottom};
  canvas.fill(spectrogram.x, spectrogram.y, spectrogram.w, spectrogram.h, kPanel);
  if (audio.frames > 0) {
    drawSpectrogram(canvas, audio, spectrogram, kStripSteps);
    drawTimeAxis(canvas, audio, spectrogram, {spectrogram.x, spectrogram.y, spectrogram.w, 0});
  }
  return canvas;
}

Canvas drawPicture(const AudioBuffer& audio, int width, int height) {
  Canvas canvas(width, height, kBackground);
  const int left = 64, right = 96, top = 12, bottom = 40, laneGap = 4, panelGap = 30;
  const int plotWidth = width - left - right;
  const int laneHeight = (height - top - bottom) * 3 / 20;
  const Box leftLane{left, top, plotWidth, laneHeight};
  const Box rightLane{left, top + laneHeight + laneGap, plotWidth, laneHeight};
  const Box waves{left, top, plotWidth, 2 * laneHeight + laneGap};
  const int spectrumTop = waves.bottom() + panelGap;
  const Box spectrogram{left, spectrumTop, plotWidth, height - bottom - spectrumTop};
  if (audio.frames > 0) {
    drawLane(canvas, audio, leftLane, 0, kLeftDim, kLeft, "L");
    drawLane(canvas, audio, rightLane, 1, kRightDim, kRight, "R");
    drawSpectrogram(canvas, audio, spectrogram);
    drawTimeAxis(canvas, audio, spectrogram, waves);
  }
  drawLevelScale(canvas, {spectrogram.right() + 16, spectrogram.y, 14, spectrogram.h});
  return canvas;
}

}  // namespace rmcli

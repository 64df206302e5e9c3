// The envelope's sine LFO: a phasor turned by a complex rotation per sample, and the four ways
// it modulates the envelope samples in place.
#pragma once

#include <cmath>
#include <cstdint>

namespace vellum {

// The phasor (sine and cosine of the LFO angle) and the phase offset already turned into it.
struct LfoState {
  double sin = 0.0;
  double cos = 1.0;
  float phaseApplied = 0.0f;  // radians
};

enum class LfoRenderer : int32_t { none, normalBottom, center, top };

// The renderer for an LfoAlign value: off, normal and bottom mod, center mod, top mod. Any other
// value keeps the previous choice.
inline LfoRenderer chooseLfoRenderer(int32_t align, LfoRenderer previous) noexcept {
  switch (align) {
    case 0:
      return LfoRenderer::none;
    case 1:
    case 2:
      return LfoRenderer::normalBottom;
    case 3:
      return LfoRenderer::center;
    case 4:
      return LfoRenderer::top;
    default:
      return previous;
  }
}

namespace lfo_detail {

// Turns the phasor by the angle whose cosine and sine are c and s.
inline void rotate(LfoState& lfo, double c, double s) noexcept {
  const double cos = lfo.cos * c - lfo.sin * s;
  const double sin = lfo.cos * s + lfo.sin * c;
  lfo.cos = cos;
  lfo.sin = sin;
}

// Once per call: pulls the phasor back to length 1 against rounding drift, and turns it by any
// change of the phase offset p since the last call.
inline void prepare(LfoState& lfo, float p) noexcept {
  const double inverseLength = 1.0 / std::sqrt(lfo.sin * lfo.sin + lfo.cos * lfo.cos);
  lfo.sin = lfo.sin * inverseLength;
  lfo.cos = inverseLength * lfo.cos;
  if (p != lfo.phaseApplied) {
    const auto delta = static_cast<double>(p - lfo.phaseApplied);
    rotate(lfo, std::cos(delta), std::sin(delta));
    lfo.phaseApplied = p;
  }
}

// Advances the angle by w before each sample and replaces each envelope sample e by
// formula(e, s) with s the sine of the new angle.
template <class Formula>
inline void modulate(LfoState& lfo, float w, float p, int32_t count, float* samples,
                     Formula formula) noexcept {
  const double cw = std::cos(static_cast<double>(w));
  const double sw = std::sin(static_cast<double>(w));
  prepare(lfo, p);
  for (int32_t i = 0; i < count; ++i) {
    rotate(lfo, cw, sw);
    samples[i] = formula(samples[i], lfo.sin);
  }
}

}  // namespace lfo_detail

// Renderers: w is the angle per sample, a the depth, p the phase offset (radians), count the
// number of samples modulated in place. a/2, 1 - a, e/2 and e x (1 - a) are single precision,
// the rest double, each result rounded to float.

// LfoAlign below 2 (normal): the LFO is mixed in at depth a, e x (1 - a) + (1 + s) x a/2.
// Otherwise (bottom mod): the LFO scales the envelope from below, ((1 + s) x a/2 + 1 - a) x e.
inline void lfoNormalBottom(LfoState& lfo, float w, float a, float p, int32_t align, int32_t count,
                            float* samples) noexcept {
  const auto halfA = static_cast<double>(a / 2.0f);
  const float oneMinusA = 1.0f - a;
  if (align < 2) {
    lfo_detail::modulate(lfo, w, p, count, samples, [=](float e, double s) {
      return static_cast<float>(static_cast<double>(e * oneMinusA) + (1.0 + s) * halfA);
    });
  } else {
    lfo_detail::modulate(lfo, w, p, count, samples, [=](float e, double s) {
      return static_cast<float>(((1.0 + s) * halfA + static_cast<double>(oneMinusA)) *
                                static_cast<double>(e));
    });
  }
}

// Center mod: ((1 + s) x e + 1 - e) x a/2 + e x (1 - a).
inline void lfoCenter(LfoState& lfo, float w, float a, float p, int32_t /*align*/, int32_t count,
                      float* samples) noexcept {
  const auto halfA = static_cast<double>(a / 2.0f);
  const float oneMinusA = 1.0f - a;
  lfo_detail::modulate(lfo, w, p, count, samples, [=](float e, double s) {
    const auto ed = static_cast<double>(e);
    return static_cast<float>((((1.0 + s) * ed + 1.0) - ed) * halfA +
                              static_cast<double>(e * oneMinusA));
  });
}

// Top mod: (1 - (1 + s) x e/2) x a + e x (1 - a).
inline void lfoTop(LfoState& lfo, float w, float a, float p, int32_t /*align*/, int32_t count,
                   float* samples) noexcept {
  const auto ad = static_cast<double>(a);
  const float oneMinusA = 1.0f - a;
  lfo_detail::modulate(lfo, w, p, count, samples, [=](float e, double s) {
    return static_cast<float>((1.0 - (1.0 + s) * static_cast<double>(e / 2.0f)) * ad +
                              static_cast<double>(e * oneMinusA));
  });
}

// Runs the chosen renderer; none leaves the samples and the phasor alone.
inline void renderLfo(LfoRenderer renderer, LfoState& lfo, float w, float a, float p, int32_t align,
                      int32_t count, float* samples) noexcept {
  switch (renderer) {
    case LfoRenderer::normalBottom:
      lfoNormalBottom(lfo, w, a, p, align, count, samples);
      break;
    case LfoRenderer::center:
      lfoCenter(lfo, w, a, p, align, count, samples);
      break;
    case LfoRenderer::top:
      lfoTop(lfo, w, a, p, align, count, samples);
      break;
    case LfoRenderer::none:
      break;
  }
}

}  // namespace vellum

#include <algorithm>
#include <cmath>

#include "rmhost/note_layer.h"

namespace rmhost {

double pitchValue(PitchLaw law, double key) {
  switch (law) {
    case PitchLaw::fc:
      return ((key - 69.0) / 12.0 + 5.0) / 10.0;
    case PitchLaw::hz:
      return 440.0 * std::exp2((key - 69.0) / 12.0);
    case PitchLaw::midi:
      return key;
  }
  return key;
}

double velocityGain(int velocity, double sensitivity) {
  const double s = std::isnan(sensitivity) ? 1.0 : std::clamp(sensitivity, 0.0, 1.0);
  const double v = std::clamp(velocity, 0, 127) / 127.0;
  return (1.0 - s) + s * v * v;
}

}  // namespace rmhost

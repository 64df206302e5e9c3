// The four-lane wide path, compiled for processors with AVX2 (see wide_bank.h).
#include "swarm/dsp/wide_bank_kernel.h"

namespace swarm::dsp {

void sumBankWide4(OscillatorState* bank, uint32_t count, LaneSums& lanes, double* left,
                  double* right, uint32_t frames) noexcept {
  sumBankWide<4>(bank, count, lanes, left, right, frames);
}

}  // namespace swarm::dsp

// Path choice for the bank's block sums. The wide paths are compiled for instruction sets above
// the baseline; they are reached only after the processor has been asked whether it runs them.
#include "swarm/dsp/bank_paths.h"

#include "swarm/dsp/oscillator.h"

namespace swarm::dsp {

bool processorRuns(BankPath path) noexcept {
  switch (path) {
    case BankPath::single:
      return true;
#if defined(__x86_64__) || defined(__i386__)
    // The library's own check also asks whether the system saves the wider registers.
    case BankPath::paired:
      return __builtin_cpu_supports("sse2");
    case BankPath::avx2:
      return __builtin_cpu_supports("avx2");
    case BankPath::avx512:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

BankPath fastestBankPath() noexcept {
  for (BankPath path : {BankPath::avx512, BankPath::avx2, BankPath::paired}) {
    if (processorRuns(path)) return path;
  }
  return BankPath::single;
}

const char* bankPathName(BankPath path) noexcept {
  switch (path) {
    case BankPath::single:
      return "single";
    case BankPath::paired:
      return "paired";
    case BankPath::avx2:
      return "avx2";
    case BankPath::avx512:
      return "avx512";
  }
  return "unknown";
}

void sumBank(BankPath path, OscillatorBank& bank, uint32_t count, LaneSums& lanes, double* left,
             double* right, uint32_t frames) noexcept {
  switch (path) {
#if defined(__x86_64__) || defined(__i386__)
    case BankPath::avx512:
      sumBankWide8(bank.data(), count, lanes, left, right, frames);
      return;
    case BankPath::avx2:
      sumBankWide4(bank.data(), count, lanes, left, right, frames);
      return;
#endif
    case BankPath::paired:
      sumBankPaired(bank, count, left, right, frames);
      return;
    default:
      sumBankSingle(bank, count, left, right, frames);
      return;
  }
}

}  // namespace swarm::dsp

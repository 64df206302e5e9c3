// The machine's limit for the closed-form oscillator step on eight lanes. The step needs 28
// multiplications per group of eight oscillator-samples (no fewer keep its rounding), so the
// processor's 512-bit multipliers bound it: timed here as rounds of 28 independent 512-bit
// multiplications.
//
//   multiplyRounds(n)          n rounds (x86-64 with AVX-512 only)
//   stepLimitNsPerOscSample()  the limit in ns per oscillator-sample, measured now over about
//                              4 ms; 0 where the processor has no AVX-512
#pragma once

#include <chrono>
#include <cstdint>

#include "swarm/dsp/bank_paths.h"

namespace swarm_bench {

#if defined(__x86_64__)
// clang-format off
#define RM_MUL(r) "vmulpd %%zmm15, %%zmm" #r ", %%zmm" #r "\n\t"
#define RM_MUL14                                                                         \
  RM_MUL(0) RM_MUL(1) RM_MUL(2) RM_MUL(3) RM_MUL(4) RM_MUL(5) RM_MUL(6) RM_MUL(7) RM_MUL(8) \
  RM_MUL(9) RM_MUL(10) RM_MUL(11) RM_MUL(12) RM_MUL(13)
// clang-format on

__attribute__((target("avx512f"))) inline void multiplyRounds(int64_t rounds) {
  const double factor = 1.0;
  asm volatile("vbroadcastsd %0, %%zmm15" : : "m"(factor) : "xmm15");
  for (int64_t i = 0; i < rounds; ++i) {
    asm volatile(RM_MUL14 RM_MUL14
                 :
                 :
                 : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",
                   "xmm10", "xmm11", "xmm12", "xmm13");
  }
}
#undef RM_MUL14
#undef RM_MUL
#endif

inline double stepLimitNsPerOscSample() {
#if defined(__x86_64__)
  if (!swarm::dsp::processorRuns(swarm::dsp::BankPath::avx512)) return 0.0;
  // Timed like a benchmark run, as an average rather than a best case.
  constexpr int64_t kRounds = 1000000;
  const auto start = std::chrono::steady_clock::now();
  multiplyRounds(kRounds);
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
  return took.count() / (kRounds * 8.0);
#else
  return 0.0;
#endif
}

}  // namespace swarm_bench

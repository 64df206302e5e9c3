// Keeps a module's results independent of the x87 control word its host leaves set.
//
// On Windows the C runtime computes sin, cos, exp and log on the x87 unit, whose precision and
// rounding control belong to the calling thread: a host that sets single precision, or another
// rounding mode, would change the samples. Every entry of a module library therefore runs with
// one control word of its own (all exceptions masked, 64-bit precision, round to nearest, as
// the runtime's functions are written for) and gives the host's back on return. Elsewhere the
// maths library does not use the x87 unit and the guard does nothing.
#pragma once

#include <cstdint>

namespace rm {

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))

class X87Guard {
 public:
  static constexpr uint16_t kModuleWord = 0x037f;

  X87Guard() noexcept {
    __asm__ volatile("fnstcw %0" : "=m"(host_));
    if (host_ != kModuleWord) load(kModuleWord);
  }
  ~X87Guard() {
    if (host_ != kModuleWord) load(host_);
  }
  X87Guard(const X87Guard&) = delete;
  X87Guard& operator=(const X87Guard&) = delete;

 private:
  static void load(uint16_t word) noexcept { __asm__ volatile("fldcw %0" : : "m"(word)); }
  uint16_t host_ = 0;
};

#else

class X87Guard {
 public:
  X87Guard() noexcept {}  // user-provided, so that an unused guard raises no warning
};

#endif

}  // namespace rm

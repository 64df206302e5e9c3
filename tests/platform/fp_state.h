// The floating-point environment of the calling thread as the tests see it: the SSE control and
// status register and the x87 control word and exception flags, read and set exactly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform_test {

struct FpBits {
  uint32_t mxcsr = 0x1f80;
  uint16_t x87Control = 0x037f;
  uint16_t x87Flags = 0;

  bool operator==(const FpBits&) const = default;
};

inline FpBits readFp() {
  FpBits bits;
  uint16_t status = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(bits.mxcsr));
  __asm__ volatile("fnstcw %0" : "=m"(bits.x87Control));
  __asm__ volatile("fnstsw %0" : "=m"(status));
  bits.x87Flags = status & 0x3f;
  return bits;
}

// Sets all of it, raised flags included, through the x87 environment image (no exception is
// pending afterwards: a raised flag sets no error summary here, so nothing traps by itself).
inline void loadFp(const FpBits& bits) {
  struct {
    uint16_t control, pad0, status, pad1;
    uint32_t rest[5];
  } image;
  __asm__ volatile("fnstenv %0" : "=m"(image));
  image.control = bits.x87Control;
  image.status = static_cast<uint16_t>((image.status & ~0x80bf) | bits.x87Flags);
  __asm__ volatile("fldenv %0" : : "m"(image));
  __asm__ volatile("ldmxcsr %0" : : "m"(bits.mxcsr));
}

inline std::string describe(const FpBits& bits) {
  char text[64];
  std::snprintf(text, sizeof text, "MXCSR %04x, x87 control %04x, x87 flags %02x",
                static_cast<unsigned>(bits.mxcsr), bits.x87Control, bits.x87Flags);
  return text;
}

}  // namespace platform_test

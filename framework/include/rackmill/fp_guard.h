// Keeps a module's results independent of the floating-point environment its host leaves set,
// and the host's environment independent of the module.
//
// The SSE control register (MXCSR) holds the rounding mode that every float and double
// operation of a module follows; on Windows the C runtime also computes sin, cos, exp and log on
// the x87 unit, whose precision and rounding belong to the calling thread. A host may leave
// either in any state, and a host that unmasks an exception traps in its own next instruction
// when a module leaves that exception's flag raised. Every entry of a module library therefore
// runs with one environment of its own (all exceptions masked, round to nearest, no flush to
// zero, 64-bit x87 precision: the plain environment a program starts with, so the samples are
// those of an unguarded run; flushing subnormals to zero would cut the long tails of a swarm
// series short), and gives the host its environment back exactly, status flags included. A call
// from the module back into the host runs in the host's environment.
#pragma once

#include <cstdint>

#if !defined(__i386__) && !defined(__x86_64__)
#include <cfenv>
#endif

namespace rm {

#if defined(__i386__) || defined(__x86_64__)

// The floating-point environment of one thread, as far as a module can change it.
struct FpState {
  uint32_t mxcsr = 0;
  uint16_t x87Control = 0;
  uint16_t x87Flags = 0;  // the exception flags of the x87 status word (bits 0 to 5)

  bool operator==(const FpState&) const = default;
};

namespace fp {

inline constexpr uint32_t kModuleMxcsr = 0x1f80;       // all masked, to nearest, no FTZ or DAZ
inline constexpr uint16_t kModuleX87Control = 0x037f;  // all masked, 64-bit, to nearest
inline constexpr uint16_t kX87FlagBits = 0x3f;

inline FpState current() noexcept {
  FpState s;
  uint16_t status = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
  __asm__ volatile("fnstcw %0" : "=m"(s.x87Control));
  __asm__ volatile("fnstsw %0" : "=m"(status));
  s.x87Flags = status & kX87FlagBits;
  return s;
}

inline void loadMxcsr(uint32_t word) noexcept {
  __asm__ volatile("ldmxcsr %0" : : "m"(word));
}

inline void loadX87Control(uint16_t word) noexcept {
  __asm__ volatile("fldcw %0" : : "m"(word));
}

// Sets the x87 exception flags to `flags`, with all x87 exceptions masked while it runs (a
// raised flag whose exception is unmasked traps at the next x87 instruction). Raised flags are
// rare: a host that has them gets them back through the environment image.
inline void loadX87Flags(uint16_t now, uint16_t flags) noexcept {
  if (now == flags) return;
  if (flags == 0) {
    __asm__ volatile("fnclex");
    return;
  }
  struct {
    uint16_t control, pad0, status, pad1;
    uint32_t rest[5];
  } image;
  __asm__ volatile("fnstenv %0" : "=m"(image));
  image.status = static_cast<uint16_t>((image.status & ~0x80bf) | flags);
  if ((flags & ~image.control & kX87FlagBits) != 0) image.status |= 0x8080;  // pending: ES, B
  __asm__ volatile("fldenv %0" : : "m"(image));
}

// Loads `target` exactly, given the state `now` in force.
inline void load(const FpState& now, const FpState& target) noexcept {
  if (now.mxcsr != target.mxcsr) loadMxcsr(target.mxcsr);
  // Flags first, under the masked control word still in force, then the target's control word.
  loadX87Flags(now.x87Flags, target.x87Flags);
  if (now.x87Control != target.x87Control) loadX87Control(target.x87Control);
}

}  // namespace fp

// The module's environment for the lifetime of the guard; the host's exactly as it was after.
class FpGuard {
 public:
  FpGuard() noexcept : host_(fp::current()) {
    if (host_.mxcsr != fp::kModuleMxcsr) fp::loadMxcsr(fp::kModuleMxcsr);
    if (host_.x87Control != fp::kModuleX87Control) fp::loadX87Control(fp::kModuleX87Control);
  }
  ~FpGuard() { fp::load(fp::current(), host_); }
  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

  const FpState& host() const noexcept { return host_; }

 private:
  FpState host_;
};

// The host's environment for the lifetime of the scope, around a call into the host from inside
// a guarded entry; the module's again after.
class HostFpScope {
 public:
  explicit HostFpScope(const FpState& host) noexcept : module_(fp::current()) {
    fp::load(module_, host);
  }
  ~HostFpScope() { fp::load(fp::current(), module_); }
  HostFpScope(const HostFpScope&) = delete;
  HostFpScope& operator=(const HostFpScope&) = delete;

 private:
  FpState module_;
};

#else

// Elsewhere the C library's own environment functions do the same, without the fast paths.
struct FpState {
  std::fenv_t env{};
};

class FpGuard {
 public:
  FpGuard() noexcept {
    std::fegetenv(&host_.env);
    std::fesetenv(FE_DFL_ENV);
  }
  ~FpGuard() { std::fesetenv(&host_.env); }
  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

  const FpState& host() const noexcept { return host_; }

 private:
  FpState host_;
};

class HostFpScope {
 public:
  explicit HostFpScope(const FpState& host) noexcept {
    std::fegetenv(&module_.env);
    std::fesetenv(&host.env);
  }
  ~HostFpScope() { std::fesetenv(&module_.env); }
  HostFpScope(const HostFpScope&) = delete;
  HostFpScope& operator=(const HostFpScope&) = delete;

 private:
  FpState module_;
};

#endif

}  // namespace rm

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

// Where the module's code runs x87 instructions: the maths of Windows' C runtime and of 32-bit
// glibc. 64-bit glibc computes with SSE only, so there the x87 unit is the host's alone.
#if defined(_WIN32) || defined(__i386__)
#define RM_FP_GUARD_X87 1
#endif

// The floating-point environment of one thread, as far as a module can change it.
struct FpState {
  uint32_t mxcsr = 0;
  uint16_t x87Control = 0;
  uint16_t x87Flags = 0;  // the exception flags of the x87 status word (bits 0 to 5)
};

namespace fp {

inline constexpr uint32_t kModuleMxcsr = 0x1f80;       // all masked, to nearest, no FTZ or DAZ
inline constexpr uint16_t kModuleX87Control = 0x037f;  // all masked, 64-bit, to nearest
inline constexpr uint32_t kMxcsrFlagBits = 0x3f;
inline constexpr uint16_t kX87FlagBits = 0x3f;

// Reading MXCSR costs tens of cycles on some processors, and loading it waits for the SSE work in
// flight: the entry guard reads the host's state and loads only what differs, so that a host
// whose environment is the module's (flags aside) pays two reads per entry and no load.
inline uint32_t readMxcsr() noexcept {
  uint32_t word = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(word));
  return word;
}

inline void loadMxcsr(uint32_t word) noexcept {
  __asm__ volatile("ldmxcsr %0" : : "m"(word));
}

inline uint16_t readX87Control() noexcept {
  uint16_t word = 0;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

inline uint16_t readX87Flags() noexcept {
  uint16_t status = 0;
  __asm__ volatile("fnstsw %0" : "=m"(status));
  return status & kX87FlagBits;
}

inline void loadX87Control(uint16_t word) noexcept {
  __asm__ volatile("fldcw %0" : : "m"(word));
}

// Sets the x87 exception flags to `flags`; call it while all x87 exceptions are masked (a raised
// flag whose exception is unmasked traps at the next x87 instruction). Raised flags in a host
// are rare: it gets them back through the environment image.
inline void loadX87Flags(uint16_t flags) noexcept {
  const uint16_t now = readX87Flags();
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

// The host's state, exactly, from a module state (x87 exceptions masked).
inline void loadHost(const FpState& host) noexcept {
  loadMxcsr(host.mxcsr);
#ifdef RM_FP_GUARD_X87
  loadX87Flags(host.x87Flags);
  loadX87Control(host.x87Control);
#endif
}

// The module's control settings with the host's flags, so that a module that raises no new flag
// leaves the host's MXCSR as it was and the guard loads nothing on return.
inline void loadModule(const FpState& host) noexcept {
  loadMxcsr(kModuleMxcsr | (host.mxcsr & kMxcsrFlagBits));
#ifdef RM_FP_GUARD_X87
  loadX87Control(kModuleX87Control);
#endif
}

}  // namespace fp

// The module's environment for the lifetime of the guard; the host's exactly as it was after.
class FpGuard {
 public:
  FpGuard() noexcept {
    host_.mxcsr = fp::readMxcsr();
#ifdef RM_FP_GUARD_X87
    host_.x87Control = fp::readX87Control();
    host_.x87Flags = fp::readX87Flags();
#endif
    // The host's flags may stay raised while the module runs: nothing in it reads them.
    if ((host_.mxcsr & ~fp::kMxcsrFlagBits) != fp::kModuleMxcsr) {
      fp::loadMxcsr(fp::kModuleMxcsr | (host_.mxcsr & fp::kMxcsrFlagBits));
    }
#ifdef RM_FP_GUARD_X87
    fp::loadX87Control(fp::kModuleX87Control);
#endif
  }
  ~FpGuard() {
    if (fp::readMxcsr() != host_.mxcsr) fp::loadMxcsr(host_.mxcsr);
#ifdef RM_FP_GUARD_X87
    fp::loadX87Flags(host_.x87Flags);
    fp::loadX87Control(host_.x87Control);
#endif
  }
  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

  const FpState& host() const noexcept {
    return host_;
  }

 private:
  FpState host_;
};

// The host's environment for the lifetime of the scope, around a call into the host from inside
// a guarded entry; the module's again after. The flags the host raises meanwhile are dropped on
// return from the entry, which gives back the host's state as it was.
class HostFpScope {
 public:
  explicit HostFpScope(const FpState& host) noexcept : host_(host) { fp::loadHost(host); }
  ~HostFpScope() { fp::loadModule(host_); }
  HostFpScope(const HostFpScope&) = delete;
  HostFpScope& operator=(const HostFpScope&) = delete;

 private:
  const FpState& host_;
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

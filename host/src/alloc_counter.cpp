// Allocation counter: see alloc_counter.h. Every entry here may run inside malloc, so nothing in
// this file allocates, locks or throws.
#include "rmhost/alloc_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include "rmhost/session.h"

#if defined(__SANITIZE_ADDRESS__)
#define RM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RM_UNDER_ASAN 1
#endif
#endif

namespace {

std::atomic<bool> armed{false};
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> frees{0};
// Every heap operation that reached the counter, armed or not: proves the interposition works.
std::atomic<uint64_t> observed{0};

void noteAllocation() noexcept {
  observed.fetch_add(1, std::memory_order_relaxed);
  if (armed.load(std::memory_order_relaxed) && rmhost::onModuleAudioPath()) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
}

void noteFree(const volatile void* pointer) noexcept {
  observed.fetch_add(1, std::memory_order_relaxed);
  if (pointer != nullptr && armed.load(std::memory_order_relaxed) && rmhost::onModuleAudioPath()) {
    frees.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

#ifdef RM_UNDER_ASAN

// Part of the sanitizer runtime's allocator interface (not every compiler ships its header).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {
void mallocHook(const volatile void*, size_t) {
  noteAllocation();
}
void freeHook(const volatile void* pointer) {
  noteFree(pointer);
}

void installHooks() noexcept {
  static const int installed = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
  (void)installed;
}
}  // namespace

#else  // Interpose the C library's allocator in the executable.

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);

// The definitions are exported from the executable (see CMakeLists.txt), so module libraries
// and the C++ runtime reach them instead of the C library's.
void* malloc(size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}

void free(void* pointer) {
  noteFree(pointer);
  __libc_free(pointer);
}

void* calloc(size_t count, size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
  noteAllocation();
  return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}

void* valloc(size_t size) {
  noteAllocation();
  return __libc_valloc(size);
}

void* pvalloc(size_t size) {
  noteAllocation();
  return __libc_pvalloc(size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
  noteAllocation();
  const bool powerOfTwo = alignment != 0 && (alignment & (alignment - 1)) == 0;
  if (!powerOfTwo || alignment % sizeof(void*) != 0) return EINVAL;
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
}  // extern "C"

namespace {
void installHooks() noexcept {}
}  // namespace

#endif

namespace rmhost {

void armAllocationCounter(bool arm) noexcept {
  installHooks();
  allocations.store(0, std::memory_order_relaxed);
  frees.store(0, std::memory_order_relaxed);
  armed.store(arm, std::memory_order_relaxed);
}

AllocationCounts audioPathHeapOperations() noexcept {
  return {allocations.load(std::memory_order_relaxed), frees.load(std::memory_order_relaxed)};
}

bool allocationCounterWorks() noexcept {
  installHooks();
  // Called through volatile pointers so that the compiler keeps the pair.
  void* (*volatile allocate)(size_t) = &std::malloc;
  void (*volatile release)(void*) = &std::free;
  const uint64_t before = observed.load(std::memory_order_relaxed);
  release(allocate(16));
  return observed.load(std::memory_order_relaxed) >= before + 2;
}

}  // namespace rmhost

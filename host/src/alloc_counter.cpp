// Allocation counter: see alloc_counter.h. Every entry here may run inside malloc, so nothing in
// this file allocates, locks or throws.
#include "rmhost/alloc_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#include <cstring>
#endif

#include "rmhost/library.h"
#include "rmhost/session.h"

// AddressSanitizer and ThreadSanitizer own malloc: the counter hooks their allocator instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RM_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RM_UNDER_SANITIZER 1
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

#ifdef RM_UNDER_SANITIZER

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

#elif defined(_WIN32)

// A DLL reaches the C runtime's heap through its own import address table, which the loader fills
// with the runtime's addresses; an executable cannot interpose on that. Instead every module
// library that loads has the table slots of its heap imports pointed at counting functions, which
// call the runtime's own. Heap calls the library makes by other ways (HeapAlloc, VirtualAlloc)
// are not seen.
namespace {

void*(__cdecl* realMalloc)(size_t) = nullptr;
void*(__cdecl* realCalloc)(size_t, size_t) = nullptr;
void*(__cdecl* realRealloc)(void*, size_t) = nullptr;
void*(__cdecl* realRecalloc)(void*, size_t, size_t) = nullptr;
void(__cdecl* realFree)(void*) = nullptr;
void*(__cdecl* realAlignedMalloc)(size_t, size_t) = nullptr;
void*(__cdecl* realAlignedRealloc)(void*, size_t, size_t) = nullptr;
void(__cdecl* realAlignedFree)(void*) = nullptr;
char*(__cdecl* realStrdup)(const char*) = nullptr;

void* __cdecl countingMalloc(size_t size) {
  noteAllocation();
  return realMalloc(size);
}
void* __cdecl countingCalloc(size_t count, size_t size) {
  noteAllocation();
  return realCalloc(count, size);
}
void* __cdecl countingRealloc(void* pointer, size_t size) {
  noteAllocation();
  return realRealloc(pointer, size);
}
void* __cdecl countingRecalloc(void* pointer, size_t count, size_t size) {
  noteAllocation();
  return realRecalloc(pointer, count, size);
}
void __cdecl countingFree(void* pointer) {
  noteFree(pointer);
  realFree(pointer);
}
void* __cdecl countingAlignedMalloc(size_t size, size_t alignment) {
  noteAllocation();
  return realAlignedMalloc(size, alignment);
}
void* __cdecl countingAlignedRealloc(void* pointer, size_t size, size_t alignment) {
  noteAllocation();
  return realAlignedRealloc(pointer, size, alignment);
}
void __cdecl countingAlignedFree(void* pointer) {
  noteFree(pointer);
  realAlignedFree(pointer);
}
char* __cdecl countingStrdup(const char* text) {
  noteAllocation();
  return realStrdup(text);
}

struct Route {
  const char* name;
  void* counting;
  void** real;  // the runtime's function, taken from the first table that imports it
};

template <class F>
Route route(const char* name, F counting, F* real) {
  return Route{name, reinterpret_cast<void*>(counting), reinterpret_cast<void**>(real)};
}

const Route routes[] = {
    route("malloc", &countingMalloc, &realMalloc),
    route("calloc", &countingCalloc, &realCalloc),
    route("realloc", &countingRealloc, &realRealloc),
    route("_recalloc", &countingRecalloc, &realRecalloc),
    route("free", &countingFree, &realFree),
    route("_aligned_malloc", &countingAlignedMalloc, &realAlignedMalloc),
    route("_aligned_realloc", &countingAlignedRealloc, &realAlignedRealloc),
    route("_aligned_free", &countingAlignedFree, &realAlignedFree),
    route("_strdup", &countingStrdup, &realStrdup),
};

// False once a library kept a heap import that could not be rerouted.
std::atomic<bool> everyHeapImportRouted{true};

bool isCRuntime(const char* dll) {
  char lower[64] = {};
  for (size_t i = 0; dll[i] != '\0' && i + 1 < sizeof lower; ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(dll[i])));
  }
  return std::strcmp(lower, "msvcrt.dll") == 0 || std::strcmp(lower, "ucrtbase.dll") == 0 ||
         std::strncmp(lower, "api-ms-win-crt-heap-", 20) == 0 ||
         std::strncmp(lower, "msvcr", 5) == 0;
}

bool writeSlot(void** slot, void* value) {
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
  *slot = value;
  VirtualProtect(slot, sizeof *slot, previous, &previous);
  return true;
}

void rerouteSlot(const char* name, void** slot) {
  for (const Route& r : routes) {
    if (std::strcmp(name, r.name) != 0) continue;
    if (*slot == r.counting) return;
    // One runtime per process is counted: a slot bound to another runtime's function stays.
    if (*r.real == nullptr) *r.real = *slot;
    if (*r.real != *slot || !writeSlot(slot, r.counting)) everyHeapImportRouted = false;
    return;
  }
}

// Walks the import descriptors of the loaded image for the C runtime's heap functions.
void rerouteHeapImports(void* nativeHandle) noexcept {
  auto* base = static_cast<unsigned char*>(nativeHandle);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0 || imports.Size == 0) return;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    if (!isCRuntime(reinterpret_cast<const char*>(base + d->Name))) continue;
    const DWORD namesAt = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      rerouteSlot(reinterpret_cast<const char*>(byName->Name),
                  reinterpret_cast<void**>(&slots->u1.Function));
    }
  }
}

// Before main: every module library loaded through rmhost::Library is watched from its load on.
const bool observing = (rmhost::setLoadObserver(&rerouteHeapImports), true);

void installHooks() noexcept {}

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

#ifdef _WIN32
bool allocationCounterWorks() noexcept {
  return observing && everyHeapImportRouted;
}
#else
bool allocationCounterWorks() noexcept {
  installHooks();
  // Called through volatile pointers so that the compiler keeps the pair.
  void* (*volatile allocate)(size_t) = &std::malloc;
  void (*volatile release)(void*) = &std::free;
  const uint64_t before = observed.load(std::memory_order_relaxed);
  release(allocate(16));
  return observed.load(std::memory_order_relaxed) >= before + 2;
}
#endif

}  // namespace rmhost

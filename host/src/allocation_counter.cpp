// Replaces the global allocation functions of the test program to count the allocations made on
// a module's audio path (its process and event calls, outside host callbacks).
#include <cstdlib>
#include <new>

#include "rmhost/allocation_counter.h"
#include "rmhost/session.h"

namespace {
long counted = 0;

void* allocate(std::size_t size) noexcept {
  if (rmhost::onModuleAudioPath()) ++counted;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

long rmhost::audioPathAllocations() {
  return counted;
}

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

// The in-between library of hostile_host.h. Single-threaded, like the tests that use it.
#include "hostile_host.h"

#include <cstring>
#include <type_traits>

#include "rackmill/export.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using platform_test::FpBits;
using platform_test::HostileReport;
using platform_test::HostileSetup;

namespace {

// What the host gave for, and the real library put in, one record.
struct Instance {
  ModuleRecord* record = nullptr;
  void* object = nullptr;
  HostCallback hostCallback = nullptr;
  DispatcherEntry dispatcher = nullptr;
  ProcessEntry process = nullptr;
  EventEntry event = nullptr;
};

HostileSetup gSetup;
HostileReport gReport;
GetModulePropertiesFn gGetModuleProperties = nullptr;
MakeModuleFn gMakeModule = nullptr;
FpBits gPlain;  // the host's own environment, saved at the outermost call in
int gDepth = 0;
Instance gInstances[64];

Instance* find(ModuleRecord* record, void* object) {
  for (Instance& i : gInstances) {
    if ((record != nullptr && i.record == record) || (object != nullptr && i.object == object)) {
      return &i;
    }
  }
  return nullptr;
}

void note(int64_t& mismatches, const FpBits& seen, const char* where) {
  if (gReport.entryMismatches + gReport.callbackMismatches == 0) {
    gReport.firstSeen = seen;
    std::strncpy(gReport.firstWhere, where, sizeof gReport.firstWhere - 1);
  }
  ++mismatches;
}

template <class T>
uint32_t word(T value) {
  uint32_t w = 0;
  std::memcpy(&w, &value, sizeof value);
  return w;
}

#if defined(_WIN32) && defined(__i386__)
// Calls `fn` with `count` 4-byte argument words, ESP at the call instruction equal to `misalign`
// mod 16; answers EAX.
extern "C" uint32_t hostileCallWords(const void* fn, const uint32_t* words, int32_t count,
                                     int32_t misalign) __asm__("hostile_call_words");
__asm__(
    ".text\n"
    "hostile_call_words:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebx\n"
    "  movl 12(%ebp), %esi\n"  // words
    "  movl 16(%ebp), %ecx\n"  // count
    "  movl %esp, %ebx\n"
    "  leal (,%ecx,4), %edi\n"
    "  subl %edi, %ebx\n"
    "  subl $64, %ebx\n"
    "  andl $-16, %ebx\n"
    "  addl 20(%ebp), %ebx\n"  // ESP at the call: misalign mod 16
    "  movl %ebx, %esp\n"
    "  xorl %edi, %edi\n"
    "1:\n"
    "  cmpl %ecx, %edi\n"
    "  jge 2f\n"
    "  movl (%esi,%edi,4), %ebx\n"
    "  movl %ebx, (%esp,%edi,4)\n"
    "  incl %edi\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl 8(%ebp), %eax\n"
    "  call *%eax\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %ebx\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

// Calls a real entry in the hostile environment (on the chosen stack) and checks what it leaves.
template <class R, class F, class... A>
R enter(const char* where, F fn, A... args) {
  if (gDepth++ == 0) gPlain = platform_test::readFp();
  ++gReport.entries;
  platform_test::loadFp(gSetup.environment);
  std::conditional_t<std::is_void_v<R>, int, R> result{};
#if defined(_WIN32) && defined(__i386__)
  if (gSetup.stackMisalign >= 0) {
    const uint32_t words[] = {word(args)...};
    const uint32_t answer = hostileCallWords(reinterpret_cast<const void*>(fn), words, sizeof...(A),
                                             gSetup.stackMisalign);
    if constexpr (!std::is_void_v<R>) std::memcpy(&result, &answer, sizeof result);
  } else
#endif
      if constexpr (std::is_void_v<R>) {
    fn(args...);
  } else {
    result = fn(args...);
  }
  const FpBits after = platform_test::readFp();
  if (!(after == gSetup.environment)) note(gReport.entryMismatches, after, where);
  platform_test::loadFp(gDepth == 1 ? gPlain : gSetup.environment);
  --gDepth;
  if constexpr (!std::is_void_v<R>) return result;
}

void RM_CALL hostileProcess(void* object, int32_t offset, int32_t frames) {
  Instance* i = find(nullptr, object);
  if (i != nullptr) enter<void>("process entry", i->process, object, offset, frames);
}

void RM_CALL hostileEvent(void* object, ModuleEvent* event) {
  Instance* i = find(nullptr, object);
  if (i != nullptr) enter<void>("event entry", i->event, object, event);
}

intptr_t RM_CALL hostileDispatcher(ModuleRecord* record, int32_t opcode, int32_t index,
                                   int32_t value, void* ptr, float opt) {
  Instance* i = find(record, nullptr);
  if (i == nullptr) return 0;
  const intptr_t answer =
      enter<intptr_t>("dispatcher entry", i->dispatcher, record, opcode, index, value, ptr, opt);
  if (opcode == opClose) *i = Instance{};  // the record is gone
  return answer;
}

// Takes over the entries the real library put into the record.
void wrap(Instance& i) {
  i.object = i.record->object;
  i.dispatcher = i.record->dispatcherEntry;
  i.event = i.record->eventEntry;
  i.process = i.record->processEntry;
  i.record->dispatcherEntry = &hostileDispatcher;
  i.record->eventEntry = &hostileEvent;
  i.record->processEntry = &hostileProcess;
}

intptr_t RM_CALL hostileCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt) {
  const FpBits seen = platform_test::readFp();
  ++gReport.callbacks;
  if (!(seen == gSetup.environment)) note(gReport.callbackMismatches, seen, "callback");
  Instance* i = find(record, nullptr);
  if (i == nullptr) return 0;
  if (opcode == hostProcessChanged) {
    // The real library has just written its new process function into the record.
    i->process = record->processEntry;
    record->processEntry = &hostileProcess;
  }
  platform_test::loadFp(gPlain);
  const intptr_t answer =
      i->hostCallback != nullptr ? i->hostCallback(record, opcode, index, value, ptr, opt) : 0;
  platform_test::loadFp(gSetup.environment);
  return answer;
}

void* openLibrary(const char* path) {
#ifdef _WIN32
  return reinterpret_cast<void*>(LoadLibraryA(path));
#else
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

template <class F>
F symbol(void* library, const char* name) {
#ifdef _WIN32
  return reinterpret_cast<F>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)));
#else
  return reinterpret_cast<F>(dlsym(library, name));
#endif
}

}  // namespace

RM_EXPORT bool hostileSetup(const HostileSetup* setup) {
  void* library = openLibrary(setup->library);
  if (library == nullptr) return false;
  gGetModuleProperties = symbol<GetModulePropertiesFn>(library, "getModuleProperties");
  gMakeModule = symbol<MakeModuleFn>(library, "makeModule");
  gSetup = *setup;
  gReport = HostileReport{};
  return gGetModuleProperties != nullptr && gMakeModule != nullptr;
}

RM_EXPORT const HostileReport* hostileReport() {
  return &gReport;
}

RM_EXPORT int32_t RM_CALL getModuleProperties(int32_t index, ModuleDescription* description) {
  return enter<int32_t>("getModuleProperties", gGetModuleProperties, index, description);
}

RM_EXPORT ModuleRecord* RM_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                           int32_t hostValue) {
  Instance* slot = nullptr;
  for (Instance& i : gInstances) {
    if (i.record == nullptr) {
      slot = &i;
      break;
    }
  }
  if (slot == nullptr) return nullptr;
  ModuleRecord* record =
      enter<ModuleRecord*>("makeModule", gMakeModule, index, kind,
                           callback != nullptr ? &hostileCallback : nullptr, hostValue);
  if (record == nullptr) return nullptr;
  *slot = Instance{record, nullptr, callback};
  wrap(*slot);
  return record;
}

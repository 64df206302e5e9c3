#include "rmhost/library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace rmhost {

namespace {

LoadObserver gLoadObserver = nullptr;

#ifdef _WIN32

// LoadLibrary and GetProcAddress, as the host does on Windows. The path is UTF-8.
void* openNative(const std::string& path, std::string* error) {
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0)), L'\0');
  if (!wide.empty())
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), int(wide.size()));
  // No message box for a library that cannot be loaded: the caller reports it.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE handle = LoadLibraryW(wide.c_str());
  const DWORD code = GetLastError();
  SetErrorMode(previousMode);
  if (handle == nullptr && error != nullptr) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
      message.pop_back();
    *error = path + ": cannot load (error " + std::to_string(code) + (message.empty() ? "" : ": ") +
             message + ")";
  }
  return reinterpret_cast<void*>(handle);
}

void* nativeSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeNative(void* handle) {
  FreeLibrary(static_cast<HMODULE>(handle));
}

#else

void* openNative(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) *error = dlerror();
  return handle;
}

void* nativeSymbol(void* handle, const char* name) {
  return dlsym(handle, name);
}

void closeNative(void* handle) {
  dlclose(handle);
}

#endif

}  // namespace

void setLoadObserver(LoadObserver observer) noexcept {
  gLoadObserver = observer;
}

std::vector<PinInfo> describePins(ModuleRecord* record, std::vector<PinDescription>* raw,
                                  int32_t limit) {
  std::vector<PinInfo> pins;
  for (int32_t i = 0; i < limit; ++i) {
    PinDescription d{};
    if (record->dispatcherEntry(record, opDescribePin, i, 0, &d, 0.0f) == 0) break;
    PinInfo pin;
    pin.index = i;
    pin.name = d.name != nullptr ? d.name : "";
    pin.direction = d.direction;
    pin.datatype = d.datatype;
    if (d.defaultValue != nullptr) pin.defaultText = d.defaultValue;
    if (d.listItems != nullptr) pin.listText = d.listItems;
    pin.flags = d.flags;
    pin.hasVariable = d.variable != nullptr;
    pins.push_back(std::move(pin));
    if (raw != nullptr) raw->push_back(d);
  }
  return pins;
}

std::unique_ptr<Library> Library::load(const std::string& path, std::string* error) {
  void* handle = openNative(path, error);
  if (handle == nullptr) return nullptr;
  auto getProps =
      reinterpret_cast<GetModulePropertiesFn>(nativeSymbol(handle, "getModuleProperties"));
  auto make = reinterpret_cast<MakeModuleFn>(nativeSymbol(handle, "makeModule"));
  if (getProps == nullptr || make == nullptr) {
    if (error != nullptr) {
      *error = path + ": not a module library (missing " +
               (getProps == nullptr ? "getModuleProperties" : "makeModule") + ")";
    }
    closeNative(handle);
    return nullptr;
  }
  if (gLoadObserver != nullptr) gLoadObserver(handle);
  std::unique_ptr<Library> library(new Library);
  library->path_ = path;
  library->handle_ = handle;
  library->getModuleProperties_ = getProps;
  library->makeModule_ = make;
  return library;
}

Library::~Library() {
  if (handle_ != nullptr) closeNative(handle_);
}

const ModuleInfo& Library::info() {
  if (info_) return *info_;
  ModuleInfo info;
  ModuleDescription description{};
  if (getModuleProperties_(0, &description) != 0) {
    info.id = description.id != nullptr ? description.id : "";
    info.name = description.name != nullptr ? description.name : "";
    info.credit = description.credit != nullptr ? description.credit : "";
  }
  info.flags = description.flags;
  if (ModuleRecord* record = makeModule_(0, RM_MODULE_KIND, nullptr, 0)) {
    info.pins = describePins(record);
    record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f);
  }
  info_ = std::move(info);
  return *info_;
}

const char* directionName(int32_t direction) {
  switch (direction) {
    case dirInput:
      return "input";
    case dirOutput:
      return "output";
    case dirSetting:
      return "setting";
    default:
      return "?";
  }
}

const char* typeName(int32_t datatype) {
  switch (datatype) {
    case dtList:
      return "list";
    case dtByte:
      return "byte";
    case dtAudio:
      return "audio";
    case dtWord32:
      return "word32";
    case dtInteger:
      return "integer";
    default:
      return "?";
  }
}

std::optional<double> parseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE) return std::nullopt;
  return value;
}

std::optional<std::vector<ListItem>> parseListItems(const std::string& text) {
  std::vector<ListItem> items;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const size_t equals = item.rfind('=');
    if (equals == std::string::npos || equals == 0) return std::nullopt;
    const auto value = parseNumber(item.substr(equals + 1));
    if (!value || *value != std::floor(*value) || *value < INT32_MIN || *value > INT32_MAX) {
      return std::nullopt;
    }
    items.push_back({item.substr(0, equals), static_cast<int32_t>(*value)});
    start = comma + 1;
  }
  return items;
}

}  // namespace rmhost

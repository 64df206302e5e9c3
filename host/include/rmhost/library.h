// A module library loaded the way Rackmill loads one: dlopen (LoadLibrary on Windows), then the
// two exports by name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rackmill/abi.h"

namespace rmhost {

struct PinInfo {
  int32_t index = 0;
  std::string name;
  int32_t direction = 0;
  int32_t datatype = 0;
  std::optional<std::string> defaultText;
  std::optional<std::string> listText;
  int32_t flags = 0;
  bool hasVariable = false;
};

struct ModuleInfo {
  std::string id;
  std::string name;
  std::string credit;
  int32_t flags = 0;
  std::vector<PinInfo> pins;
};

// Reads the pin descriptions of one instance through opcode 6 (index 0 upwards, each into a
// zero-filled record, until the module answers 0 or `limit` pins were read).
std::vector<PinInfo> describePins(ModuleRecord* record, std::vector<PinDescription>* raw = nullptr,
                                  int32_t limit = 4096);

// Called with the platform's handle of every module library that loads, before the first call
// into it (the allocation counter watches the library's heap calls from here on Windows).
using LoadObserver = void (*)(void* nativeHandle) noexcept;
void setLoadObserver(LoadObserver observer) noexcept;

class Library {
 public:
  // Loads the library at `path`; null with a message in `error` when it cannot be loaded or
  // lacks one of the two exports.
  static std::unique_ptr<Library> load(const std::string& path, std::string* error);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  const std::string& path() const { return path_; }
  GetModulePropertiesFn getModuleProperties() const { return getModuleProperties_; }
  MakeModuleFn makeModule() const { return makeModule_; }

  // Identity and pins: getModuleProperties(0), then the pins of a scratch instance (made
  // without a callback and closed again). Read once, on first use.
  const ModuleInfo& info();

 private:
  Library() = default;
  std::string path_;
  void* handle_ = nullptr;
  GetModulePropertiesFn getModuleProperties_ = nullptr;
  MakeModuleFn makeModule_ = nullptr;
  std::optional<ModuleInfo> info_;
};

// Parses a pin's list text "label=value,label=value"; nullopt when it is malformed.
struct ListItem {
  std::string label;
  int32_t value = 0;
};
std::optional<std::vector<ListItem>> parseListItems(const std::string& text);

// Names of pin directions and data types ("input", "audio", ...); "?" for codes without a name.
const char* directionName(int32_t direction);
const char* typeName(int32_t datatype);

// Parses a decimal default text; nullopt when it is not a complete number.
std::optional<double> parseNumber(const std::string& text);

}  // namespace rmhost

#include "rmhost/library.h"

#include <dlfcn.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace rmhost {

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
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) *error = dlerror();
    return nullptr;
  }
  auto getProps = reinterpret_cast<GetModulePropertiesFn>(dlsym(handle, "getModuleProperties"));
  auto make = reinterpret_cast<MakeModuleFn>(dlsym(handle, "makeModule"));
  if (getProps == nullptr || make == nullptr) {
    if (error != nullptr) {
      *error = path + ": not a module library (missing " +
               (getProps == nullptr ? "getModuleProperties" : "makeModule") + ")";
    }
    dlclose(handle);
    return nullptr;
  }
  std::unique_ptr<Library> library(new Library);
  library->path_ = path;
  library->handle_ = handle;
  library->getModuleProperties_ = getProps;
  library->makeModule_ = make;
  return library;
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
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

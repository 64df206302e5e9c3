#include "static_checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "export_table.h"

namespace rmhost::validator {
namespace {

void fail(std::vector<Failure>& failures, FailureKind kind, std::string detail) {
  failures.push_back(Failure{kind, std::nullopt, std::move(detail)});
}

// Non-empty printable ASCII of reasonable length.
bool isPrintableText(const char* text) {
  if (text == nullptr) return false;
  const size_t length = strnlen(text, 1024);
  if (length == 0 || length == 1024) return false;
  return std::all_of(text, text + length, [](char c) { return c >= 0x20 && c <= 0x7e; });
}

bool hasOwnStorage(int32_t datatype) {
  return datatype == dtList || datatype == dtByte || datatype == dtAudio || datatype == dtWord32 ||
         datatype == dtInteger;
}

std::string pinLabel(const PinInfo& pin) {
  return "pin " + std::to_string(pin.index) + " \"" + pin.name + "\"";
}

// Every item must have a label and a value that a 16-bit list variable can hold; answers the
// values, or nullopt after reporting.
std::optional<std::vector<int32_t>> listValues(const PinInfo& pin, std::vector<Failure>& failures) {
  if (!pin.listText) {
    fail(failures, FailureKind::pinDescription, pinLabel(pin) + ": list pin without list text");
    return std::nullopt;
  }
  const auto items = parseListItems(*pin.listText);
  if (!items) {
    fail(failures, FailureKind::pinDescription,
         pinLabel(pin) + ": list text \"" + *pin.listText + "\" is not label=value,...");
    return std::nullopt;
  }
  std::vector<int32_t> values;
  for (const ListItem& item : *items) {
    if (item.value < INT16_MIN || item.value > INT16_MAX) {
      fail(failures, FailureKind::pinDescription,
           pinLabel(pin) + ": list value " + std::to_string(item.value) + " exceeds 16 bits");
    }
    values.push_back(item.value);
  }
  return values;
}

void checkDefault(const PinInfo& pin, const std::optional<std::vector<int32_t>>& listValues,
                  std::vector<Failure>& failures) {
  if (!pin.defaultText) return;
  const auto value = parseNumber(*pin.defaultText);
  if (!value || !std::isfinite(*value)) {
    fail(failures, FailureKind::pinDescription,
         pinLabel(pin) + ": default \"" + *pin.defaultText + "\" is not a finite number");
    return;
  }
  if (listValues &&
      std::find(listValues->begin(), listValues->end(), *value) == listValues->end()) {
    fail(failures, FailureKind::pinDescription,
         pinLabel(pin) + ": default \"" + *pin.defaultText + "\" names no list item");
  }
}

}  // namespace

void checkExports(const std::string& path, std::vector<Failure>& failures) {
  std::string error;
  const auto names = exportedSymbols(path, &error);
  if (!names) {
    fail(failures, FailureKind::exports, error);
    return;
  }
  const std::set<std::string> expected{"getModuleProperties", "makeModule"};
  const std::set<std::string> found(names->begin(), names->end());
  if (found == expected && names->size() == 2) return;
  std::string list;
  for (const std::string& name : *names) list += (list.empty() ? "" : ", ") + name;
  fail(failures, FailureKind::exports,
       "exports " + std::to_string(names->size()) + " names (" + list +
           "); expected exactly getModuleProperties and makeModule");
}

void checkDescription(Library& library, std::vector<Failure>& failures) {
  static const char sentinel[] = "untouched";
  const auto blank = [](int32_t flags) {
    return ModuleDescription{sentinel, sentinel, sentinel, 0x1234, 0x5678, flags};
  };
  const auto problem = [&](const std::string& what) {
    fail(failures, FailureKind::description, "getModuleProperties: " + what);
  };

  ModuleDescription first = blank(0x33333333);
  ModuleDescription second = blank(0x44444444);
  if (library.getModuleProperties()(0, &first) != 1) problem("index 0 does not answer 1");
  library.getModuleProperties()(0, &second);
  const std::pair<const char*, const char*> fields[] = {
      {"id", first.id}, {"name", first.name}, {"credit", first.credit}};
  for (const auto& [label, text] : fields) {
    if (text == sentinel || !isPrintableText(text)) {
      problem(std::string(label) + " is not set to printable text");
    }
  }
  if (first.hostWordA != 0x1234 || first.hostWordB != 0x5678) {
    problem("writes the two words that belong to the host");
  }
  if (first.flags != second.flags || first.flags == 0x33333333) {
    problem("does not write one flags word");
  }

  for (const int32_t index : {1, -1}) {
    ModuleDescription other = blank(0x33333333);
    const std::string at = "index " + std::to_string(index);
    if (library.getModuleProperties()(index, &other) != 0) problem(at + " does not answer 0");
    if (other.id != sentinel || other.name != sentinel || other.credit != sentinel) {
      problem(at + " writes the description strings");
    }
    if (other.flags != first.flags) problem(at + " does not write the flags word");
  }
}

void checkFreshRecord(Library& library, std::vector<Failure>& failures) {
  const auto problem = [&](const std::string& what) {
    fail(failures, FailureKind::record, "makeModule: " + what);
  };
  const MakeModuleFn make = library.makeModule();
  const std::pair<int32_t, int32_t> refused[] = {{1, 1}, {0, 2}, {0, 0}, {-1, 1}};
  for (const auto& [index, kind] : refused) {
    if (ModuleRecord* record = make(index, kind, nullptr, 0)) {
      problem("index " + std::to_string(index) + ", kind " + std::to_string(kind) +
              " answers a record instead of null");
      record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f);
    }
  }

  ModuleRecord* record = make(0, RM_MODULE_KIND, nullptr, 0x5eed);
  if (record == nullptr) {
    problem("index 0, kind 1 answers null");
    return;
  }
  const bool reservedZero = record->reserved0 == 0 &&
                            std::all_of(std::begin(record->reserved1), std::end(record->reserved1),
                                        [](int32_t word) { return word == 0; });
  if (record->magic != RM_MODULE_MAGIC) problem("record magic is not \"{PMR\"");
  if (record->version != RM_MODULE_VERSION) problem("record version is not 1");
  if (record->hostValue != 0x5eed) problem("record does not keep the host value");
  if (record->object == nullptr) problem("record names no object");
  if (!reservedZero) problem("reserved record words are not 0");
  if (record->dispatcherEntry == nullptr || record->processEntry == nullptr ||
      record->eventEntry == nullptr) {
    problem("record lacks an entry");
    return;  // nothing can be called on it; it stays allocated
  }
  if (record->sampleRate != 44100.0f || record->blockSize != 1024) {
    problem("record does not start at 44100 Hz and 1024 frames");
  }
  for (const int32_t opcode : {4, 5, 7, 9, 10, 11, 14, 99, -1}) {
    if (record->dispatcherEntry(record, opcode, 0, 0, nullptr, 0.0f) != 0) {
      problem("unknown opcode " + std::to_string(opcode) + " does not answer 0");
    }
  }
  PinDescription scratch{};
  if (record->dispatcherEntry(record, opDescribePin, -1, 0, &scratch, 0.0f) != 0) {
    problem("opcode 6 with pin index -1 does not answer 0");
  }
  if (record->dispatcherEntry(record, opClose, 0, 0, nullptr, 0.0f) != 1) {
    problem("opcode 1 does not answer 1");
  }
}

void checkPins(const std::vector<PinInfo>& pins, std::vector<Failure>& failures) {
  std::set<std::string> names;
  for (const PinInfo& pin : pins) {
    const auto problem = [&](const std::string& what) {
      fail(failures, FailureKind::pinDescription, pinLabel(pin) + ": " + what);
    };
    if (!isPrintableText(pin.name.c_str())) problem("no printable name");
    if (!pin.name.empty() && !names.insert(pin.name).second) problem("name used twice");
    if (pin.direction != dirInput && pin.direction != dirOutput && pin.direction != dirSetting) {
      problem("unknown direction " + std::to_string(pin.direction));
    }
    if (!hasOwnStorage(pin.datatype) && !pin.hasVariable) {
      problem("data type " + std::to_string(pin.datatype) + " needs a module variable");
    }
    std::optional<std::vector<int32_t>> values;
    if (pin.datatype == dtList) {
      values = listValues(pin, failures);
    } else if (pin.listText) {
      problem("list text on a pin of data type " + std::to_string(pin.datatype));
    }
    checkDefault(pin, values, failures);
  }
}

}  // namespace rmhost::validator

#include "info.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include <toml++/toml.h>

namespace rmcli {

namespace {

std::string flagNames(int32_t flags) {
  std::string names;
  auto add = [&](int32_t bit, const char* name) {
    if (!(flags & bit)) return;
    names += (names.empty() ? "" : ",") + std::string(name);
    flags &= ~bit;
  };
  add(pinFlagRepeatLast, "repeat-last");
  add(pinFlagHostOnly, "host-only");
  add(pinFlagModuleToo, "module-too");
  if (flags) {
    std::ostringstream rest;
    rest << "0x" << std::hex << flags;
    names += (names.empty() ? "" : ",") + rest.str();
  }
  return names;
}

// "1", "2", "3" when every label is its value, otherwise "off=1", "on=0".
std::vector<std::string> itemTexts(const std::vector<rmhost::ListItem>& items) {
  const bool plain = std::all_of(items.begin(), items.end(), [](const rmhost::ListItem& item) {
    return item.label == std::to_string(item.value);
  });
  std::vector<std::string> texts;
  for (const auto& item : items)
    texts.push_back(plain ? item.label : item.label + "=" + std::to_string(item.value));
  return texts;
}

// Writes `items` separated by ", ", breaking lines after a comma so that no line passes
// `width` columns, and indenting the lines after the first by `indent`.
void printWrapped(std::ostream& out, const std::vector<std::string>& items, size_t indent,
                  size_t width) {
  size_t column = indent;
  for (size_t i = 0; i < items.size(); ++i) {
    const bool last = i + 1 == items.size();
    const size_t length = items[i].size() + (last ? 0 : 1);
    if (i > 0) {
      if (column + 1 + length > width) {
        out << '\n' << std::string(indent, ' ');
        column = indent;
      } else {
        out << ' ';
        ++column;
      }
    }
    out << items[i] << (last ? "" : ",");
    column += length;
  }
  out << '\n';
}

}  // namespace

void printInfo(std::ostream& out, rmhost::Library& library) {
  const rmhost::ModuleInfo& info = library.info();
  out << info.id << '\n'
      << "  name:     " << info.name << '\n'
      << "  credit:   " << info.credit << '\n'
      << "  library:  " << library.path() << '\n'
      << "  flags:    " << info.flags << " (0x" << std::hex << info.flags << std::dec << ")\n"
      << "  pins:     " << info.pins.size() << "\n\n";
  size_t nameWidth = 4;
  for (const auto& pin : info.pins) nameWidth = std::max(nameWidth, pin.name.size());
  out << std::left << "  " << std::setw(6) << "index" << std::setw(nameWidth + 2) << "name"
      << std::setw(11) << "direction" << std::setw(9) << "type"
      << "default\n";
  for (const auto& pin : info.pins) {
    out << "  " << std::right << std::setw(5) << pin.index << ' ' << std::left
        << std::setw(nameWidth + 2) << pin.name << std::setw(11)
        << rmhost::directionName(pin.direction) << std::setw(9) << rmhost::typeName(pin.datatype)
        << pin.defaultText.value_or("-");
    if (pin.flags) out << "  [" << flagNames(pin.flags) << ']';
    out << '\n';
    if (pin.listText) {
      constexpr size_t indent = 15;  // under the name column, after "items: "
      out << std::string(indent - 7, ' ') << "items: ";
      const auto items = rmhost::parseListItems(*pin.listText);
      printWrapped(out, items ? itemTexts(*items) : std::vector{*pin.listText + "  (malformed)"},
                   indent, 100);
    }
  }
}

void printInfoJson(std::ostream& out, rmhost::Library& library) {
  const rmhost::ModuleInfo& info = library.info();
  toml::array pins;
  for (const auto& pin : info.pins) {
    toml::table entry{{"index", pin.index},
                      {"name", pin.name},
                      {"direction", rmhost::directionName(pin.direction)},
                      {"type", rmhost::typeName(pin.datatype)},
                      {"flags", pin.flags}};
    if (pin.defaultText) entry.insert("default", *pin.defaultText);
    if (pin.listText) {
      toml::array items;
      if (const auto parsed = rmhost::parseListItems(*pin.listText))
        for (const auto& item : *parsed)
          items.push_back(toml::table{{"label", item.label}, {"value", item.value}});
      entry.insert("list", std::move(items));
      entry.insert("list_text", *pin.listText);
    }
    pins.push_back(std::move(entry));
  }
  const toml::table root{{"id", info.id},         {"name", info.name},
                         {"credit", info.credit}, {"library", library.path()},
                         {"flags", info.flags},   {"pins", std::move(pins)}};
  out << toml::json_formatter{root} << '\n';
}

}  // namespace rmcli

#include "info.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include <toml++/toml.h>

#include "rmhost/pin_metadata.h"

namespace rmcli {

namespace {

// The names of a pin's flag bits; bits without a name as one hexadecimal rest.
std::vector<std::string> flagNames(int32_t flags) {
  std::vector<std::string> names;
  auto add = [&](int32_t bit, const char* name) {
    if (!(flags & bit)) return;
    names.emplace_back(name);
    flags &= ~bit;
  };
  add(pinFlagRepeatLast, "repeat-last");
  add(pinFlagHostOnly, "host-only");
  add(pinFlagModuleToo, "module-too");
  if (flags) {
    std::ostringstream rest;
    rest << "0x" << std::hex << flags;
    names.push_back(rest.str());
  }
  return names;
}

// The set bits of the module's flags word, lowest first. Their meaning is the host's.
std::vector<int> flagBits(int32_t flags) {
  std::vector<int> bits;
  for (int bit = 0; bit < 32; ++bit)
    if (static_cast<uint32_t>(flags) >> bit & 1u) bits.push_back(bit);
  return bits;
}

std::string flagsText(int32_t flags) {
  std::ostringstream text;
  text << flags << " (0x" << std::hex << flags << std::dec;
  const std::vector<int> bits = flagBits(flags);
  for (size_t i = 0; i < bits.size(); ++i) text << (i == 0 ? ": bits " : ", ") << bits[i];
  text << ")";
  return text.str();
}

// A range bound as a person writes it: "0", "0.02", "-1", "1000".
std::string boundText(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// Shows a pin as what the metadata table says it is: input and setting pins, for which the
// table gives a meaning, unit and useful range.
const rmhost::PinMetadata* metadataFor(const rmhost::ModuleMetadata* module,
                                       const rmhost::PinInfo& pin) {
  if (module == nullptr) return nullptr;
  return module->find(pin.name);
}

// The words of `text`, for wrapping.
std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) out.push_back(word);
  return out;
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

// Writes `items` separated by ", " (or by spaces when `separator` is empty), breaking lines between
// items so that no line passes `width` columns, and indenting the lines after the first by
// `indent`. The first line starts at `column`.
void printWrapped(std::ostream& out, const std::vector<std::string>& items, size_t column,
                  size_t indent, size_t width, std::string_view separator = ",") {
  for (size_t i = 0; i < items.size(); ++i) {
    const bool last = i + 1 == items.size();
    const size_t length = items[i].size() + (last ? 0 : separator.size());
    if (i > 0) {
      if (column + 1 + length > width) {
        out << '\n' << std::string(indent, ' ');
        column = indent;
      } else {
        out << ' ';
        ++column;
      }
    }
    out << items[i] << (last ? "" : separator);
    column += length;
  }
  out << '\n';
}

}  // namespace

void printInfo(std::ostream& out, rmhost::Library& library) {
  const rmhost::ModuleInfo& info = library.info();
  const rmhost::ModuleMetadata* metadata = rmhost::findModuleMetadata(info.id);
  out << info.id << '\n'
      << "  name:     " << info.name << '\n'
      << "  credit:   " << info.credit << '\n'
      << "  library:  " << library.path() << '\n'
      << "  flags:    " << flagsText(info.flags) << '\n'
      << "  pins:     " << info.pins.size() << "\n\n";
  size_t nameWidth = 4;
  for (const auto& pin : info.pins) nameWidth = std::max(nameWidth, pin.name.size());
  out << std::left << "  " << std::setw(6) << "index" << std::setw(nameWidth + 2) << "name"
      << std::setw(11) << "direction" << std::setw(9) << "type" << std::setw(9) << "default";
  if (metadata)
    out << std::setw(16) << "useful range"
        << "unit";
  out << '\n';
  constexpr size_t indent = 15;  // under the name column
  constexpr size_t width = 100;
  for (const auto& pin : info.pins) {
    const rmhost::PinMetadata* meaning = metadataFor(metadata, pin);
    std::ostringstream row;
    row << "  " << std::right << std::setw(5) << pin.index << ' ' << std::left
        << std::setw(nameWidth + 2) << pin.name << std::setw(11)
        << rmhost::directionName(pin.direction) << std::setw(9) << rmhost::typeName(pin.datatype);
    if (meaning) {
      row << std::setw(9) << pin.defaultText.value_or("-") << std::setw(16)
          << boundText(meaning->minimum) + " to " + boundText(meaning->maximum) << meaning->unit;
    } else {
      row << pin.defaultText.value_or("-");
    }
    if (pin.flags) {
      const std::vector<std::string> names = flagNames(pin.flags);
      row << "  [";
      for (size_t i = 0; i < names.size(); ++i) row << (i == 0 ? "" : ",") << names[i];
      row << ']';
    }
    std::string line = row.str();
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
    if (meaning) {
      out << std::string(indent, ' ');
      printWrapped(out, words(meaning->description), indent, indent, width, "");
    }
    if (!pin.listText) continue;
    const auto items = rmhost::parseListItems(*pin.listText);
    const auto texts = items ? itemTexts(*items) : std::vector{*pin.listText + "  (malformed)"};
    const bool plain = items && texts.front() == items->front().label;
    if (meaning && items && !plain) {  // each item with what it does
      for (size_t i = 0; i < texts.size() && i < meaning->items.size(); ++i) {
        out << std::string(indent, ' ') << texts[i] << ": ";
        printWrapped(out, words(meaning->items[i].meaning), indent + texts[i].size() + 2,
                     indent + 4, width, "");
      }
      continue;
    }
    out << std::string(indent - 7, ' ') << "items: ";
    printWrapped(out, texts, indent, indent, width);
  }
}

void printInfoJson(std::ostream& out, rmhost::Library& library) {
  const rmhost::ModuleInfo& info = library.info();
  const rmhost::ModuleMetadata* metadata = rmhost::findModuleMetadata(info.id);
  toml::array pins;
  for (const auto& pin : info.pins) {
    const rmhost::PinMetadata* meaning = metadataFor(metadata, pin);
    toml::table entry{{"index", pin.index},
                      {"name", pin.name},
                      {"direction", rmhost::directionName(pin.direction)},
                      {"type", rmhost::typeName(pin.datatype)},
                      {"flags", pin.flags}};
    if (pin.flags) {
      toml::array names;
      for (const std::string& name : flagNames(pin.flags)) names.push_back(name);
      entry.insert("flag_names", std::move(names));
    }
    if (pin.defaultText) {
      if (const auto number = rmhost::parseNumber(*pin.defaultText))
        entry.insert("default", *number);
      else
        entry.insert("default", *pin.defaultText);
    }
    if (meaning) {
      entry.insert("description", std::string(meaning->description));
      entry.insert("unit", std::string(meaning->unit));
      entry.insert("min", meaning->minimum);
      entry.insert("max", meaning->maximum);
    }
    if (pin.listText) {
      toml::array items;
      if (const auto parsed = rmhost::parseListItems(*pin.listText))
        for (size_t i = 0; i < parsed->size(); ++i) {
          toml::table item{{"label", (*parsed)[i].label}, {"value", (*parsed)[i].value}};
          if (meaning && i < meaning->items.size())
            item.insert("meaning", std::string(meaning->items[i].meaning));
          items.push_back(std::move(item));
        }
      entry.insert("list", std::move(items));
      entry.insert("list_text", *pin.listText);
    }
    pins.push_back(std::move(entry));
  }
  toml::array bits;
  for (int bit : flagBits(info.flags)) bits.push_back(bit);
  const toml::table root{{"id", info.id},          {"name", info.name},
                         {"credit", info.credit},  {"library", library.path()},
                         {"flags", info.flags},    {"flag_bits", std::move(bits)},
                         {"pins", std::move(pins)}};
  out << toml::json_formatter{root} << '\n';
}

}  // namespace rmcli

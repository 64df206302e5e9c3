#include "layout/metadata_file.h"

#include <toml++/toml.h>
#include <cctype>
#include <cmath>
#include <sstream>

namespace rmlv2 {

namespace {

class Reader {
 public:
  explicit Reader(const std::filesystem::path& path) : path_(path.string()) {}

  [[noreturn]] void fail(const toml::node& node, const std::string& message) const {
    std::ostringstream text;
    const toml::source_position at = node.source().begin;
    text << path_ << ':' << at.line << ':' << at.column << ": error: " << message;
    throw MetadataError(text.str());
  }

  std::string text(const toml::node& node, const std::string& key) const {
    const auto value = node.value<std::string>();
    if (!value) fail(node, "\"" + key + "\" must be a string");
    return *value;
  }

  double number(const toml::node& node, const std::string& key) const {
    const auto value = node.value<double>();
    if (!value || !std::isfinite(*value)) fail(node, "\"" + key + "\" must be a finite number");
    return *value;
  }

  PinNotes pin(const toml::node& node, const std::string& name) const {
    const toml::table* table = node.as_table();
    if (table == nullptr) fail(node, "pin \"" + name + "\" must be a table");
    PinNotes notes;
    for (const auto& [keyName, value] : *table) {
      const std::string key(keyName.str());
      if (key == "port") {
        const std::string kind = text(value, key);
        if (kind == "control") {
          notes.port = PortKind::control;
        } else if (kind == "audio") {
          notes.port = PortKind::audio;
        } else if (kind == "cv") {
          notes.port = PortKind::cv;
        } else {
          fail(value, "\"port\" must be \"audio\", \"cv\" or \"control\", not \"" + kind + "\"");
        }
      } else if (key == "description") {
        notes.description = text(value, key);
      } else if (key == "unit") {
        notes.unit = text(value, key);
      } else if (key == "minimum") {
        notes.minimum = number(value, key);
      } else if (key == "maximum") {
        notes.maximum = number(value, key);
      } else {
        fail(value, "unknown key \"" + key + "\" for pin \"" + name +
                        "\" (port, description, unit, minimum, maximum)");
      }
    }
    if (notes.minimum && notes.maximum && *notes.minimum > *notes.maximum) {
      fail(node, "pin \"" + name + "\": minimum above maximum");
    }
    return notes;
  }

  ModuleMetadataFile module(const toml::table& root) const {
    ModuleMetadataFile file;
    for (const auto& [keyName, value] : root) {
      const std::string key(keyName.str());
      if (key == "uri") {
        file.uri = text(value, key);
        if (file.uri.find_first_of(" <>\"{}|\\^`") != std::string::npos || file.uri.empty())
          fail(value, "\"uri\" is no valid URI");
      } else if (key == "name") {
        file.name = text(value, key);
      } else if (key == "class") {
        file.lv2Class = text(value, key);
        for (char c : file.lv2Class) {
          if (!std::isalnum(static_cast<unsigned char>(c)))
            fail(value, "\"class\" must be an LV2 class name such as \"ModulatorPlugin\"");
        }
      } else if (key == "pin") {
        const toml::table* pins = value.as_table();
        if (pins == nullptr) fail(value, "\"pin\" must be a table of pins: [pin.NAME]");
        for (const auto& [pinName, notes] : *pins) {
          const std::string name(pinName.str());
          file.pins[name] = pin(notes, name);
        }
      } else {
        fail(value, "unknown key \"" + key + "\" (uri, name, class, pin)");
      }
    }
    return file;
  }

 private:
  std::string path_;
};

}  // namespace

const PinNotes* ModuleMetadataFile::find(const std::string& pin) const {
  const auto it = pins.find(pin);
  return it == pins.end() ? nullptr : &it->second;
}

std::filesystem::path metadataPathFor(const std::filesystem::path& library) {
  std::filesystem::path path = library;
  return path.replace_extension(".pins.toml");
}

ModuleMetadataFile readMetadataFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  toml::table root;
  try {
    root = toml::parse_file(path.string());
  } catch (const toml::parse_error& e) {
    std::ostringstream text;
    text << path.string() << ':' << e.source().begin.line << ':' << e.source().begin.column
         << ": error: " << e.description();
    throw MetadataError(text.str());
  }
  ModuleMetadataFile file = Reader(path).module(root);
  file.path = path;
  return file;
}

}  // namespace rmlv2

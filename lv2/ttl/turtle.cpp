#include "ttl/turtle.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rmlv2 {

namespace {

const char* const kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

const char* typeOf(PortType type) {
  switch (type) {
    case PortType::atomIn:
      return "lv2:InputPort , atom:AtomPort";
    case PortType::audioIn:
      return "lv2:InputPort , lv2:AudioPort";
    case PortType::audioOut:
      return "lv2:OutputPort , lv2:AudioPort";
    case PortType::cvIn:
      return "lv2:InputPort , lv2:CVPort";
    case PortType::cvOut:
      return "lv2:OutputPort , lv2:CVPort";
    case PortType::controlIn:
      return "lv2:InputPort , lv2:ControlPort";
    case PortType::controlOut:
      return "lv2:OutputPort , lv2:ControlPort";
  }
  return "";
}

void writePort(std::ostream& out, const Port& port) {
  out << "  [\n    a " << typeOf(port.type) << " ;\n";
  out << "    lv2:index " << port.index << " ;\n";
  out << "    lv2:symbol " << turtleString(port.symbol) << " ;\n";
  out << "    lv2:name " << turtleString(port.name);
  if (!port.comment.empty()) out << " ;\n    rdfs:comment " << turtleString(port.comment);
  if (port.type == PortType::atomIn) {
    out << " ;\n    atom:bufferType atom:Sequence ;\n    atom:supports midi:MidiEvent ;\n"
        << "    lv2:designation lv2:control";
  }
  if (port.role == Role::latency) {
    out << " ;\n    lv2:designation lv2:latency ;\n"
        << "    lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "    lv2:minimum 0 ;\n    lv2:maximum " << turtleNumber(port.maximum, true);
  }
  if (port.type == PortType::controlIn) {
    const bool integer = port.integer || port.toggled;
    out << " ;\n    lv2:default " << turtleNumber(port.defaultValue, integer) << " ;\n"
        << "    lv2:minimum " << turtleNumber(port.minimum, integer) << " ;\n"
        << "    lv2:maximum " << turtleNumber(port.maximum, integer);
    std::string properties;
    if (port.integer) properties += "lv2:integer";
    if (port.toggled) properties += std::string(properties.empty() ? "" : " , ") + "lv2:toggled";
    if (!port.scalePoints.empty()) {
      properties += std::string(properties.empty() ? "" : " , ") + "lv2:enumeration";
    }
    if (!properties.empty()) out << " ;\n    lv2:portProperty " << properties;
    if (!port.unit.empty()) out << " ;\n    units:unit units:" << port.unit;
    for (const ScalePoint& point : port.scalePoints) {
      out << " ;\n    lv2:scalePoint [ rdfs:label " << turtleString(point.label) << " ; rdf:value "
          << point.value << " ]";
    }
  }
  out << "\n  ]";
}

std::string classes(const Plugin& plugin) {
  return plugin.lv2Class.empty() ? "lv2:Plugin" : "lv2:Plugin , lv2:" + plugin.lv2Class;
}

void writePlugin(std::ostream& out, const Plugin& plugin) {
  out << kPrefixes;
  out << "<" << plugin.uri << ">\n  a " << classes(plugin) << " ;\n";
  out << "  doap:name " << turtleString(plugin.name) << " ;\n";
  out << "  lv2:optionalFeature lv2:hardRTCapable , log:log ;\n";
  if (plugin.find(Role::midiIn) != nullptr) out << "  lv2:requiredFeature urid:map ;\n";
  out << "  lv2:port\n";
  for (size_t i = 0; i < plugin.ports.size(); ++i) {
    writePort(out, plugin.ports[i]);
    out << (i + 1 < plugin.ports.size() ? " ,\n" : " .\n");
  }
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

std::string turtleString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string turtleNumber(float value, bool integer) {
  if (integer) return std::to_string(static_cast<long long>(value));
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  std::string out(text, result.ptr);
  if (out.find('.') == std::string::npos) out += ".0";
  return out;
}

std::string pluginTurtle(const Plugin& plugin) {
  std::ostringstream out;
  writePlugin(out, plugin);
  return out.str();
}

void writeTurtle(const std::filesystem::path& bundle, const std::vector<Plugin>& plugins,
                 const std::string& bridge, const ManifestExtras& extras) {
  std::ostringstream manifest;
  std::ostringstream index;
  manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
  for (const Plugin& plugin : plugins) {
    manifest << "<" << plugin.uri << ">\n  a " << classes(plugin) << " ;\n"
             << "  lv2:binary <" << bridge << "> ;\n"
             << "  rdfs:seeAlso <" << plugin.key << ".ttl> .\n\n";
    writeFile(bundle / (plugin.key + ".ttl"), pluginTurtle(plugin));
    if (!plugin.library.empty()) index << plugin.uri << ' ' << plugin.library << '\n';
  }
  for (const std::string& statement : extras.statements) manifest << statement << "\n\n";
  for (const auto& [name, text] : extras.files) writeFile(bundle / name, text);
  if (!index.str().empty()) writeFile(bundle / kModuleIndexFile, index.str());
  writeFile(bundle / "manifest.ttl", manifest.str());
}

}  // namespace rmlv2

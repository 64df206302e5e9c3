// Writes the bundle's Turtle: manifest.ttl and one file per plug-in, from the pin descriptions of
// the module libraries in the bundle.
//
//   rackmill_lv2_ttl BUNDLE_DIR BRIDGE_FILE_NAME
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "layout/ports.h"
#include "rmhost/library.h"

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

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A Turtle decimal ("0.25", "8.0") or integer literal.
std::string number(float value, bool integer) {
  if (integer) return std::to_string(static_cast<long long>(value));
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  std::string out(text, result.ptr);
  if (out.find('.') == std::string::npos) out += ".0";
  return out;
}

const char* typeOf(rmlv2::PortType type) {
  switch (type) {
    case rmlv2::PortType::atomIn:
      return "lv2:InputPort , atom:AtomPort";
    case rmlv2::PortType::audioOut:
      return "lv2:OutputPort , lv2:AudioPort";
    case rmlv2::PortType::cvIn:
      return "lv2:InputPort , lv2:CVPort";
    case rmlv2::PortType::cvOut:
      return "lv2:OutputPort , lv2:CVPort";
    case rmlv2::PortType::controlIn:
      return "lv2:InputPort , lv2:ControlPort";
    case rmlv2::PortType::controlOut:
      return "lv2:OutputPort , lv2:ControlPort";
  }
  return "";
}

void writePort(std::ostream& out, const rmlv2::Port& port) {
  out << "  [\n    a " << typeOf(port.type) << " ;\n";
  out << "    lv2:index " << port.index << " ;\n";
  out << "    lv2:symbol " << quoted(port.symbol) << " ;\n";
  out << "    lv2:name " << quoted(port.name);
  if (!port.comment.empty()) out << " ;\n    rdfs:comment " << quoted(port.comment);
  if (port.type == rmlv2::PortType::atomIn) {
    out << " ;\n    atom:bufferType atom:Sequence ;\n    atom:supports midi:MidiEvent ;\n"
        << "    lv2:designation lv2:control";
  }
  if (port.role == rmlv2::Role::latency) {
    out << " ;\n    lv2:designation lv2:latency ;\n"
        << "    lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "    lv2:minimum 0 ;\n    lv2:maximum " << number(port.maximum, true);
  }
  if (port.type == rmlv2::PortType::controlIn) {
    const bool integer = port.integer || port.toggled;
    out << " ;\n    lv2:default " << number(port.defaultValue, integer) << " ;\n"
        << "    lv2:minimum " << number(port.minimum, integer) << " ;\n"
        << "    lv2:maximum " << number(port.maximum, integer);
    std::string properties;
    if (port.integer) properties += "lv2:integer";
    if (port.toggled) properties += std::string(properties.empty() ? "" : " , ") + "lv2:toggled";
    if (!port.scalePoints.empty()) {
      properties += std::string(properties.empty() ? "" : " , ") + "lv2:enumeration";
    }
    if (!properties.empty()) out << " ;\n    lv2:portProperty " << properties;
    if (!port.unit.empty()) out << " ;\n    units:unit units:" << port.unit;
    for (const rmlv2::ScalePoint& point : port.scalePoints) {
      out << " ;\n    lv2:scalePoint [ rdfs:label " << quoted(point.label) << " ; rdf:value "
          << point.value << " ]";
    }
  }
  out << "\n  ]";
}

void writePlugin(std::ostream& out, const rmlv2::Plugin& plugin) {
  out << kPrefixes;
  out << "<" << plugin.uri() << ">\n  a lv2:Plugin , lv2:" << plugin.lv2Class << " ;\n";
  out << "  doap:name " << quoted(plugin.name) << " ;\n";
  out << "  lv2:optionalFeature lv2:hardRTCapable , log:log ;\n";
  if (plugin.find(rmlv2::Role::midiIn) != nullptr) out << "  lv2:requiredFeature urid:map ;\n";
  out << "  lv2:port\n";
  for (size_t i = 0; i < plugin.ports.size(); ++i) {
    writePort(out, plugin.ports[i]);
    out << (i + 1 < plugin.ports.size() ? " ,\n" : " .\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " BUNDLE_DIR BRIDGE_FILE_NAME\n";
    return 2;
  }
  const std::filesystem::path bundle = argv[1];
  const std::string bridge = argv[2];
  try {
    std::string error;
    auto swarm = rmhost::Library::load((bundle / "libswarm.so").string(), &error);
    if (!swarm) throw std::runtime_error(error);
    auto vellum = rmhost::Library::load((bundle / "libvellum.so").string(), &error);
    if (!vellum) throw std::runtime_error(error);
    const auto plugins = rmlv2::describePlugins(swarm->info(), vellum->info());

    std::ofstream manifest(bundle / "manifest.ttl");
    manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
             << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
    for (const rmlv2::Plugin& plugin : plugins) {
      manifest << "<" << plugin.uri() << ">\n  a lv2:Plugin , lv2:" << plugin.lv2Class << " ;\n"
               << "  lv2:binary <" << bridge << "> ;\n"
               << "  rdfs:seeAlso <" << plugin.key << ".ttl> .\n\n";
      std::ofstream file(bundle / (plugin.key + ".ttl"));
      writePlugin(file, plugin);
      if (!file) throw std::runtime_error("cannot write " + plugin.key + ".ttl");
    }
    if (!manifest) throw std::runtime_error("cannot write manifest.ttl");
  } catch (const std::exception& e) {
    std::cerr << argv[0] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

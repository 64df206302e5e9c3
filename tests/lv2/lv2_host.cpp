#include "lv2_host.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "rmhost/session.h"

namespace lv2test {

World::World(const std::string& bundle) : world_(lilv_world_new()) {
  LilvNode* uri = lilv_new_file_uri(world_, nullptr, (bundle + "/").c_str());
  lilv_world_load_bundle(world_, uri);
  lilv_node_free(uri);
  map_ = {this, &World::mapUri};
  logFeature_ = {this, &World::printf, &World::vprintf};
  mapFeature_ = {LV2_URID__map, &map_};
  logFeatureEntry_ = {LV2_LOG__log, &logFeature_};
}

World::~World() {
  lilv_world_free(world_);
}

const LilvPlugin* World::plugin(const std::string& uri) const {
  LilvNode* node = lilv_new_uri(world_, uri.c_str());
  const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
  lilv_node_free(node);
  return found;
}

LV2_URID World::map(const std::string& uri) {
  auto [it, added] = urids_.emplace(uri, static_cast<LV2_URID>(urids_.size() + 1));
  return it->second;
}

LV2_URID World::mapUri(LV2_URID_Map_Handle handle, const char* uri) {
  return static_cast<World*>(handle)->map(uri);
}

int World::printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vprintf(handle, type, format, args);
  va_end(args);
  return n;
}

int World::vprintf(LV2_Log_Handle handle, LV2_URID, const char* format, va_list args) {
  char text[1024];
  const int n = std::vsnprintf(text, sizeof text, format, args);
  static_cast<World*>(handle)->log_ += text;
  return n;
}

std::vector<const LV2_Feature*> World::features(const Features& wanted) {
  std::vector<const LV2_Feature*> list;
  if (wanted.map) list.push_back(&mapFeature_);
  if (wanted.log) list.push_back(&logFeatureEntry_);
  list.push_back(nullptr);
  return list;
}

Instance::Instance(World& world, const std::string& uri, double rate, World::Features features)
    : world_(world) {
  const LilvPlugin* plugin = world.plugin(uri);
  if (plugin == nullptr) throw std::runtime_error("no plug-in " + uri);
  LilvWorld* w = world.lilv();
  auto node = [&](const char* u) { return lilv_new_uri(w, u); };
  LilvNode* inputClass = node(LV2_CORE__InputPort);
  LilvNode* controlClass = node(LV2_CORE__ControlPort);
  LilvNode* audioClass = node(LV2_CORE__AudioPort);
  LilvNode* cvClass = node(LV2_CORE__CVPort);
  LilvNode* atomClass = node(LV2_ATOM__AtomPort);
  const uint32_t count = lilv_plugin_get_num_ports(plugin);
  std::vector<float> minimum(count), maximum(count), defaults(count);
  lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), defaults.data());
  for (uint32_t i = 0; i < count; ++i) {
    const LilvPort* p = lilv_plugin_get_port_by_index(plugin, i);
    PortInfo info;
    info.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, p));
    LilvNode* name = lilv_port_get_name(plugin, p);
    info.name = lilv_node_as_string(name);
    lilv_node_free(name);
    info.input = lilv_port_is_a(plugin, p, inputClass);
    info.control = lilv_port_is_a(plugin, p, controlClass);
    info.audio = lilv_port_is_a(plugin, p, audioClass);
    info.cv = lilv_port_is_a(plugin, p, cvClass);
    info.atom = lilv_port_is_a(plugin, p, atomClass);
    info.minimum = minimum[i];
    info.maximum = maximum[i];
    info.defaultValue = defaults[i];
    ports_.push_back(info);
  }
  for (LilvNode* n : {inputClass, controlClass, audioClass, cvClass, atomClass}) lilv_node_free(n);

  controls_.resize(count);
  buffers_.resize(count);
  sequence_.resize(8192);
  midiEvent_ = world.map(LV2_MIDI__MidiEvent);
  sequenceType_ = world.map(LV2_ATOM__Sequence);
  chunkType_ = world.map(LV2_ATOM__Chunk);
  const auto list = world.features(features);
  instance_ = lilv_plugin_instantiate(plugin, rate, list.data());
  if (instance_ == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    const PortInfo& info = ports_[i];
    if (info.control) {
      controls_[i] = std::isnan(info.defaultValue) ? 0.0f : info.defaultValue;
      lilv_instance_connect_port(instance_, i, &controls_[i]);
    } else if (info.audio || info.cv) {
      buffers_[i].assign(kMaxFrames, 0.0f);
      lilv_instance_connect_port(instance_, i, buffers_[i].data());
    } else if (info.atom) {
      lilv_instance_connect_port(instance_, i, sequence_.data());
    }
  }
  activate();
}

Instance::~Instance() {
  if (instance_ == nullptr) return;
  deactivate();
  lilv_instance_free(instance_);
}

int32_t Instance::port(const std::string& symbol) const {
  for (size_t i = 0; i < ports_.size(); ++i)
    if (ports_[i].symbol == symbol) return static_cast<int32_t>(i);
  return -1;
}

float& Instance::control(const std::string& symbol) {
  const int32_t i = port(symbol);
  if (i < 0 || !ports_[static_cast<size_t>(i)].control)
    throw std::runtime_error("no control " + symbol);
  return controls_[static_cast<size_t>(i)];
}

float* Instance::buffer(const std::string& symbol) {
  const int32_t i = port(symbol);
  if (i < 0 || buffers_[static_cast<size_t>(i)].empty())
    throw std::runtime_error("no buffer " + symbol);
  return buffers_[static_cast<size_t>(i)].data();
}

void Instance::midi(uint32_t frame, std::vector<uint8_t> bytes) {
  pending_.emplace_back(frame, std::move(bytes));
}

void Instance::activate() {
  if (!active_) lilv_instance_activate(instance_);
  active_ = true;
}

void Instance::deactivate() {
  if (active_) lilv_instance_deactivate(instance_);
  active_ = false;
}

void Instance::run(uint32_t frames, bool watched) {
  auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(sequence_.data());
  const uint32_t capacity = static_cast<uint32_t>(sequence_.size() * sizeof(uint64_t));
  sequence->atom.type = sequenceType_;
  lv2_atom_sequence_clear(sequence);
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  size_t sent = 0;
  for (; sent < pending_.size() && pending_[sent].first < frames; ++sent) {
    const auto& [frame, bytes] = pending_[sent];
    // Messages up to kMaxMessage bytes pass whole (sysex and oversize ones in the fuzz test).
    alignas(8) uint8_t storage[sizeof(LV2_Atom_Event) + kMaxMessage] = {};
    auto* event = reinterpret_cast<LV2_Atom_Event*>(storage);
    const size_t size = std::min<size_t>(bytes.size(), kMaxMessage);
    event->time.frames = frame;
    event->body.type = midiEvent_;
    event->body.size = static_cast<uint32_t>(size);
    if (size > 0) std::memcpy(storage + sizeof(LV2_Atom_Event), bytes.data(), size);
    lv2_atom_sequence_append_event(sequence, capacity, event);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
  for (auto& pending : pending_) pending.first -= frames;
  if (watched) {
    rmhost::AudioThreadScope audioThread;
    lilv_instance_run(instance_, frames);
  } else {
    lilv_instance_run(instance_, frames);
  }
}

const void* Instance::extensionData(const std::string& uri) const {
  return lilv_instance_get_extension_data(instance_, uri.c_str());
}

}  // namespace lv2test

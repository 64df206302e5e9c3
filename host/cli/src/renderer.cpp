#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "diagnostics.h"
#include "rmhost/library.h"
#include "rmhost/session.h"
#include "voices.h"

namespace rmcli {

namespace {

[[noreturn]] void fail(Where where, const std::string& message) {
  throw PatchError(where, message);
}

// What feeds an input pin. Each input is fed by one thing, except that notes may set a pin that
// also has a constant: the constant is then the value of the notes that do not set it.
struct Feed {
  enum Kind { none, constant, notes, note, connection } kind = none;
  int line = 0;

  std::string describe() const {
    static const char* const kWhat[] = {"", "a value in its pins", "the notes", "a note",
                                        "a connection"};
    return std::string(kWhat[kind]) + " (line " + std::to_string(line) + ")";
  }
};

int64_t toClock(double seconds, int sampleRate) {
  return std::llround(seconds * static_cast<double>(sampleRate));
}

}  // namespace

struct Renderer::Graph {
  struct Module {
    const ModuleDef* entry = nullptr;
    rmhost::Library* library = nullptr;
    std::vector<rmhost::InstanceId> voices;
    std::vector<Feed> feeds;  // per pin
  };
  // A signal the helpers read: an output pin of a module or one channel of a gain stage.
  struct Channel {
    int module = -1;
    int pin = -1;
    int gain = -1;
    int index = 0;
    int voices = 1;
  };
  struct Gain {
    std::vector<Channel> inputs;
    Channel control;
    int voices = 1;
    std::vector<std::vector<float>> out;  // [voice × inputs + input], one block each
  };
  struct Strip {
    Channel left;
    Channel right;  // the same as left for a mono source
    double leftGain = 1.0;
    double rightGain = 1.0;
    int voices = 1;
  };
  struct Event {
    int64_t clock = 0;
    rmhost::InstanceId instance = -1;
    int32_t pin = 0;
    double value = 0.0;
  };

  explicit Graph(const Patch& source) : patch(source) {}

  void loadModules(const PluginFinder& finder, Problems& problems);
  void checkPins(Problems& problems);
  void checkConnections(Problems& problems);
  void buildGains(Problems& problems);
  void buildMix(Problems& problems);
  std::vector<int> processingOrder() const;
  void createInstances();
  void scheduleParts();

  const rmhost::PinInfo& pin(const Module& module, int index) const {
    return module.library->info().pins[static_cast<size_t>(index)];
  }
  int findPin(const Module& module, const std::string& name, Where where) const;
  double settingValue(const Module& module, const PinSetting& setting) const;
  double ownValue(const Module& module, const std::string& pinName) const;
  void feed(Module& module, int pin, Feed feed, Where where);
  int moduleIndex(std::string_view id) const;
  std::vector<Channel> channels(const SignalRef& ref) const;
  const float* data(const Channel& channel, int voice) const;
  void runGains(int frames);
  void mixInto(int frames, std::vector<double>& left, std::vector<double>& right);

  Patch patch;
  int64_t frames = 0;
  std::map<std::string, std::unique_ptr<rmhost::Library>> libraries;  // by path
  std::vector<Module> modules;                                        // in patch order
  std::unique_ptr<rmhost::Session> session;  // declared after the libraries it uses
  std::vector<Gain> gains;
  std::vector<Strip> strips;
  std::vector<double> stripPeaks;             // of each strip's own sum, before the master gain
  std::vector<double> stripLeft, stripRight;  // one strip's sum over one block
  std::vector<Event> events;
  bool rendered = false;
};

// A module whose library cannot be loaded is left out: its pins go unchecked.
void Renderer::Graph::loadModules(const PluginFinder& finder, Problems& problems) {
  for (const ModuleDef& entry : patch.modules) {
    const auto path = finder.find(entry.plugin, patch.directory);
    if (!path) {
      problems.add(entry.pluginWhere, finder.notFound(entry.plugin, patch.directory));
      continue;
    }
    auto& library = libraries[path->string()];
    if (!library) {
      std::string error;
      library = rmhost::Library::load(path->string(), &error);
      if (!library) {
        libraries.erase(path->string());
        problems.add(entry.pluginWhere, "cannot load the plug-in: " + error);
        continue;
      }
    }
    Module module;
    module.entry = &entry;
    module.library = library.get();
    module.feeds.resize(library->info().pins.size());
    modules.push_back(std::move(module));
  }
}

int Renderer::Graph::findPin(const Module& module, const std::string& name, Where where) const {
  const auto& pins = module.library->info().pins;
  for (size_t i = 0; i < pins.size(); ++i)
    if (pins[i].name == name) return static_cast<int>(i);
  std::string message = "module " + inQuotes(module.entry->id) + " (" + module.library->info().id +
                        ") has no pin " + inQuotes(name);
  std::vector<std::string> names;
  for (const auto& candidate : pins) names.push_back(candidate.name);
  const std::string hint = didYouMean(name, names);
  if (!hint.empty()) {
    message += hint;
  } else {
    message += "; its pins are:";
    for (const auto& candidate : names) message += " " + inQuotes(candidate);
  }
  fail(where, message);
}

double Renderer::Graph::settingValue(const Module& module, const PinSetting& setting) const {
  const int index = findPin(module, setting.pin, setting.where);
  const rmhost::PinInfo& info = pin(module, index);
  const std::string name = "pin " + inQuotes(info.name) + " of " + inQuotes(module.entry->id);
  if (info.direction == dirOutput) fail(setting.where, name + " is an output; it cannot be set");
  if (info.datatype == dtList) {
    const auto items = info.listText ? rmhost::parseListItems(*info.listText) : std::nullopt;
    if (!items) fail(setting.where, name + " is a list pin without a readable list");
    for (const auto& item : *items)
      if (setting.label ? item.label == *setting.label : item.value == setting.number)
        return item.value;
    std::string choices;
    for (const auto& item : *items)
      choices += (choices.empty() ? "" : ", ") +
                 (setting.label ? inQuotes(item.label) : std::to_string(item.value));
    fail(setting.where, name + " takes one of: " + choices);
  }
  if (setting.label) fail(setting.where, name + " takes a number, not a label");
  if (info.datatype != dtAudio && setting.number != std::trunc(setting.number))
    fail(setting.where, name + " takes a whole number");
  return setting.number;
}

// The value a module's pin has without notes: its constant in the patch, else its default text.
double Renderer::Graph::ownValue(const Module& module, const std::string& pinName) const {
  for (const PinSetting& setting : module.entry->pins)
    if (setting.pin == pinName) return settingValue(module, setting);
  const int index = findPin(module, pinName, module.entry->where);
  return rmhost::parseNumber(pin(module, index).defaultText.value_or("0")).value_or(0.0);
}

void Renderer::Graph::feed(Module& module, int index, Feed by, Where where) {
  Feed& current = module.feeds[static_cast<size_t>(index)];
  if (by.kind == Feed::note && (current.kind == Feed::constant || current.kind == Feed::note))
    return;
  if (current.kind != Feed::none)
    fail(where, "pin " + inQuotes(pin(module, index).name) + " of " + inQuotes(module.entry->id) +
                    " is already fed by " + current.describe());
  current = by;
}

int Renderer::Graph::moduleIndex(std::string_view id) const {
  for (size_t i = 0; i < modules.size(); ++i)
    if (modules[i].entry->id == id) return static_cast<int>(i);
  return -1;
}

// Each setting, binding and connection is checked on its own, so that every mistake is reported.
void Renderer::Graph::checkPins(Problems& problems) {
  for (Module& module : modules) {
    for (const PinSetting& setting : module.entry->pins)
      problems.attempt([&] {
        settingValue(module, setting);
        feed(module, findPin(module, setting.pin, setting.where),
             {Feed::constant, setting.where.line}, setting.where);
      });
    if (!module.entry->notes) continue;
    const NoteBinding& binding = *module.entry->notes;
    for (const std::string* name :
         {&binding.pitch, &binding.gate, &binding.voiceGate, &binding.trigger}) {
      if (name->empty()) continue;
      problems.attempt([&] {
        const int index = findPin(module, *name, binding.where);
        const rmhost::PinInfo& info = pin(module, index);
        if (info.direction != dirInput || info.datatype != dtAudio)
          fail(binding.where, "notes can only drive audio inputs; " + inQuotes(*name) + " of " +
                                  inQuotes(module.entry->id) + " is not one");
        feed(module, index, {Feed::notes, binding.where.line}, binding.where);
      });
    }
    if (!binding.velocity.empty())
      problems.attempt([&] {
        // The note's velocity scales the pin's own value, so it may also have a constant.
        const int index = findPin(module, binding.velocity, binding.where);
        const rmhost::PinInfo& info = pin(module, index);
        if (info.direction == dirOutput || info.datatype == dtList)
          fail(binding.where, "velocity can only drive a number input; " +
                                  inQuotes(binding.velocity) + " of " + inQuotes(module.entry->id) +
                                  " is not one");
        feed(module, index, {Feed::note, binding.where.line}, binding.where);
      });
  }
  for (const NoteDef& note : patch.notes) {
    for (const NotePin& notePin : note.pins) {
      const int m = moduleIndex(notePin.module);
      if (m < 0) continue;  // not loaded: reported already
      Module& module = modules[static_cast<size_t>(m)];
      problems.attempt([&] {
        settingValue(module, notePin.setting);
        feed(module, findPin(module, notePin.setting.pin, notePin.setting.where),
             {Feed::note, notePin.setting.where.line}, notePin.setting.where);
      });
    }
  }
}

void Renderer::Graph::checkConnections(Problems& problems) {
  for (const Connection& connection : patch.connections) {
    const int fromIndex = moduleIndex(connection.from.node);
    const int toIndex = moduleIndex(connection.to.node);
    if (fromIndex < 0 || toIndex < 0) continue;  // not loaded: reported already
    Module& from = modules[static_cast<size_t>(fromIndex)];
    Module& to = modules[static_cast<size_t>(toIndex)];
    problems.attempt([&] {
      const int out = findPin(from, connection.from.pin, connection.where);
      const int in = findPin(to, connection.to.pin, connection.where);
      if (pin(from, out).direction != dirOutput || pin(from, out).datatype != dtAudio)
        fail(connection.where, inQuotes(connection.from.node + "." + connection.from.pin) +
                                   " is not an audio output; a connection starts at one");
      if (pin(to, in).direction != dirInput || pin(to, in).datatype != dtAudio)
        fail(connection.where, inQuotes(connection.to.node + "." + connection.to.pin) +
                                   " is not an audio input; a connection ends at one");
      if (from.entry->voices != 1 && from.entry->voices != to.entry->voices)
        fail(connection.where, "cannot connect " + std::to_string(from.entry->voices) +
                                   " voices to " + std::to_string(to.entry->voices) +
                                   "; voice counts must match, or the source has one voice");
      feed(to, in, {Feed::connection, connection.where.line}, connection.where);
    });
  }
}

// Modules run in creation order, so every module must come after the modules that feed it.
// Among the modules that are ready, the one written first in the patch goes first.
std::vector<int> Renderer::Graph::processingOrder() const {
  const size_t count = modules.size();
  std::vector<int> waiting(count, 0);
  for (const Connection& connection : patch.connections) ++waiting[moduleIndex(connection.to.node)];
  std::vector<int> order;
  std::vector<bool> placed(count, false);
  while (order.size() < count) {
    int ready = -1;
    for (size_t i = 0; i < count && ready < 0; ++i)
      if (!placed[i] && waiting[i] == 0) ready = static_cast<int>(i);
    if (ready < 0) {
      for (const Connection& connection : patch.connections)
        if (!placed[moduleIndex(connection.from.node)])
          fail(connection.where, "connections form a loop through " +
                                     inQuotes(connection.from.node) +
                                     "; a module cannot be fed from a module it feeds");
    }
    placed[ready] = true;
    order.push_back(ready);
    for (const Connection& connection : patch.connections)
      if (moduleIndex(connection.from.node) == ready) --waiting[moduleIndex(connection.to.node)];
  }
  return order;
}

void Renderer::Graph::createInstances() {
  rmhost::SessionConfig config;
  config.sampleRate = static_cast<float>(patch.render.sampleRate);
  config.blockSize = patch.render.blockSize;
  config.logRequests = false;
  session = std::make_unique<rmhost::Session>(config);

  const std::vector<int> order = processingOrder();
  for (int index : order) {
    Module& module = modules[static_cast<size_t>(index)];
    const int group = session->addGroup();
    for (int v = 0; v < module.entry->voices; ++v) {
      const rmhost::InstanceId id = session->create(*module.library, group);
      if (id < 0)
        fail(module.entry->where, "plug-in " + inQuotes(module.entry->plugin) +
                                      " refused to make an instance for " +
                                      inQuotes(module.entry->id));
      module.voices.push_back(id);
    }
    for (const PinSetting& setting : module.entry->pins) {
      const double value = settingValue(module, setting);
      const int pinIndex = findPin(module, setting.pin, setting.where);
      for (rmhost::InstanceId id : module.voices) session->setInitial(id, pinIndex, value);
    }
    if (const auto& binding = module.entry->notes) {
      for (const std::string* name : {&binding->gate, &binding->voiceGate, &binding->trigger})
        if (!name->empty())
          for (rmhost::InstanceId id : module.voices)
            session->setInitial(id, findPin(module, *name, binding->where), 0.0);
    }
  }
  for (const Connection& connection : patch.connections) {
    const Module& from = modules[static_cast<size_t>(moduleIndex(connection.from.node))];
    const Module& to = modules[static_cast<size_t>(moduleIndex(connection.to.node))];
    const int out = findPin(from, connection.from.pin, connection.where);
    const int in = findPin(to, connection.to.pin, connection.where);
    for (size_t v = 0; v < to.voices.size(); ++v)
      session->connect(from.voices[from.voices.size() == 1 ? 0 : v], out, to.voices[v], in);
  }
  for (int index : order)
    for (rmhost::InstanceId id : modules[static_cast<size_t>(index)].voices) session->open(id);
}

std::vector<Renderer::Graph::Channel> Renderer::Graph::channels(const SignalRef& ref) const {
  std::vector<Channel> result;
  const int m = moduleIndex(ref.node);
  if (m < 0) {  // a gain stage, named as a whole; nothing for a node left out
    for (size_t g = 0; g < patch.gains.size() && g < gains.size(); ++g)
      if (patch.gains[g].id == ref.node)
        for (size_t c = 0; c < gains[g].inputs.size(); ++c)
          result.push_back({-1, -1, static_cast<int>(g), static_cast<int>(c), gains[g].voices});
    return result;
  }
  const Module& module = modules[static_cast<size_t>(m)];
  const auto& pins = module.library->info().pins;
  if (!ref.pin.empty()) {
    const int index = findPin(module, ref.pin, ref.where);
    if (pins[static_cast<size_t>(index)].direction != dirOutput ||
        pins[static_cast<size_t>(index)].datatype != dtAudio)
      fail(ref.where, inQuotes(ref.node + "." + ref.pin) + " is not an audio output");
    result.push_back({m, index, -1, 0, module.entry->voices});
    return result;
  }
  for (size_t i = 0; i < pins.size(); ++i)
    if (pins[i].direction == dirOutput && pins[i].datatype == dtAudio)
      result.push_back({m, static_cast<int>(i), -1, 0, module.entry->voices});
  if (result.empty()) fail(ref.where, "module " + inQuotes(ref.node) + " has no audio output");
  return result;
}

// A gain or strip that reads a module or gain left out for its own mistakes is skipped. A gain
// keeps its place, empty, so that the gains after it keep their indexes.
void Renderer::Graph::buildGains(Problems& problems) {
  for (const GainDef& entry : patch.gains) {
    Gain& gain = gains.emplace_back();
    problems.attempt([&] {
      Gain built;
      for (const SignalRef& input : entry.inputs) {
        const std::vector<Channel> found = channels(input);
        if (found.empty()) return;
        built.inputs.insert(built.inputs.end(), found.begin(), found.end());
      }
      const std::vector<Channel> control = channels(entry.control);
      if (control.empty()) return;
      if (control.size() != 1)
        fail(entry.control.where, "a gain's control is one signal; " +
                                      inQuotes(entry.control.node) + " has " +
                                      std::to_string(control.size()) + " (name one pin, like \"" +
                                      entry.control.node + ".pin\")");
      built.control = control.front();
      std::vector<Channel> all = built.inputs;
      all.push_back(built.control);
      for (const Channel& channel : all) built.voices = std::max(built.voices, channel.voices);
      for (const Channel& channel : all)
        if (channel.voices != 1 && channel.voices != built.voices)
          fail(entry.where, "gain " + inQuotes(entry.id) + " mixes signals of " +
                                std::to_string(channel.voices) + " and " +
                                std::to_string(built.voices) +
                                " voices; they must match, or have one voice");
      built.out.assign(static_cast<size_t>(built.voices) * built.inputs.size(),
                       std::vector<float>(static_cast<size_t>(patch.render.blockSize)));
      gain = std::move(built);
    });
  }
}

void Renderer::Graph::buildMix(Problems& problems) {
  for (const MixDef& entry : patch.mix) {
    problems.attempt([&] {
      const std::vector<Channel> source = channels(entry.source);
      if (source.empty()) return;
      if (source.size() > 2)
        fail(entry.source.where, "mix source " + inQuotes(entry.source.node) + " has " +
                                     std::to_string(source.size()) +
                                     " signals; a strip takes one (mono) or two (stereo)");
      Strip strip;
      strip.left = source.front();
      strip.right = source.back();
      strip.voices = std::max(strip.left.voices, strip.right.voices);
      if (source.size() == 1) {  // constant-power pan
        const double angle = (entry.pan + 1.0) * std::numbers::pi / 4.0;
        strip.leftGain = entry.gain * std::cos(angle);
        strip.rightGain = entry.gain * std::sin(angle);
      } else {  // balance
        strip.leftGain = entry.gain * (entry.pan > 0.0 ? 1.0 - entry.pan : 1.0);
        strip.rightGain = entry.gain * (entry.pan < 0.0 ? 1.0 + entry.pan : 1.0);
      }
      strips.push_back(strip);
    });
  }
}

void Renderer::Graph::scheduleParts() {
  const int rate = patch.render.sampleRate;
  const int64_t pulse = std::max<int64_t>(1, toClock(0.001, rate));
  for (const PartDef& part : patch.parts) {
    std::vector<const NoteDef*> notes;
    std::vector<NoteTiming> timings;
    for (const NoteDef& note : patch.notes) {
      if (note.part != part.id) continue;
      const NoteTiming timing{toClock(note.start, rate), toClock(note.start + note.length, rate)};
      if (timing.end <= timing.start) fail(note.where, "the note is shorter than one sample");
      notes.push_back(&note);
      timings.push_back(timing);
    }
    const auto cues = scheduleVoices(timings, part.voices, toClock(part.release, rate), pulse);
    for (const Module& module : modules) {
      if (module.entry->part != part.id) continue;
      NoteDrive drive;
      if (const auto& binding = module.entry->notes) {
        auto index = [&](const std::string& name) {
          return name.empty() ? -1 : findPin(module, name, binding->where);
        };
        drive.pins.pitch = index(binding->pitch);
        drive.pins.law = binding->law;
        drive.pins.gate = index(binding->gate);
        drive.pins.voiceGate = index(binding->voiceGate);
        drive.pins.trigger = index(binding->trigger);
        drive.pins.velocity = index(binding->velocity);
        drive.pins.sensitivity = binding->sensitivity;
        if (drive.pins.velocity >= 0)
          drive.pins.velocityLevel = ownValue(module, binding->velocity);
      }
      for (const NoteDef* note : notes)
        for (const NotePin& notePin : note->pins) {
          if (notePin.module != module.entry->id) continue;
          const int index = findPin(module, notePin.setting.pin, notePin.setting.where);
          if (std::find(drive.notePins.begin(), drive.notePins.end(), index) !=
              drive.notePins.end())
            continue;
          drive.notePins.push_back(index);
          drive.pinValues.push_back(ownValue(module, notePin.setting.pin));
        }
      std::vector<NotePlay> plays;
      for (const NoteDef* note : notes) {
        NotePlay play{note->key, note->velocity, {}};
        play.pins.resize(drive.notePins.size());
        for (const NotePin& notePin : note->pins) {
          if (notePin.module != module.entry->id) continue;
          const int index = findPin(module, notePin.setting.pin, notePin.setting.where);
          const auto slot = std::find(drive.notePins.begin(), drive.notePins.end(), index);
          play.pins[static_cast<size_t>(slot - drive.notePins.begin())] =
              settingValue(module, notePin.setting);
        }
        plays.push_back(std::move(play));
      }
      for (const PinEvent& event : pinEvents(cues, drive, plays, module.entry->voices))
        events.push_back(
            {event.clock, module.voices[static_cast<size_t>(event.voice)], event.pin, event.value});
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.clock < b.clock; });
}

const float* Renderer::Graph::data(const Channel& channel, int voice) const {
  const int v = channel.voices == 1 ? 0 : voice;
  if (channel.module >= 0)
    return session->buffer(
        modules[static_cast<size_t>(channel.module)].voices[static_cast<size_t>(v)], channel.pin);
  const Gain& gain = gains[static_cast<size_t>(channel.gain)];
  return gain.out[static_cast<size_t>(v) * gain.inputs.size() + static_cast<size_t>(channel.index)]
      .data();
}

void Renderer::Graph::runGains(int count) {
  for (Gain& gain : gains) {
    for (int v = 0; v < gain.voices; ++v) {
      const float* control = data(gain.control, v);
      for (size_t c = 0; c < gain.inputs.size(); ++c) {
        const float* in = data(gain.inputs[c], v);
        float* out = gain.out[static_cast<size_t>(v) * gain.inputs.size() + c].data();
        for (int i = 0; i < count; ++i) out[i] = in[i] * control[i];
      }
    }
  }
}

void Renderer::Graph::mixInto(int count, std::vector<double>& left, std::vector<double>& right) {
  std::fill(left.begin(), left.begin() + count, 0.0);
  std::fill(right.begin(), right.begin() + count, 0.0);
  for (size_t s = 0; s < strips.size(); ++s) {
    const Strip& strip = strips[s];
    std::fill(stripLeft.begin(), stripLeft.begin() + count, 0.0);
    std::fill(stripRight.begin(), stripRight.begin() + count, 0.0);
    for (int v = 0; v < strip.voices; ++v) {
      const float* l = data(strip.left, v);
      const float* r = data(strip.right, v);
      for (int i = 0; i < count; ++i) {
        stripLeft[i] += strip.leftGain * l[i];
        stripRight[i] += strip.rightGain * r[i];
      }
    }
    double& peak = stripPeaks[s];
    for (int i = 0; i < count; ++i) {
      left[i] += stripLeft[i];
      right[i] += stripRight[i];
      peak = std::max({peak, std::fabs(stripLeft[i]), std::fabs(stripRight[i])});
    }
  }
}

Renderer::Renderer(const Patch& patch, const PluginFinder& finder, Problems problems)
    : graph_(std::make_unique<Graph>(patch)) {
  Graph& graph = *graph_;
  graph.loadModules(finder, problems);
  graph.checkPins(problems);
  graph.checkConnections(problems);
  graph.buildGains(problems);
  graph.buildMix(problems);
  problems.throwIfAny();
  graph.frames = std::max<int64_t>(1, toClock(*graph.patch.render.length, patch.render.sampleRate));
  graph.createInstances();
  graph.scheduleParts();
}

Renderer::~Renderer() = default;

int64_t Renderer::frames() const {
  return graph_->frames;
}

std::vector<StripLevel> Renderer::stripLevels() const {
  const Graph& graph = *graph_;
  std::vector<StripLevel> levels;
  for (size_t s = 0; s < graph.patch.mix.size() && s < graph.stripPeaks.size(); ++s) {
    const MixDef& entry = graph.patch.mix[s];
    levels.push_back({entry.source.node + (entry.source.pin.empty() ? "" : "." + entry.source.pin),
                      entry.where, entry.gain, graph.stripPeaks[s] * graph.patch.render.gain});
  }
  return levels;
}

AudioBuffer Renderer::render(const ProgressFn& progress) {
  Graph& graph = *graph_;
  if (graph.rendered) throw std::logic_error("a renderer renders once");
  graph.rendered = true;
  AudioBuffer audio;
  audio.sampleRate = graph.patch.render.sampleRate;
  audio.frames = graph.frames;
  audio.samples.assign(static_cast<size_t>(2 * graph.frames), 0.0f);
  const int block = graph.patch.render.blockSize;
  const double master = graph.patch.render.gain;
  std::vector<double> left(static_cast<size_t>(block)), right(static_cast<size_t>(block));
  graph.stripLeft.assign(static_cast<size_t>(block), 0.0);
  graph.stripRight.assign(static_cast<size_t>(block), 0.0);
  graph.stripPeaks.assign(graph.strips.size(), 0.0);
  size_t next = 0;
  for (int64_t start = 0; start < graph.frames; start += block) {
    for (; next < graph.events.size() && graph.events[next].clock < start + block; ++next) {
      const Graph::Event& event = graph.events[next];
      graph.session->setValue(event.instance, event.pin, event.value, event.clock);
    }
    graph.session->runBlock();
    const int count = static_cast<int>(std::min<int64_t>(block, graph.frames - start));
    graph.runGains(count);
    graph.mixInto(count, left, right);
    float* out = audio.samples.data() + 2 * start;
    for (int i = 0; i < count; ++i) {
      out[2 * i] = static_cast<float>(left[i] * master);
      out[2 * i + 1] = static_cast<float>(right[i] * master);
    }
    if (progress) progress(start + count, graph.frames);
  }
  return audio;
}

}  // namespace rmcli

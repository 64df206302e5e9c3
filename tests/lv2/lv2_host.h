// A small LV2 host on lilv for the tests: loads the bundle from the build tree, instantiates a
// plug-in, connects every port to buffers of its own and feeds MIDI through an atom sequence.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lv2test {

inline const std::string kInstrument = "https://rackmill.example/lv2/instrument";
inline const std::string kSwarm = "https://rackmill.example/lv2/swarm";
inline const std::string kVellum = "https://rackmill.example/lv2/vellum";

// The lilv world with the bundle loaded, and the host features.
class World {
 public:
  explicit World(const std::string& bundle);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const LilvPlugin* plugin(const std::string& uri) const;
  LilvWorld* lilv() const { return world_; }
  LV2_URID map(const std::string& uri);
  LV2_URID_Map* uridMap() { return &map_; }
  // Messages plug-ins wrote through the log feature.
  const std::string& log() const { return log_; }

  struct Features {
    bool map = true;
    bool log = true;
  };
  std::vector<const LV2_Feature*> features(const Features& wanted);

 private:
  static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri);
  static int printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
  static int vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);

  LilvWorld* world_ = nullptr;
  std::map<std::string, LV2_URID> urids_;
  std::string log_;
  LV2_URID_Map map_{};
  LV2_Log_Log logFeature_{};
  LV2_Feature mapFeature_{};
  LV2_Feature logFeatureEntry_{};
};

struct PortInfo {
  std::string symbol;
  std::string name;
  bool input = false;
  bool control = false;
  bool audio = false;
  bool cv = false;
  bool atom = false;
  float minimum = 0.0f;
  float maximum = 0.0f;
  float defaultValue = 0.0f;
};

class Instance {
 public:
  static constexpr uint32_t kMaxFrames = 8192;
  static constexpr size_t kMaxMessage = 256;

  // Null instance() when the plug-in refused.
  Instance(World& world, const std::string& uri, double rate, World::Features features = {});
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool ok() const { return instance_ != nullptr; }
  const std::vector<PortInfo>& ports() const { return ports_; }
  int32_t port(const std::string& symbol) const;  // -1 when absent
  float& control(const std::string& symbol);
  float* buffer(const std::string& symbol);  // audio or CV

  // A MIDI message at `frame` of the next run (at most kMaxMessage bytes of it).
  void midi(uint32_t frame, std::vector<uint8_t> bytes);
  void activate();
  void deactivate();
  // One run; the outputs are read through buffer(). With `watched`, the plug-in's run() counts
  // as audio thread for the allocation counter, host code and modules alike.
  void run(uint32_t frames, bool watched = false);
  // The plug-in's extension data for `uri`, or null.
  const void* extensionData(const std::string& uri) const;
  void* handle() const { return lilv_instance_get_handle(instance_); }

 private:
  World& world_;
  LilvInstance* instance_ = nullptr;
  bool active_ = false;
  std::vector<PortInfo> ports_;
  std::vector<float> controls_;
  std::vector<std::vector<float>> buffers_;
  std::vector<uint64_t> sequence_;  // 8-byte aligned atom sequence
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pending_;
  LV2_URID midiEvent_ = 0;
  LV2_URID sequenceType_ = 0;
  LV2_URID chunkType_ = 0;
};

}  // namespace lv2test

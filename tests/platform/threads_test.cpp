// A host may make an instance on one thread, open and process it on another and close it on a
// third, and run other sessions on other threads at the same time. The samples must be those of
// a session that stays on one thread. Clones of one swarm group always run on one thread.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "rmhost/session.h"
#include "scenarios.h"

namespace {

rmhost::Library& library(const char* plugin) {
  return loadedLibrary(std::string(PLUGIN_DIR) + "/" + platform_test::libraryFile(plugin));
}

// Three swarm clones in one group, each under a vellum envelope of its own.
class Band {
 public:
  void create() {
    session_ = std::make_unique<rmhost::Session>(rmhost::SessionConfig{48000.0f, 64});
    const int32_t clones = session_->addGroup();
    for (int v = 0; v < 3; ++v) {
      voices_.push_back(session_->create(library("swarm"), clones));
      set(voices_.back(), "oscs", 12);
      set(voices_.back(), "poly", 3);
      set(voices_.back(), "fc_1", 0.3 + 0.07 * v);
      envelopes_.push_back(session_->create(library("vellum"), session_->addGroup()));
      set(envelopes_.back(), "Attack", 20);
      set(envelopes_.back(), "LfoAmt", 0.4);
    }
  }

  std::vector<float> openAndRun() {
    for (rmhost::InstanceId id : voices_) session_->open(id);
    for (rmhost::InstanceId id : envelopes_) session_->open(id);
    for (size_t v = 0; v < voices_.size(); ++v) {
      const int64_t at = 100 + 900 * static_cast<int64_t>(v);
      session_->setValue(voices_[v], pin(voices_[v], "gate"), 1.0, at);
      session_->setValue(voices_[v], pin(voices_[v], "sync"), 1.0, at);
      session_->setValue(envelopes_[v], pin(envelopes_[v], "Gate"), 1.0, at);
      session_->setValue(envelopes_[v], pin(envelopes_[v], "Gate"), 0.0, at + 6000);
    }
    std::vector<float> out;
    for (int block = 0; block < 300; ++block) {
      session_->runBlock();
      for (const auto& ids : {voices_, envelopes_}) {
        for (rmhost::InstanceId id : ids) {
          for (const rmhost::PinInfo& p : session_->pins(id)) {
            if (p.direction != dirOutput) continue;
            const float* samples = session_->buffer(id, p.index);
            out.insert(out.end(), samples, samples + 64);
          }
        }
      }
    }
    return out;
  }

  void destroy() { session_.reset(); }

 private:
  int32_t pin(rmhost::InstanceId id, const char* name) const { return session_->findPin(id, name); }
  void set(rmhost::InstanceId id, const char* name, double value) {
    session_->setInitial(id, pin(id, name), value);
  }

  std::unique_ptr<rmhost::Session> session_;
  std::vector<rmhost::InstanceId> voices_;
  std::vector<rmhost::InstanceId> envelopes_;
};

std::vector<float> onOneThread() {
  Band band;
  band.create();
  std::vector<float> out = band.openAndRun();
  band.destroy();
  return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

bool sounds(const std::vector<float>& samples) {
  for (float x : samples) {
    if (x != 0.0f) return true;
  }
  return false;
}

TEST(Threads, CreateOpenAndRunThenCloseOnThreeThreads) {
  const std::vector<float> reference = onOneThread();
  ASSERT_TRUE(sounds(reference));
  Band band;
  std::vector<float> out;
  std::thread([&] { band.create(); }).join();
  std::thread([&] { out = band.openAndRun(); }).join();
  std::thread([&] { band.destroy(); }).join();
  EXPECT_TRUE(sameBits(out, reference));
}

TEST(Threads, SessionsOnTwoThreadsAtOnce) {
  const std::vector<float> reference = onOneThread();
  for (int round = 0; round < 3; ++round) {
    std::vector<float> first;
    std::vector<float> second;
    std::thread a([&] { first = onOneThread(); });
    std::thread b([&] { second = onOneThread(); });
    a.join();
    b.join();
    EXPECT_TRUE(sameBits(first, reference)) << "round " << round;
    EXPECT_TRUE(sameBits(second, reference)) << "round " << round;
  }
}

}  // namespace

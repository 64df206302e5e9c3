// The tremolo through the stand-in host library, as the host would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rmhost/session.h"

namespace {

// One second of the tremolo at 1 kHz on a constant input of 1.
std::vector<float> play(double rate, double depth, double shape) {
  std::string error;
  auto library = rmhost::Library::load(TREMOLO_PATH, &error);
  EXPECT_TRUE(library) << error;
  rmhost::Session session({/*sampleRate*/ 1000.0f, /*blockSize*/ 100});
  const rmhost::InstanceId id = session.create(*library, session.addGroup());
  session.setInitial(id, session.findPin(id, "in"), 1.0);
  session.setInitial(id, session.findPin(id, "Rate"), rate);
  session.setInitial(id, session.findPin(id, "Depth"), depth);
  session.setInitial(id, session.findPin(id, "Shape"), shape);
  session.open(id);
  std::vector<float> out;
  for (int block = 0; block < 10; ++block) {
    session.runBlock();
    const float* samples = session.buffer(id, session.findPin(id, "out"));
    out.insert(out.end(), samples, samples + 100);
  }
  return out;
}

TEST(Tremolo, GainSwingsBetweenOneAndOneMinusDepth) {
  for (double shape : {0.0, 1.0, 2.0}) {
    const std::vector<float> out = play(10.0, 0.75, shape);
    EXPECT_FLOAT_EQ(out.front(), 1.0f) << shape;  // every shape starts at full gain
    EXPECT_NEAR(*std::min_element(out.begin(), out.end()), 0.25f, 1e-3f) << shape;
    EXPECT_NEAR(*std::max_element(out.begin(), out.end()), 1.0f, 1e-6f) << shape;
  }
}

TEST(Tremolo, SwingsAtRate) {
  const std::vector<float> out = play(10.0, 1.0, 2.0);  // square: 50 ms up, 50 ms down
  int falls = 0;
  for (size_t i = 1; i < out.size(); ++i) falls += out[i] < out[i - 1];
  EXPECT_EQ(falls, 10);
}

TEST(Tremolo, DepthOutsideItsRangeIsHeldToIt) {
  const std::vector<float> out = play(10.0, 5.0, 0.0);
  EXPECT_GE(*std::min_element(out.begin(), out.end()), 0.0f);
}

}  // namespace

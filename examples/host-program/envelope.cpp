// The README's host-library example as a complete program: vellum's envelope for a gate that
// rises at once and falls after half a second, printed as its level every 50 ms.
//
//   envelope [LIBRARY]     (default: build/default/plugins/libvellum.so)
#include <cstdio>
#include <string>

#include "rmhost/session.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "build/default/plugins/libvellum.so";

  std::string error;
  auto vellum = rmhost::Library::load(path, &error);
  if (!vellum) {
    std::fprintf(stderr, "envelope: cannot load %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  rmhost::Session session({/*sampleRate*/ 48000.0f, /*blockSize*/ 256});
  rmhost::InstanceId env = session.create(*vellum, session.addGroup());
  session.open(env);
  session.setValue(env, session.findPin(env, "Gate"), 1.0, /*clock*/ 0);
  session.setValue(env, session.findPin(env, "Gate"), 0.0, /*clock*/ 24000);
  for (int block = 0; block < 400; ++block) {
    session.runBlock();
    const float* out = session.buffer(env, session.findPin(env, "Signal Out"));
    // ... one block of the envelope
    if (block % 10 == 0) std::printf("%6.3f s  %.4f\n", block * 256 / 48000.0, out[0]);
  }
  return 0;
}

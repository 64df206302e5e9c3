// Checks a recording of the instrument: every sample finite, and
//   recording_check FILE.wav          (two notes) sound from the first note on for about as long
//                                     as the notes and their tails last, then silence to the end;
//   recording_check --soak FILE.wav   (a dense stream) sound in every second of the recording.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// True when every whole second of the recording holds sound.
bool soundEverySecond(const std::vector<float>& samples, const SF_INFO& info) {
  const int64_t second = info.samplerate;
  int64_t silent = 0;
  float loudest = 0.0f;
  for (int64_t start = 0; start + second <= info.frames; start += second) {
    float peak = 0.0f;
    for (int64_t i = start * info.channels; i < (start + second) * info.channels; ++i) {
      peak = std::max(peak, std::abs(samples[static_cast<size_t>(i)]));
    }
    loudest = std::max(loudest, peak);
    silent += peak < 0.01f ? 1 : 0;
  }
  const int64_t seconds = info.frames / second;
  std::printf("%lld s recorded, peak %.3f, %lld s without sound\n", static_cast<long long>(seconds),
              loudest, static_cast<long long>(silent));
  return seconds > 0 && silent == 0;
}

int main(int argc, char** argv) {
  const bool soak = argc == 3 && std::string(argv[1]) == "--soak";
  if (argc != 2 && !soak) {
    std::fprintf(stderr, "usage: %s [--soak] FILE.wav\n", argv[0]);
    return 2;
  }
  const char* path = argv[argc - 1];
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "cannot read %s: %s\n", path, sf_strerror(nullptr));
    return 1;
  }
  std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);

  constexpr float kSound = 1e-4f;
  int64_t first = -1;
  int64_t last = -1;
  float loudest = 0.0f;
  for (int64_t i = 0; i < info.frames; ++i) {
    for (int c = 0; c < info.channels; ++c) {
      const float v = std::abs(samples[static_cast<size_t>(i * info.channels + c)]);
      if (!std::isfinite(v)) {
        std::printf("not finite at %.3f s\n", static_cast<double>(i) / info.samplerate);
        return 1;
      }
      loudest = std::max(loudest, v);
      if (v > kSound) {
        if (first < 0) first = i;
        last = i;
      }
    }
  }
  const double rate = info.samplerate;
  const double total = static_cast<double>(info.frames) / rate;
  if (soak) return soundEverySecond(samples, info) ? 0 : 1;
  if (first < 0) {
    std::printf("silent recording of %.2f s\n", total);
    return 1;
  }
  const double sounding = static_cast<double>(last - first) / rate;
  const double silenceAfter = total - static_cast<double>(last + 1) / rate;
  std::printf("%.2f s recorded; sound from %.3f s for %.3f s (peak %.3f), then %.3f s silent\n",
              total, static_cast<double>(first) / rate, sounding, loudest, silenceAfter);
  // The notes last 1 s from the first note-on, the release about 0.5 s more.
  const bool ok = loudest > 0.05f && sounding > 1.2 && sounding < 2.0 && silenceAfter > 1.0;
  if (!ok) std::printf("expected a note of 1.2 to 2 s with its tail, then at least 1 s silent\n");
  return ok ? 0 : 1;
}

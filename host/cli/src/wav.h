// WAV output through libsndfile.
#pragma once

#include <filesystem>

#include "renderer.h"

namespace rmcli {

enum class SampleFormat { float32, pcm16, pcm24 };

// Writes stereo WAV; samples beyond full scale are clipped in the integer formats. The file holds
// nothing but the audio, so the same samples always give the same bytes. Throws
// std::runtime_error.
void writeWav(const std::filesystem::path& path, const AudioBuffer& audio, SampleFormat format);

}  // namespace rmcli

// WAV output.
#pragma once

#include <filesystem>

#include "renderer.h"

namespace rmcli {

enum class SampleFormat { float32, pcm16, pcm24 };

// Writes stereo WAV: float samples in the WAVE form that every reader takes without warning
// (the fmt chunk with its extension size), integer PCM through libsndfile, clipped beyond full
// scale. The file holds
// nothing but the audio, so the same samples always give the same bytes. Throws
// std::runtime_error.
void writeWav(const std::filesystem::path& path, const AudioBuffer& audio, SampleFormat format);

}  // namespace rmcli

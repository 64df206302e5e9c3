// The picture of a render: the waveforms of both channels above a spectrogram on a logarithmic
// frequency scale, with a time axis in seconds, a frequency axis in Hz and a level scale in dB.
#pragma once

#include "canvas.h"
#include "renderer.h"

namespace rmcli {

Canvas drawPicture(const AudioBuffer& audio, int width = 1280, int height = 720);

// A small picture for documentation: the spectrogram alone, with its time and frequency axes.
Canvas drawStrip(const AudioBuffer& audio, int width = 720, int height = 240);

}  // namespace rmcli

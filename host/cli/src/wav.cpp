#include "wav.h"

#include <sndfile.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace rmcli {

void writeWav(const std::filesystem::path& path, const AudioBuffer& audio, SampleFormat format) {
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | (format == SampleFormat::pcm16   ? SF_FORMAT_PCM_16
                                 : format == SampleFormat::pcm24 ? SF_FORMAT_PCM_24
                                                                 : SF_FORMAT_FLOAT);
  std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_WRITE, &info),
                                                   sf_close);
  if (!file)
    throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
  // A float file would otherwise get a PEAK chunk with the time of writing in it.
  sf_command(file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = sf_writef_float(file.get(), audio.samples.data(), audio.frames);
  if (written != audio.frames)
    throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(file.get()));
  if (sf_close(file.release()) != 0) throw std::runtime_error("cannot finish " + path.string());
}

}  // namespace rmcli

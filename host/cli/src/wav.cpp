#include "wav.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace rmcli {

namespace {

void put16(std::string& bytes, uint32_t value) {
  bytes += static_cast<char>(value & 0xff);
  bytes += static_cast<char>((value >> 8) & 0xff);
}

void put32(std::string& bytes, uint32_t value) {
  put16(bytes, value & 0xffff);
  put16(bytes, value >> 16);
}

// IEEE float samples under the extensible header (WAVE_FORMAT_EXTENSIBLE with the float
// sub-format, front left and right), and a fact chunk with the frame count. The extension is 24
// bytes, not the usual 22: sox reads two more bytes after the sub-format as a size of its own and
// warns when they are missing, which is what it does with libsndfile's extensible files. Readers
// that follow the extension's size skip the two zero bytes.
void writeFloatWav(const std::filesystem::path& path, const AudioBuffer& audio) {
  constexpr uint32_t kChannels = 2;
  constexpr uint32_t kBytesPerFrame = kChannels * 4;
  constexpr uint32_t kExtensionBytes = 24;
  constexpr uint32_t kFmtBytes = 18 + kExtensionBytes;
  constexpr uint32_t kHeaderBytes = 4 + (8 + kFmtBytes) + (8 + 4) + 8;  // after "RIFF" and size
  constexpr unsigned char kFloatSubformat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
  const uint64_t dataBytes = static_cast<uint64_t>(audio.frames) * kBytesPerFrame;
  if (dataBytes > UINT32_MAX - kHeaderBytes)
    throw std::runtime_error("cannot write " + path.string() +
                             ": the audio is too long for a WAV file (4 GiB); shorten it");
  std::string header = "RIFF";
  put32(header, kHeaderBytes + static_cast<uint32_t>(dataBytes));
  header += "WAVEfmt ";
  put32(header, kFmtBytes);
  put16(header, 0xfffe);  // WAVE_FORMAT_EXTENSIBLE
  put16(header, kChannels);
  put32(header, static_cast<uint32_t>(audio.sampleRate));
  put32(header, static_cast<uint32_t>(audio.sampleRate) * kBytesPerFrame);
  put16(header, kBytesPerFrame);
  put16(header, 32);
  put16(header, kExtensionBytes);
  put16(header, 32);  // valid bits per sample
  put32(header, 3);   // channel mask: front left, front right
  header.append(reinterpret_cast<const char*>(kFloatSubformat), sizeof kFloatSubformat);
  put16(header, 0);
  header += "fact";
  put32(header, 4);
  put32(header, static_cast<uint32_t>(audio.frames));
  header += "data";
  put32(header, static_cast<uint32_t>(dataBytes));

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  auto failed = [&] {
    return std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
  };
  if (!file) throw failed();
  bool written = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
  std::string block;
  constexpr size_t kBlock = 16384;  // samples converted to bytes at a time
  for (size_t start = 0; written && start < audio.samples.size(); start += kBlock) {
    block.clear();
    const size_t end = std::min(audio.samples.size(), start + kBlock);
    for (size_t i = start; i < end; ++i) put32(block, std::bit_cast<uint32_t>(audio.samples[i]));
    written = std::fwrite(block.data(), 1, block.size(), file.get()) == block.size();
  }
  if (!written || std::fclose(file.release()) != 0) throw failed();
}

}  // namespace

void writeWav(const std::filesystem::path& path, const AudioBuffer& audio, SampleFormat format) {
  if (format == SampleFormat::float32) return writeFloatWav(path, audio);
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = 2;
  info.format =
      SF_FORMAT_WAV | (format == SampleFormat::pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
  std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_WRITE, &info),
                                                   sf_close);
  if (!file)
    throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
  sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = sf_writef_float(file.get(), audio.samples.data(), audio.frames);
  if (written != audio.frames)
    throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(file.get()));
  if (sf_close(file.release()) != 0) throw std::runtime_error("cannot finish " + path.string());
}

}  // namespace rmcli

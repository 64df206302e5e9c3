// The optional metadata file of a module library, beside it with the extension ".pins.toml"
// (libtremolo.so: libtremolo.pins.toml). It tells LV2 hosts what the module's description does
// not: the plug-in's URI, name and class, and per pin the kind of port, a comment, a unit and a
// useful range. Every key is optional:
//
//   uri = "https://example.org/lv2/tremolo"
//   name = "Tremolo"
//   class = "ModulatorPlugin"          # an LV2 plug-in class, without "lv2:"
//   [pin.in]
//   port = "audio"                     # "audio", "cv" or "control" (inputs); "audio" or "cv"
//   [pin.Rate]                         # (outputs)
//   description = "speed of the level's swing"
//   unit = "Hz"                        # Hz, kHz, s, ms, dB, %, semitones, cents, octaves, bpm,
//   minimum = 0.1                      # or any other text (then it joins the comment)
//   maximum = 20.0
//   [pin."Overall Level"]              # names that are not bare TOML keys are quoted
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace rmlv2 {

enum class PortKind { control, audio, cv };

struct PinNotes {
  std::optional<PortKind> port;
  std::string description;
  std::string unit;
  std::optional<double> minimum;
  std::optional<double> maximum;
};

struct ModuleMetadataFile {
  std::filesystem::path path;  // empty when the library has none
  std::string uri;
  std::string name;
  std::string lv2Class;
  std::map<std::string, PinNotes> pins;

  const PinNotes* find(const std::string& pin) const;
};

// A file that cannot be read or does not follow the format; what() reads
// "FILE:LINE:COLUMN: error: ..." or "FILE: error: ...".
class MetadataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the metadata file of `library` lies.
std::filesystem::path metadataPathFor(const std::filesystem::path& library);

// The metadata file at `path`, or empty metadata when there is no file there.
ModuleMetadataFile readMetadataFile(const std::filesystem::path& path);

}  // namespace rmlv2

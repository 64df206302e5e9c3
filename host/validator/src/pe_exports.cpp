// The export directory of a PE image, read from the file with explicit little-endian reads so that
// any build of the validator can check a DLL.
#include <cstdint>
#include <set>

#include "export_table.h"

namespace rmhost::validator {
namespace {

class Image {
 public:
  explicit Image(const FileBytes& file) : file_(file) {}

  // Little-endian integers at a file offset; false when they do not fit.
  bool u16(uint64_t at, uint32_t* out) const { return read(at, 2, out); }
  bool u32(uint64_t at, uint32_t* out) const { return read(at, 4, out); }

  // The file offset of a relative virtual address, through the section table.
  bool offsetOf(uint32_t rva, uint64_t* out) const {
    for (uint32_t i = 0; i < sectionCount_; ++i) {
      const uint64_t entry = sections_ + uint64_t{i} * 40;
      uint32_t virtualSize = 0, address = 0, rawSize = 0, rawAt = 0;
      if (!u32(entry + 8, &virtualSize) || !u32(entry + 12, &address) ||
          !u32(entry + 16, &rawSize) || !u32(entry + 20, &rawAt)) {
        return false;
      }
      const uint32_t size = virtualSize > rawSize ? virtualSize : rawSize;
      if (rva >= address && rva - address < size) {
        *out = uint64_t{rawAt} + (rva - address);
        return *out < file_.size();
      }
    }
    return false;
  }

  // A NUL-terminated name at a relative virtual address.
  bool name(uint32_t rva, std::string* out) const {
    uint64_t at = 0;
    if (!offsetOf(rva, &at)) return false;
    out->clear();
    for (; at < file_.size() && file_[at] != 0; ++at) out->push_back(static_cast<char>(file_[at]));
    return at < file_.size();
  }

  // Reads the headers; answers the export directory's address (0: none), or a message.
  bool open(uint32_t* exportRva, std::string* error) {
    uint32_t peAt = 0, signature = 0, sections = 0, optionalSize = 0, magic = 0;
    if (!u32(0x3c, &peAt) || !u32(peAt, &signature) || signature != 0x00004550) {
      *error = "no PE signature";
      return false;
    }
    const uint64_t coff = uint64_t{peAt} + 4;
    const uint64_t optional = coff + 20;
    if (!u16(coff + 2, &sections) || !u16(coff + 16, &optionalSize) || !u16(optional, &magic)) {
      *error = "truncated PE header";
      return false;
    }
    // The data directories start at 96 (PE32) or 112 (PE32+); the export directory is the first.
    const uint64_t directories = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    uint32_t directoryCount = 0;
    if (directories == 0 || !u32(optional + directories - 4, &directoryCount)) {
      *error = "unknown PE optional header";
      return false;
    }
    sectionCount_ = sections;
    sections_ = optional + optionalSize;
    *exportRva = 0;
    if (directoryCount > 0 && !u32(optional + directories, exportRva)) {
      *error = "truncated PE header";
      return false;
    }
    return true;
  }

 private:
  bool read(uint64_t at, unsigned width, uint32_t* out) const {
    if (at > file_.size() || file_.size() - at < width) return false;
    *out = 0;
    for (unsigned i = 0; i < width; ++i) *out |= uint32_t{file_[at + i]} << (8 * i);
    return true;
  }

  const FileBytes& file_;
  uint32_t sectionCount_ = 0;
  uint64_t sections_ = 0;
};

}  // namespace

std::optional<std::vector<std::string>> peExports(const FileBytes& file, std::string* error) {
  Image image(file);
  uint32_t directoryRva = 0;
  if (!image.open(&directoryRva, error)) return std::nullopt;
  std::vector<std::string> names;
  if (directoryRva == 0) return names;  // exports nothing

  uint64_t directory = 0;
  uint32_t base = 0, functionCount = 0, nameCount = 0, functions = 0, nameTable = 0, ordinals = 0;
  if (!image.offsetOf(directoryRva, &directory) || !image.u32(directory + 16, &base) ||
      !image.u32(directory + 20, &functionCount) || !image.u32(directory + 24, &nameCount) ||
      !image.u32(directory + 28, &functions) || !image.u32(directory + 32, &nameTable) ||
      !image.u32(directory + 36, &ordinals)) {
    *error = "unreadable export directory";
    return std::nullopt;
  }
  uint64_t nameTableAt = 0, ordinalsAt = 0, functionsAt = 0;
  if ((nameCount > 0 &&
       (!image.offsetOf(nameTable, &nameTableAt) || !image.offsetOf(ordinals, &ordinalsAt))) ||
      (functionCount > 0 && !image.offsetOf(functions, &functionsAt))) {
    *error = "unreadable export tables";
    return std::nullopt;
  }
  std::set<uint32_t> named;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0, index = 0;
    std::string name;
    if (!image.u32(nameTableAt + uint64_t{i} * 4, &nameRva) ||
        !image.u16(ordinalsAt + uint64_t{i} * 2, &index) || !image.name(nameRva, &name)) {
      *error = "unreadable export name";
      return std::nullopt;
    }
    names.push_back(name);
    named.insert(index);
  }
  // Functions without a name are exports too (by ordinal); empty slots are not.
  for (uint32_t i = 0; i < functionCount; ++i) {
    uint32_t address = 0;
    if (!image.u32(functionsAt + uint64_t{i} * 4, &address)) {
      *error = "unreadable export address table";
      return std::nullopt;
    }
    if (address != 0 && named.count(i) == 0) names.push_back("#" + std::to_string(base + i));
  }
  return names;
}

}  // namespace rmhost::validator

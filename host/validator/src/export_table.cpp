#include "export_table.h"

#include <fstream>
#include <iterator>

namespace rmhost::validator {

std::optional<std::vector<std::string>> exportedSymbols(const std::string& path,
                                                        std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  const FileBytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::optional<std::vector<std::string>> names;
  std::string why;
  if (file.size() >= 16 && file[0] == 0x7f && file[1] == 'E' && file[2] == 'L' && file[3] == 'F') {
    names = elfExports(file, &why);
  } else if (file.size() >= 64 && file[0] == 'M' && file[1] == 'Z') {
    names = peExports(file, &why);
  } else {
    why = "neither an ELF nor a PE file";
  }
  if (!names) *error = path + ": " + why;
  return names;
}

}  // namespace rmhost::validator

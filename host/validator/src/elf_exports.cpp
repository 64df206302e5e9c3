#include "export_table.h"

#if __has_include(<elf.h>)

#include <elf.h>

#include <cstring>

namespace rmhost::validator {
namespace {

using Bytes = FileBytes;

// Copies a record of type T out of the file image at `offset`; false when it does not fit.
template <class T>
bool readAt(const Bytes& file, uint64_t offset, T* out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

template <class Ehdr, class Shdr, class Sym>
std::optional<std::vector<std::string>> readTable(const Bytes& file, std::string* error,
                                                  unsigned char (*bindOf)(unsigned char),
                                                  unsigned char (*visibilityOf)(unsigned char)) {
  Ehdr header;
  if (!readAt(file, 0, &header) || header.e_shentsize != sizeof(Shdr)) {
    *error = "malformed ELF header";
    return std::nullopt;
  }
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    if (!readAt(file, header.e_shoff + uint64_t{i} * sizeof(Shdr), &section)) break;
    if (section.sh_type != SHT_DYNSYM) continue;
    Shdr strings;
    if (!readAt(file, header.e_shoff + uint64_t{section.sh_link} * sizeof(Shdr), &strings) ||
        strings.sh_offset > file.size() || file.size() - strings.sh_offset < strings.sh_size) {
      break;
    }
    std::vector<std::string> names;
    const uint64_t count = section.sh_entsize == sizeof(Sym) ? section.sh_size / sizeof(Sym) : 0;
    for (uint64_t s = 1; s < count; ++s) {
      Sym symbol;
      if (!readAt(file, section.sh_offset + s * sizeof(Sym), &symbol)) break;
      const unsigned char bind = bindOf(symbol.st_info);
      const unsigned char visibility = visibilityOf(symbol.st_other);
      const bool defined = symbol.st_shndx != SHN_UNDEF;
      const bool global = bind == STB_GLOBAL || bind == STB_WEAK || bind == STB_GNU_UNIQUE;
      const bool visible = visibility == STV_DEFAULT || visibility == STV_PROTECTED;
      if (!defined || !global || !visible || symbol.st_name >= strings.sh_size) continue;
      const char* name =
          reinterpret_cast<const char*>(file.data() + strings.sh_offset) + symbol.st_name;
      names.emplace_back(name, strnlen(name, strings.sh_size - symbol.st_name));
    }
    return names;
  }
  *error = "no readable dynamic symbol table";
  return std::nullopt;
}

unsigned char bind32(unsigned char info) {
  return ELF32_ST_BIND(info);
}
unsigned char bind64(unsigned char info) {
  return ELF64_ST_BIND(info);
}
unsigned char visibility32(unsigned char other) {
  return ELF32_ST_VISIBILITY(other);
}
unsigned char visibility64(unsigned char other) {
  return ELF64_ST_VISIBILITY(other);
}

}  // namespace

std::optional<std::vector<std::string>> elfExports(const FileBytes& file, std::string* error) {
  if (file[EI_CLASS] == ELFCLASS32) {
    return readTable<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, error, bind32, visibility32);
  }
  if (file[EI_CLASS] == ELFCLASS64) {
    return readTable<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, error, bind64, visibility64);
  }
  *error = "unknown ELF class";
  return std::nullopt;
}

}  // namespace rmhost::validator

#else

namespace rmhost::validator {

std::optional<std::vector<std::string>> elfExports(const FileBytes&, std::string* error) {
  *error = "ELF files cannot be read on this system";
  return std::nullopt;
}

}  // namespace rmhost::validator

#endif

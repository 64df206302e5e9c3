// Reads the names a module library exports: from the dynamic symbol table of an ELF shared
// object (32-bit or 64-bit) or from the export directory of a PE DLL (PE32 or PE32+).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rmhost::validator {

using FileBytes = std::vector<unsigned char>;

// Exported names in table order; nullopt with a message in `error` when the file is neither a
// readable ELF shared object nor a readable PE image.
std::optional<std::vector<std::string>> exportedSymbols(const std::string& path,
                                                        std::string* error);

// ELF: defined symbols of global or weak binding and default or protected visibility. Not
// available where the system has no ELF definitions (then nullopt with a message).
std::optional<std::vector<std::string>> elfExports(const FileBytes& file, std::string* error);

// PE: the export directory's names; an entry exported by ordinal only shows as "#<ordinal>".
std::optional<std::vector<std::string>> peExports(const FileBytes& file, std::string* error);

}  // namespace rmhost::validator

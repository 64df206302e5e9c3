// Reads the names a shared library exports from its dynamic symbol table (32-bit or 64-bit ELF).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rmhost::validator {

// Defined symbols of global or weak binding and default or protected visibility, in table
// order; nullopt with a message in `error` when the file is not a readable ELF shared object.
std::optional<std::vector<std::string>> exportedSymbols(const std::string& path,
                                                        std::string* error);

}  // namespace rmhost::validator

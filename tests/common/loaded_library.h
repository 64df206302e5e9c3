// A module library loaded once per test program and kept for the program's life.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "rmhost/library.h"

inline rmhost::Library& loadedLibrary(const std::string& path) {
  static std::map<std::string, std::unique_ptr<rmhost::Library>> libraries;
  std::unique_ptr<rmhost::Library>& library = libraries[path];
  if (!library) {
    std::string error;
    library = rmhost::Library::load(path, &error);
    if (!library) {
      ADD_FAILURE() << error;
      std::abort();
    }
  }
  return *library;
}

// Output written under a temporary name beside its destination and renamed into place only when
// everything has succeeded, so that a failed or rejected run leaves no file behind.
#pragma once

#include <filesystem>

namespace rmcli {

class PendingFile {
 public:
  // Creates an empty temporary file in the destination's directory; throws std::runtime_error.
  explicit PendingFile(std::filesystem::path destination);
  ~PendingFile();  // removes the temporary file unless it was committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::filesystem::path& path() const { return temporary_; }  // where to write
  const std::filesystem::path& destination() const { return destination_; }
  // Renames the temporary file to the destination; throws std::runtime_error.
  void commit();

 private:
  std::filesystem::path destination_;
  std::filesystem::path temporary_;
  bool committed_ = false;
};

}  // namespace rmcli

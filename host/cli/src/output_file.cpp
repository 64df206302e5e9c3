#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "diagnostics.h"

namespace rmcli {

namespace fs = std::filesystem;

PendingFile::PendingFile(fs::path destination) : destination_(std::move(destination)) {
  fs::path dir = destination_.parent_path();
  if (dir.empty()) dir = ".";
  std::string pattern = (dir / ("." + destination_.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0)
    throw std::runtime_error("cannot write in " + resolvedPath(dir).string() + ": " +
                             std::strerror(errno));
  // mkstemp makes the file private; give it the permissions of an ordinary new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temporary_ = name.data();
}

PendingFile::~PendingFile() {
  if (committed_) return;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
}

void PendingFile::commit() {
  std::error_code error;
  fs::rename(temporary_, destination_, error);
  if (error)
    throw std::runtime_error("cannot write " + resolvedPath(destination_).string() + ": " +
                             error.message());
  committed_ = true;
}

}  // namespace rmcli

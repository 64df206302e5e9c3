// Runs the rmhost program in a directory of its own and keeps what it printed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct RmhostRun {
  int status = -1;  // the exit code, or -1 when it did not exit
  std::string out;
  std::string err;
};

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `rmhost ARGUMENTS` with `dir` as the current directory; ARGUMENTS is shell text.
inline RmhostRun runRmhost(const std::filesystem::path& dir, const std::string& arguments) {
  const std::string command =
      "cd '" + dir.string() + "' && '" RMHOST_PATH "' " + arguments + " > rmhost.out 2> rmhost.err";
  const int status = std::system(command.c_str());
  RmhostRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = readFile(dir / "rmhost.out");
  run.err = readFile(dir / "rmhost.err");
  std::filesystem::remove(dir / "rmhost.out");
  std::filesystem::remove(dir / "rmhost.err");
  return run;
}

// A fresh directory for one test, removed with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

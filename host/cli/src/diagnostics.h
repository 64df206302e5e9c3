// What rmhost tells a person when something is wrong, shared by every subcommand.
//
// Every message starts with "rmhost:" or with a file position ("patch.toml:16:44: error: ...",
// "song.mid: error: ..."), goes to stderr and says what to do. A patch's mistakes are collected
// and reported together; names that could be mistyped get a "did you mean". The exit codes are
// the same for every subcommand.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace rmcli {

// The process exit codes of every subcommand.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitBadInput = 1,  // a file could not be read or used, or a check failed
  kExitUsage = 2,     // the command line itself is wrong
};

// A place in a text file, 1-based; line 0 when the problem belongs to the file as a whole.
struct Where {
  int line = 0;
  int column = 0;
};

// One message about an input file.
struct Diagnostic {
  enum class Severity { error, note };  // a note explains the error before it

  Severity severity = Severity::error;
  Where where;
  // What the message starts with: empty for the patch file being read, else another file's name
  // (a MIDI file's, say) or "rmhost" for a message of the tool itself.
  std::string origin;
  std::string message;
};

// A patch that cannot be rendered, with every mistake found (at least one). what() is the first
// mistake's message.
class PatchError : public std::runtime_error {
 public:
  PatchError(Where where, const std::string& message);
  explicit PatchError(std::vector<Diagnostic> diagnostics);

  Where where() const { return diagnostics_.front().where; }
  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }

 private:
  std::vector<Diagnostic> diagnostics_;
};

// Collects a patch's mistakes so that one run reports them all, up to kMost.
class Problems {
 public:
  static constexpr size_t kMost = 20;

  void add(Diagnostic diagnostic);
  void add(Where where, const std::string& message) { add(Diagnostic{{}, where, {}, message}); }
  void add(const PatchError& error);

  // Runs `step`; a PatchError it throws is recorded. Answers whether the step succeeded.
  template <typename Step>
  bool attempt(Step&& step) {
    try {
      step();
      return true;
    } catch (const PatchError& error) {
      add(error);
      return false;
    }
  }

  bool empty() const { return errors_ == 0; }
  size_t errors() const { return errors_; }
  // Throws a PatchError with everything recorded, when anything is.
  void throwIfAny() const;

 private:
  std::vector<Diagnostic> diagnostics_;
  size_t errors_ = 0;
  size_t dropped_ = 0;
};

// The lines of a patch's mistakes: "file:line:column: error: message", or "file: error:
// message" without a place; MIDI files and other files under their own names.
std::string describeError(const std::string& patchFile, const PatchError& error);

// A message of the tool itself: "rmhost: error: message".
std::string toolError(std::string_view message);
std::string toolWarning(std::string_view message);

// A stream buffer that starts every line written through it with "rmhost: ", for the progress
// lines of code that knows nothing of the tool; a flush passes through at once.
class ToolLines : public std::streambuf {
 public:
  explicit ToolLines(std::ostream& out) : out_(out) {}

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  std::ostream& out_;
  bool lineStart_ = true;
};

// `name` in double quotes.
std::string inQuotes(std::string_view name);

// The candidate a mistyped `name` most likely meant: a close spelling or a name that starts the
// same way; nullopt when none is close.
std::optional<std::string> closestName(std::string_view name,
                                       const std::vector<std::string>& candidates);
// "; did you mean "x"?" for the closest candidate, or "" when none is close.
std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates);

// A file that cannot be read, with the operating system's reason and the path as resolved.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The path as the operating system resolves it from here: absolute and without "." or "..".
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// The whole file; throws FileError "cannot read the <what> <resolved path>: <reason>".
std::string readFile(const std::filesystem::path& path, std::string_view what);

}  // namespace rmcli

#include "diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <system_error>

namespace rmcli {

namespace {

size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

PatchError::PatchError(Where where, const std::string& message)
    : PatchError(std::vector<Diagnostic>{Diagnostic{{}, where, {}, message}}) {}

PatchError::PatchError(std::vector<Diagnostic> diagnostics)
    : std::runtime_error(diagnostics.empty() ? std::string() : diagnostics.front().message),
      diagnostics_(std::move(diagnostics)) {
  if (diagnostics_.empty()) diagnostics_.push_back({});
}

void Problems::add(Diagnostic diagnostic) {
  const bool error = diagnostic.severity == Diagnostic::Severity::error;
  // A note belongs to the error before it and goes wherever that one went.
  if (error ? errors_ >= kMost : dropped_ > 0) {
    if (error) ++dropped_;
    return;
  }
  if (error) ++errors_;
  diagnostics_.push_back(std::move(diagnostic));
}

void Problems::add(const PatchError& error) {
  for (const Diagnostic& diagnostic : error.diagnostics()) add(diagnostic);
}

void Problems::throwIfAny() const {
  if (empty()) return;
  // In the order of the file, as a reader goes through it: messages of the tool and of other
  // files first, then the patch's by line; each error keeps its notes after it.
  std::vector<std::vector<Diagnostic>> groups;
  for (const Diagnostic& diagnostic : diagnostics_) {
    if (diagnostic.severity == Diagnostic::Severity::error || groups.empty()) groups.emplace_back();
    groups.back().push_back(diagnostic);
  }
  auto order = [](const std::vector<Diagnostic>& group) {
    const Diagnostic& first = group.front();
    return std::pair(first.origin.empty() ? 1 : 0, std::pair(first.where.line, first.where.column));
  };
  std::stable_sort(groups.begin(), groups.end(),
                   [&](const auto& a, const auto& b) { return order(a) < order(b); });
  std::vector<Diagnostic> all;
  for (const auto& group : groups) all.insert(all.end(), group.begin(), group.end());
  if (dropped_ > 0)
    all.push_back({Diagnostic::Severity::note,
                   {},
                   {},
                   "stopped after " + std::to_string(kMost) + " errors; " +
                       std::to_string(dropped_) + " more not shown"});
  throw PatchError(std::move(all));
}

std::string describeError(const std::string& patchFile, const PatchError& error) {
  std::ostringstream out;
  bool first = true;
  for (const Diagnostic& diagnostic : error.diagnostics()) {
    if (!first) out << '\n';
    first = false;
    out << (diagnostic.origin.empty() ? patchFile : diagnostic.origin);
    if (diagnostic.where.line > 0)
      out << ':' << diagnostic.where.line << ':' << diagnostic.where.column;
    out << (diagnostic.severity == Diagnostic::Severity::error ? ": error: " : ": note: ")
        << diagnostic.message;
  }
  return out.str();
}

std::string toolError(std::string_view message) {
  return "rmhost: error: " + std::string(message);
}

std::string toolWarning(std::string_view message) {
  return "rmhost: warning: " + std::string(message);
}

int ToolLines::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  if (lineStart_) out_ << "rmhost: ";
  out_.put(static_cast<char>(c));
  lineStart_ = c == '\n';
  return out_ ? c : traits_type::eof();
}

int ToolLines::sync() {
  out_.flush();
  return out_ ? 0 : -1;
}

std::string inQuotes(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

std::optional<std::string> closestName(std::string_view name,
                                       const std::vector<std::string>& candidates) {
  const std::string* closest = nullptr;
  // Closer than this suggests; a name all of whose letters differ suggests nothing.
  size_t best = std::min(std::max<size_t>(2, name.size() / 2) + 1, name.size());
  for (const std::string& candidate : candidates) {
    size_t distance = editDistance(name, candidate);
    if (!name.empty() && candidate.rfind(name, 0) == 0)  // a prefix
      distance = std::min<size_t>(distance, 1);
    if (distance < best) best = distance, closest = &candidate;
  }
  if (!closest) return std::nullopt;
  return *closest;
}

std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates) {
  const auto closest = closestName(name, candidates);
  return closest ? "; did you mean " + inQuotes(*closest) + "?" : std::string();
}

std::filesystem::path resolvedPath(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal();
}

std::string readFile(const std::filesystem::path& path, std::string_view what) {
  auto fail = [&](int code) {
    return FileError("cannot read the " + std::string(what) + " " + resolvedPath(path).string() +
                     ": " + std::strerror(code));
  };
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw fail(errno);
  std::string text;
  char buffer[65536];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, count);
  if (std::ferror(file.get())) throw fail(errno != 0 ? errno : EIO);
  return text;
}

}  // namespace rmcli

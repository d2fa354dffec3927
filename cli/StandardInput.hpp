#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "LumoShare.hpp"

namespace lumo::cli {

/// Standard input streamed to disk as one file, named "stdin" with the extension its content
/// suggests, so that piped output of any size can be shared as a file. The file lies in a
/// staging folder of the queue that is locked while it exists and removed when the spool goes;
/// a killed process leaves a folder the queue reclaims.
class StandardInputSpool {
 public:
  /// Reads `fd` to its end. Throws std::filesystem::filesystem_error (EFBIG past `maxBytes`).
  StandardInputSpool(const ShareStorage& storage, int fd, std::uint64_t maxBytes);
  ~StandardInputSpool();
  StandardInputSpool(const StandardInputSpool&) = delete;
  StandardInputSpool& operator=(const StandardInputSpool&) = delete;

  const std::filesystem::path& file() const { return file_; }

 private:
  PendingShareQueue queue_;
  std::string id_;
  std::filesystem::path file_;
};

/// A line typed on the controlling terminal after `prompt`, without echo: at most `maxBytes` are
/// kept and the rest of the line is read and dropped (`truncated`), so that nothing typed is left
/// for the shell to run. Nothing when the process has no terminal.
std::optional<BoundedText> promptHidden(const std::string& prompt, std::size_t maxBytes);

}  // namespace lumo::cli

#pragma once

#include <filesystem>
#include <mutex>

#include "FileDescriptor.hpp"
#include "ShareJSON.hpp"

namespace lumo::service {

/// A file that gets one JSON object per line, appended. Each line goes out in one write on a
/// descriptor opened for appending, so lines from concurrent requests (or from several services
/// sharing the file) never interleave. The file is made with mode 0600: its lines name shares.
class RequestLog {
 public:
  /// Opens `path` for appending, creating it when missing; throws std::runtime_error when it
  /// cannot.
  explicit RequestLog(const std::filesystem::path& path);

  /// Appends `line` and a line feed. A failed write is reported on standard error and dropped:
  /// the log must never fail a request.
  void append(const JSONValue& line);

 private:
  std::filesystem::path path_;
  FileDescriptor fd_;
  std::mutex mutex_;
};

}  // namespace lumo::service

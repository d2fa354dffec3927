#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "FileDescriptor.hpp"
#include "ShareJSON.hpp"

namespace lumo::service {

/// What the logs tell of the request being handled on this thread: when it arrived, and what
/// a publish was about and made.
struct RequestNotes {
  const httplib::Request* request = nullptr;  ///< whose notes these are
  std::chrono::steady_clock::time_point start;
  std::int64_t arrivedAtMs = 0;
  std::optional<std::string> filename;
  std::optional<std::string> title;
  std::optional<std::string> slug;
};
/// The notes of this thread's request: set as it arrives, filled by the publishing routes, read
/// by the loggers.
extern thread_local RequestNotes requestNotes;

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

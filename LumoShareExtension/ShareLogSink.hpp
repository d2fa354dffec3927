#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace lumo {

/// Log levels, lowest first. `defaultLevel` is the platform's "default" level (the word itself is
/// reserved in C++); it maps to journald's notice priority.
enum class ShareLogLevel { debug, info, defaultLevel, error };

/// The name of a level as shown in text output: "debug", "info", "default", "error".
const char* shareLogLevelName(ShareLogLevel level) noexcept;

struct ShareLogEntry {
  std::string subsystem;
  std::string category;
  ShareLogLevel level = ShareLogLevel::defaultLevel;
  std::string message;

  bool operator==(const ShareLogEntry&) const = default;
};

/// Where formatted log messages go. Implementations must not throw.
class ShareLogSink {
 public:
  virtual ~ShareLogSink() = default;
  virtual void write(const ShareLogEntry& entry) noexcept = 0;
};

/// The system journal, with SYSLOG_IDENTIFIER (the program's name), SUBSYSTEM and CATEGORY
/// fields; a message the journal does not take goes to standard error instead.
class ShareJournalSink final : public ShareLogSink {
 public:
  void write(const ShareLogEntry& entry) noexcept override;
};

/// Keeps every entry in memory, for tests.
class ShareLogCaptureSink final : public ShareLogSink {
 public:
  void write(const ShareLogEntry& entry) noexcept override;
  std::vector<ShareLogEntry> entries() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<ShareLogEntry> entries_;
};

}  // namespace lumo

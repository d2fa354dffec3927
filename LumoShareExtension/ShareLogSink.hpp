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
/// fields and the level as priority (the journal filters by priority itself, so debug messages
/// are sent too). Where no journal listens (a container, a minimal system) messages go to
/// standard error: sd_journal_send reports success even when its socket is missing, so the
/// socket is looked for first.
class ShareJournalSink final : public ShareLogSink {
 public:
  static constexpr char defaultSocket[] = "/run/systemd/journal/socket";

  explicit ShareJournalSink(std::string socket = defaultSocket) : socket_(std::move(socket)) {}
  void write(const ShareLogEntry& entry) noexcept override;
  /// Whether a journal listens on the socket.
  bool isReachable() const noexcept;
  /// Sends to the journal; false when it is not reachable or refused the message.
  bool send(const ShareLogEntry& entry) const noexcept;

 private:
  std::string socket_;
};

/// The text form of an entry on standard error: "subsystem[category] level: message".
void writeLogEntryToStandardError(const ShareLogEntry& entry) noexcept;

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

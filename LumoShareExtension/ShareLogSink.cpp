#include "ShareLogSink.hpp"

#include <errno.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdio>

namespace lumo {
namespace {

int journalPriority(ShareLogLevel level) {
  switch (level) {
    case ShareLogLevel::debug:
      return LOG_DEBUG;
    case ShareLogLevel::info:
      return LOG_INFO;
    case ShareLogLevel::defaultLevel:
      return LOG_NOTICE;
    case ShareLogLevel::error:
      return LOG_ERR;
  }
  return LOG_NOTICE;
}

}  // namespace

void writeLogEntryToStandardError(const ShareLogEntry& entry) noexcept {
  std::fprintf(stderr, "%s[%s] %s: %s\n", entry.subsystem.c_str(), entry.category.c_str(),
               shareLogLevelName(entry.level), entry.message.c_str());
}

const char* shareLogLevelName(ShareLogLevel level) noexcept {
  switch (level) {
    case ShareLogLevel::debug:
      return "debug";
    case ShareLogLevel::info:
      return "info";
    case ShareLogLevel::defaultLevel:
      return "default";
    case ShareLogLevel::error:
      return "error";
  }
  return "default";
}

bool ShareJournalSink::isReachable() const noexcept {
  struct stat info {};
  return ::stat(socket_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool ShareJournalSink::send(const ShareLogEntry& entry) const noexcept {
  if (!isReachable()) return false;
  return sd_journal_send("MESSAGE=%s", entry.message.c_str(), "PRIORITY=%i",
                         journalPriority(entry.level), "SYSLOG_IDENTIFIER=%s",
                         program_invocation_short_name, "SUBSYSTEM=%s", entry.subsystem.c_str(),
                         "CATEGORY=%s", entry.category.c_str(), nullptr) >= 0;
}

void ShareJournalSink::write(const ShareLogEntry& entry) noexcept {
  if (!send(entry)) writeLogEntryToStandardError(entry);
}

void ShareLogCaptureSink::write(const ShareLogEntry& entry) noexcept {
  try {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  } catch (...) {
    // Out of memory while capturing: the entry is lost, the caller carries on.
  }
}

std::vector<ShareLogEntry> ShareLogCaptureSink::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void ShareLogCaptureSink::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace lumo

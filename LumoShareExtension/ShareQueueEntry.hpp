#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// A staged share with its queue state, stored as "share.json" in the share's folder.
struct ShareQueueEntry {
  enum class State { queued, uploading, failed };

  StagedShare staged;
  State state = State::queued;
  std::int64_t attempts = 0;                    ///< upload attempts started so far
  std::optional<std::int64_t> nextAttemptAtMs;  ///< earliest automatic attempt; absent: at once
  std::optional<std::string> lastError;
  std::optional<std::int64_t> lastAttemptAtMs;
  std::int64_t updatedAtMs = 0;

  static ShareQueueEntry decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const ShareQueueEntry&) const = default;
};

/// "queued", "uploading", "failed".
const char* shareQueueStateName(ShareQueueEntry::State state);

/// An entry and the folder it lives in.
struct QueuedShare {
  ShareQueueEntry entry;
  std::filesystem::path directoryURL;

  const StagedShare& staged() const { return entry.staged; }
  bool operator==(const QueuedShare&) const = default;
};

/// Counts over the queue and the recent uploads.
struct ShareQueueStats {
  std::int64_t queued = 0;
  std::int64_t uploading = 0;
  std::int64_t failed = 0;
  std::int64_t recent = 0;
  std::int64_t totalBytes = 0;
  bool operator==(const ShareQueueStats&) const = default;
};

}  // namespace lumo

#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "LumoShare.hpp"

namespace lumo::cli {

/// An upload's or a staging's progress on standard error, when it is a terminal that understands
/// cursor controls: a bar, the bytes done, the rate and the time left, redrawn at most ten times
/// a second. Nothing at all otherwise (a pipe, a file, TERM unset or "dumb").
class ProgressBar {
 public:
  ProgressBar();
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void operator()(std::int64_t sent, std::int64_t total);
  /// Clears the bar's line, so that what follows starts on a clean line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
};

/// Follows one staging on the terminal: its progress bar while it runs, then the items it left
/// out, each on a line of its own in the reader's language.
class StagingView {
 public:
  /// Says (once per process) when the queue lies in the private fallback folder, which the host
  /// window and the drain of another session do not see.
  explicit StagingView(ShareIngest& ingest);

  /// The share was staged: clears the bar and tells which items were left out.
  void staged();
  /// Staging failed: clears the bar, tells what the error does not already say, then the error;
  /// answers the exit code.
  int failed(const ShareIngestError& error);

 private:
  void reportSkipped(bool withFailureTexts) const;

  ProgressBar bar_;
  std::vector<ShareTargetLoader::Skipped> skipped_;
};

}  // namespace lumo::cli

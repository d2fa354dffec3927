#pragma once

#include "ShareLogSink.hpp"

namespace lumo::cli {

/// Sends every message to the journal (when one listens) and shows error-level ones on standard
/// error, where the person at the terminal sees why an item was skipped; with `verbose` (-v) it
/// shows every message there.
class TerminalLogSink final : public ShareLogSink {
 public:
  explicit TerminalLogSink(bool verbose = false) : verbose_(verbose) {}
  void write(const ShareLogEntry& entry) noexcept override;

 private:
  ShareJournalSink journal_;
  bool verbose_;
};

}  // namespace lumo::cli

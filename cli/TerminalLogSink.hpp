#pragma once

#include "ShareLogSink.hpp"

namespace lumo::cli {

/// Sends every message to the journal and also shows error-level ones on standard error, where
/// the person at the terminal sees why an item was skipped.
class TerminalLogSink final : public ShareLogSink {
 public:
  void write(const ShareLogEntry& entry) noexcept override;

 private:
  ShareJournalSink journal_;
};

}  // namespace lumo::cli

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareUploadOutcome.hpp"

namespace lumo {

/// What one drain pass did.
struct ShareUploadReport {
  /// A share that failed in the pass, with the user text of its failure.
  struct Failure {
    std::string clientShareId;
    std::string message;
    bool retryable = false;
    bool requiresLogin = false;
    bool operator==(const Failure&) const = default;
  };

  std::vector<ShareUploadOutcome> uploaded;  ///< in processing order
  std::vector<Failure> failures;             ///< in processing order
  /// Queued and failed entries counted after the pass, less the entries the pass took (≥ 0).
  std::int64_t skipped = 0;
  /// Whether the pass ended up publishing anonymously; absent when there was nothing to do.
  std::optional<bool> anonymous;

  bool succeeded() const { return failures.empty(); }
  bool operator==(const ShareUploadReport&) const = default;
};

}  // namespace lumo

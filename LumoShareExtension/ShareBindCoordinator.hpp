#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "PendingShareQueue.hpp"
#include "ShareApple.hpp"
#include "ShareBindReport.hpp"
#include "ShareHTTPTransport.hpp"
#include "Url.hpp"

namespace lumo {

/// Hands the claim tokens of anonymous uploads to the service, in batches, once an account token
/// is at hand, and writes the answer into the upload records: bound records get their bind time,
/// refused ones the service's reason (they are not offered again). Unanswered and unsent records
/// wait for the next pass. An immutable value; a pass never throws.
class ShareBindCoordinator {
 public:
  static constexpr auto maxBatchSize = static_cast<std::int64_t>(ShareApple::bindMaxBatchSize);
  /// Requests per pass at most.
  static constexpr std::int64_t maxRounds = 5;

  /// `batchSize` is clamped to 1…maxBatchSize.
  ShareBindCoordinator(std::shared_ptr<PendingShareQueue> queue, Url apiBase, std::string token,
                       std::shared_ptr<ShareHTTPTransport> transport,
                       std::int64_t batchSize = maxBatchSize);

  ShareBindReport bindPending() const;

  std::int64_t batchSize() const { return batchSize_; }

 private:
  /// "status|code" of a service error; the error's type name for anything else.
  static std::string failureText(const std::exception& error);

  std::shared_ptr<PendingShareQueue> queue_;
  Url apiBase_;
  std::string token_;
  std::shared_ptr<ShareHTTPTransport> transport_;
  std::int64_t batchSize_;
};

}  // namespace lumo

#include "ShareBindCoordinator.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <map>
#include <typeinfo>

#include "ShareAPIClient.hpp"
#include "ShareAPIError.hpp"
#include "ShareLogMessages.hpp"

namespace lumo {
namespace {

std::vector<BindItem> bindItems(const std::vector<ShareUploadRecord>& records) {
  std::vector<BindItem> items;
  for (const auto& record : records) {
    if (record.claimToken && !record.claimToken->empty()) {
      items.push_back({record.kind, record.slug, *record.claimToken});
    }
  }
  return items;
}

}  // namespace

ShareBindCoordinator::ShareBindCoordinator(std::shared_ptr<PendingShareQueue> queue, Url apiBase,
                                           std::string token,
                                           std::shared_ptr<ShareHTTPTransport> transport,
                                           std::int64_t batchSize)
    : queue_(std::move(queue)),
      apiBase_(std::move(apiBase)),
      token_(std::move(token)),
      transport_(std::move(transport)),
      batchSize_(std::clamp<std::int64_t>(batchSize, 1, maxBatchSize)) {}

ShareBindReport ShareBindCoordinator::bindPending() const {
  const ShareAPIClient client{apiBase_, token_, transport_};
  ShareBindReport report;
  for (std::int64_t round = 0; round < maxRounds; ++round) {
    const auto items = bindItems(queue_->pendingBinds(batchSize_));
    if (items.empty()) break;
    report.attempted += static_cast<std::int64_t>(items.size());
    BindResult result;
    try {
      result = client.bindAnonymous(items);
    } catch (const std::exception& error) {
      report.failure = failureText(error);
      ShareLogMessages::bindPassSkipped(*report.failure);
      break;
    }
    std::vector<std::string> bound;
    for (const auto& item : result.bound) bound.push_back(item.slug);
    std::map<std::string, std::string> failures;
    for (const auto& item : result.failed) failures.insert_or_assign(item.slug, item.error);
    report.bound += static_cast<std::int64_t>(bound.size());
    report.failed += static_cast<std::int64_t>(failures.size());
    // A record that could not be written keeps waiting and is sent again: the error is dropped.
    try {
      if (!bound.empty()) queue_->markBound(bound);
    } catch (const std::exception&) {
    }
    try {
      if (!failures.empty()) queue_->markBindSettled(failures);
    } catch (const std::exception&) {
    }
    const auto answered = bound.size() + failures.size();
    if (answered < items.size()) {
      report.retryLater = static_cast<std::int64_t>(items.size() - answered);
      break;
    }
  }
  if (report.attempted > 0) {
    ShareLogMessages::bindPassFinished(report.attempted, report.bound, report.failed,
                                       report.retryLater);
  }
  return report;
}

std::string ShareBindCoordinator::failureText(const std::exception& error) {
  if (const auto* api = dynamic_cast<const ShareAPIError*>(&error)) {
    return std::to_string(api->status()) + "|" + api->code();
  }
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status);
  std::string text = status == 0 && name ? name : typeid(error).name();
  std::free(name);
  return text;
}

}  // namespace lumo

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "DeviceRecords.hpp"
#include "ShareHTTPTransport.hpp"
#include "Url.hpp"

namespace lumo {

/// A paired device's own calls, with the device's token: its record, its notice feed and the
/// acknowledgement of a notice. Failures throw ShareAPIError as ShareAPIClient's do.
struct ShareDeviceClient {
  Url apiBase;
  std::string deviceToken;
  std::shared_ptr<ShareHTTPTransport> transport;

  DeviceInfo me() const;
  /// Notices newer than `since` (all when absent), at most `limit`; the query is
  /// "limit=N[&since=M]", in that order.
  DeviceNoticeListResult notices(std::optional<std::int64_t> since, std::int64_t limit) const;
  /// Acknowledges a notice with an AckStatusValues status.
  void ack(const std::string& noticeId, const std::string& status) const;
};

}  // namespace lumo

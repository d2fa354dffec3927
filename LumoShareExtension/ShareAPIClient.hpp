#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BindRecords.hpp"
#include "DeviceRecords.hpp"
#include "ShareApple.hpp"
#include "ShareHTTPTransport.hpp"
#include "Url.hpp"

namespace lumo {

/// The account's own calls, with its access token: pairing devices, the device list and its
/// removal, the health probe and binding anonymous uploads. Every failure throws ShareAPIError:
/// status 0 "transport" or "decoding", else the account mapping of the service's reply.
struct ShareAPIClient {
  /// The most claims one bind request may carry.
  static constexpr std::size_t maxBindItems = ShareApple::bindMaxBatchSize;

  Url apiBase;
  std::string token;
  std::shared_ptr<ShareHTTPTransport> transport;

  PairStartResult pairStart(std::optional<std::string> name,
                            std::optional<std::string> platform) const;
  /// Claims a pairing code for a new device; sends no account token.
  static PairClaimResult pairClaim(const Url& apiBase, const PairClaimRequest& request,
                                   ShareHTTPTransport& transport);
  std::vector<DeviceInfo> listDevices() const;
  /// The removed device's id.
  std::string deleteDevice(const std::string& id) const;
  HealthResponse health() const;
  /// Binds at most `maxBindItems` claims; none sends nothing, more fail before sending.
  BindResult bindAnonymous(const std::vector<BindItem>& items) const;
};

}  // namespace lumo

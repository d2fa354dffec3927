#include "ShareAPIClient.hpp"

#include <fmt/format.h>

#include "ShareAccountRequest.hpp"

namespace lumo {
namespace {

ShareHTTPRequest request(const Url& base, std::string_view path, std::string method,
                         const std::string& token, std::optional<std::string> body = std::nullopt) {
  const bool hasBody = body.has_value();
  return ShareHTTP::makeRequest(
      ShareHTTP::endpoint(base, path), std::move(method), token, std::move(body),
      hasBody ? std::optional<std::string>("application/json") : std::nullopt);
}

}  // namespace

PairStartResult ShareAPIClient::pairStart(std::optional<std::string> name,
                                          std::optional<std::string> platform) const {
  const auto body =
      ShareJSON::encoder().encode(PairStartRequest{std::move(name), std::move(platform)});
  return ShareAccountRequest::send<PairStartResponse>(
             *transport, request(apiBase, "devices/pair/start", "POST", token, body))
      .result;
}

PairClaimResult ShareAPIClient::pairClaim(const Url& apiBase, const PairClaimRequest& claim,
                                          ShareHTTPTransport& transport) {
  const auto body = ShareJSON::encoder().encode(claim);
  return ShareAccountRequest::send<PairClaimResponse>(
             transport, request(apiBase, "devices/pair/claim", "POST", "", body))
      .result;
}

std::vector<DeviceInfo> ShareAPIClient::listDevices() const {
  return ShareAccountRequest::send<DeviceListResponse>(*transport,
                                                       request(apiBase, "devices", "GET", token))
      .result.devices;
}

std::string ShareAPIClient::deleteDevice(const std::string& id) const {
  return ShareAccountRequest::send<DeleteDeviceResponse>(
             *transport, request(apiBase, "devices/" + id, "DELETE", token))
      .result.deleted;
}

HealthResponse ShareAPIClient::health() const {
  return ShareAccountRequest::send<HealthResponse>(*transport,
                                                   request(apiBase, "health", "GET", ""));
}

BindResult ShareAPIClient::bindAnonymous(const std::vector<BindItem>& items) const {
  if (items.empty()) return {};
  if (items.size() > maxBindItems) {
    throw ShareAPIError(0, "batch_too_large",
                        fmt::format("单次最多 {} 条（实际 {}）", maxBindItems, items.size()));
  }
  const auto body = ShareJSON::encoder().encode(BindRequest{items});
  return ShareAccountRequest::send<BindResponse>(*transport,
                                                 request(apiBase, "anon/bind", "POST", token, body))
      .result;
}

}  // namespace lumo

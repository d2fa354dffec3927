#include "ShareDeviceClient.hpp"

#include "ShareAccountRequest.hpp"

namespace lumo {

DeviceInfo ShareDeviceClient::me() const {
  const auto request =
      ShareHTTP::makeRequest(ShareHTTP::endpoint(apiBase, "devices/me"), "GET", deviceToken);
  return ShareAccountRequest::send<DeviceMeResponse>(*transport, request).result.device;
}

DeviceNoticeListResult ShareDeviceClient::notices(std::optional<std::int64_t> since,
                                                  std::int64_t limit) const {
  std::vector<Url::QueryItem> query{{"limit", std::to_string(limit)}};
  if (since) query.push_back({"since", std::to_string(*since)});
  const auto url = ShareHTTP::endpoint(apiBase, "devices/notices").appendingQueryItems(query);
  return ShareAccountRequest::send<DeviceNoticeListResponse>(
             *transport, ShareHTTP::makeRequest(url, "GET", deviceToken))
      .result;
}

void ShareDeviceClient::ack(const std::string& noticeId, const std::string& status) const {
  const auto request = ShareHTTP::makeRequest(
      ShareHTTP::endpoint(apiBase, "devices/notices/" + noticeId + "/ack"), "POST", deviceToken,
      ShareJSON::encoder().encode(NoticeAck{status}), std::string("application/json"));
  ShareAccountRequest::send<OkResponse>(*transport, request);  // only its shape is checked
}

}  // namespace lumo

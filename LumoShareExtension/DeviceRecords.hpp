#pragma once

// Wire records of the device and account calls: pairing, devices, notices and health. Keys are the
// service's own (snake case included); absent optionals are left out when encoding and may be
// missing or null when decoding.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareEnvelope.hpp"
#include "ShareJSONCoding.hpp"
#include "ShareSource.hpp"

namespace lumo {

/// Starts pairing a new device: optional name and platform to show.
struct PairStartRequest {
  std::optional<std::string> name;
  std::optional<std::string> platform;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("name", self.name), JSONKey("platform", self.platform));
  }
  bool operator==(const PairStartRequest&) const = default;
};

/// The pairing code to show or transmit, and its expiry as the service states it.
struct PairStartResult {
  std::string code;
  std::int64_t expires_at = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("code", self.code), JSONKey("expires_at", self.expires_at));
  }
  bool operator==(const PairStartResult&) const = default;
};

/// The reply to a pairing start.
using PairStartResponse = ShareEnvelope<PairStartResult>;

/// A device claiming a pairing code; needs no account token.
struct PairClaimRequest {
  std::string code;
  std::string name;
  std::string platform;
  std::optional<std::vector<std::string>> capabilities;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("code", self.code), JSONKey("name", self.name),
                      JSONKey("platform", self.platform),
                      JSONKey("capabilities", self.capabilities));
  }
  bool operator==(const PairClaimRequest&) const = default;
};

/// A paired device of an account.
struct DeviceInfo {
  std::string id;
  std::string name;
  std::string platform;
  std::optional<std::vector<std::string>> capabilities;
  std::int64_t created_at = 0;
  std::optional<std::int64_t> last_seen_at;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("id", self.id), JSONKey("name", self.name), JSONKey("platform", self.platform),
        JSONKey("capabilities", self.capabilities), JSONKey("created_at", self.created_at),
        JSONKey("last_seen_at", self.last_seen_at));
  }
  bool operator==(const DeviceInfo&) const = default;
};

/// The new device, its own bearer token and the account's user id.
struct PairClaimResult {
  DeviceInfo device;
  std::string device_token;
  std::string uid;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("device", self.device), JSONKey("device_token", self.device_token),
                      JSONKey("uid", self.uid));
  }
  bool operator==(const PairClaimResult&) const = default;
};

/// The reply to a pairing claim.
using PairClaimResponse = ShareEnvelope<PairClaimResult>;

/// The devices of an account.
struct DeviceListResult {
  std::vector<DeviceInfo> devices;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"devices", self.devices}}; }
  bool operator==(const DeviceListResult&) const = default;
};

/// The reply to a device listing.
using DeviceListResponse = ShareEnvelope<DeviceListResult>;

/// The id of a removed device.
struct DeleteDeviceResult {
  std::string deleted;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"deleted", self.deleted}}; }
  bool operator==(const DeleteDeviceResult&) const = default;
};

/// The reply to a device removal.
using DeleteDeviceResponse = ShareEnvelope<DeleteDeviceResult>;

/// The calling device's own record.
struct DeviceMeResult {
  DeviceInfo device;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"device", self.device}}; }
  bool operator==(const DeviceMeResult&) const = default;
};

/// The reply to a device's "me" request.
using DeviceMeResponse = ShareEnvelope<DeviceMeResult>;

/// The service's health probe: `{"ok":true,"service":…,"v":1}`.
struct HealthResponse {
  bool ok = false;
  std::string service;
  std::int64_t v = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("ok", self.ok), JSONKey("service", self.service),
                      JSONKey("v", self.v));
  }
  bool operator==(const HealthResponse&) const = default;
};

/// A bare success reply.
struct OkResponse {
  bool success = false;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"success", self.success}}; }
  bool operator==(const OkResponse&) const = default;
};

/// A notice for a paired device, such as a new share of its account.
struct DeviceNotice {
  std::string id;
  std::string type;
  std::string kind;
  std::optional<std::string> title;
  std::string slug;
  std::string short_url;
  std::optional<std::string> thumb_url;
  std::optional<ShareSource> source;
  std::int64_t created_at = 0;
  std::int64_t expires_at = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("id", self.id), JSONKey("type", self.type),
                      JSONKey("kind", self.kind), JSONKey("title", self.title),
                      JSONKey("slug", self.slug), JSONKey("short_url", self.short_url),
                      JSONKey("thumb_url", self.thumb_url), JSONKey("source", self.source),
                      JSONKey("created_at", self.created_at),
                      JSONKey("expires_at", self.expires_at));
  }
  bool operator==(const DeviceNotice&) const = default;
};

/// Notices and the cursor to pass as `since` for newer ones only.
struct DeviceNoticeListResult {
  std::vector<DeviceNotice> notices;
  std::int64_t cursor = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("notices", self.notices), JSONKey("cursor", self.cursor));
  }
  bool operator==(const DeviceNoticeListResult&) const = default;
};

/// The reply to a notice listing.
using DeviceNoticeListResponse = ShareEnvelope<DeviceNoticeListResult>;

/// The acknowledgement of a notice, with an `AckStatusValues` status.
struct NoticeAck {
  std::string status;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"status", self.status}}; }
  bool operator==(const NoticeAck&) const = default;
};

}  // namespace lumo

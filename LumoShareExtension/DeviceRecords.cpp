#include "DeviceRecords.hpp"

namespace lumo {

PairStartRequest PairStartRequest::decode(const JSONObjectReader& reader) {
  return PairStartRequest{reader.optional<std::string>("name"),
                          reader.optional<std::string>("platform")};
}

JSONValue PairStartRequest::encode() const {
  return JSONObjectWriter().setOptional("name", name).setOptional("platform", platform).take();
}

PairStartResult PairStartResult::decode(const JSONObjectReader& reader) {
  return PairStartResult{reader.required<std::string>("code"),
                         reader.required<std::int64_t>("expires_at")};
}

JSONValue PairStartResult::encode() const {
  return JSONObjectWriter().set("code", code).set("expires_at", expires_at).take();
}

PairStartResponse PairStartResponse::decode(const JSONObjectReader& reader) {
  return PairStartResponse{reader.required<bool>("success"),
                           reader.required<PairStartResult>("result")};
}

JSONValue PairStartResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

PairClaimRequest PairClaimRequest::decode(const JSONObjectReader& reader) {
  return PairClaimRequest{reader.required<std::string>("code"),
                          reader.required<std::string>("name"),
                          reader.required<std::string>("platform"),
                          reader.optional<std::vector<std::string>>("capabilities")};
}

JSONValue PairClaimRequest::encode() const {
  return JSONObjectWriter()
      .set("code", code)
      .set("name", name)
      .set("platform", platform)
      .setOptional("capabilities", capabilities)
      .take();
}

DeviceInfo DeviceInfo::decode(const JSONObjectReader& reader) {
  return DeviceInfo{reader.required<std::string>("id"),
                    reader.required<std::string>("name"),
                    reader.required<std::string>("platform"),
                    reader.optional<std::vector<std::string>>("capabilities"),
                    reader.required<std::int64_t>("created_at"),
                    reader.optional<std::int64_t>("last_seen_at")};
}

JSONValue DeviceInfo::encode() const {
  return JSONObjectWriter()
      .set("id", id)
      .set("name", name)
      .set("platform", platform)
      .setOptional("capabilities", capabilities)
      .set("created_at", created_at)
      .setOptional("last_seen_at", last_seen_at)
      .take();
}

PairClaimResult PairClaimResult::decode(const JSONObjectReader& reader) {
  return PairClaimResult{reader.required<DeviceInfo>("device"),
                         reader.required<std::string>("device_token"),
                         reader.required<std::string>("uid")};
}

JSONValue PairClaimResult::encode() const {
  return JSONObjectWriter()
      .set("device", device)
      .set("device_token", device_token)
      .set("uid", uid)
      .take();
}

PairClaimResponse PairClaimResponse::decode(const JSONObjectReader& reader) {
  return PairClaimResponse{reader.required<bool>("success"),
                           reader.required<PairClaimResult>("result")};
}

JSONValue PairClaimResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

DeviceListResult DeviceListResult::decode(const JSONObjectReader& reader) {
  return DeviceListResult{reader.required<std::vector<DeviceInfo>>("devices")};
}

JSONValue DeviceListResult::encode() const {
  return JSONObjectWriter().set("devices", devices).take();
}

DeviceListResponse DeviceListResponse::decode(const JSONObjectReader& reader) {
  return DeviceListResponse{reader.required<bool>("success"),
                            reader.required<DeviceListResult>("result")};
}

JSONValue DeviceListResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

DeleteDeviceResult DeleteDeviceResult::decode(const JSONObjectReader& reader) {
  return DeleteDeviceResult{reader.required<std::string>("deleted")};
}

JSONValue DeleteDeviceResult::encode() const {
  return JSONObjectWriter().set("deleted", deleted).take();
}

DeleteDeviceResponse DeleteDeviceResponse::decode(const JSONObjectReader& reader) {
  return DeleteDeviceResponse{reader.required<bool>("success"),
                              reader.required<DeleteDeviceResult>("result")};
}

JSONValue DeleteDeviceResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

HealthResponse HealthResponse::decode(const JSONObjectReader& reader) {
  return HealthResponse{reader.required<bool>("ok"), reader.required<std::string>("service"),
                        reader.required<std::int64_t>("v")};
}

JSONValue HealthResponse::encode() const {
  return JSONObjectWriter().set("ok", ok).set("service", service).set("v", v).take();
}

DeviceMeResult DeviceMeResult::decode(const JSONObjectReader& reader) {
  return DeviceMeResult{reader.required<DeviceInfo>("device")};
}

JSONValue DeviceMeResult::encode() const {
  return JSONObjectWriter().set("device", device).take();
}

DeviceMeResponse DeviceMeResponse::decode(const JSONObjectReader& reader) {
  return DeviceMeResponse{reader.required<bool>("success"),
                          reader.required<DeviceMeResult>("result")};
}

JSONValue DeviceMeResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

OkResponse OkResponse::decode(const JSONObjectReader& reader) {
  return OkResponse{reader.required<bool>("success")};
}

JSONValue OkResponse::encode() const {
  return JSONObjectWriter().set("success", success).take();
}

DeviceNotice DeviceNotice::decode(const JSONObjectReader& reader) {
  return DeviceNotice{
      reader.required<std::string>("id"),          reader.required<std::string>("type"),
      reader.required<std::string>("kind"),        reader.optional<std::string>("title"),
      reader.required<std::string>("slug"),        reader.required<std::string>("short_url"),
      reader.optional<std::string>("thumb_url"),   reader.optional<ShareSource>("source"),
      reader.required<std::int64_t>("created_at"), reader.required<std::int64_t>("expires_at")};
}

JSONValue DeviceNotice::encode() const {
  return JSONObjectWriter()
      .set("id", id)
      .set("type", type)
      .set("kind", kind)
      .setOptional("title", title)
      .set("slug", slug)
      .set("short_url", short_url)
      .setOptional("thumb_url", thumb_url)
      .setOptional("source", source)
      .set("created_at", created_at)
      .set("expires_at", expires_at)
      .take();
}

DeviceNoticeListResult DeviceNoticeListResult::decode(const JSONObjectReader& reader) {
  return DeviceNoticeListResult{reader.required<std::vector<DeviceNotice>>("notices"),
                                reader.required<std::int64_t>("cursor")};
}

JSONValue DeviceNoticeListResult::encode() const {
  return JSONObjectWriter().set("notices", notices).set("cursor", cursor).take();
}

DeviceNoticeListResponse DeviceNoticeListResponse::decode(const JSONObjectReader& reader) {
  return DeviceNoticeListResponse{reader.required<bool>("success"),
                                  reader.required<DeviceNoticeListResult>("result")};
}

JSONValue DeviceNoticeListResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

NoticeAck NoticeAck::decode(const JSONObjectReader& reader) {
  return NoticeAck{reader.required<std::string>("status")};
}

JSONValue NoticeAck::encode() const {
  return JSONObjectWriter().set("status", status).take();
}

}  // namespace lumo

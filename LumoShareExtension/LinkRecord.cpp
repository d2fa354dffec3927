#include "LinkRecord.hpp"

namespace lumo {

LinkCreateRequest LinkCreateRequest::decode(const JSONObjectReader& reader) {
  return LinkCreateRequest{
      reader.required<std::string>("url"), reader.optional<std::string>("slug"),
      reader.optional<std::int64_t>("keep_days"), reader.optional<std::string>("password")};
}

JSONValue LinkCreateRequest::encode() const {
  return JSONObjectWriter()
      .set("url", url)
      .setOptional("slug", slug)
      .setOptional("keep_days", keepDays)
      .setOptional("password", password)
      .take();
}

LinkTargetingRule LinkTargetingRule::decode(const JSONObjectReader& reader) {
  return LinkTargetingRule{reader.required<std::string>("type"),
                           reader.required<std::string>("value"),
                           reader.required<std::string>("url")};
}

JSONValue LinkTargetingRule::encode() const {
  return JSONObjectWriter().set("type", type).set("value", value).set("url", url).take();
}

LinkABTarget LinkABTarget::decode(const JSONObjectReader& reader) {
  return LinkABTarget{reader.required<std::string>("url"), reader.required<std::int64_t>("weight")};
}

JSONValue LinkABTarget::encode() const {
  return JSONObjectWriter().set("url", url).set("weight", weight).take();
}

LinkPreview LinkPreview::decode(const JSONObjectReader& reader) {
  return LinkPreview{
      reader.required<bool>("enabled"),        reader.optional<std::string>("title"),
      reader.optional<std::string>("message"), reader.required<std::int64_t>("delay_seconds"),
      reader.required<bool>("show_branding"),  reader.required<bool>("show_destination")};
}

JSONValue LinkPreview::encode() const {
  return JSONObjectWriter()
      .set("enabled", enabled)
      .setOptional("title", title)
      .setOptional("message", message)
      .set("delay_seconds", delay_seconds)
      .set("show_branding", show_branding)
      .set("show_destination", show_destination)
      .take();
}

LinkRecord LinkRecord::decode(const JSONObjectReader& reader) {
  return LinkRecord{reader.required<std::string>("uid"),
                    reader.optional<std::string>("id"),
                    reader.required<std::string>("url"),
                    reader.required<std::string>("slug"),
                    reader.optional<std::string>("comment"),
                    reader.required<std::int64_t>("ctime"),
                    reader.required<std::int64_t>("mtime"),
                    reader.required<std::int64_t>("exp_days"),
                    reader.optional<std::string>("password"),
                    reader.optional<std::vector<LinkTargetingRule>>("rules"),
                    reader.optional<std::vector<LinkABTarget>>("ab_targets"),
                    reader.optional<std::string>("title"),
                    reader.optional<std::string>("description"),
                    reader.optional<std::string>("image"),
                    reader.optional<LinkPreview>("preview")};
}

JSONValue LinkRecord::encode() const {
  return JSONObjectWriter()
      .set("uid", uid)
      .setOptional("id", id)
      .set("url", url)
      .set("slug", slug)
      .setOptional("comment", comment)
      .set("ctime", ctime)
      .set("mtime", mtime)
      .set("exp_days", exp_days)
      .setOptional("password", password)
      .setOptional("rules", rules)
      .setOptional("ab_targets", ab_targets)
      .setOptional("title", title)
      .setOptional("description", description)
      .setOptional("image", image)
      .setOptional("preview", preview)
      .take();
}

LinkCreateResponse LinkCreateResponse::decode(const JSONObjectReader& reader) {
  return LinkCreateResponse{reader.required<bool>("success"), reader.required<LinkRecord>("link"),
                            reader.optional<std::string>("claim_token")};
}

JSONValue LinkCreateResponse::encode() const {
  return JSONObjectWriter()
      .set("success", success)
      .set("link", link)
      .setOptional("claim_token", claim_token)
      .take();
}

AnonLinkCreateResponse AnonLinkCreateResponse::decode(const JSONObjectReader& reader) {
  return AnonLinkCreateResponse{reader.required<bool>("success"),
                                reader.required<LinkRecord>("link"),
                                reader.required<std::string>("claim_token")};
}

JSONValue AnonLinkCreateResponse::encode() const {
  return JSONObjectWriter()
      .set("success", success)
      .set("link", link)
      .set("claim_token", claim_token)
      .take();
}

}  // namespace lumo

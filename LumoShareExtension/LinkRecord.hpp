#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// The body of a short-link creation; absent optionals are left out, "url" is always written.
struct LinkCreateRequest {
  std::string url;
  std::optional<std::string> slug;
  std::optional<std::int64_t> keepDays;
  std::optional<std::string> password;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("url", self.url), JSONKey("slug", self.slug),
                      JSONKey("keep_days", self.keepDays), JSONKey("password", self.password));
  }
  bool operator==(const LinkCreateRequest&) const = default;
};

/// A redirect rule of a link (by country, device, …); decoded with the link, not used.
struct LinkTargetingRule {
  std::string type;
  std::string value;
  std::string url;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("type", self.type), JSONKey("value", self.value),
                      JSONKey("url", self.url));
  }
  bool operator==(const LinkTargetingRule&) const = default;
};

/// One destination of an A/B split; decoded with the link, not used.
struct LinkABTarget {
  std::string url;
  std::int64_t weight = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("url", self.url), JSONKey("weight", self.weight));
  }
  bool operator==(const LinkABTarget&) const = default;
};

/// The interstitial page shown before a redirect; decoded with the link, not used.
struct LinkPreview {
  bool enabled = false;
  std::optional<std::string> title;
  std::optional<std::string> message;
  std::int64_t delay_seconds = 0;
  bool show_branding = false;
  bool show_destination = false;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("enabled", self.enabled), JSONKey("title", self.title),
                      JSONKey("message", self.message),
                      JSONKey("delay_seconds", self.delay_seconds),
                      JSONKey("show_branding", self.show_branding),
                      JSONKey("show_destination", self.show_destination));
  }
  bool operator==(const LinkPreview&) const = default;
};

/// A stored short link as the service describes it. Times are Unix seconds.
struct LinkRecord {
  std::string uid;
  std::optional<std::string> id;
  std::string url;
  std::string slug;
  std::optional<std::string> comment;
  std::int64_t ctime = 0;
  std::int64_t mtime = 0;
  std::int64_t exp_days = 0;
  std::optional<std::string> password;
  std::optional<std::vector<LinkTargetingRule>> rules;
  std::optional<std::vector<LinkABTarget>> ab_targets;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> image;
  std::optional<LinkPreview> preview;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("uid", self.uid), JSONKey("id", self.id), JSONKey("url", self.url),
                      JSONKey("slug", self.slug), JSONKey("comment", self.comment),
                      JSONKey("ctime", self.ctime), JSONKey("mtime", self.mtime),
                      JSONKey("exp_days", self.exp_days), JSONKey("password", self.password),
                      JSONKey("rules", self.rules), JSONKey("ab_targets", self.ab_targets),
                      JSONKey("title", self.title), JSONKey("description", self.description),
                      JSONKey("image", self.image), JSONKey("preview", self.preview));
  }
  bool operator==(const LinkRecord&) const = default;
};

/// The reply to a link creation, signed in or anonymous (then with a claim token).
struct LinkCreateResponse {
  bool success = false;
  LinkRecord link;
  std::optional<std::string> claim_token;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("success", self.success), JSONKey("link", self.link),
                      JSONKey("claim_token", self.claim_token));
  }
  bool operator==(const LinkCreateResponse&) const = default;
};

/// The anonymous form of the link reply, whose claim token is required.
struct AnonLinkCreateResponse {
  bool success = false;
  LinkRecord link;
  std::string claim_token;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("success", self.success), JSONKey("link", self.link),
                      JSONKey("claim_token", self.claim_token));
  }
  bool operator==(const AnonLinkCreateResponse&) const = default;
};

}  // namespace lumo

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

  static LinkCreateRequest decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const LinkCreateRequest&) const = default;
};

/// A redirect rule of a link (by country, device, …); decoded with the link, not used.
struct LinkTargetingRule {
  std::string type;
  std::string value;
  std::string url;

  static LinkTargetingRule decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const LinkTargetingRule&) const = default;
};

/// One destination of an A/B split; decoded with the link, not used.
struct LinkABTarget {
  std::string url;
  std::int64_t weight = 0;

  static LinkABTarget decode(const JSONObjectReader& reader);
  JSONValue encode() const;
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

  static LinkPreview decode(const JSONObjectReader& reader);
  JSONValue encode() const;
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

  static LinkRecord decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const LinkRecord&) const = default;
};

/// The reply to a link creation, signed in or anonymous (then with a claim token).
struct LinkCreateResponse {
  bool success = false;
  LinkRecord link;
  std::optional<std::string> claim_token;

  static LinkCreateResponse decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const LinkCreateResponse&) const = default;
};

/// The anonymous form of the link reply, whose claim token is required.
struct AnonLinkCreateResponse {
  bool success = false;
  LinkRecord link;
  std::string claim_token;

  static AnonLinkCreateResponse decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const AnonLinkCreateResponse&) const = default;
};

}  // namespace lumo

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// The result of one successful publish, as the publishing client reports it.
struct ShareUploadOutcome {
  std::string kind;      ///< "doc" or "link"
  std::string slug;      ///< the short code the service assigned
  std::string shortUrl;  ///< the public share page of the slug
  std::optional<std::string> title;
  bool anonymous = false;
  std::int64_t expiresAtMs = 0;
  std::optional<std::string> claimToken;  ///< binds an anonymous upload to an account later
  std::int64_t uploadedAtMs = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("kind", self.kind), JSONKey("slug", self.slug), JSONKey("shortUrl", self.shortUrl),
        JSONKey("title", self.title), JSONKey("anonymous", self.anonymous),
        JSONKey("expiresAtMs", self.expiresAtMs), JSONKey("claimToken", self.claimToken),
        JSONKey("uploadedAtMs", self.uploadedAtMs));
  }
  bool operator==(const ShareUploadOutcome&) const = default;
};

}  // namespace lumo

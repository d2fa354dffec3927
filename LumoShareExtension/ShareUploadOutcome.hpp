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

  static ShareUploadOutcome decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const ShareUploadOutcome&) const = default;
};

}  // namespace lumo

#pragma once

// Wire records of binding anonymous uploads to an account. Every field is required.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// One anonymous upload to bind: its kind, slug and claim token.
struct BindItem {
  std::string kind;
  std::string slug;
  std::string claim_token;

  static BindItem decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const BindItem&) const = default;
};

/// The body of a bind request: at most 20 items.
struct BindRequest {
  std::vector<BindItem> items;

  static BindRequest decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const BindRequest&) const = default;
};

/// An upload the service bound to the account.
struct BoundItem {
  std::string kind;
  std::string slug;
  std::string short_url;

  static BoundItem decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const BoundItem&) const = default;
};

/// An upload the service refused to bind, with its reason.
struct FailedItem {
  std::string kind;
  std::string slug;
  std::string error;

  static FailedItem decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const FailedItem&) const = default;
};

/// What the service bound and what it refused.
struct BindResult {
  std::vector<BoundItem> bound;
  std::vector<FailedItem> failed;

  static BindResult decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const BindResult&) const = default;
};

/// The reply envelope of a bind request.
struct BindResponse {
  bool success = false;
  BindResult result;

  static BindResponse decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const BindResponse&) const = default;
};

}  // namespace lumo

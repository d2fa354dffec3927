#pragma once

// Wire records of binding anonymous uploads to an account. Every field is required.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareEnvelope.hpp"
#include "ShareJSONCoding.hpp"

namespace lumo {

/// One anonymous upload to bind: its kind, slug and claim token.
struct BindItem {
  std::string kind;
  std::string slug;
  std::string claim_token;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("kind", self.kind), JSONKey("slug", self.slug),
                      JSONKey("claim_token", self.claim_token));
  }
  bool operator==(const BindItem&) const = default;
};

/// The body of a bind request: at most 20 items.
struct BindRequest {
  std::vector<BindItem> items;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"items", self.items}}; }
  bool operator==(const BindRequest&) const = default;
};

/// An upload the service bound to the account.
struct BoundItem {
  std::string kind;
  std::string slug;
  std::string short_url;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("kind", self.kind), JSONKey("slug", self.slug),
                      JSONKey("short_url", self.short_url));
  }
  bool operator==(const BoundItem&) const = default;
};

/// An upload the service refused to bind, with its reason.
struct FailedItem {
  std::string kind;
  std::string slug;
  std::string error;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("kind", self.kind), JSONKey("slug", self.slug),
                      JSONKey("error", self.error));
  }
  bool operator==(const FailedItem&) const = default;
};

/// What the service bound and what it refused.
struct BindResult {
  std::vector<BoundItem> bound;
  std::vector<FailedItem> failed;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("bound", self.bound), JSONKey("failed", self.failed));
  }
  bool operator==(const BindResult&) const = default;
};

/// The reply envelope of a bind request.
using BindResponse = ShareEnvelope<BindResult>;

}  // namespace lumo

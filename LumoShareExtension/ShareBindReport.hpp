#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// What one claim-binding pass did.
struct ShareBindReport {
  std::int64_t attempted = 0;   ///< claims sent, over all batches
  std::int64_t bound = 0;       ///< claims the service bound
  std::int64_t failed = 0;      ///< distinct slugs the service refused
  std::int64_t retryLater = 0;  ///< claims of the last batch the service answered neither way
  std::optional<std::string> failure;  ///< why the pass stopped: the bind request failed

  bool didBind() const { return bound > 0; }
  bool didChange() const { return attempted > 0; }

  JSONValue encode() const;
  bool operator==(const ShareBindReport&) const = default;
};

}  // namespace lumo

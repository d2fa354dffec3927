#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// Limits of the account's plan, as the service reports them.
struct PlanLimits {
  std::optional<std::int64_t> slugMinLength;
  std::optional<std::int64_t> bulkBatchSize;
  std::optional<std::int64_t> docFileSizeMB;
  std::optional<std::int64_t> docMaxExpDays;
  std::optional<std::int64_t> linkMaxExpirationDays;
  std::optional<std::int64_t> linkMaxKeepDays;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("slugMinLength", self.slugMinLength), JSONKey("bulkBatchSize", self.bulkBatchSize),
        JSONKey("docFileSizeMB", self.docFileSizeMB), JSONKey("docMaxExpDays", self.docMaxExpDays),
        JSONKey("linkMaxExpirationDays", self.linkMaxExpirationDays),
        JSONKey("linkMaxKeepDays", self.linkMaxKeepDays));
  }
  bool operator==(const PlanLimits&) const = default;
};

/// Use of one metered resource.
struct PlanUsage {
  std::int64_t used = 0;
  std::optional<std::int64_t> limit;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("used", self.used), JSONKey("limit", self.limit));
  }
  bool operator==(const PlanUsage&) const = default;
};

/// The account information the service answers for "me".
struct MeResponse {
  std::string plan;  ///< the plan's key, "hobby" for the free plan
  std::optional<std::string> planName;
  PlanLimits planLimits;
  std::optional<std::map<std::string, PlanUsage>> usage;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("plan", self.plan), JSONKey("planName", self.planName),
                      JSONKey("planLimits", self.planLimits), JSONKey("usage", self.usage));
  }
  bool operator==(const MeResponse&) const = default;
};

}  // namespace lumo

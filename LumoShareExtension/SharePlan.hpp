#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "MeResponse.hpp"
#include "ShareJSONCoding.hpp"
#include "ShareStorage.hpp"

namespace lumo {

/// The account plan last fetched from the service ("plan.json").
struct SharePlan {
  std::string plan;
  std::optional<std::string> planName;
  std::optional<std::int64_t> docFileSizeMB;
  std::optional<std::int64_t> docMaxExpDays;
  std::int64_t updatedAt = 0;  ///< when it was fetched, ms

  /// `plan` trimmed and lower-cased.
  std::string normalizedPlan() const;
  /// The free plan ("hobby").
  bool isFreePlan() const { return normalizedPlan() == "hobby"; }
  bool allowsPassword() const { return !isFreePlan(); }
  /// The trimmed plan name when it is not empty, else the plan.
  std::string displayName() const;

  static SharePlan make(const MeResponse& from, std::int64_t nowMs);

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("plan", self.plan), JSONKey("planName", self.planName),
                      JSONKey("docFileSizeMB", self.docFileSizeMB),
                      JSONKey("docMaxExpDays", self.docMaxExpDays),
                      JSONKey("updatedAt", self.updatedAt));
  }
  bool operator==(const SharePlan&) const = default;
};

/// Caches the plan for seven days; a damaged, empty or stale cache reads as nothing.
struct SharePlanStore {
  static constexpr std::int64_t freshnessMs = 604800000;
  ShareStorage storage;

  std::optional<SharePlan> load(std::int64_t nowMs) const;
  /// Throws filesystem_error.
  void save(const SharePlan& plan) const;
  void clear() const;
};

}  // namespace lumo

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

  static PlanLimits decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const PlanLimits&) const = default;
};

/// Use of one metered resource.
struct PlanUsage {
  std::int64_t used = 0;
  std::optional<std::int64_t> limit;

  static PlanUsage decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const PlanUsage&) const = default;
};

/// The account information the service answers for "me".
struct MeResponse {
  std::string plan;  ///< the plan's key, "hobby" for the free plan
  std::optional<std::string> planName;
  PlanLimits planLimits;
  std::optional<std::map<std::string, PlanUsage>> usage;

  static MeResponse decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const MeResponse&) const = default;
};

}  // namespace lumo

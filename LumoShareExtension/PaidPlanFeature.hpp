#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

/// A feature that only paid plans unlock, as far as the service's error names it.
enum class PaidPlanFeature { password, emailAccess, bulkLinks, logo, unknown };

/// The feature a paid-plan refusal's message names: the first of "password", "email", "bulk",
/// "logo" it contains (any case); `unknown` otherwise.
PaidPlanFeature paidPlanFeature(const std::optional<std::string>& serverMessage);
/// The feature with this raw value; nothing for any other text.
std::optional<PaidPlanFeature> paidPlanFeatureFromRawValue(std::string_view rawValue);
/// "password", "emailAccess", "bulkLinks", "logo", "unknown".
const char* rawValue(PaidPlanFeature feature);
/// The name shown to the user ("口令保护", …, "该功能").
const char* displayName(PaidPlanFeature feature);

}  // namespace lumo

#include "SharePlan.hpp"

#include "ShareJSON.hpp"
#include "UnicodeText.hpp"

namespace lumo {

std::string SharePlan::normalizedPlan() const {
  return UnicodeText::lowercased(UnicodeText::trimmed(plan));
}

std::string SharePlan::displayName() const {
  if (planName) {
    const auto name = UnicodeText::trimmed(*planName);
    if (!name.empty()) return std::string(name);
  }
  return plan;
}

SharePlan SharePlan::make(const MeResponse& from, std::int64_t nowMs) {
  return SharePlan{from.plan, from.planName, from.planLimits.docFileSizeMB,
                   from.planLimits.docMaxExpDays, nowMs};
}

std::optional<SharePlan> SharePlanStore::load(std::int64_t nowMs) const {
  try {
    auto plan = ShareJSON::read<SharePlan>(storage.planMirrorURL());
    std::int64_t age = 0;
    if (plan.normalizedPlan().empty() || __builtin_sub_overflow(nowMs, plan.updatedAt, &age) ||
        age > freshnessMs) {
      return std::nullopt;
    }
    return plan;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void SharePlanStore::save(const SharePlan& plan) const {
  storage.ensureDirectories();
  ShareJSON::write(plan, storage.planMirrorURL(), 0600);
}

void SharePlanStore::clear() const {
  std::error_code ignored;
  std::filesystem::remove(storage.planMirrorURL(), ignored);
}

}  // namespace lumo

#include "PaidPlanFeature.hpp"

#include <array>

#include "ShareL10n.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

struct FeatureNames {
  PaidPlanFeature feature;
  const char* rawValue;
  const char* displayName;
  const char* messageWord;  ///< what a server message mentions; nullptr for `unknown`
};

using ShareL10n::marked;

constexpr std::array<FeatureNames, 5> features = {{
    {PaidPlanFeature::password, "password", marked("口令保护"), "password"},
    {PaidPlanFeature::emailAccess, "emailAccess", marked("邮箱访问控制"), "email"},
    {PaidPlanFeature::bulkLinks, "bulkLinks", marked("批量创建链接"), "bulk"},
    {PaidPlanFeature::logo, "logo", marked("自定义 Logo"), "logo"},
    {PaidPlanFeature::unknown, "unknown", marked("该功能"), nullptr},
}};

const FeatureNames& namesOf(PaidPlanFeature feature) {
  for (const auto& names : features) {
    if (names.feature == feature) return names;
  }
  return features.back();
}

}  // namespace

PaidPlanFeature paidPlanFeature(const std::optional<std::string>& serverMessage) {
  const auto message = UnicodeText::lowercased(serverMessage.value_or(""));
  for (const auto& names : features) {
    if (names.messageWord != nullptr && message.find(names.messageWord) != std::string::npos) {
      return names.feature;
    }
  }
  return PaidPlanFeature::unknown;
}

std::optional<PaidPlanFeature> paidPlanFeatureFromRawValue(std::string_view rawValue) {
  for (const auto& names : features) {
    if (rawValue == names.rawValue) return names.feature;
  }
  return std::nullopt;
}

const char* rawValue(PaidPlanFeature feature) {
  return namesOf(feature).rawValue;
}

const char* displayName(PaidPlanFeature feature) {
  return namesOf(feature).displayName;
}

}  // namespace lumo

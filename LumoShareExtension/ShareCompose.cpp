#include "ShareCompose.hpp"

#include <algorithm>

namespace lumo {

bool ShareComposeLimits::isRetentionPreset(std::int64_t seconds) {
  return std::find(retentionPresets.begin(), retentionPresets.end(), seconds) !=
         retentionPresets.end();
}

std::optional<std::int64_t> ShareComposeLimits::retentionPreset(std::string_view choice) {
  const auto named = std::find(retentionChoices.begin(), retentionChoices.end(), choice);
  if (named == retentionChoices.end()) return std::nullopt;
  return retentionPresets[static_cast<std::size_t>(named - retentionChoices.begin())];
}

ShareComposeWatermarkPosition ShareComposeWatermarkPosition::fromWireValue(
    std::string_view wireValue) {
  return wireValue == "diagonal" ? diagonal : center;
}

const char* ShareComposeWatermarkPosition::wireValue() const {
  return value_ == diagonal ? "diagonal" : "center";
}

std::int64_t ShareComposeWatermarkPosition::rotation() const {
  return value_ == diagonal ? -30 : 0;
}

namespace ShareCompose {

bool isLinkOnly(const StagedShare& staged) {
  const auto& payload = staged.payload;
  return payload.url && !payload.url->empty() && staged.attachments.empty() && !payload.chat &&
         (!payload.text || *payload.text == *payload.url);
}

bool isValidSlug(std::string_view slug) {
  const auto isAllowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  };
  return slug.size() >= ShareComposeLimits::minSlugLength &&
         slug.size() <= ShareComposeLimits::maxSlugLength &&
         std::all_of(slug.begin(), slug.end(), isAllowed);
}

}  // namespace ShareCompose
}  // namespace lumo

#include "ShareOptions.hpp"

#include <algorithm>
#include <cmath>

#include "UnicodeText.hpp"

namespace lumo {
namespace {

constexpr std::int64_t secondsPerDay = 86400;

std::optional<std::string> trimmedNonBlank(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto trimmed = UnicodeText::trimmed(*text);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

double clampedOpacity(double opacity) {
  // NaN compares false everywhere and would slip through std::clamp; treat it as fully opaque.
  if (std::isnan(opacity)) return 1.0;
  return std::clamp(opacity, 0.01, 1.0);
}

}  // namespace

ShareOptions ShareOptions::defaultValue() {
  ShareOptions options;
  options.expiresInSeconds = ShareApple::defaultExpiresInSeconds;
  return options;
}

std::optional<std::string> ShareOptions::normalizedNote() const {
  auto text = trimmedNonBlank(note);
  if (!text) return std::nullopt;
  return std::string(UnicodeText::prefixCharacters(*text, maxNoteCharacters));
}

std::optional<std::string> ShareOptions::normalizedPassword() const {
  return trimmedNonBlank(password);
}

std::optional<std::string> ShareOptions::normalizedSlug() const {
  return trimmedNonBlank(slug);
}

std::optional<std::int64_t> ShareOptions::normalizedMaxDownloads() const {
  if (!maxDownloads || *maxDownloads <= 0) return std::nullopt;
  return std::min(*maxDownloads, maxDownloadsLimit);
}

std::optional<WatermarkSettings> ShareOptions::normalizedWatermark() const {
  if (!watermark || !watermark->enabled) return std::nullopt;
  const auto text = UnicodeText::trimmed(watermark->text);
  if (text.empty()) return std::nullopt;
  auto result = *watermark;
  result.enabled = true;
  result.text = std::string(UnicodeText::prefixCharacters(text, maxWatermarkCharacters));
  result.opacity = clampedOpacity(watermark->opacity);
  return result;
}

std::int64_t ShareOptions::expDays(std::int64_t maxDays) const {
  const auto seconds = std::max(expiresInSeconds.value_or(ShareApple::defaultExpiresInSeconds),
                                ShareApple::minExpiresInSeconds);
  // Rounded-up division written so that it cannot overflow near INT64_MAX.
  const auto days = seconds / secondsPerDay + (seconds % secondsPerDay != 0 ? 1 : 0);
  return std::min(days, std::max<std::int64_t>(maxDays, 1));
}

}  // namespace lumo

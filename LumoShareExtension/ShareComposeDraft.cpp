#include "ShareComposeDraft.hpp"

#include <algorithm>
#include <charconv>

#include "UnicodeText.hpp"

namespace lumo {
namespace {

using Limits = ShareComposeLimits;

std::string trimmed(const std::string& text) {
  return std::string(UnicodeText::trimmed(text));
}

std::size_t characters(const std::string& text) {
  return UnicodeText::characterCount(UnicodeText::trimmed(text));
}

std::int64_t retention(std::int64_t seconds, bool isAnonymous) {
  if (isAnonymous) return Limits::retentionPresets[0];
  return Limits::isRetentionPreset(seconds) ? seconds : ShareApple::defaultExpiresInSeconds;
}

}  // namespace

ShareComposeDraft ShareComposeDraft::make(const ShareSettings& settings, bool isAnonymous,
                                          bool isLinkOnly,
                                          const std::optional<std::string>& titlePrefill,
                                          const std::optional<SharePlan>& plan) {
  ShareComposeDraft draft;
  draft.expiresInSeconds = retention(
      settings.expiresInSeconds.value_or(ShareApple::defaultExpiresInSeconds), isAnonymous);
  const bool freePlan = plan && plan->isFreePlan();
  if (!isAnonymous && !freePlan) draft.password = trimmed(settings.password.value_or(""));
  draft.passwordEnabled = !draft.password.empty();
  if (!isLinkOnly) {
    const auto prefill = trimmed(titlePrefill.value_or(""));
    draft.title = std::string(UnicodeText::prefixCharacters(prefill, Limits::maxTitleCharacters));
  }
  return draft;
}

std::vector<ShareComposeIssue> ShareComposeDraft::issues(bool isLinkOnly, bool isAnonymous) const {
  using Issue = ShareComposeIssue;
  std::vector<Issue> found;
  if (isLinkOnly && isAnonymous) return found;
  if (!isLinkOnly) {
    if (characters(note) > Limits::maxNoteCharacters) found.push_back(Issue::noteTooLong);
    const auto limit = parsedMaxDownloads();
    if (!trimmed(maxDownloadsText).empty() &&
        (!limit || *limit < Limits::minMaxDownloads || *limit > Limits::maxMaxDownloads)) {
      found.push_back(Issue::invalidMaxDownloads);
    }
    if (watermarkEnabled) {
      const auto length = characters(watermarkText);
      if (length == 0) found.push_back(Issue::watermarkTextRequired);
      if (length > Limits::maxWatermarkTextCharacters) found.push_back(Issue::watermarkTextTooLong);
    }
    if (isAnonymous) return found;
  }
  const auto passwordLength = characters(password);
  if (passwordEnabled && passwordLength > 0 && passwordLength < Limits::minPasswordCharacters) {
    found.push_back(Issue::passwordTooShort);
  }
  if (passwordEnabled && passwordLength > Limits::maxPasswordCharacters) {
    found.push_back(Issue::passwordTooLong);
  }
  const auto requested = trimmed(slug);
  if (!requested.empty() && !ShareCompose::isValidSlug(requested)) {
    found.push_back(Issue::invalidSlug);
  }
  return found;
}

ShareOptions ShareComposeDraft::makeOptions(bool isLinkOnly, bool isAnonymous,
                                            bool allowsPassword) const {
  ShareOptions options;
  options.expiresInSeconds = retention(expiresInSeconds, isAnonymous);
  if (!isAnonymous && allowsPassword && passwordEnabled) options.password = password;
  if (!isAnonymous) options.slug = slug;
  if (!isLinkOnly) {
    options.title = trimmed(title);
    options.note = note;
    options.disableDownload = disableDownload;
    options.burnAfterReading = burnAfterReading;
    const auto limit = parsedMaxDownloads();
    if (limit && *limit > 0) options.maxDownloads = std::min(*limit, Limits::maxMaxDownloads);
    options.watermark = makeWatermark();
  }
  options.note = options.normalizedNote();
  options.password = options.normalizedPassword();
  options.slug = isAnonymous ? std::nullopt : options.normalizedSlug();
  options.watermark = options.normalizedWatermark();
  return options;
}

std::optional<WatermarkSettings> ShareComposeDraft::makeWatermark() const {
  const auto text = UnicodeText::trimmed(watermarkText);
  if (!watermarkEnabled || text.empty()) return std::nullopt;
  const auto opacity =
      static_cast<double>(std::clamp<std::int64_t>(watermarkOpacityPercent, 0, 100)) / 100;
  return WatermarkSettings{
      true,
      std::string(UnicodeText::prefixCharacters(text, Limits::maxWatermarkTextCharacters)),
      watermarkPosition.wireValue(),
      std::clamp(opacity, 0.01, 1.0),
      Limits::watermarkColor,
      Limits::watermarkFontSize,
      watermarkPosition.rotation(),
      true};
}

std::optional<std::int64_t> ShareComposeDraft::parsedMaxDownloads() const {
  const auto text = trimmed(maxDownloadsText);
  // A whole decimal number: an optional sign, then digits only (from_chars takes no "+").
  const bool plus = !text.empty() && text[0] == '+';
  const std::string_view number = plus ? std::string_view(text).substr(1) : text;
  if (number.empty() || (plus && number[0] == '-')) return std::nullopt;
  std::int64_t value = 0;
  const auto* end = number.data() + number.size();
  const auto [stop, error] = std::from_chars(number.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace lumo

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareCompose.hpp"
#include "ShareOptions.hpp"
#include "SharePlan.hpp"
#include "ShareSettings.hpp"
#include "WatermarkSettings.hpp"

namespace lumo {

/// What the compose form shows, as typed. Three facts about the share decide what it may carry
/// and are passed to each operation: signed in or anonymous, document or bare link, and whether
/// the plan allows a password. No operation fails; problems come back as issues.
struct ShareComposeDraft {
  std::string title;
  std::string note;
  std::int64_t expiresInSeconds = ShareApple::defaultExpiresInSeconds;
  bool passwordEnabled = false;
  std::string password;
  std::string slug;
  bool disableDownload = false;
  bool burnAfterReading = false;
  std::string maxDownloadsText;
  bool watermarkEnabled = false;
  std::string watermarkText = ShareComposeLimits::defaultWatermarkText;
  ShareComposeWatermarkPosition watermarkPosition;
  std::int64_t watermarkOpacityPercent = ShareComposeLimits::defaultWatermarkOpacityPercent;

  /// The form of a newly loaded share: retention and password from the saved settings (within
  /// what the share and the plan allow), the title from `titlePrefill` for a document.
  static ShareComposeDraft make(const ShareSettings& settings, bool isAnonymous, bool isLinkOnly,
                                const std::optional<std::string>& titlePrefill,
                                const std::optional<SharePlan>& plan);

  /// What keeps the draft from being published, in the order note, download limit, watermark,
  /// password, slug; empty when it may be published.
  std::vector<ShareComposeIssue> issues(bool isLinkOnly, bool isAnonymous) const;
  /// The publishing options: what the share can carry, normalised; what cannot be used dropped.
  ShareOptions makeOptions(bool isLinkOnly, bool isAnonymous, bool allowsPassword) const;
  /// The watermark, when it is switched on and has text.
  std::optional<WatermarkSettings> makeWatermark() const;
  /// The download limit as a whole decimal number (no range check); absent when blank or not one.
  std::optional<std::int64_t> parsedMaxDownloads() const;

  bool operator==(const ShareComposeDraft&) const = default;
};

}  // namespace lumo

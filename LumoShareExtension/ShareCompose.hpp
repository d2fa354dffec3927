#pragma once
// The compose form's vocabulary: its limits, the watermark positions it offers, the problems it
// reports, and two stand-alone rules (a bare link, an acceptable slug).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ShareApple.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// The compose form's fixed limits. Character counts are user-perceived characters.
struct ShareComposeLimits {
  static constexpr std::size_t maxTitleCharacters = ShareApple::maxTitleCharacters;
  static constexpr std::size_t maxNoteCharacters = ShareOptions::maxNoteCharacters;
  static constexpr std::size_t minPasswordCharacters = 4;
  static constexpr std::size_t maxPasswordCharacters = 128;
  static constexpr std::size_t minSlugLength = 4;  ///< slugLengthRange, both ends included
  static constexpr std::size_t maxSlugLength = 32;
  static constexpr std::int64_t minMaxDownloads = 0;  ///< maxDownloadsRange, both ends included
  static constexpr std::int64_t maxMaxDownloads = ShareOptions::maxDownloadsLimit;
  static constexpr std::size_t maxWatermarkTextCharacters = ShareOptions::maxWatermarkCharacters;
  static constexpr const char* defaultWatermarkText = "Lumo Share";
  static constexpr std::int64_t defaultWatermarkOpacityPercent = 35;
  static constexpr const char* watermarkColor = "#ffffff";
  static constexpr std::int64_t watermarkFontSize = 48;
  static constexpr std::array<std::int64_t, 3> retentionPresets{86400, 604800, 2592000};

  /// The presets as the command line names them, in the presets' order.
  static constexpr std::array<std::string_view, 3> retentionChoices{"1d", "7d", "30d"};

  static bool isRetentionPreset(std::int64_t seconds);
  /// The preset a choice names ("7d" → 604800); nothing for any other text.
  static std::optional<std::int64_t> retentionPreset(std::string_view choice);
};

/// Where the watermark goes: in the middle, or across the content at -30 degrees.
class ShareComposeWatermarkPosition {
 public:
  enum Value { center, diagonal };

  constexpr ShareComposeWatermarkPosition(Value value = center) : value_(value) {}
  /// `diagonal` for exactly "diagonal", `center` for every other text.
  static ShareComposeWatermarkPosition fromWireValue(std::string_view wireValue);
  /// Every position, in the order the form's menu lists them.
  static constexpr std::array<ShareComposeWatermarkPosition, 2> allCases() {
    return {center, diagonal};
  }

  constexpr Value value() const { return value_; }
  /// The raw value: "center" or "diagonal".
  const char* wireValue() const;
  /// Degrees: 0 or -30.
  std::int64_t rotation() const;
  constexpr bool operator==(const ShareComposeWatermarkPosition&) const = default;

 private:
  Value value_;
};

/// A problem of a draft that keeps it from being published, in the order they are reported.
enum class ShareComposeIssue {
  noteTooLong,
  passwordTooShort,
  passwordTooLong,
  invalidSlug,
  invalidMaxDownloads,
  watermarkTextRequired,
  watermarkTextTooLong,
};

namespace ShareCompose {

/// A bare link: a non-empty url, no attachments, no chat, and no text but the url itself.
bool isLinkOnly(const StagedShare& staged);
/// 4 to 32 characters, each an ASCII letter, digit or "-". The text is tested as given.
bool isValidSlug(std::string_view slug);

}  // namespace ShareCompose
}  // namespace lumo

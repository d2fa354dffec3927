#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareApple.hpp"
#include "ShareJSONCoding.hpp"
#include "WatermarkSettings.hpp"

namespace lumo {

/// The publishing options chosen in the compose form. The publishing client sends the
/// `normalized*` values, never the raw fields.
struct ShareOptions {
  static constexpr std::size_t maxNoteCharacters = 2000;
  static constexpr std::size_t maxWatermarkCharacters = 256;
  static constexpr std::int64_t maxDownloadsLimit = 100000;

  std::optional<std::int64_t> expiresInSeconds;
  std::optional<std::string> password;
  std::optional<std::string> title;
  std::optional<std::string> note;
  std::optional<std::string> slug;
  bool disableDownload = false;
  bool burnAfterReading = false;
  std::optional<std::int64_t> maxDownloads;
  std::optional<WatermarkSettings> watermark;

  /// The options used when the user chose nothing (`default`, a reserved word in C++): seven
  /// days, both flags off, everything else absent.
  static ShareOptions defaultValue();

  /// Trimmed note cut to 2000 characters; blank is absent.
  std::optional<std::string> normalizedNote() const;
  /// Trimmed password; blank is absent. Its length is validated by the compose form.
  std::optional<std::string> normalizedPassword() const;
  /// Trimmed slug; blank is absent.
  std::optional<std::string> normalizedSlug() const;
  /// Positive limits up to 100000; zero or negative is absent.
  std::optional<std::int64_t> normalizedMaxDownloads() const;
  /// An enabled watermark with non-blank text: text trimmed and cut to 256 characters, opacity
  /// clamped to [0.01, 1.0].
  std::optional<WatermarkSettings> normalizedWatermark() const;
  /// Lifetime in whole days (rounded up, at least one), capped by `maxDays` (itself at least one).
  std::int64_t expDays(std::int64_t maxDays) const;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("expiresInSeconds", self.expiresInSeconds), JSONKey("password", self.password),
        JSONKey("title", self.title), JSONKey("note", self.note), JSONKey("slug", self.slug),
        defaultedJSONKey("disableDownload", self.disableDownload),
        defaultedJSONKey("burnAfterReading", self.burnAfterReading),
        JSONKey("maxDownloads", self.maxDownloads), JSONKey("watermark", self.watermark));
  }
  bool operator==(const ShareOptions&) const = default;
};

}  // namespace lumo

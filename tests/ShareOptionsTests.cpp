#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LumoShare.hpp"

namespace lumo {
namespace {

constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t index = 0; index < times; ++index) text += piece;
  return text;
}

WatermarkSettings mark(std::string text, double opacity) {
  return WatermarkSettings{true, std::move(text), "center", opacity, "#000000", 18, 45, false};
}

TEST(ShareOptions, NoteExpiryPasswordSlugDownloadLimitAndWatermarkAreNormalised) {
  // Family emoji (ZWJ sequence), flag, and e + combining acute: one character each.
  const std::string mixed = "👩‍👩‍👧🇯🇵e\u0301";
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
      // 2100 characters, trimmed and cut to 2000.
      {"  " + repeated(mixed, 700) + "\n", repeated(mixed, 666) + "👩‍👩‍👧🇯🇵"},
      {repeated("a", 2000), repeated("a", 2000)},
      {repeated("a", 2500), repeated("a", 2000)},
      {"\r\n\u2028\u2029\u0085\v\f", std::nullopt},
      {"\u3000\u00a0\t ", std::nullopt},
      // A zero-width space is a format character, not white space: it stays.
      {" \u200b ", "\u200b"},
      {"\n a \n b \n", "a \n b"},
  };
  for (const auto& [note, expected] : cases) {
    ShareOptions options;
    options.note = note;
    EXPECT_EQ(options.normalizedNote(), expected) << note.substr(0, 40);
  }
  EXPECT_FALSE(ShareOptions{}.normalizedNote().has_value());

  const auto days = [](std::optional<std::int64_t> seconds, std::int64_t cap) {
    ShareOptions options;
    options.expiresInSeconds = seconds;
    return options.expDays(cap);
  };
  EXPECT_EQ(days(std::nullopt, 30), 7);
  EXPECT_EQ(days(3600, 30), 1);
  EXPECT_EQ(days(86401, 30), 2);
  EXPECT_EQ(days(0, 30), 1);
  EXPECT_EQ(days(90 * 86400, 30), 30);
  EXPECT_EQ(days(604800, 0), 1);
  EXPECT_EQ(days(int64Max, 30), 30);
  EXPECT_EQ(days(int64Max, int64Max), int64Max / 86400 + 1);
  EXPECT_EQ(days(std::numeric_limits<std::int64_t>::min(), int64Max), 1);
  ShareOptions options;
  options.password = "  " + repeated("p", 500) + "\t";
  options.slug = "\u3000my-link\n";
  EXPECT_EQ(options.normalizedPassword(), repeated("p", 500));
  EXPECT_EQ(options.normalizedSlug(), "my-link");
  options.password = " \n";
  options.slug = "";
  EXPECT_FALSE(options.normalizedPassword().has_value());
  EXPECT_FALSE(options.normalizedSlug().has_value());

  const auto normalized = [](std::optional<std::int64_t> value) {
    ShareOptions options;
    options.maxDownloads = value;
    return options.normalizedMaxDownloads();
  };
  EXPECT_EQ(normalized(std::nullopt), std::nullopt);
  EXPECT_EQ(normalized(0), std::nullopt);
  EXPECT_EQ(normalized(std::numeric_limits<std::int64_t>::min()), std::nullopt);
  EXPECT_EQ(normalized(1), 1);
  EXPECT_EQ(normalized(100000), 100000);
  EXPECT_EQ(normalized(100001), 100000);
  EXPECT_EQ(normalized(int64Max), 100000);

  EXPECT_FALSE(options.normalizedWatermark().has_value());
  options.watermark = mark("draft", 0.5);
  options.watermark->enabled = false;
  EXPECT_FALSE(options.normalizedWatermark().has_value());
  options.watermark = mark("   \n", 0.5);
  EXPECT_FALSE(options.normalizedWatermark().has_value());

  options.watermark = mark(" " + repeated("é", 300) + " ", 0.5);
  EXPECT_EQ(options.normalizedWatermark(), mark(repeated("é", 256), 0.5));

  const auto opacity = [&](double value) {
    options.watermark = mark("x", value);
    return options.normalizedWatermark()->opacity;
  };
  EXPECT_EQ(opacity(0.01), 0.01);
  EXPECT_EQ(opacity(0.009), 0.01);
  EXPECT_EQ(opacity(3.5), 1.0);
  EXPECT_EQ(opacity(-std::numeric_limits<double>::infinity()), 0.01);
  EXPECT_EQ(opacity(std::nan("")), 1.0);
}

}  // namespace
}  // namespace lumo

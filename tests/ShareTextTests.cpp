#include <gtest/gtest.h>

#include "ShareByteCount.hpp"
#include "ShareText.hpp"
#include "UnicodeText.hpp"

namespace lumo {

void PrintTo(const TruncatedText& value, std::ostream* out) {
  *out << "{\"" << value.text << "\", " << (value.truncated ? "truncated" : "whole") << "}";
}

namespace {

using ShareText::safeFileName;
using ShareText::singleURL;
using ShareText::title;
using ShareText::truncateUTF8;

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t index = 0; index < times; ++index) text += piece;
  return text;
}

struct CutCase {
  std::string text;
  std::int64_t budget;
  bool ellipsis;
  TruncatedText expected;
};

TEST(ShareTextTruncate, NeverSplitsCharactersOrLeavesTheBudgetAndMakesSafeFileNames) {
  const std::vector<CutCase> cases = {
      {"中中中", 9, true, {"中中中", false}},
      {"中中中", 7, true, {"中…", true}},
      {"中中中", 2, false, {"", true}},
      {"中中中", 4, false, {"中", true}},
      {"中中中", 4, true, {"…", true}},
      {"éé", 3, false, {"é", true}},
      {"ééé", 5, true, {"é…", true}},
      {"😀😀", 7, false, {"😀", true}},
      {"😀😀", 2, true, {"…", true}},
      {"", -5, false, {"", false}},
      {"x", -1, true, {"", true}},
  };
  for (const auto& cut : cases) {
    EXPECT_EQ(truncateUTF8(cut.text, cut.budget, cut.ellipsis), cut.expected)
        << cut.text << " budget " << cut.budget << " ellipsis " << cut.ellipsis;
  }

  const std::string broken = "ok\xff\xfe\xe4\xb8 \xf0\x9f\x98 end\x80";
  for (std::int64_t budget = 4; budget < 40; ++budget) {
    for (const bool ellipsis : {false, true}) {
      const auto result = truncateUTF8(broken, budget, ellipsis);
      EXPECT_LE(result.text.size(), static_cast<std::size_t>(budget)) << budget;
      EXPECT_EQ(UnicodeText::wellFormed(result.text), result.text) << budget;
    }
  }

  EXPECT_TRUE(ShareText::looksLikeChatTranscript("[10:01] Ana: hi\n[10:02] Bo: yo"));
  EXPECT_FALSE(ShareText::looksLikeChatTranscript("Dear Ana,\nhow are you?"));
  EXPECT_EQ(ShareText::clamp("e\u0301xyz", 2), "e\u0301x");
  EXPECT_EQ(safeFileName(" dir/sub/report:v2?.pdf \n"), "report-v2-.pdf");
  EXPECT_EQ(safeFileName("a/b/"), "b");
  EXPECT_EQ(safeFileName(R"(1\2:3?4%5*6|7"8<9>0)"), "1-2-3-4-5-6-7-8-9-0");
  EXPECT_EQ(safeFileName("tab\there\x7f.txt"), "tab-here-.txt");
  EXPECT_EQ(safeFileName("\x01\x02\x03"), "---");
  EXPECT_EQ(safeFileName("evil\u202Etxt.exe"), "evil-txt.exe");
  EXPECT_EQ(safeFileName("bad\xff.txt"), "bad\uFFFD.txt");
  for (const auto* unusable : {"", "   ", ".", "..", "/", "a/..", "///"}) {
    EXPECT_EQ(safeFileName(unusable), "share") << unusable;
  }

  EXPECT_EQ(safeFileName(repeated("x", 500)), repeated("x", 120));
  EXPECT_EQ(safeFileName(repeated("🇩🇪", 130)), repeated("🇩🇪", 120));
  EXPECT_EQ(safeFileName(repeated("👍🏽", 121), "txt"), repeated("👍🏽", 120) + ".txt");
  EXPECT_EQ(safeFileName(repeated("a\u0308", 125)), repeated("a\u0308", 120));

  EXPECT_EQ(safeFileName("photo", "jpg"), "photo.jpg");
  EXPECT_EQ(safeFileName("photo.png", "jpg"), "photo.png");
  EXPECT_EQ(safeFileName("photo.", "jpg"), "photo..jpg");
  // One rule of extensions everywhere: a leading dot marks a hidden file, not an extension.
  EXPECT_EQ(safeFileName(".bashrc", "txt"), ".bashrc.txt");
  EXPECT_EQ(ShareText::pathExtension(".bashrc"), "");
  EXPECT_EQ(ShareText::pathExtension("dir.d/archive.tar.gz"), "gz");
  EXPECT_EQ(safeFileName("", "zip"), "share.zip");
  EXPECT_EQ(safeFileName("photo", "t/x"), "photo.t-x");
}

TEST(ShareTextTitle, FirstLineTrimmedAndCutOneHttpLinkOnlyAndSizesAsFileManagersWrite) {
  EXPECT_EQ(title("\r\n \t \u2028\u00a0Hello  world \u3000\nsecond", std::nullopt, 200),
            "Hello  world");
  EXPECT_EQ(title("\n\n\u2029\u0085\v\f", "fallback", 200), "fallback");
  EXPECT_EQ(title(std::nullopt, "fallback", 3), "fal");
  EXPECT_EQ(title("   ", "", 200), std::nullopt);
  EXPECT_EQ(title(std::nullopt, std::nullopt, 200), std::nullopt);
  // Flags, skin-toned emoji and combining marks count as one character each.
  EXPECT_EQ(title(repeated("👍🏽", 250), std::nullopt, 200), repeated("👍🏽", 200));
  EXPECT_EQ(title("🇩🇪🇫🇷🇯🇵", std::nullopt, 2), "🇩🇪🇫🇷");
  EXPECT_EQ(title("e\u0301e\u0301e\u0301", std::nullopt, 2), "e\u0301e\u0301");

  const auto link = singleURL("  https://lumo.example/a?b=1 \n");
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->absoluteString(), "https://lumo.example/a?b=1");
  EXPECT_EQ(singleURL("HTTP://X.EXAMPLE")->scheme(), "HTTP");
  // Characters outside ASCII are percent-encoded as the platform's parser does.
  EXPECT_EQ(singleURL("https://zh.wikipedia.org/wiki/中文")->absoluteString(),
            "https://zh.wikipedia.org/wiki/%E4%B8%AD%E6%96%87");
  for (const auto* refused :
       {"see https://x.example", "https://a.example https://b.example", "ftp://x.example/f",
        "mailto:a@b.example", "http:///path", "http://", "https://a.example/a\u00a0b",
        "https://a.example/%zz", "javascript:alert(1)", "", "lumo.example", "https:\xff"}) {
    EXPECT_FALSE(singleURL(refused).has_value()) << refused;
  }

  const std::vector<std::pair<std::int64_t, std::string>> cases{
      {-5, "0 B"},
      {0, "0 B"},
      {1, "1 KB"},
      {741, "1 KB"},
      {1499, "1 KB"},
      {1500, "2 KB"},
      {999499, "999 KB"},
      {999500, "1 MB"},
      {1500000, "1.5 MB"},
      {2000000, "2 MB"},
      {999949999, "999.9 MB"},
      {999950000, "1 GB"},
      {1234567890, "1.23 GB"},
      {1500000000, "1.5 GB"},
      {2000000000000, "2000 GB"},
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(ShareByteCount::fileStyle(bytes), text) << bytes;
}

}  // namespace
}  // namespace lumo

#include <gtest/gtest.h>

#include "UnicodeText.hpp"

namespace lumo {
namespace {

using UnicodeText::characterCount;
using UnicodeText::prefixCharacters;
using UnicodeText::trimmed;
using UnicodeText::trimmedBlanks;

TEST(UnicodeText, TrimsExactlyBlanksAndLineBreaksCountsClustersAndLowercasesAnywhere) {
  for (const auto* edge : {" ", "\t", "\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029",
                           "\u00a0", "\u2003", "\u3000", "\u202f"}) {
    EXPECT_EQ(trimmed(std::string(edge) + "x" + edge), "x") << edge;
  }
  for (const auto* kept : {"\u200b", "\ufeff", "\u0001", "\u001f"}) {
    EXPECT_EQ(trimmed(std::string(kept) + "x"), std::string(kept) + "x") << kept;
  }
  EXPECT_EQ(trimmed(" a  b "), "a  b");
  EXPECT_EQ(trimmed(" \n "), "");
  EXPECT_EQ(trimmed(""), "");

  EXPECT_EQ(trimmedBlanks(" \t\u3000\nx\n \t"), "\nx\n");
  EXPECT_EQ(trimmedBlanks("\u2028"), "\u2028");

  EXPECT_EQ(trimmed(" \xff "), "\xff");
  EXPECT_EQ(trimmed("\xe2\x80 x"), "\xe2\x80 x");  // a cut-off U+2028 is not a line break

  EXPECT_EQ(characterCount("e\u0301"), 1u);
  EXPECT_EQ(characterCount("👩‍👩‍👧"), 1u);
  EXPECT_EQ(characterCount("🇩🇪🇫🇷"), 2u);
  EXPECT_EQ(characterCount("\r\n"), 1u);
  EXPECT_EQ(characterCount("\xff\xfe"), 2u);

  EXPECT_EQ(prefixCharacters("e\u0301e\u0301", 1), "e\u0301");
  EXPECT_EQ(prefixCharacters("👩‍👩‍👧x", 1), "👩‍👩‍👧");
  EXPECT_EQ(prefixCharacters("abc", 0), "");
  EXPECT_EQ(prefixCharacters("abc", 99), "abc");
  EXPECT_EQ(UnicodeText::prefixFittingBytes("ae\u0301中", 3), "a");
  EXPECT_EQ(UnicodeText::prefixFittingBytes("ae\u0301中", 4), "ae\u0301");
  EXPECT_EQ(prefixCharacters("a\xff\x62", 2), "a\xff");  // \x62: "b"

  EXPECT_EQ(UnicodeText::lowercased("ÄÖÜ ABC"), "äöü abc");
  EXPECT_EQ(UnicodeText::lowercased("ΟΔΟΣ"), "οδος");
  EXPECT_EQ(UnicodeText::lowercased("I"), "i");  // not the Turkish dotless ı
}

}  // namespace
}  // namespace lumo

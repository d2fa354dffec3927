#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "LumoShare.hpp"

namespace lumo {
namespace {

const ShareClock fixedNow = [] { return std::int64_t{1700000000000}; };

/// base64url without padding, as JSON Web Tokens carry it.
std::string base64url(const std::string& bytes) {
  std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int>(bytes.size()));
  encoded.resize(static_cast<std::size_t>(length));
  while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
  for (auto& character : encoded) {
    if (character == '+') character = '-';
    if (character == '/') character = '_';
  }
  return encoded;
}

std::string jwt(const std::string& payload) {
  return base64url(R"({"alg":"HS256"})") + "." + base64url(payload) + ".sig";
}

TEST(TokenImport, ClaimsWithAndWithoutPaddingJSONObjectsBareTokensAndAuthLinksOnly) {
  for (const auto* payload :
       {R"({"sub":"u1","exp":1800000000})", R"({"sub":"u12","exp":1800000000})",
        R"({"sub":"u123","exp":1800000000})"}) {
    const auto claims = TokenImport::jwtClaims(jwt(payload));
    EXPECT_EQ(claims.value("exp", 0), 1800000000) << payload;
  }
  // "?~>" encodes to Base64 with "+" and "/", which the token carries as "-" and "_".
  const auto urlSafe = jwt(R"({"sub":"?~>?~>"})");
  EXPECT_NE(urlSafe.find_first_of("-_"), std::string::npos);
  EXPECT_EQ(TokenImport::jwtClaims(urlSafe).value("sub", ""), "?~>?~>");
  for (const auto& bad : {std::string("a.!!!!.c"), std::string("a.b"),
                          base64url("[1]") + "." + base64url("[1]") + ".c"})
    EXPECT_TRUE(TokenImport::jwtClaims(bad).empty()) << bad;

  const auto access = jwt(R"({"sub":"user-7","exp":1800000000})");
  const auto bare = TokenImport::parse("  " + access + "\n", fixedNow);
  EXPECT_EQ(bare, (ShareToken{access, std::nullopt, 1800000000000, "user-7", 1700000000000}));

  const auto json = TokenImport::parse(
      R"({"token":"","accessToken":"opaque","refresh_token":"r","expires_in":60})", fixedNow);
  EXPECT_EQ(*json, (ShareToken{"opaque", "r", 1700000060000, std::nullopt, 1700000000000}));
  const auto claimsExpiry = TokenImport::parse(R"({"access_token":")" + access + R"("})", fixedNow);
  EXPECT_EQ(claimsExpiry->expiresAt, 1800000000000);

  EXPECT_EQ(TokenImport::parse("head.%%%%.sig", fixedNow),
            (ShareToken{"head.%%%%.sig", {}, {}, {}, 1700000000000}));

  for (const auto* refused :
       {"", "   ", "two.pieces", "a.b.c.d", R"({"refresh_token":"r"})", "{broken"}) {
    EXPECT_FALSE(TokenImport::parse(refused, fixedNow).has_value()) << refused;
  }

  const auto token =
      TokenImport::token("lumoshare://auth?access_token=abc%2Bdef&refreshToken=r%20s", fixedNow);
  EXPECT_EQ(token, (ShareToken{"abc+def", "r s", {}, {}, 1700000000000}));
  EXPECT_EQ(TokenImport::token("lumoshare://auth?access_token=&token=t2", fixedNow)->accessToken,
            "t2");
  EXPECT_FALSE(TokenImport::token("lumoshare://auth?refresh_token=r", fixedNow).has_value());
  EXPECT_FALSE(TokenImport::token("lumoshare://other?access_token=a", fixedNow).has_value());
  EXPECT_FALSE(TokenImport::token("https://auth?access_token=a", fixedNow).has_value());
}

}  // namespace
}  // namespace lumo

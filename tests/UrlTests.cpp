#include <gtest/gtest.h>

#include "Url.hpp"

namespace lumo {
namespace {

Url url(std::string_view text) {
  auto parsed = Url::parse(text);
  if (!parsed) throw std::runtime_error("does not parse: " + std::string(text));
  return *parsed;
}

TEST(Url, ParsesRefusesAppendsEscapedPiecesAndQueryItemsAndRoundTripsFilePaths) {
  const auto link = url("HTTPS://Lumo.Example:8443/a%20b/c/?q=1#frag");
  EXPECT_EQ(link.absoluteString(), "HTTPS://Lumo.Example:8443/a%20b/c/?q=1#frag");
  EXPECT_EQ(link.scheme(), "HTTPS");
  EXPECT_EQ(link.host(), "Lumo.Example");
  EXPECT_EQ(link.path(), "/a b/c");
  EXPECT_EQ(link.lastPathComponent(), "c");

  EXPECT_EQ(url("http://[::1]:8080/p").host(), "::1");
  EXPECT_EQ(url("https://a.com").lastPathComponent(), "");
  EXPECT_EQ(url("https://a.com/").lastPathComponent(), "/");
  EXPECT_FALSE(url("http:///x").host().has_value());
  EXPECT_FALSE(url("mailto:a@b.example").host().has_value());
  EXPECT_EQ(url("notes/today.txt").lastPathComponent(), "today.txt");

  for (const auto* text : {"", "a b", "https://a.com/a b", "https://例子.com", "https://a.com/%zz",
                           "https://a.com/\n", "http://[::1/"}) {
    EXPECT_FALSE(Url::parse(text).has_value()) << text;
  }

  const auto file = Url::fileURL("/tmp/a b/ü%.txt");
  EXPECT_EQ(file.absoluteString(), "file:///tmp/a%20b/%C3%BC%25.txt");
  EXPECT_EQ(file.filePath(), std::filesystem::path("/tmp/a b/ü%.txt"));
  EXPECT_EQ(file.lastPathComponent(), "ü%.txt");
  EXPECT_FALSE(url("https://h/x").filePath().has_value());
  const auto base = url("https://lumo.example/api/v1");
  EXPECT_EQ(base.appendingPathComponent("docs").absoluteString(),
            "https://lumo.example/api/v1/docs");
  EXPECT_EQ(url("https://lumo.example/api/v1/").appendingPathComponent("docs").absoluteString(),
            "https://lumo.example/api/v1/docs");
  const auto odd = base.appendingPathComponent("a/b?c#d e%ü");
  EXPECT_EQ(odd.absoluteString(), "https://lumo.example/api/v1/a%2Fb%3Fc%23d%20e%25%C3%BC");
  EXPECT_EQ(odd.lastPathComponent(), "a/b?c#d e%ü");
  EXPECT_EQ(url("https://h/x?k=1#top").appendingPathComponent("y").absoluteString(),
            "https://h/x/y?k=1#top");
  EXPECT_EQ(base.appendingPathComponent("docs").appendingPathComponent("42").path(),
            "/api/v1/docs/42");

  const auto queried =
      url("https://h/x")
          .appendingQueryItems({{"q", "a b&c=d+e/é"}, {"flag", std::nullopt}, {"", "v"}});
  EXPECT_EQ(queried.absoluteString(), "https://h/x?q=a%20b%26c%3Dd%2Be%2F%C3%A9&flag&=v");
  EXPECT_EQ(url("https://h/x?a=1#f").appendingQueryItems({{"b", "2"}}).absoluteString(),
            "https://h/x?a=1&b=2#f");
}

}  // namespace
}  // namespace lumo

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;

SharePayload linkPayload() {
  SharePayload payload;
  payload.kind = ShareKindValues::link;
  payload.url = "https://lumo.example/s/abc?x=1&y=/z";
  return payload;
}

TEST(ShareJSONFiles, WriteThenReadRoundTripsWithSlashesUnescaped) {
  testing::TemporaryDirectory folder;
  const auto file = folder / "pending/id/share.json";
  ShareJSON::write(linkPayload(), file);
  EXPECT_EQ(AtomicFile::read(file),
            R"({"kind":"link","url":"https://lumo.example/s/abc?x=1&y=/z"})");
  EXPECT_EQ(ShareJSON::read<SharePayload>(file), linkPayload());
}

TEST(ShareJSONFiles, UnencodableValueLeavesFileAndFoldersUntouched) {
  testing::TemporaryDirectory folder;
  const auto file = folder / "options.json";
  ShareJSON::write(ShareOptions::defaultValue(), file);
  const auto before = AtomicFile::read(file);

  auto options = ShareOptions::defaultValue();
  options.watermark = WatermarkSettings{true, "x", "center", std::nan(""), "c", 1, 0, false};
  EXPECT_THROW(ShareJSON::write(options, file), ShareJSONError);
  EXPECT_EQ(AtomicFile::read(file), before);

  EXPECT_THROW(ShareJSON::write(options, folder / "new/options.json"), ShareJSONError);
  EXPECT_FALSE(fs::exists(folder / "new"));
}

TEST(ShareJSONFiles, ReadErrorsReachTheCaller) {
  testing::TemporaryDirectory folder;
  EXPECT_THROW(ShareJSON::read<SharePayload>(folder / "missing.json"), fs::filesystem_error);
  std::ofstream(folder / "broken.json") << R"({"kind":"te)";
  try {
    ShareJSON::read<SharePayload>(folder / "broken.json");
    FAIL() << "malformed JSON decoded";
  } catch (const ShareJSONError& error) {
    EXPECT_EQ(error.kind(), ShareJSONError::Kind::malformed);
  }
  std::ofstream(folder / "empty.json") << "";
  EXPECT_THROW(ShareJSON::read<SharePayload>(folder / "empty.json"), ShareJSONError);
}

TEST(ShareJSONDecoding, EveryParserFailureIsATypedError) {
  const auto kindOf = [](std::string_view text) {
    try {
      ShareJSON::decoder().decode<SharePayload>(text);
    } catch (const ShareJSONError& error) {
      return error.kind();
    }
    ADD_FAILURE() << text << " decoded";
    return ShareJSONError::Kind::invalidValue;
  };
  EXPECT_EQ(kindOf("1e999"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(R"({"kind":"text","createdAt":-1e400})"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(std::string(100000, '[')), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(R"({"kind":"text"} trailing)"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf("\xef\xbb\xbf{\"kind\":1}"), ShareJSONError::Kind::typeMismatch);
}

TEST(ShareJSONEncoding, IllFormedUTF8BecomesReplacementCharacters) {
  SharePayload payload;
  payload.kind = ShareKindValues::text;
  payload.text = "ok \xff end";
  EXPECT_EQ(ShareJSON::encoder().encode(payload),
            "{\"kind\":\"text\",\"text\":\"ok \xef\xbf\xbd end\"}");
}

TEST(ShareJSONEncoding, ControlCharactersAndQuotesAreEscaped) {
  SharePayload payload;
  payload.kind = ShareKindValues::text;
  payload.text = std::string("a\"b\\c\n\x01", 7);
  const auto json = ShareJSON::encoder().encode(payload);
  EXPECT_EQ(json, R"({"kind":"text","text":"a\"b\\c\n\u0001"})");
  EXPECT_EQ(ShareJSON::decoder().decode<SharePayload>(json), payload);
}

}  // namespace
}  // namespace lumo

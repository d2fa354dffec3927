#include <gtest/gtest.h>

#include <cmath>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;

TEST(ShareJSON, UnencodableValuesLeaveFilesAloneParserFailuresAreTypedAndBadUTF8Replaced) {
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

  const auto kindOf = [](std::string_view text) {
    return testing::thrown<ShareJSONError>([&] { ShareJSON::decoder().decode<SharePayload>(text); })
        .value()
        .kind();
  };
  EXPECT_EQ(kindOf("1e999"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(R"({"kind":"text","createdAt":-1e400})"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(std::string(100000, '[')), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf(R"({"kind":"text"} trailing)"), ShareJSONError::Kind::malformed);
  EXPECT_EQ(kindOf("\xef\xbb\xbf{\"kind\":1}"), ShareJSONError::Kind::typeMismatch);

  SharePayload payload;
  payload.kind = ShareKindValues::text;
  payload.text = "ok \xff end";
  EXPECT_EQ(ShareJSON::encoder().encode(payload),
            "{\"kind\":\"text\",\"text\":\"ok \xef\xbf\xbd end\"}");
}

}  // namespace
}  // namespace lumo

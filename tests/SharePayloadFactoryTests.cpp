#include <gtest/gtest.h>

#include <unicode/timezone.h>

#include "LumoShare.hpp"

namespace lumo {
namespace {

namespace Factory = SharePayloadFactory;

/// Time texts depend on the machine's zone; pin one without daylight saving time.
class FixedTimeZone : public ::testing::Environment {
 public:
  void SetUp() override {
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Asia/Shanghai"));
  }
};
const auto* const fixedTimeZone = ::testing::AddGlobalTestEnvironment(new FixedTimeZone);

Url url(std::string_view text) {
  return *Url::parse(text);
}

StagedAttachment attachment(std::string type, std::optional<std::string> originalName = "a.bin",
                            std::int64_t size = 1) {
  return StagedAttachment{
      "i", "01-a.bin", type, "application/octet-stream", originalName, size, "00", {}, {}, {}};
}

ShareSource source() {
  return ShareSource{"linux", std::nullopt, std::nullopt, std::nullopt, "en_US"};
}

StagedShare staged(SharePayload payload, std::vector<StagedAttachment> attachments = {}) {
  return StagedShare{"id", 0, std::move(payload), std::move(attachments), "", {}, 0, {}};
}

TEST(SharePayload, EveryKindTitlesTheCutTextAndTheDisplayTitleAndPreviewRules) {
  const auto chat = ChatTranscriptParser::parse("[1] A: x\n[2] B: y", std::nullopt)->payload();
  const auto image = attachment("image");
  EXPECT_EQ(Factory::deriveKind("t", url("https://a"), {image}, chat), "chat");
  EXPECT_EQ(Factory::deriveKind({}, {}, {image, image}, {}), "image");
  EXPECT_EQ(Factory::deriveKind({}, {}, {attachment("video")}, {}), "video");
  EXPECT_EQ(Factory::deriveKind({}, {}, {attachment("file")}, {}), "file");
  EXPECT_EQ(Factory::deriveKind({}, {}, {image, attachment("file")}, {}), "mixed");
  EXPECT_EQ(Factory::deriveKind("hello", {}, {}, {}), "text");
  EXPECT_EQ(Factory::deriveKind("https://a.example/x", url("https://a.example/x"), {}, {}), "link");
  EXPECT_EQ(Factory::deriveKind("", url("https://a.example/x"), {}, {}), "link");
  EXPECT_EQ(Factory::deriveKind("look", url("https://a.example/x"), {}, {}), "mixed");

  SharePayload payload;
  payload.kind = "link";
  EXPECT_EQ(Factory::displayTitle(staged(payload)), "link");
  EXPECT_EQ(Factory::displayPreview(staged(payload)), std::nullopt);
  EXPECT_EQ(Factory::displayPreview(staged(payload, {attachment("file", "Report.pdf", 2048)})),
            "file · Report.pdf · 2048 B");
  EXPECT_EQ(Factory::displayPreview(staged(payload, {attachment("image", std::nullopt, 5)})),
            "image · 01-a.bin · 5 B");
  payload.url = "https://a.example";
  EXPECT_EQ(Factory::displayPreview(staged(payload)), "https://a.example");
  payload.text = "words";
  EXPECT_EQ(Factory::displayPreview(staged(payload)), "words");
  payload.title = "Title";
  EXPECT_EQ(Factory::displayTitle(staged(payload)), "Title");
  payload.chat = ChatTranscriptParser::parse("[1] Ana: hi\n[2] Bo: yo", std::nullopt)->payload();
  EXPECT_EQ(Factory::displayPreview(staged(payload)), "other Ana：hi");
  const auto text = Factory::makePayload("id", 42, source(), "\n  Shopping list\nmilk \n", {}, {},
                                         CaptureMethodValues::shareSheet);
  EXPECT_EQ(text.kind, "text");
  EXPECT_EQ(text.title, "Shopping list");
  EXPECT_EQ(text.text, "Shopping list\nmilk");
  EXPECT_FALSE(text.chat.has_value());
  EXPECT_EQ(ShareJSON::encoder().encode(*text.meta),
            R"({"capture":"share-sheet","platform":"linux","client":"apple-share-extension"})");

  const auto link = Factory::makePayload("id", 0, source(), std::nullopt,
                                         url("https://lumo.example/p"), {}, "share-sheet");
  EXPECT_EQ(link.kind, "link");
  EXPECT_EQ(link.title, "lumo.example");
  EXPECT_EQ(link.url, "https://lumo.example/p");

  auto chatSource = source();
  chatSource.app = "ph.telegra.Telegraph";
  const auto chatted = Factory::makePayload("id", 0, chatSource, "[1] Ana: hi\n[2] Bo: yo", {}, {},
                                            CaptureMethodValues::manual);
  EXPECT_EQ(chatted.kind, "chat");
  EXPECT_EQ(chatted.text, "[1] Ana: hi\n[2] Bo: yo");
  EXPECT_EQ(chatted.title, "[1] Ana: hi");
  ASSERT_TRUE(chatted.chat.has_value());
  EXPECT_EQ(chatted.chat->provider, "telegram");
  EXPECT_EQ(chatted.chat->captureMethod, "manual");
  EXPECT_EQ(*chatted.meta->find("capture"), "manual");

  const auto files = Factory::makePayload("id", 0, source(), "  ", {},
                                          {attachment("file", std::nullopt)}, "share-sheet");
  EXPECT_EQ(files.title, "01-a.bin");
  EXPECT_FALSE(files.text.has_value());

  const auto normalized = Factory::normalizeText(std::string(20000, 'x') + "中");
  ASSERT_TRUE(normalized.has_value());
  EXPECT_EQ(normalized->size(), 16384u);
  EXPECT_EQ(normalized->substr(16381), "…");
  EXPECT_EQ(Factory::normalizeText(" \u2028 "), std::nullopt);
}

TEST(SharePayloadMarkdown, BlocksInOrderAndOmittedTheChatSectionAndLocalTimeStamps) {
  SharePayload payload;
  payload.kind = "mixed";
  EXPECT_EQ(Factory::markdown(payload, std::nullopt), std::nullopt);
  EXPECT_EQ(Factory::markdown(payload, ""), std::nullopt);
  payload.title = "T";
  payload.text = "body";
  payload.url = "https://a.example";
  EXPECT_EQ(Factory::markdown(payload, "n"), "# T\n\nbody\n\n链接：https://a.example\n\n备注：n");
  payload.text = "https://a.example";
  EXPECT_EQ(Factory::markdown(payload, std::nullopt), "# T\n\nhttps://a.example");
  payload.chat = ChatPayload{"qq",
                             ChatConversation{{}, {}, "dm", {}},
                             "share-sheet",
                             {ChatMessage{{}, "Ana", {}, "text", "hi", {}, {}, {}}},
                             std::nullopt};
  payload.text = "ignored when a chat is present";
  EXPECT_EQ(Factory::markdown(payload, std::nullopt),
            "# T\n\n链接：https://a.example\n\n## 聊天记录（qq · dm）\n- Ana：hi");

  ChatPayload chat{"wechat",
                   ChatConversation{{}, "家人", "group", {}},
                   "share-sheet",
                   {ChatMessage{{}, "妈妈", 1700000000123, "text", "吃饭了", {}, {}, {}},
                    ChatMessage{{}, "Bo", {}, "image", std::nullopt, {}, {}, {}}},
                   "note text"};
  EXPECT_EQ(Factory::chatMarkdown(chat),
            "## 聊天记录（wechat · 家人）\n- [06:13] 妈妈：吃饭了\n- Bo：\n\n> note text");

  EXPECT_EQ(Factory::timestamp(0), "19700101-080000");
  EXPECT_EQ(Factory::timestamp(-1), "19700101-075959");
  EXPECT_EQ(Factory::zipFileName(1700000000123), "lumo-share-20231115-061320.zip");
  EXPECT_EQ(Factory::messageFileName(1700000000123, true), "message-20231115-061320.md");
  EXPECT_EQ(Factory::messageFileName(1700000000123, false), "message-20231115-061320.txt");
}

}  // namespace
}  // namespace lumo

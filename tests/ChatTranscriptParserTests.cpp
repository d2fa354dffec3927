#include <gtest/gtest.h>

#include "ChatTranscriptParser.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

using Pair = std::pair<std::string, std::string>;

std::vector<Pair> messagesOf(std::string_view text) {
  std::vector<Pair> pairs;
  const auto chat = ChatTranscriptParser::parse(text, std::nullopt);
  if (!chat) return pairs;
  for (const auto& message : chat->messages) pairs.emplace_back(message.sender, *message.text);
  return pairs;
}

TEST(ChatTranscript, EveryLineShapeTooFewLinesTheLimitsTheRecordAndTheProvider) {
  const std::vector<std::pair<std::string, std::vector<Pair>>> cases{
      // A bracketed time, with either colon after the sender.
      {"[10:01] 小明：在吗\n[2024-01-02 10:02] Bo:  yes ", {{"小明", "在吗"}, {"Bo", "yes"}}},
      // Time first, with short and long clocks; Unicode digits count as digits.
      {"10:01 Ana: hi\n9:02:33 Bo：yo", {{"Ana", "hi"}, {"Bo", "yo"}}},
      {"１０:０１ Ana: hi\n10:02 Bo: yo", {{"Ana", "hi"}, {"Bo", "yo"}}},
      // Without a colon after the sender neither time-first nor sender-first applies.
      {"10:01 Ana hi\n10:02 Bo yo", {}},
      // Sender first, with times and dates; a sender never contains a colon, nor starts with a
      // digit.
      {"Ana Li 2024/01/02 10:01 hello there\nBo 2024-1-2 9:05: hi\nCy [10:01] yo\nDi 10:01：ok",
       {{"Ana Li", "hello there"}, {"Bo", "hi"}, {"Cy", "yo"}, {"Di", "ok"}}},
      {"A:na 10:01 hi\nB:o 10:02 yo", {}},
      // A preamble, continuation lines and blank lines between them.
      {"copied from the group\n\nAna 10:01\nfirst line\n\n   second line  \nBo 10:02 ok\r\n"
       "Cy 10:03\u2028yes",
       {{"Ana", "first line\nsecond line"}, {"Bo", "ok"}, {"Cy", "yes"}}},
  };
  for (const auto& [text, messages] : cases) EXPECT_EQ(messagesOf(text), messages) << text;

  EXPECT_FALSE(ChatTranscriptParser::parse("[10:01] Ana: hi", std::nullopt));
  EXPECT_FALSE(ChatTranscriptParser::parse("[10:01] Ana: hi\njust a line", std::nullopt));
  EXPECT_FALSE(ChatTranscriptParser::parse("\u2028\u2028\u2028", std::nullopt));
  EXPECT_FALSE(ChatTranscriptParser::parse("\xff\n\xfe", std::nullopt));

  std::string text;
  for (int index = 0; index < 250; ++index) text += "[t] user" + std::to_string(index) + ": m\n";
  const auto chat = ChatTranscriptParser::parse(text, std::nullopt);
  ASSERT_TRUE(chat.has_value());
  ASSERT_EQ(chat->messages.size(), 200u);
  EXPECT_EQ(chat->messages.front().sender, "user0");
  EXPECT_EQ(chat->messages.back().sender, "user199");

  text = "[1] Ana: start\n";
  for (int index = 0; index < 1000; ++index) text += "中文内容\n";
  text += "[2] Bo: end";
  const auto cutChat = ChatTranscriptParser::parse(text, std::nullopt);
  ASSERT_TRUE(cutChat.has_value());
  const auto& cut = *cutChat->messages.front().text;
  EXPECT_LE(cut.size(), 8192u);
  EXPECT_GT(cut.size(), 8180u);
  EXPECT_EQ(cut.substr(cut.size() - 3), "…");
  EXPECT_EQ(UnicodeText::wellFormed(cut), cut);

  const auto wechat = ChatTranscriptParser::parse("[1] Ana: hi\n[2] Bo: yo", "COM.TENCENT.XIN");
  ASSERT_TRUE(wechat.has_value());
  EXPECT_EQ(std::tuple(wechat->provider, wechat->conversationType, wechat->captureMethod),
            std::tuple("wechat", "dm", "share-sheet"));
  EXPECT_EQ(wechat->note, "来自系统分享面板的文本，按行解析；未读取任何 App 私有聊天库。");
  const auto& message = wechat->messages[0];
  EXPECT_EQ(message, (ChatMessage{std::nullopt, "Ana", std::nullopt, "text", "hi", std::nullopt,
                                  std::nullopt, std::nullopt}));
  const auto payload = wechat->payload();
  EXPECT_EQ(payload.conversation,
            (ChatConversation{std::nullopt, std::nullopt, "dm", std::nullopt}));
  EXPECT_EQ(payload.messages, wechat->messages);

  const std::vector<std::pair<std::optional<std::string>, std::string>> bundles = {
      {std::nullopt, "other"},
      {"COM.Tencent.XIN", "wechat"},
      {"com.tencent.xin.share", "other"},
      {"com.tencent.MobileQQ", "qq"},
      {"com.facebook", "other"},
      {"ph.telegra.Telegraph", "telegram"},
  };
  for (const auto& [bundle, provider] : bundles) {
    EXPECT_EQ(ChatTranscriptParser::provider(bundle), provider) << bundle.value_or("<none>");
  }
}

}  // namespace
}  // namespace lumo

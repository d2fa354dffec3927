#include "ChatTranscriptParser.hpp"

#include <unicode/regex.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ShareApple.hpp"
#include "ShareText.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

// Each pattern has two groups: 1 = sender, 2 = message text. Tried in this order.
constexpr std::array<const char*, 3> linePatterns = {
    // bracketTime: "[label] sender: text"
    R"(^\[[^\]]{1,32}\]\s*([^:：]{1,40})[:：]\s*(.*)$)",
    // timeFirst: "12:34 sender: text"
    R"(^(?:\d{1,2}:\d{2}(?::\d{2})?)\s+([^:：]{1,40})[:：]\s*(.*)$)",
    // senderFirst: "sender 12:34 text", "sender [12:34] text", "sender 2024/1/2 12:34 text"
    R"(^([^:：\d][^:：]{0,39}?)\s+(?:\d{1,2}:\d{2}(?::\d{2})?|\[\d{1,2}:\d{2}(?::\d{2})?\]|\d{4}[-/]\d{1,2}[-/]\d{1,2}\s+\d{1,2}:\d{2}(?::\d{2})?)[:：]?\s*(.*)$)",
};

using PatternSet = std::array<std::unique_ptr<icu::RegexPattern>, linePatterns.size()>;

/// The compiled patterns, built once on first use and shared by all threads (a RegexPattern is
/// immutable; matchers are made per parse).
const PatternSet& compiledPatterns() {
  static const PatternSet patterns = [] {
    PatternSet compiled;
    for (std::size_t index = 0; index < linePatterns.size(); ++index) {
      UErrorCode status = U_ZERO_ERROR;
      UParseError parseError{};
      compiled[index].reset(icu::RegexPattern::compile(
          icu::UnicodeString::fromUTF8(linePatterns[index]), 0, parseError, status));
      if (U_FAILURE(status)) {
        std::fprintf(stderr, "chat line pattern %zu does not compile: %s\n", index,
                     u_errorName(status));
        std::abort();
      }
    }
    return compiled;
  }();
  return patterns;
}

struct MessageLine {
  std::string sender;
  std::string text;
};

/// Matches single lines against the patterns; holds one matcher per pattern.
class LineMatcher {
 public:
  LineMatcher() {
    for (std::size_t index = 0; index < matchers_.size(); ++index) {
      UErrorCode status = U_ZERO_ERROR;
      matchers_[index].reset(compiledPatterns()[index]->matcher(status));
    }
  }

  std::optional<MessageLine> match(std::string_view line) {
    // Every pattern needs a colon (after the sender, or inside a clock time): lines without one
    // skip the regex engine.
    if (line.find(':') == std::string_view::npos && line.find("：") == std::string_view::npos) {
      return std::nullopt;
    }
    line_ = icu::UnicodeString::fromUTF8(
        icu::StringPiece(line.data(), static_cast<int32_t>(line.size())));
    for (auto& matcher : matchers_) {
      if (matcher == nullptr) continue;
      auto result = matchWith(*matcher);
      if (result) return result;
    }
    return std::nullopt;
  }

 private:
  std::optional<MessageLine> matchWith(icu::RegexMatcher& matcher) {
    UErrorCode status = U_ZERO_ERROR;
    matcher.reset(line_);
    if (!matcher.find(status) || U_FAILURE(status)) return std::nullopt;
    if (matcher.start(1, status) < 0 || matcher.start(2, status) < 0 || U_FAILURE(status)) {
      return std::nullopt;
    }
    auto sender = groupText(matcher, 1);
    if (sender.empty()) return std::nullopt;
    return MessageLine{std::move(sender), groupText(matcher, 2)};
  }

  static std::string groupText(icu::RegexMatcher& matcher, int32_t group) {
    UErrorCode status = U_ZERO_ERROR;
    std::string text;
    matcher.group(group, status).toUTF8String(text);
    return std::string(UnicodeText::trimmedBlanks(text));
  }

  std::array<std::unique_ptr<icu::RegexMatcher>, linePatterns.size()> matchers_;
  icu::UnicodeString line_;
};

/// Collects messages: a sender line starts a message, continuation lines extend it.
class MessageCollector {
 public:
  void startMessage(MessageLine line) {
    flush();
    sender_ = std::move(line.sender);
    body_ = std::move(line.text);
  }
  void appendContinuation(std::string_view line) {
    body_ += '\n';
    body_ += line;
  }
  bool hasSender() const { return sender_.has_value(); }
  std::size_t count() const { return messages_.size(); }

  void flush() {
    if (!sender_) return;
    const auto text = UnicodeText::trimmed(body_);
    if (!text.empty()) {
      ChatMessage message;
      message.sender = *sender_;
      message.type = MessageTypeValues::text;
      message.text = ShareText::truncateUTF8(text, ShareApple::maxChatMessageBytes, true).text;
      messages_.push_back(std::move(message));
    }
    body_.clear();
  }

  std::vector<ChatMessage> take() { return std::move(messages_); }

 private:
  std::optional<std::string> sender_;
  std::string body_;
  std::vector<ChatMessage> messages_;
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ChatPayload ParsedChat::payload() const& {
  return ParsedChat(*this).payload();
}

ChatPayload ParsedChat::payload() && {
  return ChatPayload{std::move(provider),
                     ChatConversation{std::nullopt, std::move(conversationName),
                                      std::move(conversationType), std::nullopt},
                     std::move(captureMethod), std::move(messages), std::move(note)};
}

std::optional<ParsedChat> ChatTranscriptParser::parse(
    std::string_view text, const std::optional<std::string>& sourceAppBundleID) {
  const auto lines = UnicodeText::lines(text);
  if (lines.size() < 2) return std::nullopt;
  LineMatcher matcher;
  MessageCollector collector;
  for (const auto rawLine : lines) {
    const auto line = UnicodeText::trimmedBlanks(rawLine);
    if (line.empty()) continue;
    if (auto message = matcher.match(line)) {
      collector.startMessage(*std::move(message));
    } else if (collector.hasSender()) {
      collector.appendContinuation(line);
    }
    if (collector.count() >= ShareApple::maxChatMessages) break;
  }
  collector.flush();
  auto messages = collector.take();
  if (messages.size() < 2) return std::nullopt;
  if (messages.size() > ShareApple::maxChatMessages) messages.resize(ShareApple::maxChatMessages);
  return ParsedChat{provider(sourceAppBundleID), std::nullopt,
                    ConversationTypeValues::dm,  CaptureMethodValues::shareSheet,
                    std::move(messages),         note};
}

std::string ChatTranscriptParser::provider(const std::optional<std::string>& forBundleID) {
  if (!forBundleID) return ChatProviderValues::other;
  const auto id = UnicodeText::lowercased(*forBundleID);
  if (id == "com.tencent.xin") return ChatProviderValues::wechat;
  if (startsWith(id, "com.tencent.mqq") || startsWith(id, "com.tencent.mobileqq")) {
    return ChatProviderValues::qq;
  }
  if (id == "com.atebits.tweetie2") return ChatProviderValues::x;
  if (startsWith(id, "com.facebook.")) return ChatProviderValues::facebook;
  if (id == "net.whatsapp.whatsapp") return ChatProviderValues::whatsapp;
  if (id == "ph.telegra.telegraph") return ChatProviderValues::telegram;
  if (startsWith(id, "org.whispersystems.")) return ChatProviderValues::signal;
  return ChatProviderValues::other;
}

}  // namespace lumo

#include "SharePayloadFactory.hpp"

#include <fmt/format.h>

#include <set>

#include "ChatTranscriptParser.hpp"
#include "ShareApple.hpp"
#include "ShareDateFormat.hpp"
#include "ShareText.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"

namespace lumo::SharePayloadFactory {
namespace {

bool nonEmpty(const std::optional<std::string>& text) {
  return text && !text->empty();
}

std::optional<std::string> fallbackTitle(const std::optional<ChatPayload>& chat,
                                         const std::optional<Url>& url,
                                         const std::vector<StagedAttachment>& attachments) {
  if (chat && nonEmpty(chat->conversation.name)) return chat->conversation.name;
  if (url && url->host()) return url->host();
  if (!attachments.empty()) {
    return attachments.front().originalName.value_or(attachments.front().fileName);
  }
  return std::nullopt;
}

std::string messageLine(const ChatMessage& message) {
  auto prefix = message.sender;
  if (message.sentAt) {
    prefix = "[" + ShareDateFormat::localTime(*message.sentAt, "HH:mm") + "] " + message.sender;
  }
  return "- " + prefix + "：" + message.text.value_or("");
}

}  // namespace

SharePayload makePayload(const std::string& clientShareId, std::int64_t createdAtMs,
                         const ShareSource& source, const std::optional<std::string>& text,
                         const std::optional<Url>& url,
                         const std::vector<StagedAttachment>& attachments,
                         const std::string& captureMethod) {
  auto normalized = normalizeText(text);
  auto chat = makeChat(normalized, source, captureMethod);
  auto kind = deriveKind(normalized, url, attachments, chat);
  auto title = ShareText::title(normalized, fallbackTitle(chat, url, attachments),
                                ShareApple::maxTitleCharacters);
  ShareStringMap meta{
      {"capture", captureMethod}, {"platform", source.platform}, {"client", clientMetaValue}};
  std::optional<std::string> urlText;
  if (url) urlText = url->absoluteString();
  return SharePayload{clientShareId,      createdAtMs,      source,
                      std::move(kind),    std::move(title), std::move(normalized),
                      std::move(urlText), std::move(chat),  std::move(meta)};
}

std::optional<std::string> normalizeText(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto trimmed = UnicodeText::trimmed(*text);
  if (trimmed.empty()) return std::nullopt;
  return ShareText::truncateUTF8(trimmed, ShareApple::maxTextBytes, true).text;
}

std::optional<ChatPayload> makeChat(const std::optional<std::string>& from,
                                    const ShareSource& source, const std::string& captureMethod) {
  if (!nonEmpty(from)) return std::nullopt;
  auto parsed = ChatTranscriptParser::parse(*from, source.app);
  if (!parsed) return std::nullopt;
  parsed->captureMethod = captureMethod;
  return std::move(*parsed).payload();
}

std::string deriveKind(const std::optional<std::string>& text, const std::optional<Url>& url,
                       const std::vector<StagedAttachment>& attachments,
                       const std::optional<ChatPayload>& chat) {
  if (chat) return ShareKindValues::chat;
  if (!attachments.empty()) {
    std::set<std::string> types;
    for (const auto& attachment : attachments) types.insert(attachment.type);
    if (types.size() > 1) return ShareKindValues::mixed;
    const auto& type = *types.begin();
    const bool media = type == ItemTypeValues::image || type == ItemTypeValues::audio ||
                       type == ItemTypeValues::video;
    return media ? type : std::string(ShareKindValues::file);
  }
  if (!url) return ShareKindValues::text;
  if (nonEmpty(text) && *text != url->absoluteString()) return ShareKindValues::mixed;
  return ShareKindValues::link;
}

std::string displayTitle(const StagedShare& staged) {
  if (nonEmpty(staged.payload.title)) return *staged.payload.title;
  if (!staged.attachments.empty() && nonEmpty(staged.attachments.front().originalName)) {
    return *staged.attachments.front().originalName;
  }
  return staged.payload.kind;
}

std::optional<std::string> displayPreview(const StagedShare& staged) {
  const auto& payload = staged.payload;
  if (payload.chat && !payload.chat->messages.empty()) {
    const auto& first = payload.chat->messages.front();
    return payload.chat->provider + " " + first.sender + "：" + first.text.value_or("");
  }
  if (nonEmpty(payload.text)) return payload.text;
  if (payload.url) return payload.url;
  if (!staged.attachments.empty()) {
    const auto& first = staged.attachments.front();
    return first.type + " · " + first.originalName.value_or(first.fileName) + " · " +
           std::to_string(first.size) + " B";
  }
  return std::nullopt;
}

std::optional<std::string> markdown(const SharePayload& payload,
                                    const std::optional<std::string>& note) {
  std::vector<std::string> blocks;
  if (nonEmpty(payload.title)) blocks.push_back("# " + *payload.title);
  if (!payload.chat && nonEmpty(payload.text)) blocks.push_back(*payload.text);
  if (nonEmpty(payload.url) && payload.text != payload.url) {
    blocks.push_back("链接：" + *payload.url);
  }
  if (payload.chat) blocks.push_back(chatMarkdown(*payload.chat));
  if (nonEmpty(note)) blocks.push_back("备注：" + *note);
  if (blocks.empty()) return std::nullopt;
  return fmt::format("{}", fmt::join(blocks, "\n\n"));
}

std::string chatMarkdown(const ChatPayload& chat) {
  std::vector<std::string> lines;
  lines.push_back("## 聊天记录（" + chat.provider + " · " +
                  chat.conversation.name.value_or(chat.conversation.type) + "）");
  for (const auto& message : chat.messages) lines.push_back(messageLine(message));
  if (nonEmpty(chat.note)) {
    lines.emplace_back();
    lines.push_back("> " + *chat.note);
  }
  return fmt::format("{}", fmt::join(lines, "\n"));
}

std::string timestamp(std::int64_t epochMs) {
  return ShareDateFormat::localTime(epochMs, "yyyyMMdd-HHmmss");
}

std::string zipFileName(std::int64_t createdAtMs) {
  return "lumo-share-" + timestamp(createdAtMs) + ".zip";
}

std::string messageFileName(std::int64_t createdAtMs, bool markdown) {
  return "message-" + timestamp(createdAtMs) + "." + (markdown ? "md" : "txt");
}

}  // namespace lumo::SharePayloadFactory

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareJSONCoding.hpp"
#include "ShareStringMap.hpp"

namespace lumo {

/// The conversation a chat transcript belongs to.
struct ChatConversation {
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::string type;  ///< one of ConversationTypeValues
  std::optional<std::int64_t> participantCount;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("id", self.id), JSONKey("name", self.name),
                      JSONKey("type", self.type),
                      JSONKey("participantCount", self.participantCount));
  }
  bool operator==(const ChatConversation&) const = default;
};

/// One message of a chat transcript. Transcripts parsed from text fill only `sender`, `type` and
/// `text`; the other fields carry what richer sources provide.
struct ChatMessage {
  std::optional<std::string> id;
  std::string sender;
  std::optional<std::int64_t> sentAt;
  std::string type;  ///< one of MessageTypeValues
  std::optional<std::string> text;
  std::optional<std::int64_t> itemIndex;
  std::optional<std::string> replyToId;
  std::optional<ShareStringMap> meta;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("id", self.id), JSONKey("sender", self.sender),
                      JSONKey("sentAt", self.sentAt), JSONKey("type", self.type),
                      JSONKey("text", self.text), JSONKey("itemIndex", self.itemIndex),
                      JSONKey("replyToId", self.replyToId), JSONKey("meta", self.meta));
  }
  bool operator==(const ChatMessage&) const = default;
};

/// A parsed chat transcript.
struct ChatPayload {
  std::string provider;  ///< one of ChatProviderValues
  ChatConversation conversation;
  std::string captureMethod;  ///< one of CaptureMethodValues
  std::vector<ChatMessage> messages;
  std::optional<std::string> note;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("provider", self.provider),
                      JSONKey("conversation", self.conversation),
                      JSONKey("captureMethod", self.captureMethod),
                      JSONKey("messages", self.messages), JSONKey("note", self.note));
  }
  bool operator==(const ChatPayload&) const = default;
};

}  // namespace lumo

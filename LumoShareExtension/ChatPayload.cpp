#include "ChatPayload.hpp"

namespace lumo {

ChatConversation ChatConversation::decode(const JSONObjectReader& reader) {
  return ChatConversation{
      reader.optional<std::string>("id"),
      reader.optional<std::string>("name"),
      reader.required<std::string>("type"),
      reader.optional<std::int64_t>("participantCount"),
  };
}

JSONValue ChatConversation::encode() const {
  return JSONObjectWriter()
      .setOptional("id", id)
      .setOptional("name", name)
      .set("type", type)
      .setOptional("participantCount", participantCount)
      .take();
}

ChatMessage ChatMessage::decode(const JSONObjectReader& reader) {
  return ChatMessage{
      reader.optional<std::string>("id"),        reader.required<std::string>("sender"),
      reader.optional<std::int64_t>("sentAt"),   reader.required<std::string>("type"),
      reader.optional<std::string>("text"),      reader.optional<std::int64_t>("itemIndex"),
      reader.optional<std::string>("replyToId"), reader.optional<ShareStringMap>("meta"),
  };
}

JSONValue ChatMessage::encode() const {
  return JSONObjectWriter()
      .setOptional("id", id)
      .set("sender", sender)
      .setOptional("sentAt", sentAt)
      .set("type", type)
      .setOptional("text", text)
      .setOptional("itemIndex", itemIndex)
      .setOptional("replyToId", replyToId)
      .setOptional("meta", meta)
      .take();
}

ChatPayload ChatPayload::decode(const JSONObjectReader& reader) {
  return ChatPayload{
      reader.required<std::string>("provider"),
      reader.required<ChatConversation>("conversation"),
      reader.required<std::string>("captureMethod"),
      reader.required<std::vector<ChatMessage>>("messages"),
      reader.optional<std::string>("note"),
  };
}

JSONValue ChatPayload::encode() const {
  return JSONObjectWriter()
      .set("provider", provider)
      .set("conversation", conversation)
      .set("captureMethod", captureMethod)
      .set("messages", messages)
      .setOptional("note", note)
      .take();
}

}  // namespace lumo

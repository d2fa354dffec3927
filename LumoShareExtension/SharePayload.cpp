#include "SharePayload.hpp"

namespace lumo {

SharePayload SharePayload::decode(const JSONObjectReader& reader) {
  return SharePayload{
      reader.optional<std::string>("clientShareId"), reader.optional<std::int64_t>("createdAt"),
      reader.optional<ShareSource>("source"),        reader.required<std::string>("kind"),
      reader.optional<std::string>("title"),         reader.optional<std::string>("text"),
      reader.optional<std::string>("url"),           reader.optional<ChatPayload>("chat"),
      reader.optional<ShareStringMap>("meta"),
  };
}

JSONValue SharePayload::encode() const {
  return JSONObjectWriter()
      .setOptional("clientShareId", clientShareId)
      .setOptional("createdAt", createdAt)
      .setOptional("source", source)
      .set("kind", kind)
      .setOptional("title", title)
      .setOptional("text", text)
      .setOptional("url", url)
      .setOptional("chat", chat)
      .setOptional("meta", meta)
      .take();
}

}  // namespace lumo

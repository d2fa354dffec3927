#include "StagedAttachment.hpp"

#include "UnicodeText.hpp"

namespace lumo {

std::string StagedAttachment::uploadFileName() const {
  if (originalName) {
    const auto name = UnicodeText::trimmed(*originalName);
    if (!name.empty()) return std::string(name);
  }
  return fileName;
}

StagedAttachment StagedAttachment::decode(const JSONObjectReader& reader) {
  return StagedAttachment{
      reader.required<std::string>("clientItemId"), reader.required<std::string>("fileName"),
      reader.required<std::string>("type"),         reader.required<std::string>("mime"),
      reader.optional<std::string>("originalName"), reader.required<std::int64_t>("size"),
      reader.required<std::string>("sha256"),       reader.optional<std::int64_t>("width"),
      reader.optional<std::int64_t>("height"),      reader.optional<std::int64_t>("durationMs"),
  };
}

JSONValue StagedAttachment::encode() const {
  return JSONObjectWriter()
      .set("clientItemId", clientItemId)
      .set("fileName", fileName)
      .set("type", type)
      .set("mime", mime)
      .setOptional("originalName", originalName)
      .set("size", size)
      .set("sha256", sha256)
      .setOptional("width", width)
      .setOptional("height", height)
      .setOptional("durationMs", durationMs)
      .take();
}

}  // namespace lumo

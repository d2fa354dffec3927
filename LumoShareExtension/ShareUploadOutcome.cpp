#include "ShareUploadOutcome.hpp"

namespace lumo {

ShareUploadOutcome ShareUploadOutcome::decode(const JSONObjectReader& reader) {
  return ShareUploadOutcome{
      reader.required<std::string>("kind"),       reader.required<std::string>("slug"),
      reader.required<std::string>("shortUrl"),   reader.optional<std::string>("title"),
      reader.required<bool>("anonymous"),         reader.required<std::int64_t>("expiresAtMs"),
      reader.optional<std::string>("claimToken"), reader.required<std::int64_t>("uploadedAtMs"),
  };
}

JSONValue ShareUploadOutcome::encode() const {
  return JSONObjectWriter()
      .set("kind", kind)
      .set("slug", slug)
      .set("shortUrl", shortUrl)
      .setOptional("title", title)
      .set("anonymous", anonymous)
      .set("expiresAtMs", expiresAtMs)
      .setOptional("claimToken", claimToken)
      .set("uploadedAtMs", uploadedAtMs)
      .take();
}

}  // namespace lumo

#include "StagedShare.hpp"

#include "SaturatingMath.hpp"

namespace lumo {
namespace {

/// `name` as a single path component. Bytes that would split or leave the folder are written
/// as %XX; every other name, '%' included, stays as it is.
std::string singlePathComponent(const std::string& name) {
  if (name.empty()) return "%00";
  if (name == "." || name == "..") return name == "." ? "%2E" : "%2E%2E";
  std::string component;
  component.reserve(name.size());
  for (const char byte : name) {
    if (byte == '/') {
      component += "%2F";
    } else if (byte == '\0') {
      component += "%00";
    } else {
      component += byte;
    }
  }
  return component;
}

std::int64_t sumOfSizes(const std::vector<StagedAttachment>& attachments) {
  // Saturating: sizes from a damaged file must not overflow into undefined behaviour.
  std::int64_t total = 0;
  for (const auto& attachment : attachments) total = saturatingAdd(total, attachment.size);
  return total;
}

}  // namespace

std::filesystem::path StagedShare::url(const StagedAttachment& attachment,
                                       const std::filesystem::path& shareDirectory) const {
  return confinedPath(attachment.fileName, shareDirectory);
}

std::filesystem::path StagedShare::confinedPath(const std::string& fileName,
                                                const std::filesystem::path& shareDirectory) {
  return shareDirectory / singlePathComponent(fileName);
}

StagedShare StagedShare::decode(const JSONObjectReader& reader) {
  StagedShare share{
      reader.required<std::string>("clientShareId"),
      reader.valueOr<std::int64_t>("createdAt", 0),
      reader.required<SharePayload>("payload"),
      reader.valueOr<std::vector<StagedAttachment>>("attachments", {}),
      reader.valueOr<std::string>("displayTitle", ""),
      reader.optional<std::string>("displayPreview"),
      0,
      reader.optional<ShareOptions>("options"),
  };
  auto totalBytes = reader.optional<std::int64_t>("totalBytes");
  share.totalBytes = totalBytes ? *totalBytes : sumOfSizes(share.attachments);
  return share;
}

JSONValue StagedShare::encode() const {
  return JSONObjectWriter()
      .set("clientShareId", clientShareId)
      .set("createdAt", createdAt)
      .set("attachments", attachments)
      .set("displayTitle", displayTitle)
      .setOptional("displayPreview", displayPreview)
      .set("totalBytes", totalBytes)
      .setOptional("options", options)
      .set("payload", payload)
      .take();
}

}  // namespace lumo

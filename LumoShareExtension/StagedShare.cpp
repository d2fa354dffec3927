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
  auto share = decodeJSONKeys<StagedShare>(reader);
  if (!reader.optional<std::int64_t>("totalBytes"))
    share.totalBytes = sumOfSizes(share.attachments);
  return share;
}

}  // namespace lumo

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareSource.hpp"
#include "Url.hpp"

namespace lumo {

/// One file copied into the staging folder.
struct RawAttachment {
  enum class Kind { image, audio, video, file };

  Kind kind = Kind::file;
  std::string mime;  ///< "application/octet-stream" when unknown, "application/zip" for a folder
  std::optional<std::string> originalName;
  std::string localFileName;  ///< name inside the staging folder
  std::int64_t size = 0;
  std::optional<std::int64_t> width;
  std::optional<std::int64_t> height;
  std::optional<std::int64_t> durationMs;
  /// SHA-256 of the staged bytes when the copy computed it on the way; staging hashes otherwise.
  std::optional<std::string> sha256;

  bool operator==(const RawAttachment&) const = default;
};

/// "image", "audio", "video", "file".
const char* rawAttachmentKindName(RawAttachment::Kind kind);

/// What the shared items were read into before staging.
struct RawSharePayload {
  std::optional<std::string> text;  ///< every shared text, merged, untrimmed
  std::optional<Url> url;           ///< the first web link, or the text when it is one link
  std::vector<RawAttachment> attachments;
  ShareSource source;
  std::vector<std::string> skippedReasons;  ///< short machine-readable reasons, in order
  std::vector<std::string> failures;        ///< readable texts of archive failures

  /// No text, no link and no attachment.
  bool isEmpty() const { return (!text || text->empty()) && !url && attachments.empty(); }
  bool operator==(const RawSharePayload&) const = default;
};

}  // namespace lumo

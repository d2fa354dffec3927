#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// One file staged on disk for a share.
struct StagedAttachment {
  std::string clientItemId;  ///< identifier of the attachment within its share
  std::string fileName;      ///< name of the staged file inside the share's folder
  std::string type;          ///< one of ItemTypeValues
  std::string mime;
  std::optional<std::string> originalName;  ///< the name the user saw
  std::int64_t size = 0;                    ///< bytes
  std::string sha256;                       ///< lower-case hexadecimal digest of the staged file
  std::optional<std::int64_t> width;
  std::optional<std::int64_t> height;
  std::optional<std::int64_t> durationMs;

  /// The name to present when uploading: the trimmed original name, else the staged file name.
  std::string uploadFileName() const;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("clientItemId", self.clientItemId),
                      JSONKey("fileName", self.fileName), JSONKey("type", self.type),
                      JSONKey("mime", self.mime), JSONKey("originalName", self.originalName),
                      JSONKey("size", self.size), JSONKey("sha256", self.sha256),
                      JSONKey("width", self.width), JSONKey("height", self.height),
                      JSONKey("durationMs", self.durationMs));
  }
  bool operator==(const StagedAttachment&) const = default;
};

}  // namespace lumo

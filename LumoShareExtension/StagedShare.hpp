#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ShareJSONCoding.hpp"
#include "ShareOptions.hpp"
#include "SharePayload.hpp"
#include "StagedAttachment.hpp"

namespace lumo {

/// A share staged on disk and queued: the unit the queue stores and the publishing client
/// uploads. Fields are declared in this order; the JSON form writes `payload` last.
struct StagedShare {
  std::string clientShareId;  ///< a lower-case UUID for shares from the panel
  std::int64_t createdAt = 0;
  SharePayload payload;
  std::vector<StagedAttachment> attachments;  ///< in intake order
  std::string displayTitle;
  std::optional<std::string> displayPreview;
  std::int64_t totalBytes = 0;
  std::optional<ShareOptions> options;

  /// Where `attachment`'s staged file lives inside `shareDirectory`. The file name is always
  /// taken as one path component: a name from a damaged or hostile record ("..", "a/b", "")
  /// is escaped so that the location never leaves the share's folder.
  std::filesystem::path url(const StagedAttachment& attachment,
                            const std::filesystem::path& shareDirectory) const;
  /// The location of a staged file named `fileName` inside `shareDirectory`, confined as above.
  static std::filesystem::path confinedPath(const std::string& fileName,
                                            const std::filesystem::path& shareDirectory);

  /// Reads the keys below; a missing "totalBytes" is the sum of the attachments' sizes.
  static StagedShare decode(const JSONObjectReader& reader);
  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("clientShareId", self.clientShareId),
                      defaultedJSONKey("createdAt", self.createdAt),
                      defaultedJSONKey("attachments", self.attachments),
                      defaultedJSONKey("displayTitle", self.displayTitle),
                      JSONKey("displayPreview", self.displayPreview),
                      defaultedJSONKey("totalBytes", self.totalBytes),
                      JSONKey("options", self.options), JSONKey("payload", self.payload));
  }
  bool operator==(const StagedShare&) const = default;
};

}  // namespace lumo

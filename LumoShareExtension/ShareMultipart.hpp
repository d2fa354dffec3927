#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lumo {

/// The file part of a multipart upload.
struct ShareMultipartFile {
  std::string filename;
  std::string mimeType;
  std::string data;

  bool operator==(const ShareMultipartFile&) const = default;
};

/// multipart/form-data bodies for uploads: text fields, then one file part named "file".
namespace ShareMultipart {

struct Body {
  std::string data;
  std::string contentType;  ///< "multipart/form-data; boundary=<boundary>"
};

/// The encoded body. Field names and values go in as they are; the caller picks a boundary that
/// cannot occur in them or in the file. The file name is made header-safe: every double quote,
/// CR and LF becomes "_", and an empty name becomes "file".
Body body(const std::vector<std::pair<std::string, std::string>>& fields,
          const ShareMultipartFile& file, const std::string& boundary);

/// As above, taking over the file's bytes: the body is built in the file's own buffer, so a
/// large file is held once. Read the file into a buffer with `framingReserve` bytes to spare.
Body body(const std::vector<std::pair<std::string, std::string>>& fields, ShareMultipartFile&& file,
          const std::string& boundary);

/// Room to leave in a file's buffer for the framing `body` adds around it: part headers, a
/// metadata field and a long file name.
inline constexpr std::size_t framingReserve = 16384;

/// The file name as the file part's header carries it.
std::string safeFileName(const std::string& filename);

}  // namespace ShareMultipart
}  // namespace lumo

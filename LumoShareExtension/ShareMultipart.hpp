#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ShareRequestParts.hpp"

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

/// The same body as pieces to stream: the framing in memory around the file's `content`, whose
/// open files are read only while the body is sent. Joined, the pieces are exactly the bytes
/// `body` gives for the same file.
struct StreamedBody {
  ShareRequestParts parts;
  std::string contentType;  ///< "multipart/form-data; boundary=<boundary>"
};
StreamedBody streamedBody(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::string& filename, const std::string& mimeType,
                          const ShareRequestParts& content, const std::string& boundary);

/// The file name as the file part's header carries it.
std::string safeFileName(const std::string& filename);

}  // namespace ShareMultipart
}  // namespace lumo

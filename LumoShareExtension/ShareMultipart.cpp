#include "ShareMultipart.hpp"

#include <algorithm>

namespace lumo::ShareMultipart {
namespace {

constexpr std::string_view crlf = "\r\n";

}  // namespace

std::string safeFileName(const std::string& filename) {
  std::string safe = filename;
  std::replace_if(
      safe.begin(), safe.end(), [](char c) { return c == '"' || c == '\r' || c == '\n'; }, '_');
  return safe.empty() ? "file" : safe;
}

namespace {

/// Everything before the file's bytes: the fields, then the file part's headers.
std::string head(const std::vector<std::pair<std::string, std::string>>& fields,
                 const std::string& filename, const std::string& mimeType,
                 const std::string& boundary) {
  std::string data;
  for (const auto& [name, value] : fields) {
    data.append("--").append(boundary).append(crlf);
    data.append("Content-Disposition: form-data; name=\"").append(name).append("\"");
    data.append(crlf).append(crlf);
    data.append(value).append(crlf);
  }
  data.append("--").append(boundary).append(crlf);
  data.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
      .append(safeFileName(filename))
      .append("\"")
      .append(crlf);
  data.append("Content-Type: ").append(mimeType).append(crlf).append(crlf);
  return data;
}

std::string contentTypeOf(const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

}  // namespace

StreamedBody streamedBody(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::string& filename, const std::string& mimeType,
                          const ShareRequestParts& content, const std::string& boundary) {
  ShareRequestParts parts;
  parts.parts.reserve(content.parts.size() + 2);
  parts.parts.emplace_back(head(fields, filename, mimeType, boundary));
  parts.parts.insert(parts.parts.end(), content.parts.begin(), content.parts.end());
  parts.parts.emplace_back(std::string(crlf) + "--" + boundary + "--" + std::string(crlf));
  return {std::move(parts), contentTypeOf(boundary)};
}

Body body(const std::vector<std::pair<std::string, std::string>>& fields,
          const ShareMultipartFile& file, const std::string& boundary) {
  const auto streamed =
      streamedBody(fields, file.filename, file.mimeType, ShareRequestParts{{file.data}}, boundary);
  return {streamed.parts.joined(), streamed.contentType};
}

}  // namespace lumo::ShareMultipart

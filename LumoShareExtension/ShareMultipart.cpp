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
                 const ShareMultipartFile& file, const std::string& boundary) {
  std::string data;
  for (const auto& [name, value] : fields) {
    data.append("--").append(boundary).append(crlf);
    data.append("Content-Disposition: form-data; name=\"").append(name).append("\"");
    data.append(crlf).append(crlf);
    data.append(value).append(crlf);
  }
  data.append("--").append(boundary).append(crlf);
  data.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
      .append(safeFileName(file.filename))
      .append("\"")
      .append(crlf);
  data.append("Content-Type: ").append(file.mimeType).append(crlf).append(crlf);
  return data;
}

std::string tail(const std::string& boundary) {
  return std::string(crlf) + "--" + boundary + "--" + std::string(crlf);
}

}  // namespace

Body body(const std::vector<std::pair<std::string, std::string>>& fields,
          const ShareMultipartFile& file, const std::string& boundary) {
  auto data = head(fields, file, boundary);
  const auto end = tail(boundary);
  data.reserve(data.size() + file.data.size() + end.size());
  data.append(file.data).append(end);
  return {std::move(data), "multipart/form-data; boundary=" + boundary};
}

Body body(const std::vector<std::pair<std::string, std::string>>& fields, ShareMultipartFile&& file,
          const std::string& boundary) {
  const auto start = head(fields, file, boundary);
  auto data = std::move(file.data);
  // Within the capacity the file was read into, this moves the bytes instead of copying them.
  data.insert(0, start);
  data.append(tail(boundary));
  return {std::move(data), "multipart/form-data; boundary=" + boundary};
}

}  // namespace lumo::ShareMultipart

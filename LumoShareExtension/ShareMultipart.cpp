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

Body body(const std::vector<std::pair<std::string, std::string>>& fields,
          const ShareMultipartFile& file, const std::string& boundary) {
  std::string data;
  data.reserve(file.data.size() + 256 + fields.size() * 64);
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
  data.append(file.data).append(crlf);
  data.append("--").append(boundary).append("--").append(crlf);
  return {std::move(data), "multipart/form-data; boundary=" + boundary};
}

}  // namespace lumo::ShareMultipart

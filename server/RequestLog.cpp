#include "RequestLog.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace lumo::service {

thread_local RequestNotes requestNotes;

RequestLog::RequestLog(const std::filesystem::path& path)
    : path_(path), fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)) {
  if (!fd_.valid()) {
    throw std::runtime_error("cannot open the request log " + path.string() + ": " +
                             std::strerror(errno));
  }
}

void RequestLog::append(const JSONValue& line) {
  const auto text = ShareJSONEncoder::dump(line) + "\n";
  const std::lock_guard lock(mutex_);
  std::size_t written = 0;
  while (written < text.size()) {
    const auto count = ::write(fd_.get(), text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      std::fprintf(stderr, "request log %s: %s\n", path_.c_str(), std::strerror(errno));
      return;
    }
    written += static_cast<std::size_t>(count);
  }
}

}  // namespace lumo::service

#include "StandardInput.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "FileDescriptor.hpp"

namespace lumo::cli {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t sniffBytes = 4096;

std::string firstBytes(const fs::path& file) {
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  std::string sample(sniffBytes, '\0');
  const auto count = fd.valid() ? ::read(fd.get(), sample.data(), sample.size()) : -1;
  sample.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return sample;
}

/// "stdin" with the extension of the type the content looks like; "bin" when unknown, "txt" for
/// empty input.
std::string spoolName(const fs::path& file) {
  const auto sample = firstBytes(file);
  const auto type = sample.empty() ? ShareUTType::fromIdentifier(ShareUTType::plainText)
                                   : ShareUTType::fromContent(sample);
  const auto extension = type ? type->preferredFilenameExtension() : std::nullopt;
  return "stdin." + extension.value_or("bin");
}

}  // namespace

StandardInputSpool::StandardInputSpool(const ShareStorage& storage, int fd, std::uint64_t maxBytes)
    : queue_(storage), id_("stdin-" + makeLowercaseUUID()) {
  const auto folder = queue_.makeStagingDirectory(id_);
  const auto partial = folder / "stdin.part";
  try {
    FileCopy::copyHashing(fd, partial, maxBytes);
    file_ = folder / spoolName(partial);
    fs::rename(partial, file_);
  } catch (...) {
    queue_.discardStaging(id_);
    throw;
  }
}

StandardInputSpool::~StandardInputSpool() {
  queue_.discardStaging(id_);
}

std::optional<BoundedText> promptHidden(const std::string& prompt, std::size_t maxBytes) {
  const FileDescriptor tty(::open("/dev/tty", O_RDWR | O_CLOEXEC));
  if (!tty.valid()) return std::nullopt;
  termios saved{};
  const bool quiet = ::tcgetattr(tty.get(), &saved) == 0;
  if (quiet) {
    termios noEcho = saved;
    noEcho.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty.get(), TCSAFLUSH, &noEcho);  // type-ahead would have been shown: dropped
  }
  [[maybe_unused]] auto written = ::write(tty.get(), prompt.data(), prompt.size());
  BoundedText answer;
  for (char c; ::read(tty.get(), &c, 1) == 1 && c != '\n';) {
    if (answer.text.size() < maxBytes) {
      answer.text += c;
    } else {
      answer.truncated = true;
    }
  }
  if (quiet) ::tcsetattr(tty.get(), TCSAFLUSH, &saved);
  written = ::write(tty.get(), "\n", 1);
  return answer;
}

}  // namespace lumo::cli

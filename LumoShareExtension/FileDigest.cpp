#include "FileDigest.hpp"

#include "FileDescriptor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fmt/format.h>

namespace lumo::FileDigest {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what, const fs::path& file, int error) {
  throw fs::filesystem_error(what, file, std::error_code(error, std::generic_category()));
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

void Sha256::update(const void* data, std::size_t size) {
  EVP_DigestUpdate(context_.get(), data, size);
}

std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_.get(), digest, &length);
  std::string text;
  text.reserve(length * 2);
  for (unsigned int index = 0; index < length; ++index)
    text += fmt::format("{:02x}", digest[index]);
  return text;
}

std::string sha256Hex(const fs::path& file, std::size_t chunkSize) {
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) fail("cannot open file", file, errno);
  Sha256 hash;
  std::vector<char> buffer(std::max<std::size_t>(chunkSize, 1));
  for (;;) {
    const auto count = ::read(fd.get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) fail("cannot read file", file, errno);
    if (count == 0) break;
    hash.update(buffer.data(), static_cast<std::size_t>(count));
  }
  return hash.hex();
}

std::string sha256Hex(std::string_view data) {
  Sha256 hash;
  hash.update(data.data(), data.size());
  return hash.hex();
}

}  // namespace lumo::FileDigest

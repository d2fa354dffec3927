#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace lumo::FileDigest {

/// A running SHA-256 over pieces fed one after another.
class Sha256 {
 public:
  Sha256();
  void update(const void* data, std::size_t size);
  /// The digest as 64 lower-case hexadecimal digits; call once, after the last update.
  std::string hex();

 private:
  struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextFree> context_;
};

/// SHA-256 of a file as 64 lower-case hexadecimal digits, read in pieces of `chunkSize` bytes so
/// that memory stays flat. Throws std::filesystem::filesystem_error when the file cannot be
/// opened or read.
std::string sha256Hex(const std::filesystem::path& file, std::size_t chunkSize = 1048576);

/// SHA-256 of bytes in memory.
std::string sha256Hex(std::string_view data);

}  // namespace lumo::FileDigest

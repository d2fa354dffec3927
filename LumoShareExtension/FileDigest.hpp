#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumo::FileDigest {

/// SHA-256 of a file as 64 lower-case hexadecimal digits, read in pieces of `chunkSize` bytes so
/// that memory stays flat. Throws std::filesystem::filesystem_error when the file cannot be
/// opened or read.
std::string sha256Hex(const std::filesystem::path& file, std::size_t chunkSize = 1048576);

/// SHA-256 of bytes in memory.
std::string sha256Hex(std::string_view data);

}  // namespace lumo::FileDigest

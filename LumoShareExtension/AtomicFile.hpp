#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace lumo::AtomicFile {

/// Replaces `destination` with `bytes` in one step: the bytes go to a temporary file in the same
/// folder, are flushed to disk, given `mode`, and renamed over the destination; the folder is then
/// flushed so that the rename survives a crash. A reader sees the old or the new content, never a
/// mix. On failure the temporary file is removed, the destination is untouched and a
/// std::filesystem::filesystem_error is thrown. Missing parent folders are created first.
void write(const std::filesystem::path& destination, std::string_view bytes, mode_t mode);

/// The whole content of `file`; throws std::filesystem::filesystem_error when it cannot be read.
std::string read(const std::filesystem::path& file);

}  // namespace lumo::AtomicFile

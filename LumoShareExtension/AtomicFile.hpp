#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumo::AtomicFile {

/// Prefix of the temporary file that `write` makes beside a destination named N: "." + N + this,
/// followed by random characters. A crash can leave one behind; the queue sweeps old ones.
inline constexpr std::string_view temporaryInfix = ".tmp-";

/// Largest file `read` accepts: the store's files are small records.
inline constexpr std::size_t defaultReadLimit = 16 * 1024 * 1024;

/// Replaces `destination` with `bytes` in one step: the bytes go to a temporary file in the same
/// folder, are flushed to disk, given `mode`, and renamed over the destination; the folder is then
/// flushed so that the rename survives a crash. A reader sees the old or the new content, never a
/// mix. On failure the temporary file is removed, the destination is untouched and a
/// std::filesystem::filesystem_error is thrown. Missing parent folders are created first (0700).
void write(const std::filesystem::path& destination, std::string_view bytes, mode_t mode);

/// As `write`, but only into a folder that exists: a missing folder is an error, and a folder
/// removed while the write runs is never recreated (the write works on the folder it opened).
void writeInExistingFolder(const std::filesystem::path& destination, std::string_view bytes,
                           mode_t mode);

/// The whole content of the regular file `file`, at most `limit` bytes. Never blocks on a FIFO or
/// device: anything but a regular file is refused, as is a larger file. Throws
/// std::filesystem::filesystem_error.
std::string read(const std::filesystem::path& file, std::size_t limit = defaultReadLimit);

/// Creates `directory` and any missing parents, each new folder with mode 0700: every folder of
/// the store is private to its user. Throws std::filesystem::filesystem_error.
void createDirectories(const std::filesystem::path& directory);

}  // namespace lumo::AtomicFile

#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace lumo::FileCopy {

/// Copies the file `source` to the new file `destination` (mode 0600; an existing file there is
/// replaced) and answers the SHA-256 of the bytes written, as 64 lower-case hexadecimal digits.
///
/// The copy runs until the end of the file, whatever size the file system reports, so files of
/// /proc and files that grow while being read are copied whole. The kernel copies
/// (copy_file_range, which also reflinks where the file system can) while the calling thread
/// hashes what has landed in the destination, so the digest is of the staged bytes themselves.
/// Where the kernel refuses, an ordinary read loop copies and hashes in one pass.
///
/// Only regular files are copied: a FIFO, socket or device could block forever or never end.
/// Throws std::filesystem::filesystem_error; on failure the destination is removed.
/// `copied`, when given, hears on the calling thread how many bytes are staged and hashed so far.
std::string copyHashing(const std::filesystem::path& source,
                        const std::filesystem::path& destination,
                        const std::function<void(std::int64_t copied)>& copied = {});

/// As above, from an open readable descriptor of any kind (a pipe included), read to its end.
/// More than `maxBytes` bytes fail with EFBIG (file too large), without reading much further.
std::string copyHashing(int sourceFd, const std::filesystem::path& destination,
                        std::uint64_t maxBytes);

}  // namespace lumo::FileCopy

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "ShareArchiveError.hpp"

namespace lumo {

/// A running archiver: its process (leader of its own process group) and the folder's display
/// name, shared by the waiter and the time-limit watchdog.
struct ShareArchiveProcessWatch {
  pid_t process = -1;
  std::string name;
};

/// Zips shared folders with the system archiver (Info-ZIP zip) as a child process under a time
/// limit. The archive keeps the folder itself as its top entry, symlinks are stored as links,
/// and the archiver's output goes to a private log whose tail explains a failure.
class ShareArchive {
 public:
  static constexpr char defaultToolPath[] = "/usr/bin/zip";
  static constexpr double defaultTimeoutSeconds = 120;

  /// `toolPath` is the archiver to run; tests pass stand-ins.
  explicit ShareArchive(std::filesystem::path toolPath = defaultToolPath);

  /// Whether the archiver exists and is executable.
  bool isAvailable() const;

  /// Zips `sourceDirectory` into `destination` and answers the archive's size. The limit is at
  /// least one second; past it the archiver is terminated, and killed 3 s later. Throws
  /// ShareArchiveError, or std::filesystem::filesystem_error when the destination's folder cannot
  /// be created. On failure no partial destination and no log file remain, and no archiver
  /// process outlives the call.
  std::int64_t makeZip(const std::filesystem::path& sourceDirectory,
                       const std::filesystem::path& destination,
                       double timeoutSeconds = defaultTimeoutSeconds) const;

  /// The readable reason of a ShareArchiveError, else the error's description.
  static std::string describe(const std::exception& error);

  /// The end of an archiver log as one line: at most `limit` characters, "…" in front when cut.
  static std::string logTail(const std::filesystem::path& log, std::size_t limit = 400);

 private:
  std::filesystem::path toolPath_;
};

}  // namespace lumo

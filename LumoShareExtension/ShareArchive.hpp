#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ShareArchiveError.hpp"

namespace lumo {

/// Zips shared folders with the system archiver (Info-ZIP zip) as a child process under a time
/// limit. The archive keeps the folder itself as its top entry; a shared symlink to a folder is
/// archived as that folder under the link's name, while symlinks inside are stored as links. The
/// archiver runs with a fixed environment and dies with the process that started it; its output
/// goes to a private, unnamed log whose tail explains a failure.
class ShareArchive {
 public:
  /// Hears, about ten times a second while the archiver runs, how many bytes it has read so far
  /// (the folder's files, as the kernel counts the archiver's reads).
  using Reading = std::function<void(std::int64_t bytesRead)>;

  static constexpr char defaultToolPath[] = "/usr/bin/zip";
  static constexpr double defaultTimeoutSeconds = 120;

  /// `toolPath` is the archiver to run; tests pass stand-ins.
  explicit ShareArchive(std::filesystem::path toolPath = defaultToolPath);

  /// Whether the archiver exists and is executable.
  bool isAvailable() const;

  /// Zips `sourceDirectory` into `destination` and answers the archive's size. The limit is at
  /// least one second; past it the archiver is terminated, and killed 3 s later. Throws
  /// ShareArchiveError, or std::filesystem::filesystem_error when the destination's folder cannot
  /// be created or the finished archive cannot be moved into place. A folder of the tree that
  /// cannot be listed makes the source unavailable (the archiver would store it empty). On failure
  /// no partial destination and no log file remain, and no archiver process outlives the call.
  std::int64_t makeZip(const std::filesystem::path& sourceDirectory,
                       const std::filesystem::path& destination,
                       double timeoutSeconds = defaultTimeoutSeconds,
                       const Reading& reading = {}) const;

  /// The readable reason of a ShareArchiveError, else the error's description.
  static std::string describe(const std::exception& error);

  /// The end of an archiver log as one line: at most `limit` characters, "…" in front when cut.
  static std::string logTail(const std::filesystem::path& log, std::size_t limit = 400);

 private:
  /// Runs the archiver to its end under the time limit; throws unless it exited with 0.
  void runArchiver(const std::string& name, std::vector<std::string> arguments,
                   const std::filesystem::path& workingDirectory, int logFd, double timeoutSeconds,
                   const Reading& reading) const;

  std::filesystem::path toolPath_;
};

}  // namespace lumo

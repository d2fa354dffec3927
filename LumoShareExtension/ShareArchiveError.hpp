#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace lumo {

/// Why a folder could not be zipped. Every case names the folder; the readable reason (also the
/// error's description) is shown to the user. Reasons that name the archiver name the tool that
/// was actually run.
class ShareArchiveError : public std::exception {
 public:
  enum class Kind {
    sourceUnavailable,
    toolUnavailable,
    launchFailed,
    failed,
    timedOut,
    emptyArchive
  };

  static ShareArchiveError sourceUnavailable(std::string name);
  static ShareArchiveError toolUnavailable(std::string name, std::string path);
  static ShareArchiveError launchFailed(std::string name, std::string toolPath, std::string detail);
  static ShareArchiveError failed(std::string name, std::string toolPath, std::int32_t status,
                                  std::string detail);
  static ShareArchiveError timedOut(std::string name, std::int64_t seconds);
  static ShareArchiveError emptyArchive(std::string name);

  Kind kind() const noexcept { return kind_; }
  const std::string& name() const noexcept { return name_; }
  const std::string& toolPath() const noexcept { return toolPath_; }
  const std::string& detail() const noexcept { return detail_; }
  std::int32_t status() const noexcept { return status_; }
  std::int64_t seconds() const noexcept { return seconds_; }

  const std::string& readableReason() const noexcept { return reason_; }
  /// The reason as the person who shared a folder reads it: the folder named as a folder, a full
  /// disk and unreadable files said plainly, and none of the archiver's own (English) output,
  /// which the log keeps.
  std::string personReason() const;
  /// Whether the archiver stopped because the disk (or the person's quota) was full.
  bool diskFull() const;
  const char* what() const noexcept override { return reason_.c_str(); }

  bool operator==(const ShareArchiveError& other) const;

 private:
  ShareArchiveError(Kind kind, std::string name, std::string toolPath, std::string detail,
                    std::int32_t status, std::int64_t seconds);
  std::string makeReason() const;
  /// What went wrong, after the name of the folder in the reason.
  std::string problem() const;

  Kind kind_;
  std::string name_;
  std::string toolPath_;
  std::string detail_;
  std::int32_t status_ = 0;
  std::int64_t seconds_ = 0;
  std::string reason_;
};

}  // namespace lumo

#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "RawSharePayload.hpp"
#include "ShareArchive.hpp"
#include "ShareItemProvider.hpp"
#include "ShareSource.hpp"
#include "ShareUTType.hpp"

namespace lumo {

/// How far staging has come, in bytes of the shared files and folders: `done` of `total`, never
/// falling and never above `total`, which it reaches when the load ends. A folder counts the bytes
/// of its files as the archiver reads them. Called on the loading thread.
using ShareStagingProgress = std::function<void(std::int64_t done, std::int64_t total)>;

/// Reads item providers, strictly one after another, into a RawSharePayload: texts merged, the
/// first web link taken, files copied into the staging folder as "NN-name", folders zipped.
/// Problems with single items are not errors but skip reasons; `load` never throws.
class ShareTargetLoader {
 public:
  /// A provider that could not be used: its skip reason ("code" or "code:item"), and for archive
  /// failures the reason in the words of the person who shared the folder. A file that could not
  /// be copied has its `cause` in the person's words when the system named one (a full disk, no
  /// permission); unlike a failure, it does not turn a share left empty into a failed one.
  struct Skipped {
    std::string reason;
    std::optional<std::string> failure;
    std::optional<std::string> cause = std::nullopt;
    bool operator==(const Skipped&) const = default;
  };
  /// Hears each provider the load skips, on the loading thread, as it is skipped.
  using SkipObserver = std::function<void(const Skipped&)>;
  /// The result of copying one provider.
  using CopyOutcome = std::variant<RawAttachment, Skipped>;

  static constexpr double archiveTimeoutSeconds = 120;
  /// Why a file could not be copied, in the person's words, for the causes a person can act on
  /// (a full disk or quota, no permission); nothing for the others.
  static std::optional<std::string> copyCause(const std::error_code& code);

  ShareTargetLoader(std::filesystem::path stagingDirectory, std::size_t maxItems,
                    ShareSource source, ShareArchive archive = ShareArchive(),
                    ShareStagingProgress progress = {}, SkipObserver skipped = {});

  RawSharePayload load(const std::vector<std::shared_ptr<ShareItemProvider>>& providers) const;

  /// A video's duration in milliseconds, when it can be read.
  static std::optional<std::int64_t> videoDurationMs(const std::filesystem::path& file);

  const std::filesystem::path& stagingDirectory() const { return stagingDirectory_; }
  std::size_t maxItems() const { return maxItems_; }
  const ShareSource& source() const { return source_; }

 private:
  class Pass;

  std::filesystem::path stagingDirectory_;
  std::size_t maxItems_;
  ShareSource source_;
  ShareArchive archive_;
  ShareStagingProgress progress_;
  SkipObserver skipped_;
};

}  // namespace lumo

#pragma once

#include <memory>
#include <string>
#include <utility>

#include "ShareLogSink.hpp"

namespace lumo {

/// One named logger: a category of the "com.lumo.share.apple" subsystem.
class ShareLogger {
 public:
  explicit ShareLogger(std::string category) : category_(std::move(category)) {}

  const std::string& category() const noexcept { return category_; }

  /// Logs the text that `makeMessage()` returns. The function is only called when `level` is
  /// enabled, so a filtered message costs no formatting. Never throws.
  template <class MakeMessage>
  void log(ShareLogLevel level, MakeMessage&& makeMessage) const noexcept {
    if (!isEnabled(level)) return;
    try {
      emit(level, std::forward<MakeMessage>(makeMessage)());
    } catch (...) {
      // Logging never changes control flow.
    }
  }

  static bool isEnabled(ShareLogLevel level) noexcept;

 private:
  void emit(ShareLogLevel level, std::string message) const noexcept;

  std::string category_;
};

/// The process-wide loggers and the sink they write to (the journal unless replaced).
class ShareLog {
 public:
  static constexpr char subsystem[] = "com.lumo.share.apple";

  static const ShareLogger& app();             ///< "app": claim binding
  static const ShareLogger& shareExtension();  ///< "share-extension": intake and the panel
  static const ShareLogger& upload();          ///< "upload": publishing and background uploads
  static const ShareLogger& queue();           ///< "queue": the pending-share queue
  static const ShareLogger& token();           ///< "token": credential storage

  /// Messages below this level are dropped unformatted. The default is `info`.
  static void setMinimumLevel(ShareLogLevel level) noexcept;
  static ShareLogLevel minimumLevel() noexcept;

  /// Replaces the sink and returns the previous one; a null sink restores the journal.
  static std::shared_ptr<ShareLogSink> setSink(std::shared_ptr<ShareLogSink> sink);
  static std::shared_ptr<ShareLogSink> sink();
};

}  // namespace lumo

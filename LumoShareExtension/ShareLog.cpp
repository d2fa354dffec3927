#include "ShareLog.hpp"

#include <atomic>
#include <mutex>

namespace lumo {
namespace {

/// Everything is sent: the journal keeps or drops messages by priority itself.
std::atomic<ShareLogLevel> minimumLevelValue{ShareLogLevel::debug};

struct SinkSlot {
  std::mutex mutex;
  std::shared_ptr<ShareLogSink> sink = std::make_shared<ShareJournalSink>();
};

SinkSlot& sinkSlot() {
  static SinkSlot slot;
  return slot;
}

}  // namespace

bool ShareLogger::isEnabled(ShareLogLevel level) noexcept {
  return static_cast<int>(level) >= static_cast<int>(minimumLevelValue.load());
}

void ShareLogger::emit(ShareLogLevel level, std::string message) const noexcept {
  try {
    const auto sink = ShareLog::sink();
    sink->write(ShareLogEntry{ShareLog::subsystem, category_, level, std::move(message)});
  } catch (...) {
    // Logging never changes control flow.
  }
}

const ShareLogger& ShareLog::app() {
  static const ShareLogger logger("app");
  return logger;
}

const ShareLogger& ShareLog::shareExtension() {
  static const ShareLogger logger("share-extension");
  return logger;
}

const ShareLogger& ShareLog::upload() {
  static const ShareLogger logger("upload");
  return logger;
}

const ShareLogger& ShareLog::queue() {
  static const ShareLogger logger("queue");
  return logger;
}

const ShareLogger& ShareLog::token() {
  static const ShareLogger logger("token");
  return logger;
}

void ShareLog::setMinimumLevel(ShareLogLevel level) noexcept {
  minimumLevelValue.store(level);
}

ShareLogLevel ShareLog::minimumLevel() noexcept {
  return minimumLevelValue.load();
}

std::shared_ptr<ShareLogSink> ShareLog::setSink(std::shared_ptr<ShareLogSink> sink) {
  if (!sink) sink = std::make_shared<ShareJournalSink>();
  auto& slot = sinkSlot();
  std::lock_guard lock(slot.mutex);
  std::swap(slot.sink, sink);
  return sink;
}

std::shared_ptr<ShareLogSink> ShareLog::sink() {
  auto& slot = sinkSlot();
  std::lock_guard lock(slot.mutex);
  return slot.sink;
}

}  // namespace lumo

#pragma once
// What the panel's and the host window's tests share: quiet offscreen runs and screenshots.
#include <QDir>
#include <QScreen>
#include <QWidget>
#include <QtTest>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "LumoShare.hpp"

namespace lumo::testing {

/// The offscreen platform says at every window that it cannot pass size hints on: noise. Call in
/// initTestCase, after Qt Test has installed its own message handler.
inline void quietOffscreenWarnings() {
  static QtMessageHandler testHandler = nullptr;
  testHandler = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& where, const QString& text) {
        if (!text.contains(QLatin1String("propagateSizeHints"))) testHandler(type, where, text);
      });
}

/// The desktop entry of a stand-in host application; starting it creates `hostStartedMarker()`.
inline constexpr const char* testHostAppIdentifier = "lumo.share.test";

inline std::filesystem::path hostStartedMarker() {
  return std::filesystem::path(std::getenv("XDG_STATE_HOME")) / "host-started";
}

/// Writes the stand-in host application's desktop entry into $XDG_DATA_HOME/applications. Call it
/// in main, before anything looks an application up: GIO reads the application folders once and
/// learns of later changes only when a file monitor on its own worker thread gets to them, so an
/// entry written while the tests run may not be there yet for a lookup right after, under load.
inline void installTestHostApp() {
  const auto applications = std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "applications";
  std::filesystem::create_directories(applications);
  std::ofstream(applications / (std::string(testHostAppIdentifier) + ".desktop"))
      << "[Desktop Entry]\nType=Application\nName=Host\nExec=/bin/sh -c \"echo up > "
      << hostStartedMarker().string() << "\"\n";
}

/// Saves `window` as the screen shows it to $LUMO_SCREENSHOTS/<name>.png, when that is set.
inline bool screenshot(QWidget& window, const QString& name) {
  const auto folder = qEnvironmentVariable("LUMO_SCREENSHOTS");
  if (folder.isEmpty()) return true;
  QDir().mkpath(folder);
  QTest::qWait(200);  // let the window system finish drawing
  return window.screen()->grabWindow(window.winId()).save(folder + "/" + name + ".png");
}

/// What the reference service on `port` answers for the page of `slug` now: 200 while it serves
/// the share, 410 once the share is gone.
inline int pageStatus(int port, const std::string& slug) {
  const auto page = Url::parse("http://127.0.0.1:" + std::to_string(port) + "/" + slug);
  return URLSessionTransport::makeDefault()->data(ShareHTTPRequest(*page), {}).response.status;
}

/// The real transport behind a switch: requests can be held until released, or fail at once as
/// if the network were down, and deletions can be answered as a service without them would.
/// (Stopping the service instead would leave its port free for any other test process to take.)
class TestNetwork final : public ShareHTTPTransport {
 public:
  explicit TestNetwork(std::shared_ptr<ShareHTTPTransport> inner) : inner_(std::move(inner)) {}

  void hold() { set(held_, true); }
  void release() { set(held_, false); }
  void setOffline(bool offline) { set(offline_, offline); }
  /// Answers every DELETE with `status` and `body` from now on, as a service that cannot delete
  /// shares does (0: the service answers again).
  void answerDeletions(int status, std::string body = {}) {
    const std::lock_guard lock(mutex_);
    deletionReply_ = {std::move(body), ShareHTTPResponse{status, {}}};
  }

  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop) override {
    pass();
    if (request.method == "DELETE") {
      const std::lock_guard lock(mutex_);
      if (deletionReply_.response.status != 0) return deletionReply_;
    }
    return inner_->data(request, stop);
  }
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop) override {
    pass();
    return inner_->upload(request, body, stop);
  }
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop) override {
    pass();
    return inner_->uploadFile(request, file, stop);
  }

 private:
  void set(bool& flag, bool value) {
    const std::lock_guard lock(mutex_);
    flag = value;
    changed_.notify_all();
  }
  void pass() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !held_; });
    if (offline_) throw ShareURLError(ShareURLError::Code::cannotConnectToHost, "network off");
  }

  std::shared_ptr<ShareHTTPTransport> inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool offline_ = false;
  ShareHTTPReply deletionReply_;
};

}  // namespace lumo::testing

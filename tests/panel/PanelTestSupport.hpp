#pragma once
// What the panel's and the host window's tests share: quiet offscreen runs and screenshots.
#include <QDir>
#include <QScreen>
#include <QWidget>
#include <QtTest>

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

/// Saves `window` as the screen shows it to $LUMO_SCREENSHOTS/<name>.png, when that is set.
inline bool screenshot(QWidget& window, const QString& name) {
  const auto folder = qEnvironmentVariable("LUMO_SCREENSHOTS");
  if (folder.isEmpty()) return true;
  QDir().mkpath(folder);
  QTest::qWait(200);  // let the window system finish drawing
  return window.screen()->grabWindow(window.winId()).save(folder + "/" + name + ".png");
}

}  // namespace lumo::testing

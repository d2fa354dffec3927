// The window tests: the share panel, then the host window, each with Qt Test. Run them through
// tests/with-private-session.sh (ctest and scripts/panel-screenshots do): it gives them a D-Bus
// session of their own, which Qt's and GIO's desktop services talk to.
#include <QApplication>
#include <QtTest>

#include "LumoShare.hpp"
#include "PanelTestSupport.hpp"
#include "PrivateSession.hpp"

QObject* makeShareViewControllerTest();
QObject* makeShareHostWindowTest();

int main(int argc, char** argv) {
  const lumo::testing::PrivateSession session;
  // The desktop's applications are this run's own: the host application is looked up there, and
  // the system's entries (an installed lumo.share.desktop) stay out of sight.
  ::setenv("XDG_DATA_DIRS", (session.home() / "system").c_str(), 1);
  lumo::testing::installTestHostApp();
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

  QApplication application(argc, argv);
  lumo::ShareLog::setSink(std::make_shared<lumo::ShareLogCaptureSink>());
  int failures = 0;
  for (auto* make : {makeShareViewControllerTest, makeShareHostWindowTest}) {
    std::unique_ptr<QObject> test(make());
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures;
}

// The window tests: the share panel, then the host window, each with Qt Test.
#include <QApplication>
#include <QtTest>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

QObject* makeShareViewControllerTest();
QObject* makeShareHostWindowTest();

int main(int argc, char** argv) {
  // The desktop's folders are this run's own: the host application is looked up there.
  lumo::testing::TemporaryDirectory desktop;
  std::filesystem::create_directories(desktop / "data" / "applications");
  ::setenv("XDG_DATA_HOME", (desktop / "data").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", (desktop / "system").c_str(), 1);
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

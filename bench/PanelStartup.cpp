// The panel's side of bench/panel-startup.sh: a process that starts exactly as lumo-share-panel
// does and exits as soon as its window is on screen with the ready form ("--panel FILE"), or, as
// the yardstick, as soon as an empty Qt window is on screen ("--empty").
#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstring>

#include "ShareViewController.hpp"

namespace {

/// Quits once `done()` holds, looking after every turn of the event loop.
template <class Done>
void quitWhen(Done done) {
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, [poll, done] {
    if (done()) {
      poll->stop();
      QCoreApplication::exit(0);
    }
  });
  poll->start(0);
}

bool exposed(QWidget& window) {
  return window.windowHandle() && window.windowHandle()->isExposed();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const auto arguments = QApplication::arguments();
  if (arguments.size() == 2 && arguments[1] == "--empty") {
    QWidget window;
    window.resize(520, 600);
    window.show();
    quitWhen([&] { return exposed(window); });
    return QApplication::exec();
  }
  if (arguments.size() != 3 || arguments[1] != "--panel") {
    std::fputs("usage: lumo_panel_startup --empty | --panel FILE\n", stderr);
    return 2;
  }
  QApplication::setQuitOnLastWindowClosed(false);
  lumo::ShareExtensionContext context(
      {std::make_shared<lumo::SharePathItemProvider>(arguments[2].toStdString())});
  auto workers = std::make_shared<lumo::SharePanelWorkers>();
  lumo::ShareViewController panel(context, lumo::ShareViewEnvironment::makeDefault(workers));
  panel.show();
  quitWhen([&] { return exposed(panel) && panel.phase() == lumo::SharePanelPhase::ready; });
  return QApplication::exec();
}

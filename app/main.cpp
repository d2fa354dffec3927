// lumo-share-app: the host application's window. Shows the queue, the recent uploads and the
// sign-in; on opening it refreshes the plan, binds anonymous uploads and publishes the queue.
#include <QApplication>

#include "ShareHostWindow.hpp"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lumo-share-app"));
  QApplication::setDesktopFileName(QStringLiteral("lumo.share"));
  auto workers = std::make_shared<lumo::SharePanelWorkers>();
  lumo::ShareHostWindow window(lumo::ShareContext::process().host(), workers);
  window.show();
  window.synchronise();
  return QApplication::exec();
}

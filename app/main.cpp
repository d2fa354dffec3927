// lumo-share-app: the host application's window. Shows the queue, the recent uploads and the
// sign-in; on opening it refreshes the plan, binds anonymous uploads and publishes the queue.
#include <QApplication>

#include <optional>

#include "ProgramOptions.hpp"
#include "ShareHostWindow.hpp"

namespace {

constexpr lumo::ProgramSynopsis synopsis{
    "lumo-share-app", "[OPTIONS]",
    "Lumo Share App, the LumoShare host window: the queue (retry, remove), the recent uploads\n"
    "(copy, open, delete at the service) and the sign-in. Opening it refreshes the plan, binds\n"
    "anonymous uploads to the signed-in account and publishes what is queued.\n\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Display program version information and exit\n"
    "Qt's own options (-platform, -style, -display ...) are accepted as well.\n\n"
    "Exit codes: 0 the window was closed; 2 no display could be opened.\n"};

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = lumo::answerProgramOptions(argc, argv, synopsis)) return *status;
  std::optional<QApplication> application;
  {
    const lumo::DisplayOpening opening(synopsis.name);
    application.emplace(argc, argv);  // takes Qt's own options out of the arguments
  }
  QApplication::setApplicationName(QStringLiteral("lumo-share-app"));
  QApplication::setDesktopFileName(QStringLiteral("lumo.share"));
  auto workers = std::make_shared<lumo::SharePanelWorkers>();
  lumo::ShareHostWindow window(lumo::ShareContext::process().host(), workers);
  window.show();
  window.synchronise();
  return QApplication::exec();
}

// lumo-share-panel [PATH|URL]...: the share panel. The desktop starts it with the files, folders
// or links to share (local paths, file:// or http(s) URLs); text piped into it is shared as well.
// Exits 0 when the request was completed, 1 when it was cancelled, 2 when no display opens.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QUrl>

#include <optional>

#include "LumoShare.hpp"
#include "ProgramOptions.hpp"
#include "ShareViewController.hpp"

namespace {

using lumo::ShareExtensionContext;

constexpr lumo::ProgramSynopsis synopsis{
    "lumo-share-panel", "[OPTIONS] [PATH|URL]...",
    "The LumoShare share panel: publishes files, folders and links (local paths, file:// or\n"
    "http(s) URLs), and text piped into it, behind a short link.\n\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Display program version information and exit\n"
    "Qt's own options (-platform, -style, -display ...) are accepted as well; after \"--\" every\n"
    "argument is an item.\n\n"
    "Exit codes: 0 the request was completed; 1 it was cancelled; 2 no display could be opened.\n"};

/// Text from standard input counts when something is piped or redirected into the panel, not
/// when it inherits a terminal or /dev/null (as it does when the desktop starts it).
bool standardInputCarriesText() {
  struct stat status {};
  if (::isatty(STDIN_FILENO) == 1 || ::fstat(STDIN_FILENO, &status) != 0) return false;
  return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) ||
         (S_ISREG(status.st_mode) && status.st_size > 0);
}

std::shared_ptr<lumo::ShareItemProvider> providerFor(const QString& argument) {
  if (argument.startsWith(QStringLiteral("file:"))) {
    return std::make_shared<lumo::SharePathItemProvider>(
        QUrl(argument).toLocalFile().toStdString());
  }
  const auto text = argument.toStdString();
  if (auto link = lumo::ShareText::singleURL(text)) {
    return std::make_shared<lumo::ShareURLItemProvider>(*std::move(link));
  }
  return std::make_shared<lumo::SharePathItemProvider>(text);
}

ShareExtensionContext::Providers inputItems(const QStringList& arguments) {
  ShareExtensionContext::Providers providers;
  if (standardInputCarriesText()) {
    // Twice what a share keeps, so the text's own limit (with its ellipsis) decides the cut.
    providers.push_back(lumo::ShareTextItemProvider::reading(
        STDIN_FILENO, 2 * static_cast<std::size_t>(lumo::ShareApple::maxTextBytes)));
  }
  bool afterSeparator = false;  // "--" ends the options: what follows is an item, even "--help"
  for (const auto& argument : arguments.mid(1)) {
    if (argument == QStringLiteral("--") && !afterSeparator) {
      afterSeparator = true;
      continue;
    }
    providers.push_back(providerFor(argument));
  }
  return providers;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = lumo::answerProgramOptions(argc, argv, synopsis)) return *status;
  std::optional<QApplication> application;
  {
    const lumo::DisplayOpening opening(synopsis.name);
    application.emplace(argc, argv);  // takes Qt's own options out of the arguments
  }
  QApplication::setApplicationName(QStringLiteral("lumo-share-panel"));
  QApplication::setDesktopFileName(QStringLiteral("lumo-share-panel"));
  // The request's ending decides the exit status, not the last window going away.
  QApplication::setQuitOnLastWindowClosed(false);

  ShareExtensionContext context(
      inputItems(QApplication::arguments()), [](ShareExtensionContext::Ending ending) {
        QApplication::exit(ending == ShareExtensionContext::Ending::completed ? 0 : 1);
      });
  auto workers = std::make_shared<lumo::SharePanelWorkers>();
  lumo::ShareViewController panel(context, lumo::ShareViewEnvironment::makeDefault(workers));
  panel.show();
  return QApplication::exec();
}

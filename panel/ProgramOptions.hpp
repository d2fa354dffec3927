#pragma once

// The options the desktop programs answer on a terminal, before anything needs a display.

#include <fmt/format.h>

#include <QtGlobal>

#include <cstdlib>
#include <optional>
#include <string_view>

#include "LumoShareVersion.hpp"
#include "ShareL10n.hpp"

namespace lumo {

/// What a desktop program tells about itself on a terminal.
struct ProgramSynopsis {
  std::string_view name;   ///< the program's name, "lumo-share-panel"
  std::string_view usage;  ///< what follows the name in the usage line
  std::string_view about;  ///< the help's text below the usage line, options and exit codes
};

/// Answers "--version" ("<name> <version>") and "-h"/"--help" (usage and text) on standard output
/// when one of them comes before a "--" among the arguments: the exit status then, else nothing
/// and the program starts. Runs before QApplication, so it works with no display at all.
inline std::optional<int> answerProgramOptions(int argc, char** argv,
                                               const ProgramSynopsis& program) {
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (argument == "--") break;
    if (argument == "--version") {
      fmt::print("{} {}\n", program.name, lumoShareVersion);
      return 0;
    }
    if (argument == "-h" || argument == "--help") {
      fmt::print("Usage: {} {}\n{}", program.name, program.usage, program.about);
      return 0;
    }
  }
  return std::nullopt;
}

/// The exit status of a desktop program that could not open a display.
inline constexpr int noDisplayStatus = 2;

/// While it lives (around QApplication's construction), a fatal message from Qt, which is a
/// display that cannot be opened or no usable platform plugin, ends the program with
/// `noDisplayStatus` and one line in plain words, instead of an abort with Qt's advice to
/// reinstall. Qt's own warnings before it (which display, which plugin) pass through. Later fatal
/// messages keep their abort and core dump: they are faults, not a missing display.
class DisplayOpening {
 public:
  explicit DisplayOpening(std::string_view program) {
    program_ = program;
    previous_ = qInstallMessageHandler(&DisplayOpening::handle);
  }
  ~DisplayOpening() { qInstallMessageHandler(previous_); }
  DisplayOpening(const DisplayOpening&) = delete;
  DisplayOpening& operator=(const DisplayOpening&) = delete;

 private:
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
      if (previous_ != nullptr) previous_(type, context, message);
      return;
    }
    fmt::print(stderr, "{}: {}\n", program_,
               ShareL10n::tr("无法打开显示器来显示窗口：请在桌面会话中启动它，或在终端中使用 "
                             "`lumo-share`。"));
    std::fflush(stderr);
    std::_Exit(noDisplayStatus);
  }
  static inline std::string_view program_;
  static inline QtMessageHandler previous_ = nullptr;
};

}  // namespace lumo

#pragma once

// The options the desktop programs answer on a terminal, before anything needs a display.

#include <fmt/format.h>

#include <optional>
#include <string_view>

#include "LumoShareVersion.hpp"

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

}  // namespace lumo

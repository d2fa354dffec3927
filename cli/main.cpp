// lumo-share: shares files, folders, links and text from a terminal.
#include <CLI/CLI.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <clocale>
#include <iostream>

#include "Commands.hpp"
#include "LumoShare.hpp"
#include "TerminalLogSink.hpp"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  CLI::App app{"LumoShare: publish files, folders, texts and links behind short links",
               "lumo-share"};
  // Before the commands are added: they take the parent's formatter with them.
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.set_version_flag("--version", fmt::format("lumo-share {}", lumo::lumoShareVersion));
  app.require_subcommand(0, 1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Show every diagnostic message, debug ones included");
  app.parse_complete_callback([&verbose] {
    lumo::ShareLog::setSink(std::make_shared<lumo::cli::TerminalLogSink>(verbose));
    lumo::cli::noteFallbackStorage();
  });
  int exitCode = 0;
  lumo::cli::addStageCommand(app, exitCode);
  lumo::cli::addQueueCommand(app, exitCode);
  lumo::cli::addAccountCommands(app, exitCode);
  lumo::cli::addDeleteCommand(app, exitCode);
  lumo::cli::addHostCommands(app, exitCode);
  auto* share = lumo::cli::addShareCommand(app, exitCode);
  app.footer(std::string("With no command, the arguments are shared: lumo-share ITEM... is "
                         "lumo-share share ITEM...\n") +
             lumo::cli::exitCodesText);
  if (argc == 1) {
    std::cout << app.help();
    return 0;
  }
  // "share" is the default command: anything that is not a command name is its argument.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto commands = app.get_subcommands([](const CLI::App*) { return true; });
  const auto isCommand = [&](const std::string& word) {
    return std::any_of(commands.begin(), commands.end(),
                       [&](const CLI::App* command) { return command->check_name(word); });
  };
  const auto first = std::find_if(arguments.begin(), arguments.end(), [](const std::string& word) {
    return word != "-v" && word != "--verbose";
  });
  const auto isOwnOption = [](const std::string& word) {
    return word == "-h" || word == "--help" || word == "--version";
  };
  if (first != arguments.end() && !isCommand(*first) && !isOwnOption(*first)) {
    arguments.insert(first, share->get_name());
  }
  std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? 0 : lumo::cli::usageError;
  }
  return exitCode;
}

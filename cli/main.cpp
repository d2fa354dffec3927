// lumo-share: shares files, folders, links and text from a terminal.
#include <CLI/CLI.hpp>

#include "Commands.hpp"
#include "LumoShare.hpp"
#include "TerminalLogSink.hpp"

int main(int argc, char** argv) {
  CLI::App app{"LumoShare: publish files, folders, texts and links behind short links"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Show every diagnostic message, debug ones included");
  app.parse_complete_callback([&verbose] {
    lumo::ShareLog::setSink(std::make_shared<lumo::cli::TerminalLogSink>(verbose));
  });
  int exitCode = 0;
  lumo::cli::addStageCommand(app, exitCode);
  lumo::cli::addQueueCommand(app, exitCode);
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}

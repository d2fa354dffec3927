#include <fmt/format.h>

#include <iostream>
#include <iterator>
#include <memory>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

struct StageRequest {
  std::optional<std::string> text;
  std::vector<std::string> items;
  bool json = false;
};

std::string readStandardInput() {
  return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

/// A web link when the argument is one http(s) link, otherwise a path.
std::vector<std::shared_ptr<ShareItemProvider>> providersFor(const StageRequest& request) {
  std::vector<std::shared_ptr<ShareItemProvider>> providers;
  if (request.text) {
    const auto text = *request.text == "-" ? readStandardInput() : *request.text;
    providers.push_back(std::make_shared<ShareTextItemProvider>(text));
  }
  for (const auto& item : request.items) {
    if (auto link = ShareText::singleURL(item)) {
      providers.push_back(std::make_shared<ShareURLItemProvider>(*std::move(link)));
    } else {
      providers.push_back(std::make_shared<SharePathItemProvider>(item));
    }
  }
  return providers;
}

void printSummary(const StagedShare& staged) {
  fmt::print("staged {}\n", staged.clientShareId);
  fmt::print("  kind:        {}\n", staged.payload.kind);
  fmt::print("  title:       {}\n", staged.displayTitle);
  fmt::print("  attachments: {}\n", staged.attachments.size());
  fmt::print("  size:        {} bytes\n", staged.totalBytes);
}

int runStage(const StageRequest& request) {
  if (!request.text && request.items.empty()) {
    std::cerr << "lumo-share: nothing to stage (give a path, a link or --text)\n";
    return 2;
  }
  try {
    const auto ingest = ShareIngest::makeDefault();
    const auto staged = ingest.ingest(providersFor(request), makeLowercaseUUID());
    if (request.json) {
      std::cout << ShareJSON::encoder().encode(staged) << "\n";
    } else {
      printSummary(staged);
    }
    return 0;
  } catch (const ShareIngestError& error) {
    std::cerr << error.description() << "\n";
    return 1;
  }
}

}  // namespace

void addStageCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<StageRequest>();
  auto* command =
      app.add_subcommand("stage", "Stage files, folders, links and text as one share in the queue");
  command->add_option("--text", request->text, "Text to share; \"-\" reads it from standard input");
  command->add_option("items", request->items, "Files, folders or http(s) links to share");
  command->add_flag("--json", request->json, "Print the staged share as JSON");
  command->callback([request, &exitCode] { exitCode = runStage(*request); });
}

}  // namespace lumo::cli

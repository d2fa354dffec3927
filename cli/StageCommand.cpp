#include <fmt/format.h>

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "Commands.hpp"
#include "LumoShare.hpp"
#include "ProgressBar.hpp"
#include "StandardInput.hpp"

namespace lumo::cli {
namespace {

/// Text beyond this many bytes of standard input cannot reach a share: the share keeps
/// `maxTextBytes` after trimming, and the margin leaves room for the white space trimmed off.
constexpr std::size_t standardInputTextLimit = 2 * ShareApple::maxTextBytes;

std::string readStandardInputText() {
  auto input = BoundedText::read(STDIN_FILENO, standardInputTextLimit);
  if (input.truncated) {
    fmt::print(stderr,
               "lumo-share: standard input holds more text than a share keeps; only the first {} "
               "bytes were read (give \"-\" as an item to share it as a file)\n",
               standardInputTextLimit);
  }
  return std::move(input.text);
}

/// Standard input as a file; more than an upload may carry is refused in plain words.
std::unique_ptr<StandardInputSpool> spoolStandardInput(const ShareStorage& storage) {
  try {
    return std::make_unique<StandardInputSpool>(
        storage, STDIN_FILENO, static_cast<std::uint64_t>(ShareApple::maxUploadBytes));
  } catch (const std::filesystem::filesystem_error& error) {
    if (error.code() != std::errc::file_too_large) throw;
    throw std::runtime_error(fmt::format("standard input is larger than the {} byte upload limit",
                                         ShareApple::maxUploadBytes));
  }
}

}  // namespace

StageInputs inputsFor(const StageRequest& request, const ShareStorage& storage) {
  StageInputs inputs;
  auto& providers = inputs.providers;
  if (request.text) {
    const auto text = *request.text == "-" ? readStandardInputText() : *request.text;
    providers.push_back(std::make_shared<ShareTextItemProvider>(text));
  }
  for (const auto& item : request.items) {
    if (item == "-" && !inputs.spool) {
      inputs.spool = spoolStandardInput(storage);
      providers.push_back(std::make_shared<SharePathItemProvider>(inputs.spool->file()));
    } else if (auto link = ShareText::singleURL(item)) {
      providers.push_back(std::make_shared<ShareURLItemProvider>(*std::move(link)));
    } else {
      providers.push_back(std::make_shared<SharePathItemProvider>(item));
    }
  }
  return inputs;
}

std::vector<std::string> unusableItems(const StageRequest& request) {
  std::vector<std::string> problems;
  for (const auto& item : request.items) {
    if (item == "-" || ShareText::singleURL(item)) continue;
    std::error_code error;
    const auto status = std::filesystem::status(item, error);
    if (!std::filesystem::exists(status)) {
      problems.push_back(item + ": no such file or folder");
    } else if (::access(item.c_str(), R_OK) != 0 ||
               (std::filesystem::is_directory(status) && ::access(item.c_str(), X_OK) != 0)) {
      problems.push_back(item + ": permission denied");
    }
  }
  return problems;
}

std::optional<std::string> stageRequestProblem(const StageRequest& request) {
  if (!request.text && request.items.empty()) {
    return "nothing to share (give a path, a link or --text)";
  }
  if (request.text == "-" &&
      std::find(request.items.begin(), request.items.end(), "-") != request.items.end()) {
    return "standard input can be the text or a file, not both";
  }
  return std::nullopt;
}

std::optional<int> reportUnusableItems(const StageRequest& request) {
  const auto problems = unusableItems(request);
  for (const auto& problem : problems) std::cerr << "lumo-share: " << problem << "\n";
  if (problems.empty()) return std::nullopt;
  const bool nothingElse = problems.size() == request.items.size() && !request.text;
  return nothingElse ? nothingToShare : usageError;
}

namespace {

void printSummary(const StagedShare& staged) {
  fmt::print("staged {}\n", staged.clientShareId);
  fmt::print("  kind:        {}\n", staged.payload.kind);
  fmt::print("  title:       {}\n", staged.displayTitle);
  fmt::print("  attachments: {}\n", staged.attachments.size());
  fmt::print("  size:        {} bytes\n", staged.totalBytes);
}

int runStage(const StageRequest& request) {
  if (const auto problem = stageRequestProblem(request)) {
    std::cerr << "lumo-share: " << *problem << "\n";
    return usageError;
  }
  if (const auto code = reportUnusableItems(request)) return *code;
  try {
    auto ingest = ShareContext::process().ingest();
    const auto inputs = inputsFor(request, ingest.storage());
    ProgressBar bar;
    ingest.observeStaging([&bar](auto done, auto total) { bar(done, total); });
    const auto staged = ingest.ingest(inputs.providers, makeLowercaseUUID());
    bar.finish();
    if (request.json) {
      std::cout << ShareJSON::encoder().encode(staged) << "\n";
    } else {
      printSummary(staged);
    }
    return 0;
  } catch (const ShareIngestError& error) {
    std::cerr << "lumo-share: " << SharePanelText::readableMessage(error) << "\n";
    return error.kind() == ShareIngestError::Kind::emptyPayload ? nothingToShare : notKept;
  }
}

}  // namespace

void addStageCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<StageRequest>();
  auto* command =
      app.add_subcommand("stage", "Stage files, folders, links and text as one share in the queue");
  command->add_option("--text", request->text, "Text to share; \"-\" reads it from standard input");
  command->add_option(
      "items", request->items,
      "Files, folders or http(s) links to share; \"-\" shares standard input as a file");
  command->add_flag("--json", request->json, "Print the staged share as JSON");
  command->callback(guardedCallback(exitCode, notKept, [request] { return runStage(*request); }));
}

}  // namespace lumo::cli

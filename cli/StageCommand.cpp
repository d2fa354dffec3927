#include <fmt/format.h>

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "Commands.hpp"
#include "LumoShare.hpp"
#include "ProgressBar.hpp"
#include "StandardInput.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::marked;
using ShareL10n::tr;

/// Text beyond this many bytes of standard input cannot reach a share: the share keeps
/// `maxTextBytes` after trimming, and the margin leaves room for the white space trimmed off.
constexpr std::size_t standardInputTextLimit = 2 * ShareApple::maxTextBytes;

std::string readStandardInputText() {
  auto input = BoundedText::read(STDIN_FILENO, standardInputTextLimit);
  if (input.truncated) {
    fmt::print(stderr, "lumo-share: {}\n",
               ShareL10n::trn("标准输入的文本超过一次分享能保留的长度，只读取了前 %d 字节（把 "
                              "`-` 作为项目给出，可以把它作为文件分享）",
                              static_cast<std::int64_t>(standardInputTextLimit)));
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
    throw std::runtime_error(
        tr("标准输入超过了上传上限 %@", ShareByteCount::fileStyle(ShareApple::maxUploadBytes)));
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
    if (error == std::errc::too_many_symbolic_link_levels) {
      problems.push_back(tr("%@：符号链接形成了循环", item));
    } else if (!std::filesystem::exists(status)) {
      problems.push_back(tr("%@：文件或文件夹不存在", item));
    } else if (::access(item.c_str(), R_OK) != 0 ||
               (std::filesystem::is_directory(status) && ::access(item.c_str(), X_OK) != 0)) {
      problems.push_back(tr("%@：没有读取权限", item));
    }
  }
  return problems;
}

std::optional<std::string> stageRequestProblem(const StageRequest& request) {
  if (!request.text && request.items.empty()) {
    return tr("没有要分享的内容（请给出路径、链接或 `--text`）");
  }
  if (request.text == "-" &&
      std::find(request.items.begin(), request.items.end(), "-") != request.items.end()) {
    return tr("标准输入只能作为文本或文件之一，不能两者都是");
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

/// A share kind in the reader's words; the kind itself when it is one this tool does not know.
std::string kindWords(const std::string& kind) {
  static constexpr std::pair<std::string_view, const char*> words[] = {
      {ShareKindValues::text, marked("文本")},     {ShareKindValues::link, marked("链接")},
      {ShareKindValues::image, marked("图片")},    {ShareKindValues::audio, marked("音频")},
      {ShareKindValues::video, marked("视频")},    {ShareKindValues::file, marked("文件")},
      {ShareKindValues::chat, marked("聊天记录")}, {ShareKindValues::mixed, marked("混合内容")},
  };
  for (const auto& [value, chinese] : words) {
    if (kind == value) return tr(chinese);
  }
  return kind;
}

void printSummary(const StagedShare& staged) {
  fmt::print("{}\n", tr("已暂存 %@", staged.clientShareId));
  fmt::print("  {}\n", tr("类型：%@", kindWords(staged.payload.kind)));
  fmt::print("  {}\n", tr("标题：%@", staged.displayTitle));
  fmt::print("  {}\n",
             ShareL10n::trn("附件：%d 个", static_cast<std::int64_t>(staged.attachments.size())));
  fmt::print("  {}\n", tr("大小：%@", ShareByteCount::fileStyle(staged.totalBytes)));
}

int runStage(const StageRequest& request) {
  if (const auto problem = stageRequestProblem(request)) {
    std::cerr << "lumo-share: " << *problem << "\n";
    return usageError;
  }
  if (const auto code = reportUnusableItems(request)) return *code;
  auto ingest = ShareContext::process().ingest();
  StagingView view(ingest);
  const auto inputs = inputsFor(request, ingest.storage());
  std::optional<StagedShare> staged;
  try {
    staged = ingest.ingest(inputs.providers, makeLowercaseUUID());
  } catch (const ShareIngestError& error) {
    return view.failed(error);
  }
  view.staged();
  if (request.json) {
    std::cout << ShareJSON::encoder().encode(*staged) << "\n";
  } else {
    printSummary(*staged);
  }
  return 0;
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

#include "ShareArchiveError.hpp"

#include <filesystem>

#include "ShareL10n.hpp"

namespace lumo {
namespace {

/// zip's exit status when some of the files it was given could not be opened for reading (no
/// permission, gone meanwhile). zip still writes the others, but a folder with files left out is
/// not shared.
constexpr std::int32_t unreadableFilesStatus = 18;

}  // namespace

ShareArchiveError::ShareArchiveError(Kind kind, std::string name, std::string toolPath,
                                     std::string detail, std::int32_t status, std::int64_t seconds)
    : kind_(kind),
      name_(std::move(name)),
      toolPath_(std::move(toolPath)),
      detail_(std::move(detail)),
      status_(status),
      seconds_(seconds),
      reason_(makeReason()) {}

ShareArchiveError ShareArchiveError::sourceUnavailable(std::string name) {
  return {Kind::sourceUnavailable, std::move(name), "", "", 0, 0};
}
ShareArchiveError ShareArchiveError::toolUnavailable(std::string name, std::string path) {
  return {Kind::toolUnavailable, std::move(name), std::move(path), "", 0, 0};
}
ShareArchiveError ShareArchiveError::launchFailed(std::string name, std::string toolPath,
                                                  std::string detail) {
  return {Kind::launchFailed, std::move(name), std::move(toolPath), std::move(detail), 0, 0};
}
ShareArchiveError ShareArchiveError::failed(std::string name, std::string toolPath,
                                            std::int32_t status, std::string detail) {
  return {Kind::failed, std::move(name), std::move(toolPath), std::move(detail), status, 0};
}
ShareArchiveError ShareArchiveError::timedOut(std::string name, std::int64_t seconds) {
  return {Kind::timedOut, std::move(name), "", "", 0, seconds};
}
ShareArchiveError ShareArchiveError::emptyArchive(std::string name) {
  return {Kind::emptyArchive, std::move(name), "", "", 0, 0};
}

std::string ShareArchiveError::makeReason() const {
  return ShareL10n::tr("无法压缩应用包 %@：%@", {name_, problem()});
}

std::string ShareArchiveError::problem() const {
  using ShareL10n::tr;
  switch (kind_) {
    case Kind::sourceUnavailable:
      return tr("源路径不是可读取的文件夹");
    case Kind::toolUnavailable:
      return tr("当前环境没有可用的 %@（iOS 不支持运行外部命令）", toolPath_);
    case Kind::launchFailed:
      return tr("无法启动 %@（%@）", {toolPath_, detail_});
    case Kind::failed: {
      const auto tool = std::filesystem::path(toolPath_).filename().string();
      const auto status = std::to_string(status_);
      if (detail_.empty()) return tr("%@ 退出码 %@", {tool, status});
      return tr("%@ 退出码 %@，%@", {tool, status, detail_});
    }
    case Kind::timedOut:
      return ShareL10n::trn("超过 %d 秒未完成，已终止", seconds_);
    case Kind::emptyArchive:
      return tr("压缩结果为空");
  }
  return {};
}

bool ShareArchiveError::diskFull() const {
  // The archiver runs in the C locale, so the system's words for these errors are fixed.
  return kind_ == Kind::failed && (detail_.find("No space left on device") != std::string::npos ||
                                   detail_.find("Disk quota exceeded") != std::string::npos);
}

std::string ShareArchiveError::personReason() const {
  using ShareL10n::tr;
  std::string problem;
  if (diskFull()) {
    problem = tr("磁盘空间不足");
  } else if (kind_ == Kind::toolUnavailable) {
    problem = tr("找不到压缩工具 %@（请安装 zip）", toolPath_);
  } else if (kind_ == Kind::launchFailed) {
    problem = tr("无法启动压缩工具 %@", toolPath_);
  } else if (kind_ == Kind::failed && status_ == unreadableFilesStatus) {
    problem = tr("其中有些文件无法读取");
  } else if (kind_ == Kind::failed) {
    const auto tool = std::filesystem::path(toolPath_).filename().string();
    problem = tr("%@ 退出码 %@", {tool, std::to_string(status_)});
  } else {
    problem = this->problem();
  }
  return tr("无法压缩文件夹 %@：%@", {name_, problem});
}

bool ShareArchiveError::operator==(const ShareArchiveError& other) const {
  return kind_ == other.kind_ && name_ == other.name_ && toolPath_ == other.toolPath_ &&
         detail_ == other.detail_ && status_ == other.status_ && seconds_ == other.seconds_;
}

}  // namespace lumo

#include "ShareArchive.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "FileDescriptor.hpp"
#include "ShareUUID.hpp"
#include "UnicodeText.hpp"

extern char** environ;

namespace lumo {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto killGrace = std::chrono::seconds(3);
constexpr std::size_t logReadBytes = 64 * 1024;

std::string displayName(const fs::path& source) {
  const auto name = source.filename().string();
  return name.empty() ? "未命名文件夹" : name;
}

/// Removes a path (file or folder tree) when the operation ends, whatever the outcome.
struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

/// Waits for the archiver, through a pidfd when the kernel has one, else by polling. The leader
/// is left unreaped until `reap`, so its process-group id cannot be reused while the group is
/// being killed.
class ChildWaiter {
 public:
  explicit ChildWaiter(pid_t pid)
      : pid_(pid), pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}

  /// Whether the leader ended within `limit`.
  bool waitFor(Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (hasExited()) return true;
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      sleepAtMost(left);
    }
  }

  /// Kills whatever is left of the group, waits until it is gone, then collects the leader's
  /// wait status.
  int reap() {
    ::kill(-pid_, SIGKILL);
    awaitGroupExit();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }

 private:
  /// SIGKILL is delivered asynchronously: wait (bounded) until no member of the group still runs,
  /// so that none outlives the call. Zombies waiting for their reaper no longer run.
  void awaitGroupExit() const {
    const auto deadline = Clock::now() + killGrace;
    while (groupHasRunningMember() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  bool groupHasRunningMember() const {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
      const auto name = entry.path().filename().string();
      if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const auto afterName = line.rfind(") ");
      if (afterName == std::string::npos) continue;
      std::istringstream fields(line.substr(afterName + 2));
      char state = 0;
      long parent = 0, group = 0;
      if (!(fields >> state >> parent >> group)) continue;
      if (group == pid_ && state != 'Z' && state != 'X') return true;
    }
    return false;
  }

  bool hasExited() {
    siginfo_t info{};
    const int result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    return (result == 0 && info.si_pid == pid_) || (result < 0 && errno == ECHILD);
  }

  void sleepAtMost(Clock::duration left) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
    if (pidfd_.get() >= 0) {
      pollfd descriptor{pidfd_.get(), POLLIN, 0};
      ::poll(&descriptor, 1, static_cast<int>(std::min<std::int64_t>(ms, 60000)));
    } else {
      std::this_thread::sleep_for(std::min(left, Clock::duration(std::chrono::milliseconds(10))));
    }
  }

  pid_t pid_;
  FileDescriptor pidfd_;
};

/// Asks the archiver's whole process group (helpers it started included) to terminate, kills it
/// after the grace period, and reaps the leader.
void stopProcessGroup(const ShareArchiveProcessWatch& watch, ChildWaiter& waiter) {
  ::kill(-watch.process, SIGTERM);
  waiter.waitFor(killGrace);
  waiter.reap();
}

struct SpawnSetup {
  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attributes{};
  SpawnSetup(int logFd, const fs::path& workingDirectory) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, logFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, logFd, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);  // its own group, so helpers die with it
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

/// The exit status as the platform reports it: the exit code, or the signal that ended it.
std::int32_t exitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
  return -1;
}

std::string readEnd(const fs::path& file, std::size_t bytes) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return {};
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return {};
  const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
  const auto start = size > bytes ? size - bytes : 0;
  std::string content(size - start, '\0');
  const auto count = ::pread(fd.get(), content.data(), content.size(), static_cast<off_t>(start));
  content.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return content;
}

std::string collapsedLine(std::string_view text) {
  std::string line;
  bool inBlank = false;
  UnicodeText::forEachScalar(text, [&](char32_t scalar, std::size_t offset, std::size_t length) {
    if (UnicodeText::isBlank(scalar) || UnicodeText::isLineBreak(scalar)) {
      inBlank = true;
      return;
    }
    if (inBlank && !line.empty()) line += ' ';
    inBlank = false;
    line.append(text.data() + offset, length);
  });
  return line;
}

}  // namespace

ShareArchive::ShareArchive(fs::path toolPath) : toolPath_(std::move(toolPath)) {}

bool ShareArchive::isAvailable() const {
  std::error_code error;
  return fs::is_regular_file(toolPath_, error) && ::access(toolPath_.c_str(), X_OK) == 0;
}

std::int64_t ShareArchive::makeZip(const fs::path& sourceDirectory, const fs::path& destination,
                                   double timeoutSeconds) const {
  const auto source = fs::absolute(sourceDirectory).lexically_normal();
  const auto folder = source.has_filename() ? source : source.parent_path();
  ShareArchiveProcessWatch watch{-1, displayName(folder)};
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw ShareArchiveError::sourceUnavailable(watch.name);
  if (!isAvailable()) throw ShareArchiveError::toolUnavailable(watch.name, toolPath_.string());

  const auto target = fs::absolute(destination);
  fs::create_directories(target.parent_path());
  fs::remove(target, error);
  // The archiver writes (and keeps its own temporary files) in a private folder beside the
  // destination; only a finished archive is moved into place.
  const RemoveOnExit work{target.parent_path() / (".lumo-zip-" + makeLowercaseUUID())};
  const auto toolName = toolPath_.filename().string();
  if (!fs::create_directory(work.path, error)) {
    throw ShareArchiveError::launchFailed(watch.name, toolPath_.string(), error.message());
  }
  const auto log =
      fs::temp_directory_path(error) / ("lumo-" + toolName + "-" + makeLowercaseUUID() + ".log");
  const RemoveOnExit removeLog{log};
  FileDescriptor logFd(::open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (logFd.get() < 0) {
    throw ShareArchiveError::launchFailed(watch.name, toolPath_.string(),
                                          "无法创建 " + toolName + " 日志文件");
  }

  const auto output = work.path / "archive.zip";
  auto member = folder.filename().string();
  if (!member.empty() && member.front() == '-') member = "./" + member;  // never an option
  std::vector<std::string> arguments = {toolPath_.string(), "-r",  "-y", "-q",
                                        output.string(),    member};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnSetup setup(logFd.get(), folder.parent_path());
  const int spawned = ::posix_spawn(&watch.process, toolPath_.c_str(), &setup.actions,
                                    &setup.attributes, argv.data(), environ);
  if (spawned != 0) {
    throw ShareArchiveError::launchFailed(watch.name, toolPath_.string(), std::strerror(spawned));
  }

  const auto limit = std::max(timeoutSeconds, 1.0);
  ChildWaiter waiter(watch.process);
  const auto limitDuration =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
  if (!waiter.waitFor(limitDuration)) {
    stopProcessGroup(watch, waiter);
    throw ShareArchiveError::timedOut(watch.name, static_cast<std::int64_t>(std::trunc(limit)));
  }
  const auto status = exitStatus(waiter.reap());
  logFd.close();
  if (status != 0) {
    throw ShareArchiveError::failed(watch.name, toolPath_.string(), status, logTail(log));
  }
  const auto size = fs::file_size(output, error);
  if (error || size == 0) throw ShareArchiveError::emptyArchive(watch.name);
  fs::rename(output, target, error);
  if (error) throw ShareArchiveError::launchFailed(watch.name, toolPath_.string(), error.message());
  return static_cast<std::int64_t>(size);
}

std::string ShareArchive::describe(const std::exception& error) {
  if (const auto* archiveError = dynamic_cast<const ShareArchiveError*>(&error)) {
    return archiveError->readableReason();
  }
  return error.what();
}

std::string ShareArchive::logTail(const fs::path& log, std::size_t limit) {
  const auto text = UnicodeText::wellFormed(readEnd(log, logReadBytes));
  auto line = collapsedLine(UnicodeText::trimmed(text));
  const auto count = UnicodeText::characterCount(line);
  if (count <= limit) return line;
  const auto dropped = UnicodeText::prefixCharacters(line, count - limit).size();
  return "…" + line.substr(dropped);
}

}  // namespace lumo

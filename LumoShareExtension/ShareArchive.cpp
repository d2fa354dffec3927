#include "ShareArchive.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "AtomicFile.hpp"
#include "FileDescriptor.hpp"
#include "ShareUUID.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto killGrace = std::chrono::seconds(3);
constexpr std::size_t logReadBytes = 64 * 1024;
constexpr auto readingInterval = std::chrono::milliseconds(100);

std::string displayName(const fs::path& source) {
  const auto name = source.filename().string();
  return name.empty() ? "未命名文件夹" : name;
}

FileDescriptor openPidfd(pid_t pid) {
  return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

/// Waits until the process behind `pidfd` has ended (a zombie counts as ended), at most `limit`.
bool awaitEnd(const FileDescriptor& pidfd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd descriptor{pidfd.get(), POLLIN, 0};
    const int ready =
        ::poll(&descriptor, 1, static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && Clock::now() >= deadline) return false;
  }
}

/// The processes the leader started, and theirs, as the kernel lists each task's children.
std::vector<pid_t> descendantsOf(pid_t leader) {
  std::vector<pid_t> found;
  std::vector<pid_t> pending{leader};
  while (!pending.empty() && found.size() < 4096) {
    const auto pid = pending.back();
    pending.pop_back();
    std::error_code error;
    for (const auto& task : fs::directory_iterator(fmt::format("/proc/{}/task", pid), error)) {
      std::ifstream children(task.path() / "children");
      for (pid_t child = 0; children >> child;) {
        found.push_back(child);
        pending.push_back(child);
      }
    }
  }
  return found;
}

/// The archiver process: leader of its own process group, watched through a pidfd. The leader is
/// left unreaped until `reap`, so its group id cannot be reused while the group is being killed.
class ShareArchiveProcessWatch {
 public:
  explicit ShareArchiveProcessWatch(pid_t pid) : pid_(pid), pidfd_(openPidfd(pid)) {}
  ShareArchiveProcessWatch(const ShareArchiveProcessWatch&) = delete;
  ShareArchiveProcessWatch& operator=(const ShareArchiveProcessWatch&) = delete;
  ~ShareArchiveProcessWatch() {
    if (!reaped_) reap();
  }

  pid_t pid() const { return pid_; }

  /// Whether the leader ended within `limit`.
  bool waitFor(Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    if (pidfd_.valid()) return awaitEnd(pidfd_, deadline);
    while (!hasExited()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  /// Asks the whole group (helpers the archiver started included) to terminate, then reaps it.
  void stop() {
    ::kill(-pid_, SIGTERM);
    waitFor(killGrace);
    reap();
  }

  /// Kills whatever is left of the group and of the processes the archiver started, waits
  /// (bounded) until each has ended, and answers the leader's wait status.
  int reap() {
    std::vector<FileDescriptor> helpers;
    for (const auto pid : descendantsOf(pid_)) helpers.push_back(openPidfd(pid));
    ::kill(-pid_, SIGKILL);
    // Helpers that left the group (a new session, say) are killed one by one.
    for (const auto& helper : helpers) {
      if (helper.valid()) ::syscall(SYS_pidfd_send_signal, helper.get(), SIGKILL, nullptr, 0);
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    const auto deadline = Clock::now() + killGrace;
    for (const auto& helper : helpers) {
      if (helper.valid()) awaitEnd(helper, deadline);
    }
    return status;
  }

 private:
  bool hasExited() const {
    siginfo_t info{};
    const int result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    return (result == 0 && info.si_pid == pid_) || (result < 0 && errno == ECHILD);
  }

  pid_t pid_;
  FileDescriptor pidfd_;
  bool reaped_ = false;
};

/// The bytes the process has read so far ("rchar" of its I/O counters); nothing when the kernel
/// does not tell.
std::optional<std::int64_t> bytesReadBy(pid_t pid) {
  std::ifstream counters(fmt::format("/proc/{}/io", pid));
  std::string key;
  for (std::int64_t value = 0; counters >> key >> value;) {
    if (key == "rchar:") return value;
  }
  return std::nullopt;
}

/// The exit status as the platform reports it: the exit code, or the signal that ended it.
std::int32_t exitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
  return -1;
}

/// NUL-terminated copies of texts for execve, made before forking.
class CStrings {
 public:
  explicit CStrings(std::vector<std::string> texts) : texts_(std::move(texts)) {
    for (auto& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  char* const* get() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

/// The archiver's whole environment. Info-ZIP reads options from ZIPOPT (and ZIP), so nothing of
/// the caller's environment may reach it; only the time zone passes, for local file times.
std::vector<std::string> archiverEnvironment() {
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};
  if (const char* zone = std::getenv("TZ")) environment.push_back(std::string("TZ=") + zone);
  return environment;
}

/// What the child does between fork and exec: only async-signal-safe calls. It dies with the
/// process that started it (a killed `stage` must not leave a running archiver behind).
[[noreturn]] void execArchiver(const char* tool, char* const* argv, char* const* envp,
                               const char* workingDirectory, int logFd, pid_t parent,
                               int reportFd) {
  ::setpgid(0, 0);  // its own group, so helpers it starts die with it
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);  // the parent died before the death signal was set
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  const int nullFd = ::open("/dev/null", O_RDONLY);
  if (nullFd < 0 || ::dup2(nullFd, STDIN_FILENO) < 0 || ::dup2(logFd, STDOUT_FILENO) < 0 ||
      ::dup2(logFd, STDERR_FILENO) < 0 || ::chdir(workingDirectory) != 0) {
    const int error = errno;
    (void)!::write(reportFd, &error, sizeof error);
    ::_exit(127);
  }
  ::execve(tool, argv, envp);
  const int error = errno;
  (void)!::write(reportFd, &error, sizeof error);
  ::_exit(127);
}

/// Why the archiver could not be started.
struct SpawnFailure {
  int error;
};

/// Starts the archiver; answers its pid, or what kept it from starting.
std::variant<pid_t, SpawnFailure> spawnArchiver(const fs::path& tool,
                                                std::vector<std::string> arguments,
                                                const fs::path& workingDirectory, int logFd) {
  CStrings argv(std::move(arguments));
  CStrings envp(archiverEnvironment());
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return SpawnFailure{errno};
  const FileDescriptor reader(report[0]);
  FileDescriptor writer(report[1]);
  const auto parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return SpawnFailure{errno};
  if (pid == 0) {
    execArchiver(tool.c_str(), argv.get(), envp.get(), workingDirectory.c_str(), logFd, parent,
                 writer.get());
  }
  ::setpgid(pid, pid);  // also from here, so the group exists before anyone signals it
  writer.close();
  int error = 0;
  ssize_t count = 0;
  while ((count = ::read(reader.get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (count == sizeof error) {
    int ignored = 0;
    ::waitpid(pid, &ignored, 0);
    return SpawnFailure{error};
  }
  return pid;
}

/// Removes a folder tree when the operation ends, whatever the outcome.
struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

/// The folder to archive and the names the archiver is given. A symlink to a folder is archived
/// as the folder it points to, under the link's name: the archiver (which keeps links as links)
/// is handed the folder's entries through the link ("link/a", "link/b"); links inside stay links.
struct ArchiveSource {
  fs::path workingDirectory;
  std::vector<std::string> members;
  std::string name;
};

std::vector<std::string> entriesThroughLink(const fs::path& link, const std::string& member) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(link)) {
    entries.push_back(member + "/" + entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

/// Zip stores a folder it cannot list as an empty one; every folder of the tree must be readable.
bool isReadableTree(const fs::path& folder) {
  std::error_code error;
  fs::recursive_directory_iterator walk(folder, fs::directory_options::none, error);
  for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
  }
  return !error;
}

ArchiveSource resolveSource(const fs::path& sourceDirectory) {
  const auto source = fs::absolute(sourceDirectory).lexically_normal();
  const auto folder = source.has_filename() ? source : source.parent_path();
  const auto name = displayName(folder);
  std::error_code error;
  if (!fs::is_directory(folder, error) || !isReadableTree(folder)) {
    throw ShareArchiveError::sourceUnavailable(name);
  }
  auto member = folder.filename().string();
  if (!member.empty() && member.front() == '-') member = "./" + member;  // never an option
  if (!fs::is_symlink(folder, error)) return {folder.parent_path(), {member}, name};
  try {
    return {folder.parent_path(), entriesThroughLink(folder, member), name};
  } catch (const fs::filesystem_error&) {
    throw ShareArchiveError::sourceUnavailable(name);
  }
}

/// The archiver's log: an unlinked temporary file, so that nothing is left behind even when the
/// process is killed.
FileDescriptor openLog(const std::string& name, const fs::path& tool) {
  std::error_code error;
  const auto folder = fs::temp_directory_path(error);
  FileDescriptor fd(::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600));
  if (fd.valid()) return fd;
  const auto path =
      folder / ("lumo-" + tool.filename().string() + "-" + makeLowercaseUUID() + ".log");
  fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    throw ShareArchiveError::launchFailed(name, tool.string(),
                                          "无法创建 " + tool.filename().string() + " 日志文件");
  }
  ::unlink(path.c_str());
  return fd;
}

std::string readEnd(int fd, std::size_t bytes) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return {};
  const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
  const auto start = size > bytes ? size - bytes : 0;
  std::string content(size - start, '\0');
  const auto count = ::pread(fd, content.data(), content.size(), static_cast<off_t>(start));
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

std::string tailOf(const std::string& bytes, std::size_t limit) {
  auto line = collapsedLine(UnicodeText::trimmed(UnicodeText::wellFormed(bytes)));
  const auto count = UnicodeText::characterCount(line);
  if (count <= limit) return line;
  const auto dropped = UnicodeText::prefixCharacters(line, count - limit).size();
  return "…" + line.substr(dropped);
}

}  // namespace

ShareArchive::ShareArchive(fs::path toolPath) : toolPath_(std::move(toolPath)) {}

bool ShareArchive::isAvailable() const {
  std::error_code error;
  return fs::is_regular_file(toolPath_, error) && ::access(toolPath_.c_str(), X_OK) == 0;
}

std::int64_t ShareArchive::makeZip(const fs::path& sourceDirectory, const fs::path& destination,
                                   double timeoutSeconds, const Reading& reading) const {
  const auto source = resolveSource(sourceDirectory);
  if (!isAvailable()) throw ShareArchiveError::toolUnavailable(source.name, toolPath_.string());
  const auto target = fs::absolute(destination);
  AtomicFile::createDirectories(target.parent_path());
  std::error_code ignored;
  fs::remove(target, ignored);
  // The archiver writes (and keeps its own temporary files) in a private folder beside the
  // destination; only a finished archive is moved into place.
  const RemoveOnExit work{target.parent_path() / (".lumo-zip-" + makeLowercaseUUID())};
  if (::mkdir(work.path.c_str(), 0700) != 0) {
    throw ShareArchiveError::launchFailed(source.name, toolPath_.string(), std::strerror(errno));
  }
  const auto output = work.path / "archive.zip";
  const auto log = openLog(source.name, toolPath_);
  std::vector<std::string> arguments = {toolPath_.string(), "-r", "-y", "-q", output.string()};
  arguments.insert(arguments.end(), source.members.begin(), source.members.end());
  runArchiver(source.name, std::move(arguments), source.workingDirectory, log.get(), timeoutSeconds,
              reading);
  const auto size = fs::file_size(output, ignored);
  if (ignored || size == 0) throw ShareArchiveError::emptyArchive(source.name);
  fs::rename(output, target);  // a file-system failure, reported as such
  return static_cast<std::int64_t>(size);
}

void ShareArchive::runArchiver(const std::string& name, std::vector<std::string> arguments,
                               const fs::path& workingDirectory, int logFd, double timeoutSeconds,
                               const Reading& reading) const {
  const auto spawned = spawnArchiver(toolPath_, std::move(arguments), workingDirectory, logFd);
  if (const auto* failure = std::get_if<SpawnFailure>(&spawned)) {
    throw ShareArchiveError::launchFailed(name, toolPath_.string(), std::strerror(failure->error));
  }
  ShareArchiveProcessWatch process(std::get<pid_t>(spawned));
  const auto limit = std::max(timeoutSeconds, 1.0);
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(limit));
  bool ended = false;
  for (auto left = deadline - Clock::now(); !ended && left > Clock::duration::zero();
       left = deadline - Clock::now()) {
    ended = process.waitFor(reading ? std::min<Clock::duration>(left, readingInterval) : left);
    if (!ended && reading) {
      if (const auto bytes = bytesReadBy(process.pid())) reading(*bytes);
    }
  }
  if (!ended) {
    process.stop();
    throw ShareArchiveError::timedOut(name, static_cast<std::int64_t>(std::trunc(limit)));
  }
  const auto status = exitStatus(process.reap());
  if (status != 0) {
    throw ShareArchiveError::failed(name, toolPath_.string(), status,
                                    tailOf(readEnd(logFd, logReadBytes), 400));
  }
}

std::string ShareArchive::describe(const std::exception& error) {
  if (const auto* archiveError = dynamic_cast<const ShareArchiveError*>(&error)) {
    return archiveError->readableReason();
  }
  return error.what();
}

std::string ShareArchive::logTail(const fs::path& log, std::size_t limit) {
  const FileDescriptor fd(::open(log.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return tailOf(readEnd(fd.get(), logReadBytes), limit);
}

}  // namespace lumo

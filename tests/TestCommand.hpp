#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

namespace lumo::testing {

struct CommandResult {
  int status = -1;  ///< exit status, -1 when it did not exit normally
  std::string output;
  std::string errors;  ///< standard error, where the runner keeps it apart
};

/// Runs `command` with /bin/sh, capturing its standard output.
inline CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = ::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, count);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

/// The unprivileged account ("nobody") that programs under test run as when the tests run as root,
/// who ignores file permissions.
inline constexpr uid_t unprivilegedId = 65534;

/// The exit status of a child that `waitpid` reported; -1 when it did not exit normally.
inline int exitStatus(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Reads `fd` to its end (or its first error) into `text`.
inline void readAll(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const auto count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    text.append(buffer, static_cast<std::size_t>(count));
  }
}

/// Runs `command` with /bin/sh as `runCommand` does, but as the unprivileged user when the tests
/// run as root, so that file permissions hold for it; standard error is kept in `errors`. A shell
/// status of 128 and above means the program died of a signal.
inline CommandResult runCommandUnprivileged(const std::string& command) {
  CommandResult result;
  int output[2];
  FILE* errors = std::tmpfile();
  if (errors == nullptr || ::pipe2(output, O_CLOEXEC) != 0) return result;
  const bool dropPrivileges = ::geteuid() == 0;
  const pid_t child = ::fork();
  if (child == 0) {  // only async-signal-safe calls until exec
    if (::dup2(output[1], STDOUT_FILENO) < 0 || ::dup2(::fileno(errors), STDERR_FILENO) < 0) {
      ::_exit(126);
    }
    if (dropPrivileges && (::setgroups(0, nullptr) != 0 ||
                           ::setresgid(unprivilegedId, unprivilegedId, unprivilegedId) != 0 ||
                           ::setresuid(unprivilegedId, unprivilegedId, unprivilegedId) != 0)) {
      ::_exit(126);
    }
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(output[1]);
  if (child > 0) readAll(output[0], result.output);
  ::close(output[0]);
  if (child > 0) result.status = exitStatus(child);
  std::rewind(errors);
  readAll(::fileno(errors), result.errors);
  std::fclose(errors);
  return result;
}

/// Runs `command` with /bin/sh on a pseudo-terminal of its own, as someone at a terminal: once
/// the terminal shows `prompt`, types `answer` and Return. `output` is all the terminal showed
/// (with "\r\n" line ends); nothing is typed before the prompt, which a program may flush away.
inline CommandResult runOnTerminal(const std::string& command, const std::string& prompt,
                                   const std::string& answer) {
  CommandResult result;
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (child < 0) return result;
  const auto typed = answer + "\n";
  bool answered = false;
  char buffer[4096];
  for (;;) {  // the terminal reads EIO once the program and its shell are gone
    const auto count = ::read(terminal, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(count));
    if (!answered && result.output.find(prompt) != std::string::npos) {
      answered =
          ::write(terminal, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size());
    }
  }
  ::close(terminal);
  result.status = exitStatus(child);
  return result;
}

/// `text` quoted for /bin/sh.
inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char character : text)
    quoted += character == '\'' ? "'\\''" : std::string(1, character);
  return quoted + "'";
}

/// The error of type `Error` that `call` throws; nothing when it returns or throws another type
/// (which then escapes).
template <class Error, class Call>
std::optional<Error> thrown(Call&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

/// The error number of the std::filesystem::filesystem_error that `call` throws; nothing when
/// it returns.
template <class Call>
std::optional<int> errnoOf(Call&& call) {
  const auto error = thrown<std::filesystem::filesystem_error>(call);
  return error ? std::optional(error->code().value()) : std::nullopt;
}

}  // namespace lumo::testing

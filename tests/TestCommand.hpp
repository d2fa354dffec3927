#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <optional>
#include <string>

namespace lumo::testing {

struct CommandResult {
  int status = -1;  ///< exit status, -1 when it did not exit normally
  std::string output;
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

/// `text` quoted for /bin/sh.
inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char character : text) {
    if (character == '\'') {
      quoted += "'\\''";
    } else {
      quoted += character;
    }
  }
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

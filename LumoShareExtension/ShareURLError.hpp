#pragma once

#include <exception>
#include <string>

namespace lumo {

/// A failure of the URL loading system itself: the request never produced a complete HTTP
/// reply. Transports throw it unchanged; the API clients decide what it means to the user
/// (`cancelled` becomes a cancelled upload, everything else a transport failure whose text is
/// `localizedDescription`).
class ShareURLError : public std::exception {
 public:
  enum class Code {
    cancelled,
    timedOut,
    badURL,
    unsupportedURL,
    cannotFindHost,
    cannotConnectToHost,
    networkConnectionLost,
    secureConnectionFailed,
    serverCertificateUntrusted,
    badServerResponse,
    dataLengthExceedsMaximum,
    fileDoesNotExist,
    noPermissionsToReadFile,
    cannotOpenFile,
    invalidRequest,
    unknown,
  };

  /// `detail` is what the loading system said (curl's message, the file error); it goes into
  /// `what()` for logs, in English, but not into the user text.
  explicit ShareURLError(Code code, std::string detail = {});
  /// A local file that could not be read, by the error number the system gave: missing, not
  /// permitted, or otherwise unopenable.
  static ShareURLError fileError(int error, const std::string& file);

  Code code() const noexcept { return code_; }
  const std::string& detail() const noexcept { return detail_; }
  /// The short user text for the code, in the reader's language ("请求超时。", "The request
  /// timed out.").
  std::string localizedDescription() const;
  const char* what() const noexcept override { return what_.c_str(); }

  bool operator==(const ShareURLError& other) const {
    return code_ == other.code_ && detail_ == other.detail_;
  }

 private:
  Code code_;
  std::string detail_;
  std::string what_;
};

}  // namespace lumo

#include "ShareURLError.hpp"

#include <utility>

namespace lumo {
namespace {

const char* descriptionOf(ShareURLError::Code code) {
  using Code = ShareURLError::Code;
  switch (code) {
    case Code::cancelled:
      return "cancelled";
    case Code::timedOut:
      return "The request timed out.";
    case Code::badURL:
      return "unsupported URL";
    case Code::unsupportedURL:
      return "unsupported URL";
    case Code::cannotFindHost:
      return "A server with the specified hostname could not be found.";
    case Code::cannotConnectToHost:
      return "Could not connect to the server.";
    case Code::networkConnectionLost:
      return "The network connection was lost.";
    case Code::secureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case Code::serverCertificateUntrusted:
      return "The certificate for this server is invalid. You might be connecting to a server "
             "that is pretending to be the service, which could put your confidential "
             "information at risk.";
    case Code::badServerResponse:
      return "The server returned a bad response.";
    case Code::dataLengthExceedsMaximum:
      return "The server's reply is too large.";
    case Code::fileDoesNotExist:
      return "The file doesn't exist.";
    case Code::noPermissionsToReadFile:
      return "You don't have permission to read the file.";
    case Code::cannotOpenFile:
      return "The file couldn't be opened.";
    case Code::invalidRequest:
      return "The request couldn't be sent.";
    case Code::unknown:
      break;
  }
  return "An unknown error occurred.";
}

}  // namespace

ShareURLError::ShareURLError(Code code, std::string detail)
    : code_(code), detail_(std::move(detail)) {
  what_ = descriptionOf(code_);
  if (!detail_.empty()) what_ += " (" + detail_ + ")";
}

std::string ShareURLError::localizedDescription() const {
  return descriptionOf(code_);
}

}  // namespace lumo

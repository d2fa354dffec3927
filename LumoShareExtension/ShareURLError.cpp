#include "ShareURLError.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

#include "ShareL10n.hpp"

namespace lumo {
namespace {

using ShareL10n::marked;

/// A code's user text as the catalogue knows it (Chinese) and its English words for the logs.
struct Description {
  const char* chinese;
  const char* english;
};

Description descriptionOf(ShareURLError::Code code) {
  using Code = ShareURLError::Code;
  switch (code) {
    case Code::cancelled:
      return {marked("已取消"), "cancelled"};
    case Code::timedOut:
      return {marked("请求超时。"), "The request timed out."};
    case Code::badURL:
    case Code::unsupportedURL:
      return {marked("不支持的 URL。"), "unsupported URL"};
    case Code::cannotFindHost:
      return {marked("找不到指定主机名的服务器。"),
              "A server with the specified hostname could not be found."};
    case Code::cannotConnectToHost:
      return {marked("无法连接服务器。"), "Could not connect to the server."};
    case Code::networkConnectionLost:
      return {marked("网络连接已中断。"), "The network connection was lost."};
    case Code::secureConnectionFailed:
      return {marked("发生 SSL 错误，无法与服务器建立安全连接。"),
              "An SSL error has occurred and a secure connection to the server cannot be made."};
    case Code::serverCertificateUntrusted:
      return {
          marked("此服务器的证书无效。你连接的可能是冒充该服务的服务器，机密信息可能因此泄露。"),
          "The certificate for this server is invalid. You might be connecting to a server "
          "that is pretending to be the service, which could put your confidential "
          "information at risk."};
    case Code::badServerResponse:
      return {marked("服务器返回了错误的响应。"), "The server returned a bad response."};
    case Code::dataLengthExceedsMaximum:
      return {marked("服务器的响应过大。"), "The server's reply is too large."};
    case Code::fileDoesNotExist:
      return {marked("文件不存在。"), "The file doesn't exist."};
    case Code::noPermissionsToReadFile:
      return {marked("没有读取该文件的权限。"), "You don't have permission to read the file."};
    case Code::cannotOpenFile:
      return {marked("无法打开文件。"), "The file couldn't be opened."};
    case Code::invalidRequest:
      return {marked("请求无法发送。"), "The request couldn't be sent."};
    case Code::unknown:
      break;
  }
  return {marked("发生未知错误。"), "An unknown error occurred."};
}

}  // namespace

ShareURLError::ShareURLError(Code code, std::string detail)
    : code_(code), detail_(std::move(detail)) {
  what_ = descriptionOf(code_).english;
  if (!detail_.empty()) what_ += " (" + detail_ + ")";
}

ShareURLError ShareURLError::fileError(int error, const std::string& file) {
  auto detail = file + ": " + std::strerror(error);
  if (error == ENOENT || error == ENOTDIR) return ShareURLError(Code::fileDoesNotExist, detail);
  if (error == EACCES || error == EPERM) {
    return ShareURLError(Code::noPermissionsToReadFile, detail);
  }
  return ShareURLError(Code::cannotOpenFile, detail);
}

std::string ShareURLError::localizedDescription() const {
  return ShareL10n::tr(descriptionOf(code_).chinese);
}

}  // namespace lumo

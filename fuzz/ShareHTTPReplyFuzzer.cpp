// Feeds arbitrary replies (status, "Retry-After" value, body bytes) to the reply mappings:
// error-body reading, the publishing, account and entitlements mappings and "Retry-After".
// Besides crashes and sanitizer reports it checks what callers rely on: success passes, every
// failure is one ShareUploadError with a user text, retry hints are never negative.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "LumoShare.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct Reply {
  int status = 0;
  std::string_view retryAfter;
  std::string_view body;
};

/// Layout: two bytes of status (0…1023), one byte giving the length of the "Retry-After"
/// value, the value, then the body.
Reply split(std::string_view input) {
  Reply reply;
  if (input.size() < 3) return reply;
  reply.status =
      ((static_cast<unsigned char>(input[0]) << 8) | static_cast<unsigned char>(input[1])) % 1024;
  const auto length = std::min<std::size_t>(static_cast<unsigned char>(input[2]), input.size() - 3);
  reply.retryAfter = input.substr(3, length);
  reply.body = input.substr(3 + length);
  return reply;
}

void checkValidate(const Reply& reply, const lumo::ShareHTTPResponse& response) {
  const bool success = reply.status >= 200 && reply.status <= 299;
  try {
    lumo::ShareHTTP::validate(reply.body, response, 1700000000000);
    require(success);
  } catch (const lumo::ShareUploadError& error) {
    require(!success);
    require(!error.message().empty());
    require(!lumo::queueErrorText(error).empty());
    if (const auto* limited = error.as<lumo::ShareUploadError::RateLimited>())
      require(reply.status == 429 && (!limited->retryAfterMs || *limited->retryAfterMs >= 0));
    if (const auto* decoding = error.as<lumo::ShareUploadError::Decoding>())
      require(decoding->text.size() <= lumo::ShareUploadError::maxDecodingTextBytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto reply = split(std::string_view(reinterpret_cast<const char*>(data), size));
  const lumo::ShareHTTPResponse response{reply.status,
                                         {{"Retry-After", std::string(reply.retryAfter)}}};
  if (const auto ms = lumo::ShareHTTP::retryAfterMs(response, 1700000000000)) require(*ms >= 0);
  const auto record = lumo::ShareHTTP::apiError(reply.body, reply.status);
  checkValidate(reply, response);
  const auto account = lumo::ShareHTTP::accountError(reply.body, reply.status);
  require(account.status() == reply.status);
  require(record ? account.code() == record->code && account.message() == record->message
                 : account.message() == "HTTP " + std::to_string(reply.status));
  const auto entitlements = lumo::ShareHTTP::entitlementsError(reply.body, reply.status);
  require(entitlements.kind() == lumo::ShareUploadError::Kind::http);
  return 0;
}

#pragma once
// How the service's handlers read credentials and write replies.
#include <httplib.h>

#include <optional>
#include <string>
#include <string_view>

#include "ShareJSON.hpp"
#include "ShareServerErrorCodes.hpp"

namespace lumo::service {

/// The error codes replies use: the service's own, and the generic ones.
namespace Codes = ShareServerErrorCodes;
namespace Generic = ErrorCodeValues;

/// An error reply: {"error": code, "message": text}.
inline void fail(httplib::Response& response, int status, const std::string& code,
                 const std::string& message) {
  response.status = status;
  response.set_content(ShareJSONEncoder::dump(JSONValue{{"error", code}, {"message", message}}),
                       "application/json");
}

template <class Record>
inline void reply(httplib::Response& response, const Record& record) {
  response.status = 200;
  response.set_content(ShareJSON::encoder().encode(record), "application/json");
}

inline std::optional<std::string> bearerToken(const httplib::Request& request) {
  const auto header = request.get_header_value("Authorization");
  constexpr std::string_view scheme = "Bearer ";
  if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0) {
    return std::nullopt;
  }
  return header.substr(scheme.size());
}

}  // namespace lumo::service

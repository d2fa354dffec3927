#pragma once
// The reply handling that the account and device calls share: a transport failure is status 0
// "transport", a reply outside 2xx goes through the account mapping, a reply that does not decode
// is status 0 "decoding".
#include <exception>
#include <stop_token>

#include "ShareAPIError.hpp"
#include "ShareHTTP.hpp"
#include "ShareHTTPTransport.hpp"
#include "ShareJSON.hpp"
#include "ShareURLError.hpp"

namespace lumo::ShareAccountRequest {

/// Sends `request` and decodes the reply as `Reply`. Throws ShareAPIError.
template <class Reply>
Reply send(ShareHTTPTransport& transport, const ShareHTTPRequest& request,
           std::stop_token stop = {}) {
  ShareHTTPReply reply;
  try {
    reply = transport.data(request, stop);
  } catch (const ShareURLError& error) {
    throw ShareAPIError(0, "transport", error.localizedDescription());
  } catch (const std::exception& error) {
    throw ShareAPIError(0, "transport", error.what());
  }
  const int status = reply.response.status;
  if (status < 200 || status > 299) throw ShareHTTP::accountError(reply.body, status);
  try {
    return ShareJSON::decoder().decode<Reply>(reply.body);
  } catch (const std::exception& error) {
    throw ShareAPIError(0, "decoding", error.what());
  }
}

}  // namespace lumo::ShareAccountRequest

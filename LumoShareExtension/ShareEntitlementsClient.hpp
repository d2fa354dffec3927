#pragma once

#include <memory>
#include <string>

#include "MeResponse.hpp"
#include "ShareHTTPTransport.hpp"
#include "Url.hpp"

namespace lumo {

/// The account's plan, limits and usage ("me"), with the account token. A reply outside 2xx
/// throws ShareUploadError `http` (retryable for 429 and from 500 up), an undecodable one
/// `decoding`; a transport failure passes on as it was thrown.
struct ShareEntitlementsClient {
  Url apiBase;
  std::string token;
  std::shared_ptr<ShareHTTPTransport> transport;

  MeResponse fetch() const;
};

}  // namespace lumo

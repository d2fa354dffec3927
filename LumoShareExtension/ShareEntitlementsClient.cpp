#include "ShareEntitlementsClient.hpp"

#include "ShareHTTP.hpp"

namespace lumo {

MeResponse ShareEntitlementsClient::fetch() const {
  const auto reply =
      transport->data(ShareHTTP::makeRequest(ShareHTTP::endpoint(apiBase, "me"), "GET", token));
  const int status = reply.response.status;
  if (status < 200 || status > 299) throw ShareHTTP::entitlementsError(reply.body, status);
  return ShareHTTP::decode<MeResponse>(reply.body);
}

}  // namespace lumo

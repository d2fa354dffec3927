// The service's account and device routes besides publishing: claim binding, pairing, the
// device list, a device's own record and its notices.
#include "ServiceReplies.hpp"
#include "ServiceRequests.hpp"
#include "ShareService.hpp"
#include "ShareUUID.hpp"
#include "ShareVocabularies.hpp"

namespace lumo::service {
namespace {

/// Pairing codes: 8 characters a person reads off one screen and types on another, without
/// look-alikes (0/O, 1/I/L).
constexpr std::string_view pairingAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

bool isAckStatus(const std::string& status) {
  namespace A = AckStatusValues;
  return status == A::shown || status == A::stored || status == A::error || status == A::skip;
}

std::optional<std::string> queryValue(const httplib::Request& request, const char* name) {
  if (!request.has_param(name)) return std::nullopt;
  return request.get_param_value(name);
}

}  // namespace

void ShareService::deviceRoutes() {
  postJSON("/api/v1/anon/bind", [this](const auto& request, const auto& body, auto& response) {
    bindAnonymous(request, body, response);
  });
  postJSON("/api/v1/devices/pair/start",
           [this](const auto& request, const auto& body, auto& response) {
             pairStart(request, body, response);
           });
  postJSON("/api/v1/devices/pair/claim",
           [this](const auto&, const auto& body, auto& response) { pairClaim(body, response); });
  server_->Get("/api/v1/devices",
               [this](const auto& request, auto& response) { listDevices(request, response); });
  server_->Get("/api/v1/devices/me",
               [this](const auto& request, auto& response) { deviceMe(request, response); });
  server_->Get("/api/v1/devices/notices",
               [this](const auto& request, auto& response) { listNotices(request, response); });
  postJSON(R"(/api/v1/devices/notices/([A-Za-z0-9_-]+)/ack)",
           [this](const auto& request, const auto& body, auto& response) {
             acknowledgeNotice(request, body, response);
           });
  server_->Delete(R"(/api/v1/devices/([A-Za-z0-9_-]+))",
                  [this](const auto& request, auto& response) { deleteDevice(request, response); });
}

std::optional<std::pair<std::string, DeviceInfo>> ShareService::deviceSignedIn(
    const httplib::Request& request, httplib::Response& response) {
  const auto token = bearerToken(request);
  auto device =
      token ? store_.signInDevice(ServiceSecrets::secretHash(*token), now()) : std::nullopt;
  if (!device) fail(response, 401, Codes::deviceAuthRequired, "a paired device's token is needed");
  return device;
}

void ShareService::bindAnonymous(const httplib::Request& request, const std::string& body,
                                 httplib::Response& response) {
  const auto caller = signedIn(request, response);
  if (!caller) return;
  const auto parsed = parseBody<BindRequest>(body);
  if (!parsed) return fail(response, 400, Generic::invalidRequest, "the body is no bind request");
  if (const auto problem = bindRequestProblem(*parsed)) {
    return fail(response, 400, Codes::validationError, *problem);
  }
  BindResult result;
  const auto moment = now();
  for (const auto& item : parsed->items) {
    switch (store_.bindAnonymous(item.slug, item.kind, ServiceSecrets::secretHash(item.claim_token),
                                 caller->account->id, moment)) {
      case ServiceStore::BindOutcome::bound:
        result.bound.push_back({item.kind, item.slug, shortUrl(item.slug)});
        break;
      case ServiceStore::BindOutcome::expired:
        result.failed.push_back({item.kind, item.slug, Codes::claimExpired});
        break;
      case ServiceStore::BindOutcome::invalid:
        result.failed.push_back({item.kind, item.slug, Codes::claimInvalid});
        break;
    }
  }
  reply(response, BindResponse{true, result});
}

void ShareService::pairStart(const httplib::Request& request, const std::string& body,
                             httplib::Response& response) {
  const auto caller = signedIn(request, response);
  if (!caller) return;
  // The name and platform are hints for a console to show; the claiming device names itself.
  if (!body.empty() && !parseBody<PairStartRequest>(body)) {
    return fail(response, 400, Generic::invalidRequest, "the body is no pairing request");
  }
  const auto expiresAt = now() + pairingSeconds;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const auto code = ServiceSecrets::randomCode(pairingAlphabet, 8);
    if (store_.addPairing(code, caller->account->id, expiresAt)) {
      return reply(response, PairStartResponse{true, {code, expiresAt}});
    }
  }
  fail(response, 503, Generic::unavailable, "no free pairing code; try again");
}

void ShareService::pairClaim(const std::string& body, httplib::Response& response) {
  const auto parsed = parseBody<PairClaimRequest>(body);
  if (!parsed) return fail(response, 400, Generic::invalidRequest, "the body is no pairing claim");
  if (const auto problem = pairClaimProblem(*parsed)) {
    return fail(response, 400, Codes::validationError, *problem);
  }
  const auto moment = now();
  const DeviceInfo device{makeLowercaseUUID(),  parsed->name, parsed->platform,
                          parsed->capabilities, moment,       std::nullopt};
  const auto token = ServiceSecrets::newSecretToken();
  const auto claim = store_.claimPairing(normalizedPairingCode(parsed->code), device,
                                         ServiceSecrets::secretHash(token), moment);
  if (claim.outcome == ServiceStore::PairingClaim::unknown) {
    return fail(response, 404, Codes::pairCodeNotFound, "no such pairing code");
  }
  if (claim.outcome == ServiceStore::PairingClaim::expired) {
    return fail(response, 410, Codes::pairCodeExpired, "the pairing code expired");
  }
  reply(response, PairClaimResponse{true, {device, token, claim.account}});
}

void ShareService::listDevices(const httplib::Request& request, httplib::Response& response) {
  const auto caller = signedIn(request, response);
  if (!caller) return;
  reply(response, DeviceListResponse{true, {store_.devices(caller->account->id)}});
}

void ShareService::deleteDevice(const httplib::Request& request, httplib::Response& response) {
  const auto caller = signedIn(request, response);
  if (!caller) return;
  const std::string id = request.matches[1];
  if (!store_.deleteDevice(caller->account->id, id)) {
    return fail(response, 404, Codes::deviceNotFound, "no such device");
  }
  reply(response, DeleteDeviceResponse{true, {id}});
}

void ShareService::deviceMe(const httplib::Request& request, httplib::Response& response) {
  const auto device = deviceSignedIn(request, response);
  if (!device) return;
  reply(response, DeviceMeResponse{true, {device->second}});
}

void ShareService::listNotices(const httplib::Request& request, httplib::Response& response) {
  const auto device = deviceSignedIn(request, response);
  if (!device) return;
  const auto query = parseNoticeQuery(queryValue(request, "limit"), queryValue(request, "since"));
  if (!query) {
    return fail(response, 400, Codes::validationError,
                "limit is 1 to 200 and since a notice cursor");
  }
  reply(response, DeviceNoticeListResponse{
                      true, store_.notices(device->second.id, query->since, query->limit)});
}

void ShareService::acknowledgeNotice(const httplib::Request& request, const std::string& body,
                                     httplib::Response& response) {
  const auto device = deviceSignedIn(request, response);
  if (!device) return;
  const auto parsed = parseBody<NoticeAck>(body);
  if (!parsed) return fail(response, 400, Generic::invalidRequest, "the body is no notice ack");
  if (!isAckStatus(parsed->status)) {
    return fail(response, 400, Codes::validationError, "status is shown, stored, error or skip");
  }
  if (!store_.acknowledge(device->second.id, request.matches[1], parsed->status)) {
    return fail(response, 404, Generic::notFound, "no such notice");
  }
  reply(response, OkResponse{true});
}

}  // namespace lumo::service

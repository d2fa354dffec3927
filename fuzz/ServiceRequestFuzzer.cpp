// Feeds arbitrary bytes to what the reference service reads from requests itself (the JSON
// bodies of every route, slugs, pairing codes, the notice query) and to what its share pages
// make of file names and Markdown. Nothing may crash or throw; what parses must keep the bounds
// the service relies on; no name splits a header; no Markdown yields a script element.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DocShare.hpp"
#include "LinkRecord.hpp"
#include "ServiceRequests.hpp"
#include "ShareApple.hpp"
#include "SharePages.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumo::service;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  lumo::service::parseBody<lumo::DocMetadata>(input);
  lumo::service::parseBody<lumo::LinkCreateRequest>(input);
  lumo::service::parseBody<lumo::PairStartRequest>(input);
  lumo::service::parseBody<lumo::NoticeAck>(input);
  if (const auto bind = parseBody<lumo::BindRequest>(input)) {
    require(bindRequestProblem(*bind).has_value() ==
            (bind->items.size() > lumo::ShareApple::bindMaxBatchSize));
  }
  if (const auto claim = parseBody<lumo::PairClaimRequest>(input);
      claim && !pairClaimProblem(*claim)) {
    require(!claim->name.empty() && claim->name.size() <= 100);
    require(normalizedPairingCode(claim->code).size() <= 64);
  }
  if (isValidSlug(input, 4)) require(input.size() >= 4 && input.size() <= 64);
  const auto half = input.substr(0, size / 2);
  const auto query = parseNoticeQuery(std::string(half), std::string(input.substr(size / 2)));
  if (query) require(query->limit >= 1 && query->limit <= 200 && query->since >= 0);
  // A file name becomes a header value: it must never split the header.
  const auto disposition = SharePages::contentDisposition("attachment", std::string(input));
  require(disposition.find_first_of("\r\n") == std::string::npos);
  const auto html = SharePages::markdownHtml(input);
  require(html.find("<script") == std::string::npos);
  // Whatever an uploader calls its type, what the service serves is one plain media type.
  const auto served = SharePages::previewOf(std::string(half), std::string(input)).servedType;
  require(served.find_first_of(";, \t\r\n") == std::string_view::npos);
  if (const auto type = SharePages::mediaType(input)) {
    require(type->find_first_of(";, \t\r\n") == std::string::npos && type->find('/') != 0);
  }
  require(SharePages::downloadType(std::string(input)).find_first_of(";,\r\n") ==
          std::string::npos);
  return 0;
}

// The browser tests' world: the reference service on an ephemeral loopback port, with one share
// per page behaviour published through the library's own publishing client. It prints one JSON
// line (the page base and the slug of each share), then reads commands from standard input:
// "advance SECONDS" moves the service's clock on (answered "ok"); end of input stops it.
#include <atomic>
#include <fstream>
#include <iostream>

#include "LumoShare.hpp"
#include "ServiceFixture.hpp"
#include "TemporaryDirectory.hpp"

namespace {

namespace fs = std::filesystem;
using namespace lumo;
using testing::systemNow;

class Fixture {
 public:
  Fixture(service::ShareService& service, const std::string& apiBase, const fs::path& folder)
      : folder_(folder),
        transport_(URLSessionTransport::makeDefault()),
        apiBase_(*Url::parse(apiBase)) {
    service.store().addAccount({"pro-id", "pro", "pro", systemNow()});
    token_ = service.secrets().issueToken("pro-id", systemNow(), 30);
  }

  /// Publishes `content` as the file `name` of type `mime`, signed in, with `options`.
  std::string publish(const std::string& name, const std::string& mime, const std::string& content,
                      ShareOptions options) {
    const auto staged = name + ".staged";
    std::ofstream(folder_ / staged, std::ios::binary) << content;
    StagedShare share;
    share.clientShareId = staged;
    share.payload.kind = "file";
    const auto size = static_cast<std::int64_t>(content.size());
    share.attachments.push_back({"i1", staged, "file", mime, name, size, "", {}, {}, {}});
    return client().upload(share, folder_, options).slug;
  }
  std::string publishLink(const std::string& url, ShareOptions options) {
    StagedShare share;
    share.clientShareId = url + " " + std::to_string(++links_);  // each its own share
    share.payload.kind = "link";
    share.payload.url = url;
    return client().upload(share, folder_, options).slug;
  }

 private:
  ShareUploadClient client() const {
    return ShareUploadClient(apiBase_, token_, transport_, RetryPolicy{1, 1, 1, 0});
  }

  fs::path folder_;
  std::shared_ptr<ShareHTTPTransport> transport_;
  Url apiBase_;
  std::string token_;
  int links_ = 0;
};

WatermarkSettings watermark(const std::string& position, std::int64_t rotation) {
  return WatermarkSettings{true, "仅供 Ana 查看", position, 0.35, "#ffffff", 48, rotation, true};
}

/// An upload whose script, if it ever ran, would leave its marks: on its own document, and on
/// the share page around it.
constexpr const char* hostileHtml =
    "<h1>HTML</h1><script>document.title='ran';window.ran=true;"
    "try{top.document.title='escaped';top.document.body.textContent='rewritten'}catch(e){}"
    "</script>";

JSONValue publishAll(Fixture& fixture, int port) {
  std::ifstream in(fs::path(LUMO_TEST_FIXTURES) / "media/rotated-4032x3024.jpg", std::ios::binary);
  const std::string picture(std::istreambuf_iterator<char>(in), {});
  ShareOptions plain;
  ShareOptions withPassword;
  withPassword.password = "open sesame";
  ShareOptions once;
  once.maxDownloads = 1;
  ShareOptions viewOnly;
  viewOnly.disableDownload = true;
  viewOnly.watermark = watermark("center", 0);
  ShareOptions burn;
  burn.burnAfterReading = true;
  ShareOptions marked;
  marked.title = "旅行照片";
  marked.watermark = watermark("diagonal", -30);
  ShareOptions shortLived;
  shortLived.expiresInSeconds = 86400;
  const auto target = "http://127.0.0.1:" + std::to_string(port) + "/api/v1/health";
  return JSONValue{
      {"link", fixture.publishLink(target, plain)},
      {"linkTarget", target},
      {"protectedLink", fixture.publishLink(target, withPassword)},
      {"protected",
       fixture.publish("secret.txt", "text/plain", "机密内容 top secret\n", withPassword)},
      {"limited", fixture.publish("once.txt", "text/plain", "只能下载一次\n", once)},
      {"viewOnly", fixture.publish("photo.jpg", "image/jpeg", picture, viewOnly)},
      {"burn", fixture.publish("burn.txt", "text/plain", "阅后即焚的内容\n", burn)},
      {"watermarked", fixture.publish("trip.jpg", "image/jpeg", picture, marked)},
      {"expiring", fixture.publish("soon.txt", "text/plain", "明天过期\n", shortLived)},
      {"unicode", fixture.publish("报告 2026 ü.txt", "text/plain", "年度报告\n", plain)},
      {"markdown", fixture.publish("readme.md", "text/markdown",
                                   "# 说明\n\n* **粗体** 列表\n* [链接](javascript:alert(1))\n\n"
                                   "<script>document.title='ran'</script>\n",
                                   plain)},
      {"html", fixture.publish("page.html", "text/html", hostileHtml, plain)},
      // Types that once passed for PDF (served without a sandbox) while browsers read HTML.
      {"pdfThenHtml", fixture.publish("a.pdf", "application/pdf;,text/html", hostileHtml, plain)},
      {"pdfThenHtmlUpper",
       fixture.publish("b.pdf", "APPLICATION/PDF;,text/html", hostileHtml, plain)},
      {"pdfThenHtmlSpaced",
       fixture.publish("c.pdf", "application/pdf ; , text/html", hostileHtml, plain)},
      {"pdfCommaHtml", fixture.publish("d.pdf", "application/pdf, text/html", hostileHtml, plain)},
      {"svg", fixture.publish("drawing.svg", "image/svg+xml",
                              "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'>"
                              "<script>document.title='ran'</script>"
                              "<circle cx='50' cy='50' r='40' fill='teal'/></svg>",
                              plain)},
  };
}

}  // namespace

int main() {
  testing::TemporaryDirectory data;
  testing::TemporaryDirectory folder;
  std::atomic<std::int64_t> offset = 0;
  auto options =
      testing::serviceOptions(data.path(), [&offset] { return systemNow() + offset.load(); });
  options.rateBurst = 0;
  // Pages live under "/s/"; the port, known once bound, only matters to the browser.
  options.publicBase = "http://127.0.0.1/s/";
  testing::RunningService running(options);
  if (running.port < 0) return 1;
  const auto pageBase = "http://127.0.0.1:" + std::to_string(running.port) + "/s/";
  try {
    Fixture fixture(running.service, running.apiBase(), folder.path());
    auto shares = publishAll(fixture, running.port);
    std::cout << ShareJSONEncoder::dump(
                     JSONValue{{"base", pageBase}, {"shares", std::move(shares)}})
              << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
      if (line.rfind("advance ", 0) == 0) offset += std::stoll(line.substr(8));
      std::cout << "ok" << std::endl;
    }
  } catch (const std::exception& error) {
    std::cerr << "fixture: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

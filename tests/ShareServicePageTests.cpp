// The reference service's share pages over real HTTP: which type a preview and a download are
// served with, which byte ranges are answered, what a download limit and view-only allow through
// the preview, and that HEAD and parallel views never burn a share twice or not at all.
#include <gtest/gtest.h>
#include <httplib.h>

#include <latch>
#include <map>
#include <regex>
#include <thread>

#include "ServiceTest.hpp"
#include "ShareJSON.hpp"
#include "SharePages.hpp"

namespace lumo {
namespace {

using Counts = std::pair<std::int64_t, std::int64_t>;  ///< downloads, views
constexpr const char* sandboxed = "sandbox";
constexpr const char* hostileHtml =
    "<h1>x</h1><script>document.title='ran';try{top.document.title='escaped'}catch(e){}</script>";

class ShareServicePageTest : public testing::ServiceTest {
 protected:
  ShareServicePageTest()
      : ServiceTest([](auto& options) {
          options.rateBurst = 0;
          options.anonymousActiveLimit = 1000;
        }) {}

  /// Publishes `content` anonymously as a file part of type `type` named `name`.
  std::string publish(const std::string& type, const std::string& content,
                      const JSONValue& metadata = JSONValue::object(),
                      const std::string& name = "page.html") {
    const httplib::MultipartFormDataItems items{
        {"metadata", metadata.dump(), "", "application/json"}, {"file", content, name, type}};
    const auto reply = http_.Post("/api/v1/anon/docs", items);
    EXPECT_TRUE(reply && reply->status == 200);
    if (!reply) return "";
    const auto answer = JSONValue::parse(reply->body, nullptr, false);
    return answer.value("/result/doc/slug"_json_pointer, "");
  }
  static int status(const httplib::Result& reply) { return reply ? reply->status : 0; }
  /// Where the share's page takes its preview from: "/<slug>/view…", or "" without one.
  std::string embeddedPreview(const std::string& slug) {
    const auto page = get("/" + slug);
    std::smatch source;
    if (!page || !std::regex_search(page->body, source, std::regex("src=\"(/[^\"]*/view[^\"]*)\"")))
      return "";
    return source[1];
  }
  /// The share's download and view counts; -1 for a share that is gone.
  Counts counts(const std::string& slug) {
    const auto share = service_.store().share(slug);
    return share ? Counts(share->downloadCount, share->viewCount) : Counts(-1, -1);
  }

  httplib::Client http_{"127.0.0.1", port_};
};

TEST_F(ShareServicePageTest, PreviewKindsAndTypesComeFromTheMediaTypeAloneAndRespectLimits) {
  using service::SharePages::Preview;
  const std::tuple<const char*, const char*, Preview, const char*, const char*> types[] = {
      {"application/pdf", "a.pdf", Preview::pdf, "application/pdf", "application/pdf"},
      {"Application/PDF ;name=\"x;y\" ; q=1", "a", Preview::pdf, "application/pdf",
       "application/pdf"},
      {"application/pdf;,text/html", "a.pdf", Preview::none, "", "application/octet-stream"},
      {"application/pdf, text/html", "a.pdf", Preview::none, "", "application/octet-stream"},
      {"application/pdf;a=\"open", "a.pdf", Preview::none, "", "application/octet-stream"},
      {"application/pdf;a", "a.pdf", Preview::none, "", "application/octet-stream"},
      {"application/ pdf", "a.pdf", Preview::none, "", "application/octet-stream"},
      {"text/html;charset=utf-8", "a.pdf", Preview::sandboxed, "text/html", "text/html"},
      {"IMAGE/SVG+XML", "a.svg", Preview::sandboxed, "image/svg+xml", "image/svg+xml"},
      {"image/png", "a.md", Preview::image, "image/png", "image/png"},
      {"image/x-unheard-of", "a.png", Preview::none, "", "image/x-unheard-of"},
      {"video/mp4", "a", Preview::video, "video/mp4", "video/mp4"},
      {"audio/mpeg", "a", Preview::audio, "audio/mpeg", "audio/mpeg"},
      {"text/plain; charset=gbk", "a.txt", Preview::text, "", "text/plain"},
      {"text/plain", "A.MD", Preview::markdown, "", "text/plain"},
      {"application/octet-stream", "a.markdown", Preview::markdown, "", "application/octet-stream"},
      {"application/zip", "a.md", Preview::none, "", "application/zip"},
      {"", "a.txt", Preview::none, "", "application/octet-stream"},
  };
  for (const auto& [uploaded, filename, kind, servedType, downloadType] : types) {
    const auto previewing = service::SharePages::previewOf(uploaded, filename);
    EXPECT_EQ(previewing.kind, kind) << uploaded;
    EXPECT_EQ(previewing.servedType, servedType) << uploaded;
    EXPECT_EQ(service::SharePages::downloadType(uploaded), downloadType) << uploaded;
  }

  // The uploaded type, the preview's ("" when the page shows no preview of its own route) and
  // the download's.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"application/pdf;,text/html", "", "application/octet-stream"},
      {"APPLICATION/PDF;,text/html", "", "application/octet-stream"},
      {"application/pdf ; , text/html", "", "application/octet-stream"},
      {"application/pdf, text/html", "", "application/octet-stream"},
      {"Application/PDF; name=\"a;b.pdf\"", "application/pdf", "application/pdf"},
      {"text/html; charset=utf-8", "text/html", "text/html"},
      {"image/png; x=\"<script>\"", "image/png", "image/png"},
  };
  for (const auto& [uploaded, previewType, downloadType] : cases) {
    SCOPED_TRACE(uploaded);
    const auto slug = publish(uploaded, hostileHtml);
    const auto preview = embeddedPreview(slug);
    EXPECT_EQ(preview.empty(), *previewType == '\0');
    if (!preview.empty()) {
      const auto view = get(preview);
      ASSERT_EQ(status(view), 200);
      EXPECT_EQ(view->get_header_value("Content-Type"), previewType);
      EXPECT_EQ(view->get_header_value("Content-Security-Policy").rfind(sandboxed, 0) == 0,
                std::string(previewType) != "application/pdf");
    }
    EXPECT_EQ(status(get("/" + slug + "/view")), 404) << "a preview only by the page's own link";
    const auto file = get("/" + slug + "/file");
    ASSERT_EQ(status(file), 200);
    EXPECT_EQ(file->get_header_value("Content-Type"), downloadType);
    EXPECT_EQ(file->get_header_value("Content-Disposition").rfind("attachment;", 0), 0u);
    EXPECT_EQ(file->get_header_value("Content-Security-Policy").rfind(sandboxed, 0), 0u);
    EXPECT_EQ(file->get_header_value("X-Content-Type-Options"), "nosniff");
  }

  const std::tuple<const char*, const char*, JSONValue, bool> limits[] = {
      {"a limited text", "text/plain", {{"max_downloads", 1}}, false},
      {"a view-only zip", "application/zip", {{"disable_download", true}}, false},
      {"a view-only image", "image/png", {{"disable_download", true}}, true},
      {"a limited image", "image/png", {{"max_downloads", 1}}, true},
  };
  for (const auto& [name, type, metadata, previewed] : limits) {
    SCOPED_TRACE(name);
    const auto slug = publish(type, "content", metadata);
    const auto preview = embeddedPreview(slug);
    EXPECT_EQ(!preview.empty(), previewed);
    for (int view = 0; view < 3; ++view) {
      EXPECT_EQ(status(get(preview.empty() ? "/" + slug + "/view" : preview)),
                previewed ? 200 : 404);
    }
    EXPECT_EQ(counts(slug), Counts(0, 1)) << "the page's one view, no download";
  }
}

TEST_F(ShareServicePageTest, RangesAreOneSpanLimitsCountEachRequestAndBurnsHaveOneWinner) {
  const std::string content(1048576, 'x');
  const auto size = std::to_string(content.size());
  std::string manyRanges = "bytes=0-";
  for (int range = 0; range < 300; ++range) manyRanges += ",0-";
  // The range asked for, the status, the body's size and the Content-Range answered.
  const std::tuple<std::string, int, std::size_t, std::string> unlimited[] = {
      {"bytes=0-9", 206, 10, "bytes 0-9/" + size},
      {"bytes=1-", 206, content.size() - 1, "bytes 1-1048575/" + size},
      {"bytes=-10", 206, 10, "bytes 1048566-1048575/" + size},
      {"bytes=1048570-99999999", 206, 6, "bytes 1048570-1048575/" + size},
      {"bytes=1048576-", 416, 0, "bytes */" + size},
      {"bytes=-0", 416, 0, "bytes */" + size},
      {manyRanges, 200, content.size(), ""},
      {"bytes=1-1048575,0-0", 200, content.size(), ""},
  };
  const auto slug = publish("application/octet-stream", content);
  for (const auto& [range, answered, bodySize, contentRange] : unlimited) {
    SCOPED_TRACE(range.substr(0, 40));
    const auto reply = get("/" + slug + "/file", {{"Range", range}});
    ASSERT_EQ(status(reply), answered);
    EXPECT_EQ(reply->body.size(), bodySize);
    EXPECT_EQ(reply->get_header_value("Content-Range"), contentRange);
  }
  EXPECT_EQ(counts(slug).first, 3) << "whole copies and ranges from the first byte";

  const auto once = publish("application/octet-stream", content, {{"max_downloads", 1}});
  EXPECT_EQ(status(get("/" + once + "/file", {{"Range", "bytes=1-"}})), 206);
  for (const auto* range : {"bytes=1-", "bytes=0-0", "bytes=1-1048575,0-0", "bytes=1048576-"}) {
    EXPECT_EQ(status(get("/" + once + "/file", {{"Range", range}})), 410) << range;
  }
  EXPECT_EQ(counts(once).first, 1);

  const auto burning =
      publish("text/plain", std::string(4096, 'b'), {{"burn_after_reading", true}});
  constexpr int viewers = 60;
  std::latch start(viewers);
  std::vector<int> statuses(viewers);
  std::vector<std::thread> threads;
  for (int viewer = 0; viewer < viewers; ++viewer) {
    threads.emplace_back([&, viewer] {
      start.arrive_and_wait();
      statuses[static_cast<std::size_t>(viewer)] = status(get("/" + burning));
    });
  }

  for (auto& thread : threads) thread.join();
  std::map<int, int> answers;
  for (const auto status : statuses) ++answers[status];
  EXPECT_EQ(answers, (std::map<int, int>{{200, 1}, {410, viewers - 1}}));
  const auto burn = publish("text/plain", "once", {{"burn_after_reading", true}});
  const auto limited = publish("text/plain", "once", {{"max_downloads", 1}});
  EXPECT_EQ(status(http_.Head("/" + burn)), 200);
  EXPECT_EQ(status(http_.Head("/" + limited + "/file")), 200);
  EXPECT_EQ(counts(limited), Counts(0, 0));
  EXPECT_EQ(counts(burn), Counts(0, 0)) << "a burnt share would be gone";
}

}  // namespace
}  // namespace lumo

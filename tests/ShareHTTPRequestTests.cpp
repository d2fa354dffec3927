#include <gtest/gtest.h>

#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

const Url base = *Url::parse("https://api.example.test/api/v1");

TEST(ShareHTTPRequests, EndpointsJoinAndEscapePiecesAndRequestsCarryTheConventions) {
  const auto expected = "https://api.example.test/api/v1/devices/notices";
  for (const auto* path : {"devices/notices", "/devices/notices", "devices//notices",
                           "devices/notices/", "//devices///notices//"}) {
    EXPECT_EQ(ShareHTTP::endpoint(base, path).absoluteString(), expected) << path;
  }
  EXPECT_EQ(
      ShareHTTP::endpoint(*Url::parse("https://api.example.test/api/v1/"), "me").absoluteString(),
      "https://api.example.test/api/v1/me");
  EXPECT_EQ(ShareHTTP::endpoint(base, "").absoluteString(), base.absoluteString());

  const auto url = ShareHTTP::endpoint(base, "devices/a b?c#d%e/ack");
  EXPECT_EQ(url.absoluteString(), "https://api.example.test/api/v1/devices/a%20b%3Fc%23d%25e/ack");
  EXPECT_TRUE(url.queryItems().empty());
  EXPECT_EQ(ShareHTTP::endpoint(base, "devices/设备").absoluteString(),
            "https://api.example.test/api/v1/devices/%E8%AE%BE%E5%A4%87");
  // A "." or ".." piece (a hostile device id, say) is data, not a step: it stays inside the API.
  EXPECT_EQ(ShareHTTP::endpoint(base, "devices/../me").absoluteString(),
            "https://api.example.test/api/v1/devices/%2E%2E/me");
  EXPECT_EQ(ShareHTTP::endpoint(base, "devices/./.../me").absoluteString(),
            "https://api.example.test/api/v1/devices/%2E/.../me");

  const auto links = ShareHTTP::endpoint(base, "links");
  const auto request = ShareHTTP::makeRequest(links, "POST", "tok-1", std::string("{\"url\":1}"),
                                              "application/json");
  EXPECT_EQ(request.timeout, std::chrono::seconds(60));
  EXPECT_EQ(request.headerFields, (HTTPHeaderFields{{"Authorization", "Bearer tok-1"},
                                                    {"Accept", "application/json"},
                                                    {"Content-Type", "application/json"}}));
  EXPECT_EQ(request.body, "{\"url\":1}");
  // No token (or an empty one) sends no Authorization; extra headers replace, whatever the case.
  const auto anonymous = ShareHTTP::makeRequest(links, "GET", "");
  EXPECT_EQ(std::tuple(anonymous.value("Authorization"), anonymous.body),
            std::tuple(std::nullopt, std::nullopt));
  const auto extra =
      ShareHTTP::makeRequest(links, "GET", "t", std::nullopt, std::nullopt,
                             {{"accept", "text/plain"}, {"Authorization", "Device abc"}});
  EXPECT_EQ(
      std::tuple(extra.value("Accept"), extra.value("Authorization"), extra.headerFields.size()),
      std::tuple(std::optional<std::string>("text/plain"), std::optional<std::string>("Device abc"),
                 2u));
}

struct Probe {
  std::string name;
  std::int64_t size = 0;
  static Probe decode(const JSONObjectReader& reader) {
    return {reader.required<std::string>("name"), reader.required<std::int64_t>("size")};
  }
};

TEST(ShareHTTPBodies, MultipartGoldenBytesInMemoryOrStreamedHeaderSafeNamesAndRecords) {
  const ShareMultipartFile file{"photo.jpg", "image/jpeg", std::string("\xff\xd8\0\x01", 4)};
  const auto body =
      ShareMultipart::body({{"metadata", "{\"title\":\"t\"}"}, {"empty", ""}}, file, "lumo-b1");
  const std::string expected = std::string() +
                               "--lumo-b1\r\n"
                               "Content-Disposition: form-data; name=\"metadata\"\r\n\r\n"
                               "{\"title\":\"t\"}\r\n"
                               "--lumo-b1\r\n"
                               "Content-Disposition: form-data; name=\"empty\"\r\n\r\n"
                               "\r\n"
                               "--lumo-b1\r\n"
                               "Content-Disposition: form-data; name=\"file\"; "
                               "filename=\"photo.jpg\"\r\n"
                               "Content-Type: image/jpeg\r\n\r\n" +
                               std::string("\xff\xd8\0\x01", 4) + "\r\n--lumo-b1--\r\n";
  EXPECT_EQ(body.data, expected);
  EXPECT_EQ(body.contentType, "multipart/form-data; boundary=lumo-b1");

  // Streamed from the file instead, the pieces are the same bytes, read in steps of any size.
  testing::TemporaryDirectory folder;
  std::ofstream(folder / "photo.jpg", std::ios::binary) << file.data;
  const auto opened = ShareRequestParts::File::open(folder / "photo.jpg", "photo.jpg");
  const auto streamed = ShareMultipart::streamedBody(
      {{"metadata", "{\"title\":\"t\"}"}, {"empty", ""}}, file.filename, file.mimeType,
      ShareRequestParts{{opened}}, "lumo-b1");
  EXPECT_EQ(streamed.parts.size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(streamed.contentType, body.contentType);
  for (const std::size_t step : {1, 3, 4096}) {
    std::string bytes;
    std::vector<char> buffer(step);
    while (const auto count =
               streamed.parts.read(static_cast<std::int64_t>(bytes.size()), buffer.data(), step))
      bytes.append(buffer.data(), count);
    EXPECT_EQ(bytes, expected) << step;
  }
  // A file that is no longer as it was opened (grown, shrunk, or written over in place with as
  // many bytes) is never sent as something else.
  const auto failsToJoin = [](const ShareRequestParts::File& file) {
    const auto error = testing::thrown<ShareURLError>([&] {
      ShareRequestParts{{"head", file}}.joined();
    });
    return error && error->code() == ShareURLError::Code::cannotOpenFile;
  };
  for (const auto declared : {opened.size - 1, opened.size + 1}) {
    auto changed = opened;
    changed.size = declared;
    EXPECT_TRUE(failsToJoin(changed)) << declared;
  }
  std::ofstream(folder / "photo.jpg", std::ios::binary) << "WXYZ";
  std::filesystem::last_write_time(
      folder / "photo.jpg",
      std::filesystem::file_time_type::clock::now() + std::chrono::seconds(1));
  EXPECT_TRUE(failsToJoin(opened)) << "written over in place";

  const auto odd = ShareMultipart::body({}, {"a\"b\r\nc.txt", "text/plain", "x"}, "B").data;
  EXPECT_NE(odd.find("filename=\"a_b__c.txt\"\r\n"), std::string::npos) << odd;
  EXPECT_EQ(ShareMultipart::safeFileName(""), "file");
  EXPECT_EQ(ShareMultipart::safeFileName("报告 1.pdf"), "报告 1.pdf");

  const auto probe = ShareHTTP::decode<Probe>(R"({"name":"n","size":3,"extra":true})");
  EXPECT_EQ(std::tuple(probe.name, probe.size), std::tuple("n", 3));
  // A hostile reply: one 4 MiB token of raw bytes that the decoder quotes in its description.
  const auto hostile = "{\"name\":\"" + std::string(4 << 20, '\xff');
  for (const std::string& body :
       {std::string(), std::string("\x89PNG\r\n"), std::string("[]"),
        std::string(R"({"name":"n"})"), std::string(R"({"name":"n","size":"3"})"), hostile}) {
    const auto error = testing::thrown<ShareUploadError>([&] { ShareHTTP::decode<Probe>(body); });
    const auto* decoding = error ? error->as<ShareUploadError::Decoding>() : nullptr;
    ASSERT_NE(decoding, nullptr) << body;
    EXPECT_FALSE(decoding->text.empty());
    EXPECT_LE(decoding->text.size(), ShareUploadError::maxDecodingTextBytes);
    EXPECT_EQ(UnicodeText::wellFormed(decoding->text), decoding->text);
    EXPECT_EQ(error->message(), "解析响应失败：" + decoding->text);
  }
}

}  // namespace
}  // namespace lumo

// Taking shares back from the reference service: the owner's account deletes documents and links,
// the claim deletes a share that is still anonymous, and nobody else learns that a share exists;
// what is taken back answers 410 on its page, file and preview, leaves no blob, and the
// account's devices hear of it. A download under way when its share is taken back ends whole.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ServiceTest.hpp"
#include "ShareJSON.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Reply = std::pair<int, std::string>;                         ///< a status and its body
using Notice = std::tuple<std::string, std::string, std::string>;  ///< type, kind and slug

Reply replyOf(const httplib::Result& result) {
  return result ? Reply(result->status, result->body) : Reply(0, "no answer");
}

/// A published share as its publisher knows it.
struct Published {
  std::string kind;  ///< "doc" or "link"
  std::string slug;
  std::string claim;  ///< anonymous shares only
};

std::string taken(const Published& share) {
  return JSONValue{{"success", true},
                   {"deleted", JSONValue{{"kind", share.kind}, {"slug", share.slug}}}}
      .dump();
}

/// What a share the caller may not take back answers: the body of a slug that never existed.
Reply notHeld(const std::string& kind) {
  return kind == "doc" ? Reply(404, R"({"error":"DOC_NOT_FOUND","message":"no such document"})")
                       : Reply(404, R"({"error":"LINK_NOT_FOUND","message":"no such link"})");
}

class ShareServiceDeleteTest : public testing::ServiceTest {
 protected:
  ShareServiceDeleteTest()
      : ServiceTest([](auto& options) {
          options.rateBurst = 0;
          options.anonymousActiveLimit = 1000;
        }) {}
  void SetUp() override {
    ServiceTest::SetUp();
    for (const auto* name : {"ana", "bob"}) {
      service_.store().addAccount({std::string(name) + "-id", name, "pro", now_});
      tokens_[name] = service_.secrets().issueToken(std::string(name) + "-id", now_, 30);
    }
    anaDevice_ = testing::pairDevice(service_.store(), "ana-id");
    http_.set_read_timeout(60);
  }

  static httplib::Headers bearer(const std::string& token) {
    return token.empty() ? httplib::Headers{}
                         : httplib::Headers{{"Authorization", "Bearer " + token}};
  }

  /// Publishes a document (`content` as `type`) or, for kind "link", a link to `content`; for
  /// `account`, or anonymously when it is "".
  Published publish(const std::string& kind, const std::string& account,
                    const std::string& content = "notes", const std::string& type = "text/plain") {
    const auto path = std::string(account.empty() ? "/api/v1/anon/" : "/api/v1/") +
                      (kind == "doc" ? "docs" : "links");
    const auto headers = bearer(account.empty() ? "" : tokens_[account]);
    const auto result =
        kind == "doc"
            ? http_.Post(path, headers,
                         httplib::MultipartFormDataItems{{"metadata", "{}", "", "application/json"},
                                                         {"file", content, "notes.png", type}})
            : http_.Post(path, headers, JSONValue{{"url", content}}.dump(), "application/json");
    EXPECT_EQ(replyOf(result).first, 200) << replyOf(result).second;
    const auto answer = JSONValue::parse(result ? result->body : "{}", nullptr, false);
    const auto record = kind == "doc" ? answer.value("/result/doc"_json_pointer, JSONValue())
                                      : answer.value("/link"_json_pointer, JSONValue());
    const auto claim = kind == "doc" ? answer.value("/result/claim_token"_json_pointer, "")
                                     : answer.value("claim_token", "");
    return {kind, record.value("slug", ""), claim};
  }

  /// DELETE on the account route with the bearer `token` ("": none).
  Reply takeBack(const Published& share, const std::string& token) {
    return replyOf(http_.Delete(route(share.kind, false) + share.slug, bearer(token)));
  }
  /// DELETE on the anonymous route with the claim header (none when `claim` is absent).
  Reply takeBackByClaim(const Published& share, const std::optional<std::string>& claim) {
    httplib::Headers headers;
    if (claim) headers.emplace("X-Claim-Token", *claim);
    return replyOf(http_.Delete(route(share.kind, true) + share.slug, headers));
  }
  static std::string route(const std::string& kind, bool anonymous) {
    return std::string("/api/v1/") + (anonymous ? "anon/" : "") +
           (kind == "doc" ? "docs/" : "links/");
  }

  /// The status of the share's page (a link redirects: 302).
  int page(const Published& share) { return replyOf(http_.Get("/" + share.slug)).first; }
  int file(const Published& share) { return replyOf(http_.Get("/" + share.slug + "/file")).first; }
  /// Where the share's page takes its preview from.
  std::string previewLink(const Published& share) {
    const auto body = replyOf(http_.Get("/" + share.slug)).second;
    std::smatch source;
    const std::regex link("src=\"(/[^\"]*/view[^\"]*)\"");
    return std::regex_search(body, source, link) ? source[1].str() : std::string();
  }
  /// Type, kind and slug of every notice of the device, oldest first.
  std::vector<Notice> notices(const std::string& device) {
    const auto reply = replyOf(http_.Get("/api/v1/devices/notices?limit=200", bearer(device)));
    const auto listed = JSONValue::parse(reply.second);
    std::vector<Notice> seen;
    for (const auto& notice : listed.at("result").at("notices")) {
      seen.emplace_back(notice["type"].get<std::string>(), notice["kind"].get<std::string>(),
                        notice["slug"].get<std::string>());
    }
    return seen;
  }
  httplib::Client http_{"127.0.0.1", port_};
  std::map<std::string, std::string> tokens_;
  std::string anaDevice_;
};

TEST_F(ShareServiceDeleteTest, TheOwnerTakesSharesBackNobodyElseLearnsOfThemAndDownloadsEndWhole) {
  const std::string png = "\x89PNG\r\n\x1a\n-pixels";
  const std::vector<Published> shares{publish("doc", "ana", png, "image/png"),
                                      publish("link", "ana", "https://example.org/a")};
  for (const auto& share : shares) {
    SCOPED_TRACE(share.kind);
    const bool doc = share.kind == "doc";
    const auto preview = doc ? previewLink(share) : "";
    ASSERT_EQ(preview.empty(), !doc) << "a document's page shows the image from its own route";
    const Published otherKind{doc ? "link" : "doc", share.slug, ""};
    const Published unknown{share.kind, "no-such-share", ""};
    EXPECT_EQ(takeBack(unknown, tokens_["ana"]), notHeld(share.kind));
    EXPECT_EQ(takeBack(share, tokens_["bob"]), notHeld(share.kind)) << "another account";
    EXPECT_EQ(takeBack(otherKind, tokens_["ana"]), notHeld(otherKind.kind)) << "another kind";
    EXPECT_EQ(takeBackByClaim(share, std::nullopt), notHeld(share.kind)) << "no claim";
    EXPECT_EQ(takeBack(share, "").first, 401);
    EXPECT_EQ(takeBack(share, anaDevice_).first, 401) << "the account's own routes only";
    EXPECT_EQ(page(share), doc ? 200 : 302) << "refused deletes leave the share served";
    if (doc) {
      EXPECT_EQ(replyOf(http_.Get("/" + share.slug + "/file")).second, png);
    }

    ASSERT_EQ(takeBack(share, tokens_["ana"]), Reply(200, taken(share)));
    EXPECT_EQ(takeBack(share, tokens_["ana"]), Reply(200, taken(share))) << "a second time";
    EXPECT_EQ(takeBack(share, tokens_["bob"]), notHeld(share.kind)) << "gone or not, not bob's";
    EXPECT_EQ(page(share), 410);
    if (doc) {
      EXPECT_EQ(file(share), 410);
      EXPECT_EQ(replyOf(http_.Get(preview)).first, 410);
    }
  }
  EXPECT_EQ(blobCount(), 0u);
  EXPECT_EQ(service_.store().activeShares("ana-id", std::nullopt, std::nullopt, now_), 0)
      << "taken back shares count no more towards the plan";
  EXPECT_EQ(notices(anaDevice_), (std::vector<Notice>{{"share.new", "image", shares[0].slug},
                                                      {"share.new", "link", shares[1].slug},
                                                      {"share.deleted", "image", shares[0].slug},
                                                      {"share.deleted", "link", shares[1].slug}}))
      << "one notice for each deletion, none for a repeat";

  std::string content(16 * 1048576, '\0');
  for (std::size_t index = 0; index < content.size(); ++index) {
    content[index] = static_cast<char>(index * 7 % 251);
  }
  const auto share = publish("doc", "ana", content, "application/octet-stream");
  const auto blob = *service_.store().share(share.slug)->blob;
  std::promise<void> streaming, deleted;
  auto resume = deleted.get_future().share();
  std::string received;
  std::thread download([&] {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60);
    bool first = true;
    const auto result =
        client.Get("/" + share.slug + "/file", [&](const char* data, std::size_t length) {
          received.append(data, length);
          if (std::exchange(first, false)) {
            streaming.set_value();
            resume.wait();  // the service is held mid-file while the share is taken back
          }
          return true;
        });
    EXPECT_EQ(replyOf(result).first, 200);
  });
  const bool held =
      streaming.get_future().wait_for(std::chrono::minutes(1)) == std::future_status::ready;
  const auto deletion = held ? takeBack(share, tokens_["ana"]) : Reply(0, "no download under way");
  deleted.set_value();
  download.join();
  EXPECT_EQ(deletion, Reply(200, taken(share)));
  EXPECT_TRUE(received == content) << "received " << received.size() << " bytes";
  EXPECT_FALSE(fs::exists(data_ / "blobs" / blob));
  EXPECT_EQ(file(share), 410) << "a download that starts after it";
  EXPECT_EQ(blobCount(), 0u);
}

TEST_F(ShareServiceDeleteTest, AnAnonymousShareGoesWithItsClaimAndABoundOneWithItsAccountOnly) {
  std::vector<Notice> told;
  for (const auto* kind : {"doc", "link"}) {
    SCOPED_TRACE(kind);
    const auto content = std::string(kind) == "doc" ? "notes" : "https://example.org/b";
    const auto share = publish(kind, "", content);
    const auto other = publish(kind, "", content);
    const int served = page(share);
    ASSERT_NE(served, 410);
    EXPECT_EQ(takeBackByClaim(share, other.claim), notHeld(kind)) << "another share's claim";
    EXPECT_EQ(takeBackByClaim(share, share.claim + "x"), notHeld(kind));
    EXPECT_EQ(takeBackByClaim(share, ""), notHeld(kind));
    EXPECT_EQ(takeBack(share, tokens_["ana"]), notHeld(kind)) << "no account owns it";
    for (const auto* tail : {"%00tail", "%FF"}) {  // no slug; with the claim of the one before
      auto named = share;
      named.slug += tail;
      EXPECT_EQ(takeBackByClaim(named, share.claim), notHeld(kind)) << tail;
    }
    EXPECT_EQ(page(share), served);
    EXPECT_EQ(takeBackByClaim(share, share.claim), Reply(200, taken(share)));
    EXPECT_EQ(takeBackByClaim(share, share.claim), Reply(200, taken(share))) << "a second time";
    EXPECT_EQ(page(share), 410);

    const auto bound = publish(kind, "", content);
    const auto item = JSONValue{{"kind", kind}, {"slug", bound.slug}, {"claim_token", bound.claim}};
    const auto bind = JSONValue{{"items", JSONValue::array({item})}};
    ASSERT_EQ(replyOf(http_.Post("/api/v1/anon/bind", bearer(tokens_["ana"]), bind.dump(),
                                 "application/json"))
                  .first,
              200);
    EXPECT_EQ(takeBackByClaim(bound, bound.claim), notHeld(kind)) << "bound: the account's now";
    EXPECT_EQ(page(bound), served);
    EXPECT_EQ(takeBack(bound, tokens_["ana"]), Reply(200, taken(bound)));
    EXPECT_EQ(page(bound), 410);
    told.emplace_back("share.deleted", std::string(kind) == "doc" ? "file" : "link", bound.slug);
  }
  EXPECT_EQ(notices(anaDevice_), told) << "only the bound shares had an account to tell";
  EXPECT_EQ(blobCount(), 1u) << "the one anonymous document left";
}

TEST_F(ShareServiceDeleteTest, AShareThatExpiredIsTakenBackByItsHolderAloneAndStaysExpired) {
  for (const bool swept : {true, false}) {
    SCOPED_TRACE(swept ? "swept" : "not swept yet");
    clock_ = now_;
    const auto share = publish("doc", "ana");
    clock_ = now_ + 8 * 86400;  // past the default week
    if (swept) service_.purgeExpired();
    EXPECT_EQ(takeBack(share, tokens_["bob"]), notHeld("doc"));
    EXPECT_EQ(takeBack(share, tokens_["ana"]), Reply(200, taken(share)));
    const auto gone = replyOf(http_.Get("/" + share.slug));
    EXPECT_EQ(gone.first, 410);
    EXPECT_NE(gone.second.find("此分享已过期"), std::string::npos) << "not relabelled deleted";
    EXPECT_EQ(blobCount(), 0u);
  }
  for (const auto& [type, kind, slug] : notices(anaDevice_)) {
    EXPECT_NE(type, "share.deleted") << slug << ": an expired share's deletion tells nothing new";
  }
}

}  // namespace
}  // namespace lumo

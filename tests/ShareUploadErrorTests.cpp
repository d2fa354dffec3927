#include <gtest/gtest.h>

#include <unicode/smpdtfmt.h>

#include "LumoShare.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

constexpr std::int64_t now = 1700000000000;

ShareHTTPResponse reply(int status, std::vector<std::pair<std::string, std::string>> headers = {}) {
  return ShareHTTPResponse{status, std::move(headers)};
}

ShareUploadError publishingError(int status, std::string_view body,
                                 std::vector<std::pair<std::string, std::string>> headers = {}) {
  return testing::thrown<ShareUploadError>(
             [&] { ShareHTTP::validate(body, reply(status, std::move(headers)), now); })
      .value();
}

std::optional<std::int64_t> retryAfter(const std::string& value) {
  return ShareHTTP::retryAfterMs(reply(429, {{"retry-after", value}}), now);
}

TEST(ShareHTTPReplies, RetryAfterErrorBodiesAndCodesOverStatusesRateLimitsAndTexts) {
  EXPECT_EQ(retryAfter("3"), 3000);
  EXPECT_EQ(retryAfter(" \t3 "), 3000);
  EXPECT_EQ(retryAfter("-2"), 0);
  EXPECT_EQ(retryAfter("+7"), 7000);
  for (const auto* refused : {"1.5", "", "9223372036854775807", "99999999999999999999999"})
    EXPECT_EQ(retryAfter(refused), std::nullopt) << refused;
  // now is Tue, 14 Nov 2023 22:13:20 GMT
  EXPECT_EQ(retryAfter("Tue, 14 Nov 2023 22:13:30 GMT"), 10000);
  EXPECT_EQ(retryAfter("Tue, 14 Nov 2023 22:13:30 GMT trailing"), std::nullopt);

  EXPECT_EQ(ShareHTTP::apiError(R"({"error":"X","message":"m","extra":1})", 400),
            (ApiError{"X", "m", std::nullopt, std::nullopt}));
  EXPECT_EQ(ShareHTTP::apiError(R"({"error":"X"})", 502)->message, "HTTP 502");
  EXPECT_EQ(ShareHTTP::apiError(R"({"error":"X","message":null})", 400)->message, "HTTP 400");
  for (const auto* none : {R"({"message":"m"})", R"({"error":5})", R"({"error":"X","message":5})",
                           R"(["error"])", "", "<html>"})
    EXPECT_FALSE(ShareHTTP::apiError(none, 400).has_value()) << none;

  EXPECT_NO_THROW(ShareHTTP::validate("not json", reply(204), now));
  EXPECT_EQ(publishingError(401, ""), ShareUploadError::unauthorized("HTTP 401"));
  EXPECT_EQ(publishingError(401, "").message(), "鉴权失败，需要重新登录：HTTP 401");
  EXPECT_EQ(publishingError(403, R"({"error":"AUTH_REQUIRED","message":"sign in"})"),
            ShareUploadError::unauthorized("sign in"));
  EXPECT_EQ(publishingError(401, R"({"error":"VALIDATION_ERROR"})"),
            ShareUploadError::unauthorized("HTTP 401"));
  EXPECT_EQ(
      publishingError(400, R"({"error":"FEATURE_REQUIRES_PAID_PLAN","message":"Custom LOGO"})"),
      ShareUploadError::paidPlanRequired(PaidPlanFeature::logo));
  EXPECT_EQ(publishingError(
                403, R"({"error":"FEATURE_REQUIRES_PAID_PLAN","message":"email and password"})"),
            ShareUploadError::paidPlanRequired(PaidPlanFeature::password));
  const auto unknownFeature = publishingError(403, R"({"error":"FEATURE_REQUIRES_PAID_PLAN"})");
  EXPECT_EQ(unknownFeature.message(),
            "该功能需要 Pro 计划或更高套餐（Hobby 免费套餐不支持），服务端已拒绝本次上传。");
  const auto anonymous = publishingError(200 + 229, R"({"error":"ANON_QUOTA_EXCEEDED"})");
  EXPECT_EQ(anonymous, ShareUploadError::quotaExceeded(5, true));
  // Each case keeps its own payload: the quota's login flag is no retry flag.
  EXPECT_EQ(anonymous.as<ShareUploadError::Http>(), nullptr);
  EXPECT_FALSE(anonymous.isRetryable());
  EXPECT_TRUE(anonymous.requiresLogin());
  EXPECT_EQ(anonymous.message().rfind("匿名分享已达上限（最多 5 条 / 24 小时）：", 0), 0u);
  const auto limit = publishingError(403, R"({"error":"LINK_LIMIT_REACHED"})");
  EXPECT_EQ(limit, ShareUploadError::quotaExceeded(std::nullopt, false));
  EXPECT_EQ(publishingError(403, R"({"error":"DOC_SHARE_LIMIT_REACHED"})"), limit);
  EXPECT_FALSE(limit.requiresLogin());
  EXPECT_FALSE(limit.isRetryable());
  EXPECT_EQ(queueErrorText(limit), "分享配额已满：需要删除历史分享或升级套餐后重试");
  EXPECT_EQ(
      queueErrorText(anonymous),
      "匿名分享已达上限（5 条）：打开 Lumo Share App 会自动刷新登录并补传；否则登录 Lumo 后可继续");

  const auto limited = publishingError(429, "", {{"Retry-After", "3"}});
  EXPECT_EQ(limited, ShareUploadError::rateLimited(3000));
  EXPECT_TRUE(limited.isRetryable());
  EXPECT_EQ(limited.message(), "被限流，建议 3s 后重试");
  EXPECT_EQ(ShareUploadError::rateLimited(2500).message(), "被限流，建议 2s 后重试");
  EXPECT_EQ(publishingError(429, R"({"error":"rate_limited"})").message(), "被限流");
  const auto unavailable = publishingError(503, R"({"error":"unavailable"})");
  EXPECT_EQ(unavailable, ShareUploadError::http(503, "unavailable", true));
  EXPECT_TRUE(unavailable.isRetryable());
  const auto tooLarge = publishingError(413, R"({"error":"FILE_SIZE_EXCEEDED","message":"big"})");
  EXPECT_EQ(tooLarge.message(), "HTTP 413 · FILE_SIZE_EXCEEDED");
  EXPECT_FALSE(tooLarge.isRetryable());
  EXPECT_EQ(publishingError(502, "").message(), "HTTP 502");
  EXPECT_EQ(publishingError(304, ""), ShareUploadError::http(304, std::nullopt, false));
  EXPECT_EQ(publishingError(199, ""), ShareUploadError::http(199, std::nullopt, false));
  EXPECT_EQ(publishingError(400, R"({"error":"auth_required"})"),
            ShareUploadError::http(400, "auth_required", false));

  const auto notFound = ShareHTTP::accountError("", 404);
  EXPECT_EQ(notFound, ShareAPIError(404, "http_404", "HTTP 404"));
  EXPECT_EQ(notFound.errorDescription(), "http_404：HTTP 404");
  EXPECT_TRUE(ShareHTTP::accountError(R"({"error":"DEVICE_AUTH_REQUIRED","message":"m"})", 401)
                  .isUnauthorized());
  EXPECT_EQ(ShareHTTP::entitlementsError("", 401),
            ShareUploadError::http(401, std::nullopt, false));
  EXPECT_TRUE(ShareHTTP::entitlementsError("", 429).isRetryable());
  EXPECT_EQ(ShareHTTP::entitlementsError(R"({"error":"x"})", 500),
            ShareUploadError::http(500, "x", true));

  EXPECT_EQ(
      ShareUploadError::payloadTooLarge("a.zip", 110 * 1048576, 104857600).message(),
      "「a.zip」110.0 MB，超过单次分享上限 100.0 MB（应用包会先压缩，仍然过大请拆分后分享）。");
  EXPECT_EQ(ShareUploadError::quotaExceeded(std::nullopt, true).message(),
            ShareUploadError::quotaExceeded(5, true).message());
  EXPECT_TRUE(ShareUploadError::invalidResponse().isRetryable());
  for (const auto& notRetryable :
       {ShareUploadError::transport("x"), ShareUploadError::decoding("x"),
        ShareUploadError::cancelled(), ShareUploadError::http(500, {}, false)}) {
    EXPECT_FALSE(notRetryable.isRetryable()) << notRetryable.message();
  }
  EXPECT_FALSE(paidPlanFeatureFromRawValue("Password").has_value());
}

}  // namespace
}  // namespace lumo

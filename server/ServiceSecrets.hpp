#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumo::service {

/// The service's secrets: account tokens (HS256 JSON Web Tokens with "sub", "iat" and "exp",
/// signed with a per-installation key kept in the data folder with mode 0600), claim tokens and
/// share passwords (Argon2id).
class ServiceSecrets {
 public:
  /// Reads the signing key of `dataDirectory`, making one the first time. Throws
  /// std::runtime_error when it cannot.
  explicit ServiceSecrets(const std::filesystem::path& dataDirectory);

  /// A signed token for `accountId`, valid for `days` from `nowSeconds`.
  std::string issueToken(const std::string& accountId, std::int64_t nowSeconds,
                         std::int64_t days) const;
  /// The account a token names, when its signature, algorithm and expiry hold at `nowSeconds`.
  std::optional<std::string> verifyToken(const std::string& token, std::int64_t nowSeconds) const;

  /// A fresh bearer secret (a claim token, a device token): 256 random bits, hex.
  static std::string newSecretToken();
  /// What is stored of such a secret: its SHA-256, hex.
  static std::string secretHash(const std::string& secret);
  /// The value of the cookie that unlocks the protected share `slug` until `expiresAt`: the
  /// expiry and a MAC over slug, expiry and the share's password hash, so it dies with a
  /// changed password and cannot be moved to another share.
  std::string unlockCookie(const std::string& slug, const std::string& passwordHash,
                           std::int64_t expiresAt) const;
  bool unlocks(const std::string& cookie, const std::string& slug, const std::string& passwordHash,
               std::int64_t nowSeconds) const;

  /// `length` characters drawn uniformly from `alphabet`.
  static std::string randomCode(std::string_view alphabet, std::size_t length);
  /// An Argon2id hash of a share password.
  static std::string hashPassword(const std::string& password);
  static bool passwordMatches(const std::string& hash, const std::string& password);

 private:
  std::string key_;
};

}  // namespace lumo::service

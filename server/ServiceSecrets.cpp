#include "ServiceSecrets.hpp"

#include <fcntl.h>
#include <jwt.h>
#include <sodium.h>
#include <unistd.h>
#include <charconv>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "AtomicFile.hpp"
#include "DataFolderLock.hpp"
#include "FileDigest.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t keyBytes = 32;

void requireSodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

std::string randomHex(std::size_t bytes) {
  requireSodium();
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  std::string hex(bytes * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(raw.data()),
                 raw.size());
  hex.pop_back();
  return hex;
}

struct JwtFree {
  void operator()(jwt_t* token) const { jwt_free(token); }
};
using Jwt = std::unique_ptr<jwt_t, JwtFree>;

}  // namespace

ServiceSecrets::ServiceSecrets(const fs::path& dataDirectory) {
  const auto file = dataDirectory / "jwt-secret";
  // Nodes that share the folder may start together: the first key written is the key of all.
  key_ = DataFolderLock::firstWritten(file, randomHex(keyBytes));
  if (key_.size() < keyBytes)
    throw std::runtime_error("the signing key in " + file.string() + " is too short");
}

std::string ServiceSecrets::issueToken(const std::string& accountId, std::int64_t nowSeconds,
                                       std::int64_t days) const {
  jwt_t* raw = nullptr;
  if (jwt_new(&raw) != 0) throw std::runtime_error("cannot make a token");
  const Jwt token(raw);
  jwt_add_grant(raw, "sub", accountId.c_str());
  jwt_add_grant_int(raw, "iat", nowSeconds);
  jwt_add_grant_int(raw, "exp", nowSeconds + days * 86400);
  jwt_set_alg(raw, JWT_ALG_HS256, reinterpret_cast<const unsigned char*>(key_.data()),
              static_cast<int>(key_.size()));
  char* encoded = jwt_encode_str(raw);
  if (encoded == nullptr) throw std::runtime_error("cannot sign a token");
  std::string text(encoded);
  std::free(encoded);  // libjwt 1.10 allocates it with malloc
  return text;
}

std::optional<std::string> ServiceSecrets::verifyToken(const std::string& token,
                                                       std::int64_t nowSeconds) const {
  jwt_t* raw = nullptr;
  // With a key given, libjwt checks the signature and refuses "alg: none"; the expiry is ours.
  if (jwt_decode(&raw, token.c_str(), reinterpret_cast<const unsigned char*>(key_.data()),
                 static_cast<int>(key_.size())) != 0) {
    return std::nullopt;
  }
  const Jwt decoded(raw);
  if (jwt_get_alg(raw) != JWT_ALG_HS256) return std::nullopt;
  errno = 0;
  const auto expiry = jwt_get_grant_int(raw, "exp");
  if (errno != 0 || expiry <= nowSeconds) return std::nullopt;
  const char* subject = jwt_get_grant(raw, "sub");
  if (subject == nullptr || *subject == '\0') return std::nullopt;
  return std::string(subject);
}

std::string ServiceSecrets::newSecretToken() {
  return randomHex(32);
}

std::string ServiceSecrets::secretHash(const std::string& secret) {
  return FileDigest::sha256Hex(std::string_view(secret));
}

namespace {

std::string unlockMac(const std::string& key, const std::string& slug,
                      const std::string& passwordHash, std::int64_t expiresAt) {
  unsigned char macKey[crypto_auth_KEYBYTES];
  const std::string context = "share-unlock:" + key;
  crypto_generichash(macKey, sizeof macKey, reinterpret_cast<const unsigned char*>(context.data()),
                     context.size(), nullptr, 0);
  const auto message = slug + "\n" + std::to_string(expiresAt) + "\n" + passwordHash;
  unsigned char mac[crypto_auth_BYTES];
  crypto_auth(mac, reinterpret_cast<const unsigned char*>(message.data()), message.size(), macKey);
  char hex[2 * crypto_auth_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, mac, sizeof mac);
  return hex;
}

}  // namespace

std::string ServiceSecrets::unlockCookie(const std::string& slug, const std::string& passwordHash,
                                         std::int64_t expiresAt) const {
  return std::to_string(expiresAt) + "." + unlockMac(key_, slug, passwordHash, expiresAt);
}

bool ServiceSecrets::unlocks(const std::string& cookie, const std::string& slug,
                             const std::string& passwordHash, std::int64_t nowSeconds) const {
  const auto dot = cookie.find('.');
  if (dot == std::string::npos) return false;
  std::int64_t expiresAt = 0;
  const auto [stop, error] = std::from_chars(cookie.data(), cookie.data() + dot, expiresAt);
  if (error != std::errc() || stop != cookie.data() + dot || expiresAt <= nowSeconds) return false;
  const auto expected = unlockCookie(slug, passwordHash, expiresAt);
  return cookie.size() == expected.size() &&
         sodium_memcmp(cookie.data(), expected.data(), expected.size()) == 0;
}

std::string ServiceSecrets::randomCode(std::string_view alphabet, std::size_t length) {
  requireSodium();
  std::string code(length, ' ');
  for (auto& c : code)
    c = alphabet[randombytes_uniform(static_cast<std::uint32_t>(alphabet.size()))];
  return code;
}

std::string ServiceSecrets::hashPassword(const std::string& password) {
  requireSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw std::runtime_error("out of memory while hashing a password");
  }
  return hash;
}

bool ServiceSecrets::passwordMatches(const std::string& hash, const std::string& password) {
  requireSodium();
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace lumo::service

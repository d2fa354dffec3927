#include "ShareSecretKeychain.hpp"

#include <libsecret/secret.h>

namespace lumo {
namespace {

const SecretSchema* schema() {
  static const SecretSchema tokenSchema = {"com.lumo.share.apple.Keychain",
                                           SECRET_SCHEMA_NONE,
                                           {
                                               {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                               {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                               {"accessGroup", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                               {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           },
                                           0,
                                           nullptr,
                                           nullptr,
                                           nullptr,
                                           nullptr,
                                           nullptr,
                                           nullptr,
                                           nullptr};
  return &tokenSchema;
}

/// The item's attributes; an item without access group matches only items without one.
struct Attributes {
  explicit Attributes(const ShareKeychainItem& item)
      : table(g_hash_table_new(g_str_hash, g_str_equal)),
        accessGroup(item.accessGroup.value_or("")) {
    g_hash_table_insert(table, const_cast<char*>("service"),
                        const_cast<char*>(item.service.c_str()));
    g_hash_table_insert(table, const_cast<char*>("account"),
                        const_cast<char*>(item.account.c_str()));
    g_hash_table_insert(table, const_cast<char*>("accessGroup"),
                        const_cast<char*>(accessGroup.c_str()));
  }
  ~Attributes() { g_hash_table_unref(table); }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;

  GHashTable* table;
  std::string accessGroup;
};

/// A failed call: the keychain's status for "could not be asked".
std::int32_t failed(GError* error) {
  g_clear_error(&error);
  return ShareSecretKeychain::interactionNotAllowed;
}

}  // namespace

ShareKeychain::ReadResult ShareSecretKeychain::read(const ShareKeychainItem& item) {
  const Attributes attributes(item);
  GError* error = nullptr;
  gchar* secret = secret_password_lookupv_sync(schema(), attributes.table, nullptr, &error);
  if (error) return {failed(error), {}};
  if (!secret) return {itemNotFound, {}};
  ReadResult result{success, secret};
  secret_password_free(secret);
  return result;
}

std::int32_t ShareSecretKeychain::update(const ShareKeychainItem& item, const std::string& data) {
  const auto existing = read(item);
  return existing.status == success ? store(item, data) : existing.status;
}

std::int32_t ShareSecretKeychain::add(const ShareKeychainItem& item, const std::string& data) {
  const auto existing = read(item);
  if (existing.status == success) return duplicateItem;
  return existing.status == itemNotFound ? store(item, data) : existing.status;
}

std::int32_t ShareSecretKeychain::store(const ShareKeychainItem& item, const std::string& data) {
  const Attributes attributes(item);
  GError* error = nullptr;
  const auto label = "LumoShare (" + item.service + ")";
  // Storing with the same attributes replaces the item's secret.
  if (!secret_password_storev_sync(schema(), attributes.table, SECRET_COLLECTION_DEFAULT,
                                   label.c_str(), data.c_str(), nullptr, &error)) {
    return failed(error);
  }
  return success;
}

std::int32_t ShareSecretKeychain::remove(const ShareKeychainItem& item) {
  const Attributes attributes(item);
  GError* error = nullptr;
  const bool removed = secret_password_clearv_sync(schema(), attributes.table, nullptr, &error);
  if (error) return failed(error);
  return removed ? success : itemNotFound;
}

}  // namespace lumo

#include "PostgresDatabase.hpp"

#include <libpq-fe.h>

#include <cctype>
#include <optional>

#include "UnicodeText.hpp"

namespace lumo::service::sql {
namespace {

/// The types the parameters are sent as (pg_type's oids): int8 and text. NULL is sent as text,
/// the type of every column a NULL is bound to here.
constexpr Oid int8Type = 20;
constexpr Oid textType = 25;

/// The advisory lock every write transaction takes first: one writer at a time, on every node.
constexpr const char* writersLock = "SELECT pg_advisory_xact_lock(7813394740812390)";

/// A parameter as libpq sends it: its text, nothing for NULL. libpq ends a text at its first
/// NUL, and the database refuses what is not UTF-8: either would make the statement about other
/// text than the caller's, so neither is sent.
std::optional<std::string> textOf(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  const auto* text = std::get_if<std::string>(&value);
  if (!text) return std::nullopt;
  if (text->find('\0') != std::string::npos || UnicodeText::wellFormed(*text) != *text) {
    throw StoreError("a text parameter that is no UTF-8 text");
  }
  return *text;
}

std::string replacedWords(std::string text, const std::string& word, const std::string& by) {
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size())) {
    text.replace(at, word.size(), by);
  }
  return text;
}

class PostgresConnection final : public Connection {
 public:
  explicit PostgresConnection(const std::string& uri) : connection_(connectTo(uri)) {
    if (!connection_ || PQstatus(connection_) != CONNECTION_OK) {
      const std::string message = connection_ ? PQerrorMessage(connection_) : "out of memory";
      PQfinish(connection_);
      throw StoreError("cannot connect to PostgreSQL: " + message);
    }
    // "relation already exists, skipping" and the like are for people at a prompt.
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
  }
  ~PostgresConnection() override { PQfinish(connection_); }
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  Result run(const std::string& statement, const std::vector<Value>& parameters) override {
    std::vector<Oid> types;
    std::vector<std::optional<std::string>> texts;
    for (const auto& parameter : parameters) {
      types.push_back(std::holds_alternative<std::int64_t>(parameter) ? int8Type : textType);
      texts.push_back(textOf(parameter));
    }
    std::vector<const char*> values;
    for (const auto& text : texts) values.push_back(text ? text->c_str() : nullptr);
    const auto sql = PostgresDatabase::translated(statement);
    const auto send = [&] {
      return Reply(PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                types.data(), values.data(), nullptr, nullptr, 0));
    };
    auto reply = send();
    // A pooled connection the server dropped meanwhile (it restarted) is made again once,
    // unless a transaction was open on it: that is lost, and its caller hears so.
    if (PQstatus(connection_) == CONNECTION_BAD && !inTransaction()) {
      PQreset(connection_);
      if (PQstatus(connection_) == CONNECTION_OK) reply = send();
    }
    return resultOf(reply.get());
  }

  void execute(const std::string& statements) override {
    const Reply reply(PQexec(connection_, statements.c_str()));
    resultOf(reply.get());
  }

  bool usable() const override {
    return PQstatus(connection_) == CONNECTION_OK &&
           PQtransactionStatus(connection_) == PQTRANS_IDLE;
  }

 protected:
  void beginWriting() override {
    execute("BEGIN");
    execute(writersLock);
  }

 private:
  /// Connects with time limits of its own unless `uri` sets them: a database that accepts and
  /// never answers, or a connection that went silent, fails within a minute instead of holding
  /// a request forever.
  static PGconn* connectTo(const std::string& uri) {
    const char* keywords[] = {
        "connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
    const char* values[] = {"10", "1", "30", "10", "3", "60000", uri.c_str(), nullptr};
    return PQconnectdbParams(keywords, values, 1);
  }

  struct Reply final : std::unique_ptr<PGresult, decltype(&PQclear)> {
    explicit Reply(PGresult* result) : unique_ptr(result, PQclear) {}
  };

  Result resultOf(PGresult* reply) const {
    Result result;
    const auto status = reply ? PQresultStatus(reply) : PGRES_FATAL_ERROR;
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE ||
        status == PGRES_NONFATAL_ERROR) {
      const char* state = reply ? PQresultErrorField(reply, PG_DIAG_SQLSTATE) : nullptr;
      if (state && std::string_view(state).starts_with("23")) {  // integrity constraint violation
        result.constraintFailed = true;
        return result;
      }
      throw StoreError(std::string("PostgreSQL: ") +
                       (reply ? PQresultErrorMessage(reply) : PQerrorMessage(connection_)));
    }
    for (int row = 0; row < PQntuples(reply); ++row) {
      auto& cells = result.rows.emplace_back();
      for (int column = 0; column < PQnfields(reply); ++column) {
        if (PQgetisnull(reply, row, column)) {
          cells.emplace_back(std::monostate());
        } else {
          cells.emplace_back(
              std::string(PQgetvalue(reply, row, column),
                          static_cast<std::size_t>(PQgetlength(reply, row, column))));
        }
      }
    }
    const std::string changed = PQcmdTuples(reply);
    result.changes = changed.empty() ? 0 : std::stoll(changed);
    return result;
  }

  PGconn* connection_;
};

}  // namespace

PostgresDatabase::PostgresDatabase(std::string uri, std::size_t connections)
    : Database(connections), uri_(std::move(uri)) {
  const Lease probe(
      *this);  // a wrong address or password is said at start-up, not at the first request
}

std::unique_ptr<Connection> PostgresDatabase::connect() const {
  return std::make_unique<PostgresConnection>(uri_);
}

std::string PostgresDatabase::translated(const std::string& statement) {
  std::string text;
  text.reserve(statement.size() + 8);
  int next = 1;
  bool quoted = false;
  for (std::size_t at = 0; at < statement.size(); ++at) {
    const char c = statement[at];
    if (c == '\'') quoted = !quoted;
    if (c != '?' || quoted) {
      text += c;
      continue;
    }
    std::size_t digits = at + 1;
    while (digits < statement.size() && std::isdigit(static_cast<unsigned char>(statement[digits])))
      ++digits;
    if (digits == at + 1) {
      text += "$" + std::to_string(next++);
    } else {
      text += "$" + statement.substr(at + 1, digits - at - 1);
      at = digits - 1;
    }
  }
  return text;
}

std::string PostgresDatabase::schema(const std::string& sqliteSchema) const {
  const auto identities = replacedWords(sqliteSchema, "INTEGER PRIMARY KEY AUTOINCREMENT",
                                        "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
  return replacedWords(identities, "INTEGER", "BIGINT");
}

std::int64_t PostgresDatabase::schemaVersion(Connection& connection) const {
  connection.execute("CREATE TABLE IF NOT EXISTS schema_version (version BIGINT NOT NULL)");
  Statement version(connection, "SELECT max(version) FROM schema_version");
  return version.step() && !version.isNull(0) ? version.integer(0) : 0;
}

void PostgresDatabase::setSchemaVersion(Connection& connection, std::int64_t version) const {
  Statement(connection, "DELETE FROM schema_version").step();
  Statement(connection, "INSERT INTO schema_version (version) VALUES (?)").bind(1, version).step();
}

bool PostgresDatabase::isIntact(Connection& connection) const {
  Statement check(connection, "SELECT 1");
  return check.step() && check.integer(0) == 1;
}

}  // namespace lumo::service::sql

#include "SqlDatabase.hpp"

#include <charconv>
#include <map>

#include "PostgresDatabase.hpp"
#include "SqliteDatabase.hpp"

namespace lumo::service::sql {
namespace {

/// The connection each thread holds of each database, with how many leases share it.
struct Held {
  Connection* connection = nullptr;
  int leases = 0;
};
thread_local std::map<const Database*, Held> heldByThread;

}  // namespace

void Connection::begin() {
  if (depth_++ > 0) return;
  try {
    beginWriting();
  } catch (...) {
    depth_ = 0;
    throw;
  }
}

void Connection::commit() {
  if (depth_ == 0) throw StoreError("the transaction was abandoned by a step within it");
  if (--depth_ > 0) return;
  try {
    execute("COMMIT");
  } catch (...) {
    depth_ = 1;
    rollback();
    throw;
  }
  endWriting();
}

void Connection::rollback() noexcept {
  if (depth_ == 0) return;
  depth_ = 0;
  try {
    execute("ROLLBACK");
  } catch (...) {  // a connection that cannot roll back is not reused: see usable()
  }
  endWriting();
}

bool Database::isPostgreSQL(const std::string& location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<Database> Database::open(const std::string& location, std::size_t connections) {
  if (isPostgreSQL(location)) return std::make_unique<PostgresDatabase>(location, connections);
  return std::make_unique<SqliteDatabase>(location);
}

std::unique_ptr<Connection> Database::take() const {
  std::unique_lock lock(mutex_);
  returned_.wait(lock, [this] { return !idle_.empty() || lent_ < limit_; });
  ++lent_;
  if (!idle_.empty()) {
    auto connection = std::move(idle_.back());
    idle_.pop_back();
    return connection;
  }
  lock.unlock();
  try {
    return connect();
  } catch (...) {
    std::lock_guard relock(mutex_);
    --lent_;
    returned_.notify_one();
    throw;
  }
}

void Database::giveBack(std::unique_ptr<Connection> connection) const {
  std::lock_guard lock(mutex_);
  --lent_;
  if (connection->usable()) idle_.push_back(std::move(connection));
  returned_.notify_one();
}

Lease::Lease(const Database& database) : database_(database) {
  auto& held = heldByThread[&database];
  if (held.leases == 0) {
    held.connection = database.take().release();
    owner_ = true;
  }
  ++held.leases;
  connection_ = held.connection;
}

Lease::~Lease() {
  auto held = heldByThread.find(&database_);
  if (--held->second.leases > 0) return;
  std::unique_ptr<Connection> connection(held->second.connection);
  heldByThread.erase(held);
  connection->rollback();  // an operation that threw inside a transaction leaves none behind
  database_.giveBack(std::move(connection));
}

Statement& Statement::set(int index, Value value) {
  const auto position = static_cast<std::size_t>(index - 1);
  if (parameters_.size() <= position) parameters_.resize(position + 1);
  parameters_[position] = std::move(value);
  return *this;
}

bool Statement::step() {
  if (!ran_) {
    ran_ = true;
    result_ = connection_.run(text_, parameters_);
    constraintFailed = result_.constraintFailed;
    return !result_.rows.empty();
  }
  return ++row_ < result_.rows.size();
}

const Value& Statement::cell(int column) const {
  const auto& row = result_.rows.at(row_);
  return row.at(static_cast<std::size_t>(column));
}

std::string Statement::text(int column) const {
  const auto& value = cell(column);
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  return {};
}

std::optional<std::string> Statement::optionalText(int column) const {
  if (isNull(column)) return std::nullopt;
  return text(column);
}

bool Statement::isNull(int column) const {
  return std::holds_alternative<std::monostate>(cell(column));
}

std::int64_t Statement::integer(int column) const {
  const auto& value = cell(column);
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  std::int64_t number = 0;
  if (const auto* text = std::get_if<std::string>(&value)) {
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (error != std::errc() || end != text->data() + text->size()) {
      throw StoreError("not an integer: " + *text);
    }
  }
  return number;
}

}  // namespace lumo::service::sql

#include "db/cached_record_set.h"

#include <utility>

#include "db/sql_text.h"

namespace hostlore {
namespace {

class CachedRecordSet final : public RecordSet {
 public:
  CachedRecordSet(std::shared_ptr<EngineConnection> connection, std::string table,
                  bool has_key_copy, FirstRow first)
      : connection_(std::move(connection)),
        table_(std::move(table)),
        table_columns_(first.columns.size() - (has_key_copy ? 1 : 0)),
        columns_(std::move(first.columns)),
        row_(std::move(first.row)),
        count_(first.count) {}

  int64_t RecordCount() const override { return count_; }

  Status AddNew(int ordinal, const FieldValue& value) override {
    if (Status s = CheckWritable(ordinal); !s.ok()) return s;
    const std::string sql = InsertRowSql(connection_->traits(), table_, columns_[Index(ordinal)].name);
    Result<StoredRow> stored = connection_->InsertRow(sql, value);
    if (!stored.ok()) return stored.status();
    // The key copy of a per-key query (Expr1) is not part of the new row.
    stored->values.resize(columns_.size());
    row_ = std::move(stored).value();
    ++count_;
    return Status::Ok();
  }

  Status Update(int ordinal, const FieldValue& value) override {
    if (Status s = CheckWritable(ordinal); !s.ok()) return s;
    if (!row_) return Status::Failure(3021, kNoCurrentRow);
    const std::string sql =
        UpdateColumnSql(connection_->traits(), table_, columns_[Index(ordinal)].name, value.is_null());
    Result<std::optional<std::string>> identity = connection_->UpdateRow(sql, value, row_->identity);
    if (!identity.ok()) return identity.status();
    if (!identity.value()) return Status::Failure(-2147217864, kRowNotFound);
    row_->identity = std::move(*identity.value());
    row_->values[Index(ordinal)] = value;
    return Status::Ok();
  }

  Result<FieldValue> Field(int ordinal) const override {
    if (Status s = CheckColumn(ordinal); !s.ok()) return s;
    if (!row_) return Status::Failure(3021, kNoCurrentRow);
    return row_->values[Index(ordinal)];
  }

  Result<int64_t> DefinedSize(int ordinal) const override {
    if (Status s = CheckColumn(ordinal); !s.ok()) return s;
    return columns_[Index(ordinal)].defined_size;
  }

  void Close() override {
    closed_ = true;
    connection_.reset();
    row_.reset();
  }

 private:
  static size_t Index(int ordinal) { return static_cast<size_t>(ordinal); }

  Status CheckColumn(int ordinal) const {
    if (closed_) return Status::Failure(3704, kRecordSetClosed);
    if (ordinal < 0 || Index(ordinal) >= columns_.size()) return Status::Failure(3265, kNoSuchColumn);
    return Status::Ok();
  }

  // Only the table's own columns can be written, not the key copy.
  Status CheckWritable(int ordinal) const {
    if (Status s = CheckColumn(ordinal); !s.ok()) return s;
    if (Index(ordinal) >= table_columns_) return Status::Failure(3265, kNoSuchColumn);
    return Status::Ok();
  }

  std::shared_ptr<EngineConnection> connection_;
  std::string table_;
  size_t table_columns_;
  std::vector<ColumnInfo> columns_;
  std::optional<StoredRow> row_;
  int64_t count_;
  bool closed_ = false;
};

class EngineDatabase final : public Database {
 public:
  explicit EngineDatabase(std::shared_ptr<EngineConnection> connection)
      : connection_(std::move(connection)) {}

  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override {
    Result<FirstRow> first =
        connection_->SelectFirstRow(SelectFirstRowSql(connection_->traits(), query), query.key);
    if (!first.ok()) return first.status();
    if (query.key && first->columns.empty()) {
      return Status::Failure(3265, kNoSuchColumn);
    }
    return std::unique_ptr<RecordSet>(std::make_unique<CachedRecordSet>(
        connection_, query.table, query.key.has_value(), std::move(first).value()));
  }

  Status BeginTransaction(std::string_view serial_key) override {
    return connection_->BeginTransaction(std::string(serial_key));
  }
  Status CommitTransaction() override { return connection_->CommitTransaction(); }
  void RollbackTransaction() override { connection_->RollbackTransaction(); }

 private:
  std::shared_ptr<EngineConnection> connection_;
};

}  // namespace

std::unique_ptr<Database> NewEngineDatabase(std::shared_ptr<EngineConnection> connection) {
  return std::make_unique<EngineDatabase>(std::move(connection));
}

}  // namespace hostlore

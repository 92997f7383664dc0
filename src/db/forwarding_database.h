// A Database and RecordSet that pass every call on to another one, so that a
// wrapper can change one call and keep the rest (counting statements for a
// benchmark, failing the Nth write in a test).
#pragma once

#include <memory>
#include <utility>

#include "platform/database/database.h"

namespace hostlore {

class ForwardingRecordSet : public RecordSet {
 public:
  explicit ForwardingRecordSet(std::unique_ptr<RecordSet> target) : target_(std::move(target)) {}
  int64_t RecordCount() const override { return target_->RecordCount(); }
  Status AddNew(int ordinal, const FieldValue& value) override { return target_->AddNew(ordinal, value); }
  Status Update(int ordinal, const FieldValue& value) override { return target_->Update(ordinal, value); }
  Result<FieldValue> Field(int ordinal) const override { return target_->Field(ordinal); }
  Result<int64_t> DefinedSize(int ordinal) const override { return target_->DefinedSize(ordinal); }
  void Close() override { target_->Close(); }

 protected:
  RecordSet& target() { return *target_; }

 private:
  std::unique_ptr<RecordSet> target_;
};

class ForwardingDatabase : public Database {
 public:
  explicit ForwardingDatabase(std::unique_ptr<Database> target) : target_(std::move(target)) {}
  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override {
    return target_->Open(query);
  }
  Status BeginTransaction(std::string_view serial_key) override {
    return target_->BeginTransaction(serial_key);
  }
  Status CommitTransaction() override { return target_->CommitTransaction(); }
  void RollbackTransaction() override { target_->RollbackTransaction(); }

 protected:
  Database& target() { return *target_; }

 private:
  std::unique_ptr<Database> target_;
};

}  // namespace hostlore

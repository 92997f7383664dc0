// Reading the inventory many rows at a time, for the fleet index and the
// views. Columns are addressed by position as everywhere else: their names
// are asked of the server once, so that a question selects only the columns
// it needs. Every text from a target travels as a query parameter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/engine_connection.h"
#include "platform/status.h"

namespace hostlore {

// What says whether a computer's stored rows changed: the update run stamps
// LastScanned whenever it writes them.
struct InventoryStamp {
  std::string computer;
  std::optional<std::string> last_inventory;  // LastScanned
  std::string address;                        // IPAddress, empty when Null
};

struct InventoryAccess {
  std::string computer;
  std::optional<std::string> time;  // AccessTime; Null until the target first answered
};

// One computer's Asset summary with its history and software list texts.
struct InventorySummary {
  std::string computer;
  std::optional<std::string> last_inventory;
  std::string address, operating_system, service_pack, domain, user, manufacturer, model;
  std::optional<int64_t> memory_mb;
  std::string history;                  // empty when Null
  std::optional<std::string> software;  // absent without a Software row or with a Null list
};

// Names per summary batch: one statement with this many markers.
inline constexpr size_t kSummaryBatch = 100;

class InventoryReader {
 public:
  // Asks the server for the names of the columns. Failure: a table cannot
  // be read or has fewer columns than the layout.
  static Result<std::unique_ptr<InventoryReader>> Open(std::shared_ptr<EngineConnection> connection);

  // Every Asset row, in the server's order.
  Status ForEachStamp(const std::function<void(InventoryStamp&&)>& each);
  // Every LastAccess row.
  Status ForEachAccess(const std::function<void(InventoryAccess&&)>& each);
  // A digest of what ForEachStamp and ForEachAccess would read, computed by
  // the server in one short answer: it differs whenever a stamp, address or
  // contact does. Empty where the engine cannot compute one.
  Result<std::string> SourceDigest();
  // The Asset rows of `names` (at most kSummaryBatch) with their Software
  // lists, read by one statement, so that each row and its list are of one
  // moment. A name with several rows gives several summaries.
  Status ReadSummaries(const std::vector<std::string>& names,
                       const std::function<void(InventorySummary&&)>& each);
  // The names in Asset and LastAccess that equal `name` without regard to case.
  Result<std::vector<std::string>> NamesLike(const std::string& name);
  // True when Asset or LastAccess holds `name` exactly.
  Result<bool> HasName(const std::string& name);
  // The LastAccess rows that may stand for the computer `name` at `address`:
  // its name and address without regard to case, and DNS names that begin
  // with its name (AccessMatcher decides).
  Status ForEachAccessOf(const std::string& name, const std::string& address,
                         const std::function<void(InventoryAccess&&)>& each);
  // The drive history texts of `name`, drives C: to J:, as (letter, text).
  Status ForEachDriveHistory(const std::string& name, const std::function<void(char, std::string&&)>& each);

  EngineConnection& connection() { return *connection_; }
  const std::shared_ptr<EngineConnection>& shared_connection() const { return connection_; }

 private:
  explicit InventoryReader(std::shared_ptr<EngineConnection> connection)
      : connection_(std::move(connection)) {}

  std::shared_ptr<EngineConnection> connection_;
  std::string stamp_sql_;
  std::string access_sql_;
  std::string digest_sql_;
  std::string summary_sql_;
  std::string names_like_sql_;
  std::string has_name_sql_;
  std::string accesses_of_sql_;
  std::string drive_history_sql_;
};

}  // namespace hostlore

// What a page hands back to the server: a status, a body of a type, or, for
// a CSV answer of any length, the pages of rows to stream.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/answer_table.h"
#include "db/fleet_index.h"
#include "db/fleet_query.h"
#include "db/inventory_reader.h"
#include "web/html.h"

namespace hostlore {

struct WebReply {
  int status = 200;
  std::string content_type = "text/html; charset=utf-8";
  std::string body;
  std::string download_name;  // a file name of ours: sent as an attachment
  // When set, the reply is CSV streamed as the query reads it (body unused).
  AnswerStream csv_stream;
};

enum class ReplyFormat { kHtml, kCsv, kJson };

// A leased inventory connection, returned to its pool at the end of the
// request unless it was discarded.
class InventoryLease {
 public:
  virtual ~InventoryLease() = default;
  virtual InventoryReader& reader() = 0;
  // The connection failed: it is closed instead of kept for the next request.
  virtual void Discard() = 0;
};

// What every page needs for one request.
struct PageContext {
  std::shared_ptr<FleetIndex> index;  // a read connection of this request
  StaleRule stale;
  int stale_days = 30;
  std::string new_since;              // computers first seen since are new
  std::optional<std::string> refreshed;
  std::function<Result<std::unique_ptr<InventoryLease>>()> inventory;
};

// Error replies: a page in the requested format that says what went wrong.
WebReply ErrorReply(int status, std::string_view message, ReplyFormat format);
inline WebReply BadRequest(std::string_view message, ReplyFormat format) { return ErrorReply(400, message, format); }
inline WebReply NotFound(std::string_view message, ReplyFormat format) { return ErrorReply(404, message, format); }
// The index or the inventory could not be read.
inline WebReply Unavailable(std::string_view message, ReplyFormat format) {
  return ErrorReply(503, message, format);
}

// A JSON reply.
WebReply JsonReply(const nlohmann::ordered_json& value);

// The footer every page shows: how fresh the index is, the stale rule.
std::string Footer(const PageContext& context);

}  // namespace hostlore

// The queries of the five tables: per computer (or drive key), and of all
// rows, which serve only to add a row.
#pragma once

#include <string>

#include "platform/database/database.h"

namespace hostlore {

inline TableQuery AssetRowQuery(std::string computer) {
  return TableQuery::ForKey("Asset", "Computer", std::move(computer));
}
inline TableQuery SoftwareRowQuery(std::string computer) {
  return TableQuery::ForKey("Software", "SoftComputer", std::move(computer));
}
inline TableQuery ServicesRowQuery(std::string computer) {
  return TableQuery::ForKey("Services", "ServComputer", std::move(computer));
}
inline TableQuery LastAccessRowQuery(std::string computer) {
  return TableQuery::ForKey("LastAccess", "Computer", std::move(computer));
}
inline TableQuery DriveHistoryRowQuery(std::string key) {
  return TableQuery::ForKey("DriveHistory", "DiskComputer", std::move(key));
}

inline TableQuery AllAssetRows() { return TableQuery::AllRows("Asset", "Computer"); }
inline TableQuery AllSoftwareRows() { return TableQuery::AllRows("Software", "SoftComputer"); }
inline TableQuery AllServicesRows() { return TableQuery::AllRows("Services", "ServComputer"); }
inline TableQuery AllLastAccessRows() { return TableQuery::AllRows("LastAccess", "Computer"); }

}  // namespace hostlore

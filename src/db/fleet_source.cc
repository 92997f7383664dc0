#include "db/fleet_source.h"

#include "db/connect.h"

namespace hostlore {

Result<FleetSource> OpenFleetSource(const std::string& server, const std::string& index_path,
                                    const std::string& fallback_path, std::ostream& notes) {
  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngineReadOnly(server);
  if (!engine.ok()) return engine.status();
  Result<std::unique_ptr<InventoryReader>> reader = InventoryReader::Open(std::move(engine).value());
  if (!reader.ok()) return reader.status();
  FleetSource source{server, std::move(reader).value(), nullptr,
                     index_path.empty() ? DefaultIndexPath(server) : index_path};
  if (source.index_path.empty()) source.index_path = fallback_path;
  Result<std::unique_ptr<FleetIndex>> index = FleetIndex::Open(source.index_path, server, IndexDb::Mode::kWrite);
  if (!index.ok() && source.index_path != fallback_path) {
    notes << "the fleet index cannot be kept in " << source.index_path << " (" << index.status().description()
          << "); it is kept in "
          << (fallback_path == ":memory:" ? std::string("memory for this run") : fallback_path) << "\n";
    source.index_path = fallback_path;
    index = FleetIndex::Open(source.index_path, server, IndexDb::Mode::kWrite);
  }
  if (!index.ok()) return index.status();
  source.index = std::move(index).value();
  return source;
}

}  // namespace hostlore

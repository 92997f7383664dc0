#include "db/schema_scripts.h"

namespace hostlore {

std::vector<std::string> SplitSchemaScript(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  while (!script.empty()) {
    const size_t end = script.find('\n');
    std::string_view line = script.substr(0, end);
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (line.starts_with("--")) continue;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (!current.empty()) current += '\n';
    current += line;
    if (line.back() == ';') {
      current.pop_back();
      statements.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) statements.push_back(std::move(current));
  return statements;
}

}  // namespace hostlore

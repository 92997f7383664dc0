#include "fleet/fleet_lab.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace hostlore::test {
namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

void AddLabComputer(const TempFolder& lab, const std::string& name, const std::string& address,
                    const std::string& changes) {
  std::ifstream in(std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json");
  std::stringstream sample;
  sample << in.rdbuf();
  std::string text = sample.str();
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ReplaceAll(text, "PC042", name);
  ReplaceAll(text, "pc042", lower);
  nlohmann::json computer = nlohmann::json::parse(text);
  computer["address"] = address;
  computer.update(nlohmann::json::parse(changes));
  lab.Write(lower + ".json", computer.dump(1));
}

}  // namespace hostlore::test

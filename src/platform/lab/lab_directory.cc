#include "platform/lab/lab_directory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "util/text.h"

namespace hostlore {
namespace {

namespace fs = std::filesystem;

Result<std::vector<fs::path>> ListLabFiles(const std::string& folder) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) {
    return Status::Failure(win32::kFileNotFound,
                           "lab folder " + folder + " cannot be read: " + error.message());
  }
  std::vector<fs::path> files;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (it->path().extension() == ".json" && it->is_regular_file(error)) files.push_back(it->path());
  }
  if (error) {
    return Status::Failure(win32::kFileNotFound,
                           "lab folder " + folder + " cannot be read: " + error.message());
  }
  // A fixed order, so that a clash is always reported against the same file.
  std::sort(files.begin(), files.end());
  return files;
}

Result<std::string> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    return Status::Failure(win32::kFileNotFound, path.string() + ": cannot be read");
  }
  return text;
}

// Keys that must be unique across the lab: the address and every name.
std::vector<std::string> IdentityKeys(const LabComputer& computer) {
  std::vector<std::string> keys{"address " + FormatDottedAddress(computer.address)};
  for (const std::string& name : computer.names) keys.push_back("name " + ToLowerAscii(name));
  return keys;
}

}  // namespace

Result<std::shared_ptr<const LabDirectory>> LabDirectory::Load(const std::string& folder) {
  Result<std::vector<fs::path>> files = ListLabFiles(folder);
  if (!files.ok()) return files.status();

  std::shared_ptr<LabDirectory> directory(new LabDirectory());
  std::vector<std::pair<std::string, fs::path>> claimed;  // identity key, file that holds it
  for (const fs::path& path : files.value()) {
    Result<std::string> text = ReadWholeFile(path);
    if (!text.ok()) return text.status();
    Result<LabComputer> computer = ParseLabComputer(text.value());
    if (!computer.ok()) {
      return Status::Failure(computer.status().number(),
                             path.string() + ": " + computer.status().description());
    }
    for (std::string& key : IdentityKeys(computer.value())) {
      const auto clash = std::find_if(claimed.begin(), claimed.end(),
                                      [&key](const auto& entry) { return entry.first == key; });
      if (clash != claimed.end()) {
        return Status::Failure(win32::kInvalidParameter,
                               path.string() + ": " + key + " is already used by " +
                                   clash->second.string());
      }
      claimed.emplace_back(std::move(key), path);
    }
    directory->computers_.push_back(
        std::make_shared<const LabComputer>(std::move(computer).value()));
  }
  return std::shared_ptr<const LabDirectory>(std::move(directory));
}

std::shared_ptr<const LabComputer> LabDirectory::FindHost(std::string_view host) const {
  if (const std::optional<Ipv4Address> address = ParseDottedAddress(host)) {
    return FindAddress(*address);
  }
  for (const auto& computer : computers_) {
    for (const std::string& name : computer->names) {
      if (EqualsIgnoreCase(name, host)) return computer;
    }
  }
  return nullptr;
}

std::shared_ptr<const LabComputer> LabDirectory::FindAddress(const Ipv4Address& address) const {
  for (const auto& computer : computers_) {
    if (computer->address == address) return computer;
  }
  return nullptr;
}

}  // namespace hostlore

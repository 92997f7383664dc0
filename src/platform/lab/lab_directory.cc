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

// The identity key that `host` is looked up by: its address, or its name.
std::string IdentityKeyOf(std::string_view host) {
  if (const std::optional<Ipv4Address> address = ParseDottedAddress(host)) {
    return "address " + FormatDottedAddress(*address);
  }
  return "name " + ToLowerAscii(host);
}

}  // namespace

Result<std::shared_ptr<const LabDirectory>> LabDirectory::Load(const std::string& folder,
                                                                std::string_view first_host, bool whole) {
  auto directory = std::make_shared<LabDirectory>(Key());
  if (std::optional<LabIndex> index = whole ? std::nullopt : LabIndex::Open(folder)) {
    const std::optional<std::string> file = index->FileFor(IdentityKeyOf(first_host));
    if (!file || index->Unchanged(folder, *file)) {
      directory->folder_ = folder;
      directory->index_ = std::move(index);
      return std::shared_ptr<const LabDirectory>(std::move(directory));
    }
  }
  Result<std::vector<fs::path>> files = ListLabFiles(folder);
  if (!files.ok()) return files.status();

  std::unordered_map<std::string, fs::path> claimed;  // identity key → file that holds it
  std::vector<LabIndexEntry> entries;
  for (const fs::path& path : files.value()) {
    Result<std::string> text = ReadWholeFile(path);
    if (!text.ok()) return text.status();
    Result<LabComputer> computer = ParseLabComputer(text.value());
    if (!computer.ok()) {
      return Status::Failure(computer.status().number(),
                             path.string() + ": " + computer.status().description());
    }
    const std::vector<std::string> keys = IdentityKeys(computer.value());
    for (const std::string& key : keys) {
      const auto [clash, added] = claimed.emplace(key, path);
      if (!added) {
        return Status::Failure(win32::kInvalidParameter,
                               path.string() + ": " + key + " is already used by " +
                                   clash->second.string());
      }
    }
    const auto shared = std::make_shared<const LabComputer>(std::move(computer).value());
    for (const std::string& key : keys) directory->by_key_.emplace(key, shared);
    entries.push_back(LabIndexEntry{path.filename().string(), keys});
  }
  LabIndex::Write(folder, entries);
  return std::shared_ptr<const LabDirectory>(std::move(directory));
}

std::shared_ptr<const LabComputer> LabDirectory::Find(const std::string& key) const {
  if (!index_) {
    const auto found = by_key_.find(key);
    return found == by_key_.end() ? nullptr : found->second;
  }
  const std::optional<std::string> file = index_->FileFor(key);
  if (!file) return nullptr;
  std::shared_ptr<const LabComputer> computer = ParseIndexed(*file);
  if (computer == nullptr) return nullptr;
  const std::vector<std::string> keys = IdentityKeys(*computer);
  return std::find(keys.begin(), keys.end(), key) == keys.end() ? nullptr : computer;
}

std::shared_ptr<const LabComputer> LabDirectory::ParseIndexed(const std::string& file) const {
  std::lock_guard lock(mutex_);
  const auto known = parsed_.find(file);
  if (known != parsed_.end()) return known->second;
  std::shared_ptr<const LabComputer> computer;
  if (Result<std::string> text = ReadWholeFile(fs::path(folder_) / file); text.ok()) {
    if (Result<LabComputer> parsed = ParseLabComputer(text.value()); parsed.ok()) {
      computer = std::make_shared<const LabComputer>(std::move(parsed).value());
    }
  }
  parsed_.emplace(file, computer);
  return computer;
}

std::shared_ptr<const LabComputer> LabDirectory::FindHost(std::string_view host) const {
  return Find(IdentityKeyOf(host));
}

std::shared_ptr<const LabComputer> LabDirectory::FindAddress(const Ipv4Address& address) const {
  return Find("address " + FormatDottedAddress(address));
}

}  // namespace hostlore

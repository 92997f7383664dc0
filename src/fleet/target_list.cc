#include "fleet/target_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sstream>
#include <unordered_set>

#include "platform/echo/echo.h"
#include "platform/lab/lab_computer.h"
#include "util/text.h"
#include "util/unique_fd.h"

namespace hostlore::fleet {
namespace {

constexpr size_t kMaxTargetLength = 64;

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::string FormatAddress(uint32_t host_order) {
  return FormatDottedAddress({static_cast<uint8_t>(host_order >> 24), static_cast<uint8_t>(host_order >> 16),
                              static_cast<uint8_t>(host_order >> 8), static_cast<uint8_t>(host_order)});
}

// "a.b.c.d/N" → its host addresses. nullopt: `text` is not a range at all.
std::optional<Result<std::vector<std::string>>> ExpandRange(std::string_view text) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view prefix_text = text.substr(slash + 1);
  const std::optional<Ipv4Address> base = ParseDottedAddress(text.substr(0, slash));
  unsigned prefix = 0;
  const auto [end, error] =
      std::from_chars(prefix_text.data(), prefix_text.data() + prefix_text.size(), prefix);
  if (!base || error != std::errc() || end != prefix_text.data() + prefix_text.size() ||
      prefix_text.empty() || prefix > 32) {
    return Status::Failure(win32::kInvalidParameter,
                           "\"" + std::string(text) + "\" is not an IPv4 range like 192.0.2.0/24");
  }
  const uint64_t size = uint64_t{1} << (32 - prefix);
  const uint64_t hosts = prefix <= 30 ? size - 2 : size;
  if (hosts > kMaxRangeAddresses) {
    return Status::Failure(win32::kInvalidParameter,
                           "range " + std::string(text) + " holds " + std::to_string(hosts) +
                               " addresses; at most " + std::to_string(kMaxRangeAddresses) +
                               " (a /16) are allowed at once");
  }
  const uint32_t address = (uint32_t{(*base)[0]} << 24) | (uint32_t{(*base)[1]} << 16) |
                           (uint32_t{(*base)[2]} << 8) | (*base)[3];
  const uint32_t network = prefix == 0 ? 0 : address & ~((uint32_t{1} << (32 - prefix)) - 1);
  // An interface's address as `ip addr` shows it (10.20.0.5/24) may mean
  // that one computer or its whole network: ask rather than guess.
  if (network != address) {
    const std::string range = FormatAddress(network) + "/" + std::string(prefix_text);
    return Status::Failure(win32::kInvalidParameter,
                           "\"" + std::string(text) + "\" has host bits set: write " + range +
                               " for the whole range, or " + std::string(text.substr(0, slash)) +
                               " for one computer");
  }
  std::vector<std::string> targets;
  targets.reserve(hosts);
  const uint64_t first = prefix <= 30 ? 1 : 0;
  for (uint64_t i = first; i < first + hosts; ++i) {
    targets.push_back(FormatAddress(static_cast<uint32_t>(network + i)));
  }
  return targets;
}

Status AddTarget(std::string_view text, const std::string& where, std::vector<std::string>& out) {
  if (std::optional<Result<std::vector<std::string>>> range = ExpandRange(text)) {
    if (!range->ok()) return Status::Failure(range->status().number(), where + range->status().description());
    out.insert(out.end(), range->value().begin(), range->value().end());
    return Status::Ok();
  }
  // A comma would shift the fields of the agent's command line.
  if (text.empty() || text.size() > kMaxTargetLength || text.find(',') != std::string_view::npos) {
    return Status::Failure(win32::kInvalidParameter, where + "\"" + std::string(text) +
                                                         "\" is not a target (1 to 64 characters, no comma)");
  }
  out.emplace_back(text);
  return Status::Ok();
}

// The whole file, or why it cannot be read in the system's words.
Result<std::string> ReadTargetFile(const std::string& path) {
  const auto failure = [&path](int error) {
    return Status::Failure(win32::kFileNotFound,
                           "target list " + path + " cannot be read: " + std::strerror(error));
  };
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return failure(errno);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(errno);  // a folder: "Is a directory"
    text.append(buffer, static_cast<size_t>(n));
  }
}

Status AddFile(const std::string& path, std::vector<std::string>& out) {
  if (path.empty()) {
    return Status::Failure(win32::kInvalidParameter,
                           "\"@\" needs the file name right after it, without a blank (@FILE)");
  }
  Result<std::string> text = ReadTargetFile(path);
  if (!text.ok()) return text.status();
  std::istringstream in(text.value());
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string target = Trim(std::string_view(line).substr(0, line.find('#')));
    if (target.empty()) continue;
    Status added = AddTarget(target, path + ":" + std::to_string(number) + ": ", out);
    if (!added.ok()) return added;
  }
  return Status::Ok();
}

}  // namespace

Result<std::vector<std::string>> ExpandTargets(const std::vector<std::string>& arguments) {
  std::vector<std::string> targets;
  for (const std::string& argument : arguments) {
    Status added = argument.starts_with('@') ? AddFile(argument.substr(1), targets)
                                             : AddTarget(argument, "", targets);
    if (!added.ok()) return added;
  }
  return targets;
}

size_t DropDuplicateTargets(std::vector<std::string>& targets) {
  std::unordered_set<std::string> seen;
  size_t kept = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!seen.insert(ToLowerAscii(targets[i])).second) continue;
    if (kept != i) targets[kept] = std::move(targets[i]);
    ++kept;
  }
  const size_t dropped = targets.size() - kept;
  targets.resize(kept);
  return dropped;
}

}  // namespace hostlore::fleet

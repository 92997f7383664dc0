#include "platform/lab/lab_index.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "util/unique_fd.h"

namespace hostlore {
namespace {

constexpr std::string_view kMagic = "hostlore-lab-index 1";

int64_t Nanoseconds(const timespec& time) { return int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec; }

int64_t NowNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

constexpr int64_t ToNanoseconds(std::chrono::seconds seconds) { return seconds.count() * 1'000'000'000; }

// "<cache>/hostlore/lab-DEV-INO.index" for the folder; nullopt: no cache
// folder is known or the lab folder cannot be examined.
std::optional<std::string> IndexPath(const struct stat& folder) {
  std::string cache;
  if (const char* xdg = ::secure_getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = ::secure_getenv("HOME"); home != nullptr && *home == '/') {
    cache = std::string(home) + "/.cache";
  } else {
    return std::nullopt;
  }
  return cache + "/hostlore/lab-" + std::to_string(folder.st_dev) + "-" + std::to_string(folder.st_ino) +
         ".index";
}

// The header line that ties an index to one state of one folder.
std::string Header(const std::string& folder, const struct stat& info) {
  return std::string(kMagic) + "\t" + folder + "\t" + std::to_string(Nanoseconds(info.st_mtim));
}

bool Plain(std::string_view text) { return text.find_first_of("\t\n\r") == std::string_view::npos; }

// Whether the file line `line` (NAME \t SIZE \t MTIME \t ...) matches its
// file in the folder `folder_fd`; `mtime` receives the file's time.
bool LineMatchesFile(int folder_fd, std::string_view line, int64_t& mtime) {
  const size_t tab1 = line.find('\t');
  const size_t tab2 = line.find('\t', tab1 + 1);
  const size_t tab3 = line.find('\t', tab2 + 1);
  if (tab3 == std::string_view::npos) return false;
  const std::string name(line.substr(0, tab1));
  struct stat info {};
  if (::fstatat(folder_fd, name.c_str(), &info, 0) != 0) return false;
  mtime = Nanoseconds(info.st_mtim);
  return line.substr(tab1 + 1, tab2 - tab1 - 1) == std::to_string(info.st_size) &&
         line.substr(tab2 + 1, tab3 - tab2 - 1) == std::to_string(mtime);
}

// Whether every file line of `text` still matches its file; sets `settled`
// to whether all files are older than kSettleTime.
bool FilesUnchanged(int folder_fd, std::string_view text, bool& settled) {
  const int64_t settle_limit = NowNanoseconds() - ToNanoseconds(kSettleTime);
  settled = true;
  size_t at = text.find('\n');
  while (at != std::string_view::npos && at + 1 < text.size()) {
    const size_t end = text.find('\n', at + 1);
    const std::string_view line = text.substr(at + 1, end - at - 1);
    at = end;
    int64_t mtime = 0;
    if (!LineMatchesFile(folder_fd, line, mtime)) return false;
    settled = settled && mtime < settle_limit;
  }
  return true;
}

std::optional<struct stat> FileInfo(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return info;
}

// The whole file, read straight into its string: an index runs to some
// hundred kilobytes for a lab of ten thousand computers and every agent reads
// it, so the copies of a stream buffer showed in each agent's start-up.
// nullopt: it cannot be read in full. (Indexes are replaced by rename, never
// rewritten in place.)
std::optional<std::string> ReadAll(int fd, const struct stat& info) {
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<size_t>(got);
  }
  return text;
}

}  // namespace

std::optional<LabIndex> LabIndex::Open(const std::string& folder) {
  struct stat folder_info {};
  if (::stat(folder.c_str(), &folder_info) != 0) return std::nullopt;
  const std::optional<std::string> path = IndexPath(folder_info);
  if (!path) return std::nullopt;
  // One descriptor reads the index and, when it is due, holds the lock.
  const UniqueFd index(::open(path->c_str(), O_RDONLY | O_CLOEXEC));
  std::optional<struct stat> index_info;
  std::optional<std::string> text;
  if (index.valid()) index_info = FileInfo(index.get());
  if (index_info) text = ReadAll(index.get(), *index_info);
  if (!text || !text->starts_with(Header(folder, folder_info) + "\n")) return std::nullopt;

  const int64_t age = NowNanoseconds() - Nanoseconds(index_info->st_mtim);
  if (age >= 0 && age <= ToNanoseconds(kRecheckAfter)) return LabIndex(std::move(*text));
  // Due for its recheck. One process rechecks at a time; the others trust the
  // index meanwhile rather than all stat-ing the folder at once.
  if (::flock(index.get(), LOCK_EX | LOCK_NB) != 0) {
    const bool held_elsewhere = errno == EWOULDBLOCK;
    return held_elsewhere ? std::optional<LabIndex>(LabIndex(std::move(*text))) : std::nullopt;
  }
  bool settled = false;
  bool unchanged = false;
  if (const UniqueFd folder_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      folder_fd.valid()) {
    unchanged = FilesUnchanged(folder_fd.get(), *text, settled);
  }
  if (unchanged && settled) ::futimens(index.get(), nullptr);  // confirmed now
  // Closing the index releases the lock.
  if (!unchanged || !settled) return std::nullopt;
  return LabIndex(std::move(*text));
}

void LabIndex::Write(const std::string& folder, const std::vector<LabIndexEntry>& entries) {
  struct stat folder_info {};
  if (entries.size() < kIndexMinFiles || ::stat(folder.c_str(), &folder_info) != 0) return;
  const std::optional<std::string> path = IndexPath(folder_info);
  if (!path || !Plain(folder)) return;
  const int64_t settle_limit = NowNanoseconds() - ToNanoseconds(kSettleTime);
  if (Nanoseconds(folder_info.st_mtim) >= settle_limit) return;

  std::string text = Header(folder, folder_info) + "\n";
  for (const LabIndexEntry& entry : entries) {
    struct stat info {};
    const std::string file_path = folder + "/" + entry.file;
    if (!Plain(entry.file) || ::stat(file_path.c_str(), &info) != 0 ||
        Nanoseconds(info.st_mtim) >= settle_limit) {
      return;
    }
    text += entry.file + "\t" + std::to_string(info.st_size) + "\t" + std::to_string(Nanoseconds(info.st_mtim));
    for (const std::string& key : entry.keys) {
      if (!Plain(key)) return;
      text += "\t" + key;
    }
    text += "\n";
  }
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(*path).parent_path(), error);
  // Written aside and renamed, so a concurrent reader sees the old or the new.
  const std::string temporary = *path + "." + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::filesystem::remove(temporary, error);
      return;
    }
  }
  if (::rename(temporary.c_str(), path->c_str()) != 0) std::filesystem::remove(temporary, error);
}

bool LabIndex::Unchanged(const std::string& folder, const std::string& file) const {
  const size_t start = text_.find("\n" + file + "\t");
  if (start == std::string::npos) return false;
  const size_t end = text_.find('\n', start + 1);
  const UniqueFd folder_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  int64_t mtime = 0;
  return folder_fd.valid() &&
         LineMatchesFile(folder_fd.get(), std::string_view(text_).substr(start + 1, end - start - 1), mtime);
}

std::optional<std::string> LabIndex::FileFor(std::string_view key) const {
  // A key is a whole tab-separated field after the three file fields.
  for (size_t at = 0; (at = text_.find(key, at)) != std::string::npos; at += key.size()) {
    const size_t end = at + key.size();
    if (at == 0 || text_[at - 1] != '\t' || end >= text_.size() || (text_[end] != '\t' && text_[end] != '\n')) {
      continue;
    }
    const size_t line_start = text_.rfind('\n', at) + 1;
    const size_t tabs_before = static_cast<size_t>(std::count(text_.begin() + static_cast<long>(line_start),
                                                              text_.begin() + static_cast<long>(at), '\t'));
    if (tabs_before < 3) continue;  // a file name, size or time that looks like a key
    return text_.substr(line_start, text_.find('\t', line_start) - line_start);
  }
  return std::nullopt;
}

}  // namespace hostlore

#include "fleet/server_field_check.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "util/text.h"

namespace hostlore::fleet {
namespace {

// Edits (insert, delete, replace, swap two neighbours) between two words.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The accepted prefix that `kind` (the text before the first ':', lower
// case) probably means, or empty text.
std::string_view MeantPrefix(std::string_view kind) {
  struct Known {
    std::string_view kind;
    std::string_view prefix;
  };
  constexpr std::array kKnown = {Known{"sqlite", "sqlite:"}, Known{"postgresql", "postgresql://"},
                                 Known{"odbc", "odbc:"}};
  for (const Known& known : kKnown) {
    if (EditDistance(kind, known.kind) <= 2) return known.prefix;
  }
  // What PostgreSQL itself and other tools accept for its URLs.
  if (kind == "postgres" || kind == "pgsql" || kind == "psql" || kind == "pg") return "postgresql://";
  if (kind == "sqlite3" || kind == "file") return "sqlite:";
  return {};
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool LooksLikeScheme(std::string_view kind) {
  return !kind.empty() && IsLetter(kind.front()) &&
         std::all_of(kind.begin(), kind.end(), [](char c) {
           return IsLetter(c) || IsDigit(c) || c == '+' || c == '.' || c == '-';
         });
}

bool IsIpv6Address(const std::string& text) {
  in6_addr address{};
  return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

Status Refused(const std::string& field, const std::string& why) {
  return Status::Failure(win32::kInvalidParameter, "the server \"" + field + "\" " + why +
                                                       "; write " + kServerForms);
}

}  // namespace

Status CheckServerField(const std::string& field) {
  if (field.empty()) return Refused(field, "is empty");
  if (field.starts_with("sqlite:")) {
    return field.size() > 7 ? Status::Ok() : Refused(field, "names no file");
  }
  if (field.starts_with("odbc:")) {
    return field.size() > 5 ? Status::Ok() : Refused(field, "holds no connection string");
  }
  if (field.starts_with("postgresql://")) return Status::Ok();
  if (IsIpv6Address(field)) return Status::Ok();

  const size_t colon = field.find(':');
  const std::string kind = ToLowerAscii(field.substr(0, colon));
  std::string rest = colon == std::string::npos ? "" : field.substr(colon + 1);
  const bool port = !rest.empty() && std::all_of(rest.begin(), rest.end(), IsDigit);
  if (colon != std::string::npos && LooksLikeScheme(kind) && !port) {
    const std::string_view meant = MeantPrefix(kind);
    if (meant.empty()) return Refused(field, "starts with \"" + kind + ":\", which is no kind of server");
    // "postgres://h/db" → "postgresql://h/db"; "sqllite:f.db" → "sqlite:f.db".
    if (meant.ends_with("//")) rest.erase(0, rest.find_first_not_of('/'));
    return Refused(field, "is not understood (did you mean " + std::string(meant) + rest + "?)");
  }
  const bool path_like = field.find('/') != std::string::npos || field.starts_with('.') ||
                         field.starts_with('~');
  const std::string lower = ToLowerAscii(field);
  const bool file_like = lower.ends_with(".db") || lower.ends_with(".sqlite") ||
                         lower.ends_with(".sqlite3") || lower.ends_with(".db3");
  if (path_like || file_like) {
    return Refused(field, "looks like a file path, which would be taken for a SQL Server name (a "
                          "SQLite file is written sqlite:" + field + ")");
  }
  return Status::Ok();
}

}  // namespace hostlore::fleet

#include "db/history_records.h"

namespace hostlore {
namespace {

constexpr size_t kTimeStampLength = 19;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool StartsWithTimeStamp(std::string_view text) {
  if (text.size() < kTimeStampLength) return false;
  // Positions of the digits in "YYYY/MM/DD HH:MM:SS"; the others are separators.
  static constexpr std::string_view kPattern = "dddd/dd/dd dd:dd:dd";
  for (size_t i = 0; i < kTimeStampLength; ++i) {
    const bool digit = IsDigit(text[i]);
    if ((kPattern[i] == 'd') != digit) return false;
  }
  return text[10] == ' ';
}

std::vector<HistoryRecord> ParseHistory(std::string_view text) {
  std::vector<HistoryRecord> records;
  while (!text.empty()) {
    const size_t end = text.find('^');
    const std::string_view piece = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (piece.empty()) continue;
    if (StartsWithTimeStamp(piece) && piece.size() > kTimeStampLength && piece[kTimeStampLength] == '~') {
      records.push_back({std::string(piece.substr(0, kTimeStampLength)),
                         std::string(piece.substr(kTimeStampLength + 1))});
    } else if (!records.empty()) {
      records.back().message += '^';
      records.back().message += piece;
    } else {
      records.push_back({std::string(), std::string(piece)});
    }
  }
  return records;
}

}  // namespace hostlore

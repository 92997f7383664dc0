#include "db/software_list_text.h"

#include "util/text.h"

namespace hostlore {
namespace {

constexpr std::string_view kSection = "\xC2\xA7";  // "§" in UTF-8

// The text before the first "§" of `text`, which loses it and the mark.
std::string TakeField(std::string_view& text) {
  const size_t mark = text.find(kSection);
  if (mark == std::string_view::npos) {
    std::string all(text);
    text = {};
    return all;
  }
  std::string field(text.substr(0, mark));
  text.remove_prefix(mark + kSection.size());
  return field;
}

}  // namespace

SoftwareRow SplitSoftwareEntry(std::string_view entry) {
  SoftwareRow row;
  for (size_t field = 0; field < 3; ++field) {
    const bool last = entry.find(kSection) == std::string_view::npos;
    row[field] = TakeField(entry);
    if (last) return row;
  }
  row[3] = std::string(entry);
  return row;
}

ProductFields SplitProductFields(std::string_view rest) {
  ProductFields fields;
  fields.product_id = TakeField(rest);
  fields.company = TakeField(rest);
  fields.owner = std::string(rest);
  return fields;
}

SoftwareListRows ParseSoftwareList(std::string_view rest) {
  SoftwareListRows list;
  if (rest.empty()) return list;
  do {
    const size_t mark = rest.find('^');
    const std::string_view entry = rest.substr(0, mark);
    if (entry.empty()) {
      list.complete = false;
      return list;
    }
    rest = mark == std::string_view::npos ? std::string_view() : rest.substr(mark + 1);
    SoftwareRow row = SplitSoftwareEntry(entry);
    if (!row[0].empty()) list.rows.push_back(std::move(row));
  } while (CountCharacters(rest) > 1);
  return list;
}

std::string StripSectionMarks(std::string_view text) {
  std::string out;
  for (size_t mark; (mark = text.find(kSection)) != std::string_view::npos;) {
    out += text.substr(0, mark);
    text.remove_prefix(mark + kSection.size());
  }
  out += text;
  return out;
}

}  // namespace hostlore

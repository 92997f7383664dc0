// The stored software list text: entries joined by "^", the fields of an
// entry by "§" (name, version, location, product id, registered company,
// registered owner). The software comparison and every view of the stored
// lists read it through here, so that they all see the same programs.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

// Name, version, location, and the rest of the entry after the third "§"
// (product id, and company and owner where the entry has them), as the
// comparison matches them.
using SoftwareRow = std::array<std::string, 4>;

struct SoftwareListRows {
  std::vector<SoftwareRow> rows;  // in list order
  bool complete = true;           // false when an empty entry stopped the reading
};

// Reads a list text entry by entry: an empty entry (two "^" in a row, or a
// leading "^") stops the reading there; a remainder of one character after
// the last "^" is not read; entries without a name are skipped.
SoftwareListRows ParseSoftwareList(std::string_view list);

// One entry split at its first three "§"; missing fields are empty.
SoftwareRow SplitSoftwareEntry(std::string_view entry);

// The rest of an entry (SoftwareRow's last field) split into product id,
// registered company and registered owner: an uninstall entry leaves the
// last two empty; any further "§" stays in the owner.
struct ProductFields {
  std::string product_id;
  std::string company;
  std::string owner;
};
ProductFields SplitProductFields(std::string_view rest);

// `text` with every "§" removed.
std::string StripSectionMarks(std::string_view text);

}  // namespace hostlore

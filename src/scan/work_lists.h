// The in-memory work lists of the software inventory and the software
// comparison: plain lists of text, one kept sorted, and two tables of rows
// with four text columns.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace hostlore {

// A list of text that keeps its entries in ascending order, ignoring letter
// case, as they are added. Entries that compare equal keep their order of
// arrival.
class SortedList {
 public:
  void Add(std::string entry);
  void RemoveAt(size_t index) { entries_.erase(entries_.begin() + static_cast<long>(index)); }
  const std::vector<std::string>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  const std::string& operator[](size_t i) const { return entries_[i]; }

 private:
  std::vector<std::string> entries_;
};

struct ListViewColumn {
  std::string Header;
  float Width = 0;
};

// A table whose rows hold four texts (program, version, location, product id).
struct ListView {
  float Width = 0;  // design width in twips
  std::vector<ListViewColumn> Columns;
  std::vector<std::array<std::string, 4>> Rows;
};

struct WorkLists {
  std::vector<std::string> List1;  // subkeys of the uninstall key
  SortedList List2;                // software entries
  std::vector<std::string> List3;  // installer-data profile ids
  std::vector<std::string> List4;  // installer-data product keys
  std::vector<std::string> List5;  // unused
  ListView ListView1{6375, {}, {}};  // stored software rows
  ListView ListView2{6135, {}, {}};  // new software rows
};

// Gives both list views their four column headers: "Program" at half the
// view's width, then "Version", "Location" and "Product ID" at a third each.
void PrepareListViews(WorkLists& lists);

}  // namespace hostlore

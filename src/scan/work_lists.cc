#include "scan/work_lists.h"

#include <algorithm>

#include "util/text.h"

namespace hostlore {

void SortedList::Add(std::string entry) {
  // After every entry that sorts before or equal to the new one.
  const auto at = std::upper_bound(entries_.begin(), entries_.end(), entry,
                                   [](const std::string& a, const std::string& b) {
                                     return CompareIgnoreCase(a, b) < 0;
                                   });
  entries_.insert(at, std::move(entry));
}

void PrepareListViews(WorkLists& lists) {
  for (ListView* view : {&lists.ListView1, &lists.ListView2}) {
    const float width = view->Width;
    view->Columns = {{"Program", width / 2},
                     {"Version", width / 3},
                     {"Location", width / 3},
                     {"Product ID", width / 3}};
  }
}

}  // namespace hostlore

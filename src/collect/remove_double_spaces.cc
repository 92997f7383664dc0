#include "collect/remove_double_spaces.h"

namespace hostlore {

std::string RemoveDoubleSpaces(std::string_view name) {
  std::string result;
  std::string_view rest = name;
  while (!rest.empty()) {
    if (rest.size() >= 2 && rest[0] == ' ' && rest[1] == ' ') {
      rest.remove_prefix(2);
    } else {
      result += rest.front();
      rest.remove_prefix(1);
    }
  }
  if (result == " ") result.clear();
  return result;
}

}  // namespace hostlore

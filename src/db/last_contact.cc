#include "db/last_contact.h"

#include <algorithm>

#include "util/text.h"

namespace hostlore {
namespace {

constexpr std::string_view kNames[] = {"inventoried", "not-inventoried", "never-answered"};
constexpr std::string_view kLabels[] = {"inventoried", "answered, not inventoried", "never answered"};

bool IsDottedAddress(std::string_view name) {
  return !name.empty() && name.find_first_not_of("0123456789.") == std::string_view::npos;
}

}  // namespace

std::string_view OutcomeName(ContactOutcome outcome) { return kNames[static_cast<size_t>(outcome)]; }
std::string_view OutcomeLabel(ContactOutcome outcome) { return kLabels[static_cast<size_t>(outcome)]; }

std::optional<ContactOutcome> OutcomeFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (kNames[i] == name) return static_cast<ContactOutcome>(i);
  }
  return std::nullopt;
}

ContactOutcome OutcomeOf(const std::optional<std::string>& last_inventory,
                         const std::optional<std::string>& last_answer) {
  if (!last_inventory) return last_answer ? ContactOutcome::kNotInventoried : ContactOutcome::kNeverAnswered;
  if (last_answer && *last_answer > *last_inventory) return ContactOutcome::kNotInventoried;
  return ContactOutcome::kInventoried;
}

std::optional<std::string> LastContact(const std::optional<std::string>& last_inventory,
                                       const std::optional<std::string>& last_answer) {
  if (!last_inventory) return last_answer;
  if (!last_answer) return last_inventory;
  return std::max(*last_inventory, *last_answer);
}

void AccessMatcher::AddComputer(size_t index, std::string_view name, std::string_view address) {
  by_exact_name_.emplace(std::string(name), index);
  by_folded_name_.emplace(FoldCase(name), index);
  if (!address.empty()) by_address_.emplace(std::string(address), index);
}

std::optional<size_t> AccessMatcher::Match(std::string_view access_name) const {
  if (auto found = by_exact_name_.find(std::string(access_name)); found != by_exact_name_.end()) {
    return found->second;
  }
  if (auto found = by_folded_name_.find(FoldCase(access_name)); found != by_folded_name_.end()) {
    return found->second;
  }
  if (auto found = by_address_.find(std::string(access_name)); found != by_address_.end()) {
    return found->second;
  }
  const size_t dot = access_name.find('.');
  if (dot != std::string_view::npos && dot > 0 && !IsDottedAddress(access_name)) {
    if (auto found = by_folded_name_.find(FoldCase(access_name.substr(0, dot)));
        found != by_folded_name_.end()) {
      return found->second;
    }
  }
  return std::nullopt;
}

}  // namespace hostlore

// When a computer was last reached, and how that contact ended. The agent
// stamps LastAccess under the name it was given (a name, an alias, a dotted
// address) when the target answers, and keys the inventory under the name
// the computer reports for itself; this brings the two together.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hostlore {

enum class ContactOutcome {
  kInventoried,     // the last answered contact was stored
  kNotInventoried,  // it answered since its last inventory, which was not stored (access refused, a failure)
  kNeverAnswered,   // known only from LastAccess rows, never answered
};

// "inventoried", "not-inventoried", "never-answered": for filters and exports.
std::string_view OutcomeName(ContactOutcome outcome);
std::optional<ContactOutcome> OutcomeFromName(std::string_view name);
// The same for people: "inventoried", "answered, not inventoried", "never answered".
std::string_view OutcomeLabel(ContactOutcome outcome);

// `last_inventory` is the Asset row's LastScanned (absent without a row),
// `last_answer` the newest AccessTime among its LastAccess rows. The agent
// stamps the answer before it stores the inventory, so a stored contact has
// an inventory time at or after its answer.
ContactOutcome OutcomeOf(const std::optional<std::string>& last_inventory,
                         const std::optional<std::string>& last_answer);

// The later of the two times, or nothing.
std::optional<std::string> LastContact(const std::optional<std::string>& last_inventory,
                                       const std::optional<std::string>& last_answer);

// Finds the computer that a LastAccess name stands for: the computer of that
// name without regard to case, else the computer at that address, else, for
// a DNS name, the computer named by its first label.
class AccessMatcher {
 public:
  void AddComputer(size_t index, std::string_view name, std::string_view address);
  std::optional<size_t> Match(std::string_view access_name) const;

 private:
  std::unordered_map<std::string, size_t> by_exact_name_;
  std::unordered_map<std::string, size_t> by_folded_name_;
  std::unordered_map<std::string, size_t> by_address_;
};

}  // namespace hostlore

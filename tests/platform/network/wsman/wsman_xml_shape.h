// Compares two XML messages by their shape: element and attribute names with
// the namespaces they resolve to, the order of elements, and the values that
// must not differ between two messages of one kind. What necessarily differs
// (message identifiers, contexts, instance data, texts) is left out.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace hostlore::test {

struct ShapeOptions {
  // Prefixes and namespace declarations must match too, not only the
  // namespaces that names resolve to.
  bool prefixes = true;
  // Elements (by local name) whose trimmed text must match.
  std::set<std::string, std::less<>> texts;
  // Attributes (by local name) whose values may differ.
  std::set<std::string, std::less<>> free_attributes = {"Code", "Machine"};
  // Elements of the expected message that the actual one may lack, and
  // elements that the actual one may add.
  std::set<std::string, std::less<>> optional;
  std::set<std::string, std::less<>> extra;
  // Elements whose children are not compared (their content is data).
  std::set<std::string, std::less<>> opaque;
};

// Empty when `actual` has the shape of `expected`; otherwise where and how
// they part, for a test's message. A text that is not XML is a difference.
std::string ShapeDifference(std::string_view expected, std::string_view actual,
                            const ShapeOptions& options);

}  // namespace hostlore::test

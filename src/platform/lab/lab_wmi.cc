// The WMI service of lab computers. It understands the one query shape the
// inventory sends, "SELECT ... FROM <class>", and answers every property of
// the class's instances whatever the select list names.
#include <vector>

#include "platform/lab/lab_failures.h"
#include "platform/lab/lab_seams.h"

namespace hostlore {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// The class named after FROM; nullopt when FROM is missing or anything but
// one class name follows it (the lab has no WHERE clauses).
std::optional<std::string_view> QueriedClass(std::string_view wql) {
  const std::vector<std::string_view> words = SplitWords(wql);
  for (size_t i = 0; i < words.size(); ++i) {
    if (EqualsIgnoreCase(words[i], "from")) {
      if (i + 2 != words.size()) return std::nullopt;
      return words[i + 1];
    }
  }
  return std::nullopt;
}

class LabWmiObject final : public WmiObject {
 public:
  // `instance` lives inside `computer`, which this object keeps alive.
  LabWmiObject(std::shared_ptr<const LabComputer> computer, const LabWmiInstance* instance)
      : computer_(std::move(computer)), instance_(instance) {}

  Result<WmiValue> Get(std::string_view property) override {
    SpendLatency(*computer_);
    const WmiValue* value = FindIgnoreCase(instance_->properties, property);
    if (value == nullptr) return Status::Failure(kWbemNotFound, "Not found");
    return *value;
  }

 private:
  std::shared_ptr<const LabComputer> computer_;
  const LabWmiInstance* instance_;
};

class LabWmiObjectSet final : public WmiObjectSet {
 public:
  // `instances` lives inside `computer`; nullptr stands for no instance.
  LabWmiObjectSet(std::shared_ptr<const LabComputer> computer,
                  const std::vector<LabWmiInstance>* instances)
      : computer_(std::move(computer)), instances_(instances) {}

  Result<std::unique_ptr<WmiObject>> Next() override {
    SpendLatency(*computer_);
    if (instances_ == nullptr || next_ >= instances_->size()) {
      return std::unique_ptr<WmiObject>();
    }
    return std::unique_ptr<WmiObject>(
        std::make_unique<LabWmiObject>(computer_, &(*instances_)[next_++]));
  }

 private:
  std::shared_ptr<const LabComputer> computer_;
  const std::vector<LabWmiInstance>* instances_;
  size_t next_ = 0;
};

class LabWmiConnection final : public WmiConnection {
 public:
  explicit LabWmiConnection(std::shared_ptr<const LabComputer> computer)
      : computer_(std::move(computer)) {}

  Result<std::unique_ptr<WmiObjectSet>> ExecQuery(std::string_view wql) override {
    SpendLatency(*computer_);
    const std::optional<std::string_view> class_name = QueriedClass(wql);
    if (!class_name) return Status::Failure(kWbemInvalidQuery, "Invalid query");
    const LabWmiClass* wmi_class = FindIgnoreCase(*computer_->wmi, *class_name);
    if (wmi_class != nullptr && wmi_class->failure) return *wmi_class->failure;
    return std::unique_ptr<WmiObjectSet>(std::make_unique<LabWmiObjectSet>(
        computer_, wmi_class != nullptr ? &wmi_class->instances : nullptr));
  }

 private:
  std::shared_ptr<const LabComputer> computer_;  // one with WMI
};

class LabWmi final : public Wmi {
 public:
  explicit LabWmi(std::shared_ptr<const LabDirectory> lab) : lab_(std::move(lab)) {}

  Result<std::unique_ptr<WmiConnection>> Connect(const std::string& host) override {
    std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer != nullptr) SpendLatency(*computer);
    if (computer == nullptr || !computer->wmi) {
      return Status::Failure(kRpcUnavailableHresult, "The RPC server is unavailable.");
    }
    return std::unique_ptr<WmiConnection>(std::make_unique<LabWmiConnection>(std::move(computer)));
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
};

}  // namespace

std::unique_ptr<Wmi> NewLabWmi(std::shared_ptr<const LabDirectory> lab) {
  return std::make_unique<LabWmi>(std::move(lab));
}

}  // namespace hostlore

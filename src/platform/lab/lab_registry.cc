// The remote registry of lab computers. The lab grants every access mask: a
// computer whose registry refuses the caller is written `"registry": false`.
#include "platform/lab/lab_failures.h"
#include "platform/lab/lab_seams.h"

namespace hostlore {
namespace {

class LabRegistryKey final : public RegistryKey {
 public:
  // `key` lives inside `computer`, which this handle keeps alive.
  LabRegistryKey(std::shared_ptr<const LabComputer> computer, const LabKey* key)
      : computer_(std::move(computer)), key_(key) {}

  Result<std::unique_ptr<RegistryKey>> OpenKey(std::string_view subkey,
                                               uint32_t /*access*/) override {
    SpendLatency(*computer_);
    const LabKey* found = FindKeyPath(*key_, subkey);
    if (found == nullptr) return Win32Failure(win32::kFileNotFound);
    return std::unique_ptr<RegistryKey>(std::make_unique<LabRegistryKey>(computer_, found));
  }

  Result<RegistryValue> QueryValue(std::string_view name) override {
    SpendLatency(*computer_);
    const RegistryValue* value = key_->FindValue(name);
    if (value == nullptr) return Win32Failure(win32::kFileNotFound);
    return *value;
  }

  Result<std::string> EnumKey(uint32_t index) override {
    SpendLatency(*computer_);
    if (index >= key_->subkeys.size()) return Win32Failure(win32::kNoMoreItems);
    return key_->subkeys[index].name;
  }

 private:
  std::shared_ptr<const LabComputer> computer_;
  const LabKey* key_;
};

class LabRemoteRegistry final : public RemoteRegistry {
 public:
  LabRemoteRegistry(std::shared_ptr<const LabDirectory> lab,
                    std::shared_ptr<LabServiceStates> states)
      : lab_(std::move(lab)), states_(std::move(states)) {}

  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer == nullptr) return Win32Failure(win32::kBadNetPath);
    SpendLatency(*computer);
    if (Status reached = states_->ReachRegistry(*computer); !reached.ok()) return reached;
    if (!computer->registry) return Win32Failure(win32::kBadNetPath);
    const LabKey* root = computer->registry->Root(hive);
    if (root == nullptr) return Win32Failure(win32::kInvalidParameter);
    return std::unique_ptr<RegistryKey>(
        std::make_unique<LabRegistryKey>(std::move(computer), root));
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
  std::shared_ptr<LabServiceStates> states_;
};

}  // namespace

std::unique_ptr<RemoteRegistry> NewLabRegistry(std::shared_ptr<const LabDirectory> lab,
                                               std::shared_ptr<LabServiceStates> states) {
  return std::make_unique<LabRemoteRegistry>(std::move(lab), std::move(states));
}

}  // namespace hostlore

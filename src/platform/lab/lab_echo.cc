// Name lookup answers only the lab's own names and addresses; an echo is
// answered as the computer at its destination says, and a destination without
// a lab computer, like a computer set to "timeout", keeps the caller waiting
// for the request's whole timeout.
#include <thread>

#include "platform/lab/lab_seams.h"

namespace hostlore {
namespace {

class LabIcmpHandle final : public IcmpHandle {
 public:
  explicit LabIcmpHandle(std::shared_ptr<const LabDirectory> lab) : lab_(std::move(lab)) {}

  EchoReply SendEcho(const Ipv4Address& destination, const EchoRequest& request) override {
    const std::shared_ptr<const LabComputer> computer = lab_->FindAddress(destination);
    if (computer == nullptr || !computer->echo_status) {
      std::this_thread::sleep_for(request.timeout);
      return EchoReply{};
    }
    return EchoReply{1, *computer->echo_status, computer->address};
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
};

class LabEcho final : public Echo {
 public:
  explicit LabEcho(std::shared_ptr<const LabDirectory> lab) : lab_(std::move(lab)) {}

  std::optional<Ipv4Address> Resolve(const std::string& name) override {
    const std::shared_ptr<const LabComputer> computer = lab_->FindHost(name);
    if (computer == nullptr) return std::nullopt;
    return computer->address;
  }

  Result<std::unique_ptr<IcmpHandle>> CreateIcmpHandle() override {
    return std::unique_ptr<IcmpHandle>(std::make_unique<LabIcmpHandle>(lab_));
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
};

}  // namespace

std::unique_ptr<Echo> NewLabEcho(std::shared_ptr<const LabDirectory> lab) {
  return std::make_unique<LabEcho>(std::move(lab));
}

}  // namespace hostlore

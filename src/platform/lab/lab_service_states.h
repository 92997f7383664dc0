// What agents change on lab computers: the state and start type of their
// RemoteRegistry service. Changes hold for the life of the platform (one
// agent run), and each one is appended to the journal file named by
// HOSTLORE_LAB_JOURNAL, one line "NAME RemoteRegistry WHAT" per change in
// one O_APPEND write, so that tests can see what an agent left behind.
// Safe to use from several threads at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/lab/lab_computer.h"
#include "platform/status.h"

namespace hostlore {

inline constexpr const char* kLabRegistryService = "RemoteRegistry";

class LabServiceStates {
 public:
  // `journal`: the file that receives the change lines; empty: none.
  explicit LabServiceStates(std::string journal) : journal_(std::move(journal)) {}
  LabServiceStates(const LabServiceStates&) = delete;
  LabServiceStates& operator=(const LabServiceStates&) = delete;

  // Whether `computer`'s registry may be reached now. A stopped service
  // refuses (win32::kBadNetPath, as an unreachable registry); one that
  // starts on a trigger starts now and refuses this once with
  // win32::kPipeBusy.
  Status ReachRegistry(const LabComputer& computer);

  bool Running(const LabComputer& computer);
  uint32_t StartType(const LabComputer& computer);
  Status ChangeStartType(const LabComputer& computer, uint32_t start_type);
  Status Start(const LabComputer& computer);
  Status Stop(const LabComputer& computer);

 private:
  struct State {
    LabRegistryService service;
    std::string name;  // the computer's first name, as the journal writes it
  };
  State& Of(const LabComputer& computer);  // with mutex_ held
  void Journal(const State& state, const std::string& what);

  std::string journal_;
  std::mutex mutex_;
  std::map<std::string, State> states_;
};

}  // namespace hostlore

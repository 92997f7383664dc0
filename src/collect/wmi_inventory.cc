#include "collect/wmi_inventory.h"

#include <exception>
#include <functional>
#include <type_traits>

#include "collect/logged_on_user.h"
#include "collect/nt_method.h"
#include "collect/reg_reader.h"
#include "collect/remove_double_spaces.h"
#include "collect/service_list.h"
#include "collect/wmi_values.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

constexpr double kKilobytesPerMegabyte = 1024.0;
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

void Fail(ScanState& state, const Status& failure) {
  state.LastFailure = {true, failure.number(), failure.description()};
}

// Runs one step; a failure it raises is recorded and the step skipped.
void Step(ScanState& state, const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& failure) {
    Fail(state, Status::Failure(9, failure.what()));
  }
}

// Reads one property of `object` and hands its converted value to `store`;
// a missing or null property, or a value that does not convert, is recorded
// and nothing is stored.
template <typename T>
void ReadInto(ScanState& state, WmiObject& object, std::string_view property,
              const std::function<Result<T>(const WmiValue&)>& convert,
              const std::function<void(T)>& store) {
  Result<WmiValue> value = object.Get(property);
  if (!value.ok()) return Fail(state, value.status());
  Result<T> converted = convert(value.value());
  if (!converted.ok()) return Fail(state, converted.status());
  store(std::move(converted).value());
}

void ReadText(ScanState& state, WmiObject& object, std::string_view property, std::string& field) {
  ReadInto<std::string>(state, object, property, WmiText, [&](std::string v) { field = std::move(v); });
}

void ReadNumber(ScanState& state, WmiObject& object, std::string_view property, double& field) {
  ReadInto<double>(state, object, property, WmiNumber, [&](double v) { field = v; });
}

// Reads a byte or kilobyte count as whole megabytes into `field` (an
// int32_t or a double field); a count that rounds to 0 MB is not stored.
template <typename Field>
void ReadMegabytes(ScanState& state, WmiObject& object, std::string_view property,
                   double divisor, Field& field) {
  ReadInto<Field>(
      state, object, property,
      [divisor](const WmiValue& v) -> Result<Field> {
        Result<double> number = WmiNumber(v);
        if (!number.ok()) return number.status();
        if constexpr (std::is_same_v<Field, int32_t>) {
          return RoundToMegabytesInt(number.value(), divisor);
        } else {
          return RoundToMegabytes(number.value(), divisor);
        }
      },
      [&](Field v) { field = v; });
}

// The two texts a checkpoint logs, given TargetName + ":" + description.
using CheckpointTexts = std::function<std::pair<std::string, std::string>(const std::string&)>;

const CheckpointTexts kModGetWMI = [](const std::string& context) {
  return std::make_pair(context, std::string("ModGetWMI"));
};

CheckpointTexts Named(const char* what) {
  return [what](const std::string& context) { return std::make_pair(std::string(what), context); };
}

// Runs `wql` and visits each instance with `visit`. A failed query visits
// nothing. When LastFailure then holds "object not set", the run ends here.
void QueryStep(ScanState& state, const std::string& wql, const CheckpointTexts& texts,
               const std::function<void()>& after_query,
               const std::function<void(WmiObject&)>& visit) {
  std::unique_ptr<WmiObjectSet> instances;
  if (!state.WmiServices) {
    Fail(state, Status::Failure(kObjectNotSet, "Object variable or With block variable not set"));
  } else if (Result<std::unique_ptr<WmiObjectSet>> result = state.WmiServices->ExecQuery(wql);
             result.ok()) {
    instances = std::move(result).value();
  } else {
    Fail(state, result.status());
  }

  if (state.LastFailure.set && state.LastFailure.number == kObjectNotSet) {
    const auto [what, detail] = texts(state.TargetName + ":" + state.LastFailure.description);
    LogError(state, what, detail);
    ReportFailureComplete(state);
    EndProcess(state);
  }
  if (after_query) after_query();
  while (instances) {
    Result<std::unique_ptr<WmiObject>> next = instances->Next();
    if (!next.ok()) {
      Fail(state, next.status());
      break;
    }
    if (!next.value()) break;
    visit(*next.value());
  }
}

// A user looked up in the registry when WMI names none.
void LookUpUser(ScanState& state, std::string& candidate) {
  Step(state, [&] {
    if (candidate.empty()) candidate = GetLogonUser(state, state.TargetAddress);
    if (candidate.empty()) candidate = GetProfileUser(state, state.TargetAddress);
  });
}

// `named` becomes true when an instance names the computer.
void CollectComputerSystem(ScanState& state, bool& named) {
  std::string candidate;
  QueryStep(state, "Select * From Win32_ComputerSystem", kModGetWMI, nullptr,
            [&](WmiObject& cs) {
              // An empty name never replaces one: the rows are keyed by it.
              std::string name;
              ReadText(state, cs, "Name", name);
              if (!name.empty()) {
                state.TargetName = std::move(name);
                named = true;
              }
              ReadText(state, cs, "UserName", candidate);
              LookUpUser(state, candidate);
              ReadText(state, cs, "Manufacturer", state.Manufacturer);
              ReadText(state, cs, "Model", state.Model);
              ReadText(state, cs, "Domain", state.Domain);
              ReadMegabytes(state, cs, "TotalPhysicalMemory", kBytesPerMegabyte,
                            state.TotalPhysicalMemory);
            });
  state.LoggedOnUser = candidate;
  if (state.TotalPhysicalMemory == 0) Step(state, [&] { GetUser(state); });
}

void CollectOperatingSystem(ScanState& state) {
  QueryStep(
      state, "Select * From Win32_OperatingSystem", kModGetWMI, [&] { ReportStep(state, "20"); },
      [&](WmiObject& os) {
        ReadText(state, os, "BootDevice", state.BootDevice);
        ReadText(state, os, "SerialNumber", state.OSSerialNumber);
        ReadText(state, os, "Caption", state.OperatingSystem);
        ReadText(state, os, "CountryCode", state.CountryCode);
        ReadText(state, os, "CSDVersion", state.ServicePack);
        ReadText(state, os, "Description", state.Description);
        ReadMegabytes(state, os, "FreePhysicalMemory", kKilobytesPerMegabyte,
                      state.FreePhysicalMemory);
        ReadMegabytes(state, os, "FreeSpaceInPagingFiles", kKilobytesPerMegabyte,
                      state.FreeSpaceInPagingFiles);
        ReadMegabytes(state, os, "FreeVirtualMemory", kKilobytesPerMegabyte,
                      state.FreeVirtualMemory);
        ReadText(state, os, "Version", state.OSVersion);
        ReadText(state, os, "WindowsDirectory", state.WindowsDirectory);
      });
}

void CollectProcessors(ScanState& state) {
  size_t counter = 0;
  QueryStep(state, "Select * From Win32_Processor", kModGetWMI, nullptr, [&](WmiObject& cpu) {
    if (counter < state.Processors.size()) {
      ProcessorRecord& record = state.Processors[counter];
      ReadInto<std::string>(state, cpu, "Name", WmiText,
                            [&](std::string name) { record.Name = RemoveDoubleSpaces(name); });
      ReadNumber(state, cpu, "currentclockspeed", record.Speed);
    }
    ++counter;
  });
}

void CollectBios(ScanState& state) {
  QueryStep(state, "Select * From Win32_BIOS", Named("Error getting WMI BIOS information"), nullptr,
            [&](WmiObject& bios) {
              ReadText(state, bios, "Manufacturer", state.BIOS);
              ReadText(state, bios, "SMBIOSBIOSVersion", state.BIOSVersion);
              ReadText(state, bios, "SerialNumber", state.SerialNumber);
            });
}

void CollectLogicalDisks(ScanState& state) {
  QueryStep(state, "Select * From Win32_LogicalDisk",
            Named("Error getting WMI Logical Disk information"), nullptr, [&](WmiObject& disk) {
              for (char letter = 'A'; letter < 'A' + kDriveCount; ++letter) {
                std::string caption;
                bool read = false;
                ReadInto<std::string>(state, disk, "Caption", WmiText, [&](std::string c) {
                  caption = std::move(c);
                  read = true;
                });
                if (!read || caption != std::string(1, letter) + ":") continue;
                DriveRecord& drive = state.Drive(letter);
                ReadText(state, disk, "Caption", drive.Caption);
                ReadMegabytes(state, disk, "Size", kBytesPerMegabyte, drive.Size);
                ReadMegabytes(state, disk, "freespace", kBytesPerMegabyte, drive.FreeSpace);
                ReadText(state, disk, "volumename", drive.VolumeName);
                ReadText(state, disk, "FileSystem", drive.FileSystem);
                ReadText(state, disk, "volumeserialnumber", drive.VolumeSerial);
              }
            });
}

}  // namespace

void ConnectWMI(ScanState& state, const std::string& host) {
  state.LastFailure = {};
  Result<std::unique_ptr<WmiConnection>> connection = state.platform.wmi->Connect(host);
  if (connection.ok()) {
    state.WmiServices = std::move(connection).value();
  } else {
    state.WmiServices.reset();
    Fail(state, connection.status());
  }
}

namespace {

// Everything after the computer name. `named` becomes true when WMI names
// the computer.
void CollectInventory(ScanState& state, bool& named) {
  if (state.UserOnly) {
    std::string candidate;
    LookUpUser(state, candidate);
    return;
  }

  ConnectWMI(state, state.TargetAddress);
  if (state.LastFailure.set) {
    LogError(state, "Unable to access WMI", state.TargetName + ":" + state.LastFailure.description);
    NTMethod(state);
    return;
  }
  ReportStep(state, "10");
  CollectComputerSystem(state, named);
  CollectOperatingSystem(state);
  CollectProcessors(state);
  ListServices(state, ServiceReport::kLog);
  ReportStep(state, "27");
  CollectBios(state);
  ReportStep(state, "29");
  CollectLogicalDisks(state);
  ReportStep(state, "33");
}

}  // namespace

void GetWMI(ScanState& state) {
  // The rows of the run are keyed by the computer's own name. A computer
  // whose name cannot be read keeps the name it was reached by: under an
  // empty name, every such computer would share one row and its history.
  const std::string reached_by = state.TargetName;
  state.TargetName =
      ReadRegValue(state, state.TargetAddress, Hive::kLocalMachine,
                   "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName",
                   "ComputerName", state.RegValueType);
  bool named = !state.TargetName.empty();
  if (!named) state.TargetName = reached_by;
  ReportStep(state, "6");
  CollectInventory(state, named);
  if (!named) {
    LogError(state, "Unable to read the computer name",
             state.TargetName + ":the target names itself nowhere it can be read; its inventory "
                                "is kept under the name it was reached by");
  }
}

}  // namespace hostlore

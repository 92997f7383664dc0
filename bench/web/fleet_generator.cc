#include "fleet_generator.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "diag/time_stamp.h"
#include "util/text.h"

namespace hostlore::bench {
namespace {

constexpr char kSection[] = "\xC2\xA7";
constexpr int kCatalogue = 3000;
constexpr int kDay = 86400;

const char* const kVendors[] = {"Microsoft", "Adobe", "Oracle", "Mozilla", "Google", "Symantec", "Citrix",
                                "SAP", "Intel", "Realtek", "VMware", "Autodesk", "Corel", "Apple", "IBM"};
const char* const kProducts[] = {"Office", "Reader", "Java Runtime", "Firefox", "Chrome", "AntiVirus",
                                 "Receiver", "GUI", "Network Drivers", "Audio Driver", "Tools", "Viewer",
                                 "Toolbar", "Update Service", "Visual C++ Redistributable", "SQL Client"};
const char* const kSystems[] = {"Microsoft Windows XP Professional", "Microsoft Windows 2000 Professional",
                                "Microsoft Windows 2000 Server", "Microsoft Windows Server 2003",
                                "Microsoft Windows 7 Professional", "Microsoft Windows 10 Enterprise"};
const char* const kDomains[] = {"corp.example", "sales.corp.example", "lab.example", "WORKGROUP", "dmz.example"};
const char* const kFields[] = {"Physical Memory changed ", "BIOS Version changed ", "OS changed ",
                               "Service Pack changed ", "Processor 1 speed changed "};

struct Program {
  std::string name;
  std::vector<std::string> versions;
};

std::vector<Program> Catalogue() {
  std::vector<Program> programs;
  for (int i = 0; i < kCatalogue; ++i) {
    Program program;
    program.name = std::string(kVendors[i % std::size(kVendors)]) + " " + kProducts[(i / 15) % std::size(kProducts)];
    if (i >= 240) program.name += " " + std::to_string(i / 240 + 2000);
    program.name += " (" + std::to_string(i) + ")";
    for (int v = 0; v < 1 + i % 4; ++v) program.versions.push_back(std::to_string(1 + i % 9) + "." + std::to_string(v) + "." + std::to_string(i));
    programs.push_back(std::move(program));
  }
  return programs;
}

std::string Entry(const Program& program, const std::string& version, int index) {
  const std::string product = "{" + std::to_string(index) + "-PRODUCT}";
  std::string entry = program.name + kSection + version + kSection + "C:\\Program Files\\" + program.name + kSection + product;
  return entry + kSection + (index % 3 == 0 ? std::string("Corp") + kSection + "IT" : std::string(kSection));
}

}  // namespace

std::string ComputerName(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "PC%05d", index);
  return name;
}

std::string PopularProgram() { return Catalogue().front().name; }

void GenerateFleet(const FleetShape& shape, const RowSink& sink) {
  std::mt19937_64 random(shape.seed);
  const std::vector<Program> catalogue = Catalogue();
  // Program i is chosen in proportion to 1 / (i + 1): a few are everywhere.
  std::vector<double> weights;
  for (int i = 0; i < kCatalogue; ++i) weights.push_back(1.0 / (i + 1));
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

  for (int c = 0; c < shape.computers; ++c) {
    const std::string name = ComputerName(c);
    // A tenth stale (last reached a month to four months ago), 3 % new this week.
    const bool stale = c % 10 == 7;
    const std::time_t last = stale ? shape.now - uniform(31, 120) * kDay : shape.now - uniform(60, 2 * kDay);
    const std::time_t first =
        stale || c % 33 != 5 ? last - uniform(40, 400) * kDay : std::min(last, shape.now - uniform(1, 6) * kDay);
    std::vector<std::string> entries;
    std::set<int> chosen;
    while (static_cast<int>(chosen.size()) < std::min(shape.programs, kCatalogue)) chosen.insert(pick(random));
    for (const int index : chosen) {
      const Program& program = catalogue[static_cast<size_t>(index)];
      entries.push_back(Entry(program, program.versions[static_cast<size_t>(uniform(0, static_cast<int>(program.versions.size()) - 1))], index));
    }
    std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) { return CompareIgnoreCase(a, b) < 0; });
    std::string software;
    for (const std::string& entry : entries) software += (software.empty() ? "" : "^") + entry;

    std::vector<std::time_t> times;
    for (int h = 1; h < shape.history; ++h) times.push_back(first + (last - first) * h / shape.history);
    std::string history = FormatTimeStamp(first) + "~New Record Created^";
    for (const std::time_t when : times) {
      const int kind = uniform(0, 9);
      const Program& program = catalogue[static_cast<size_t>(pick(random))];
      std::string message;
      if (kind < 3) message = "New Software installed : " + program.name;
      else if (kind < 5) message = "Software removed : " + program.name;
      else if (kind < 7) message = program.name + " Version changed from 1.0 To 2.0";
      else if (kind < 9) message = std::string(kFields[uniform(0, 4)]) + "from 512 To 1024";
      else message = "Drive C: Size changed from 38154 To 76308";
      history += FormatTimeStamp(when) + "~" + message + "^";
    }

    const int memory = 256 << uniform(0, 5);
    std::vector<FieldValue> asset(94);
    asset[0] = name;
    asset[1] = c % 2 ? "Dell Inc." : "Hewlett-Packard";
    asset[2] = c % 2 ? "OptiPlex 7010" : "EliteDesk 800";
    asset[3] = kDomains[c % std::size(kDomains)];
    asset[6] = kSystems[uniform(0, std::size(kSystems) - 1)];
    asset[7] = "Service Pack " + std::to_string(uniform(1, 3));
    asset[9] = "Intel(R) Core(TM) i5 CPU";
    asset[10] = 2800.0;
    asset[17] = int64_t{memory};
    asset[22] = "C:\\WINDOWS";
    asset[25] = "SN" + std::to_string(100000 + c);
    asset[26] = FormatTimeStamp(last);
    asset[27] = "CORP\\user" + std::to_string(c % 997);
    asset[30] = "10." + std::to_string(c / 65536) + "." + std::to_string(c / 256 % 256) + "." + std::to_string(c % 256);
    asset[43] = "C:";
    asset[44] = 76308.0;
    asset[45] = static_cast<double>(uniform(1000, 70000));
    asset[46] = "SYSTEM";
    asset[47] = "NTFS";
    asset[48] = "A1B2-C3D4";
    asset[92] = history;
    sink("Asset", asset);
    sink("Software", {name, software});
    std::string services;
    for (int s = 0; s < 60; ++s) services += (s ? "^" : "") + std::string("Service ") + std::to_string(s);
    sink("Services", {name, services});
    // The agent stamps the contact just before it stores the inventory;
    // one in thirty answered later but was not stored.
    sink("LastAccess", {name, FormatTimeStamp(c % 30 == 11 ? last + kDay : last - 60)});
    std::string drive;
    for (int day = 180; day >= 0; --day) {
      drive += "^" + FormatDate(last - day * kDay) + "," + std::to_string(20000 + (day * 37 + c) % 5000);
    }
    sink("DriveHistory", {name + "~C", drive, name});
  }
  for (int n = 0; n < shape.computers / 50; ++n) {
    sink("LastAccess", {"SILENT" + std::to_string(n), FieldValue()});
  }
}

}  // namespace hostlore::bench

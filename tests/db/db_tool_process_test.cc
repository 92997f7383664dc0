// hostlore-db as a person types it: its help, usage errors that create
// nothing, and files named with the system's reason.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"
#include "util/standard_options.h"

namespace hostlore::test {
namespace {

using Strings = std::vector<std::string>;

ProgramResult RunDbTool(Strings arguments) {
  arguments.insert(arguments.begin(), HOSTLORE_DB_PATH);
  return RunProgram(arguments);
}

TEST(DbToolProcessTest, UsageErrorsCreateNothingAndHelpIsNoError) {
  TempFolder folder;
  const std::filesystem::path file = folder.path() / "f.db";
  const std::string server = "sqlite:" + file.string();
  for (const Strings& arguments : {Strings{"frob", server}, Strings{"show", server}, Strings{"init"},
                                   Strings{"check", server, "extra"}, Strings{}}) {
    const ProgramResult run = RunDbTool(arguments);
    EXPECT_EQ(run.exit_status, 2) << run.err;
    EXPECT_NE(run.err.find("\nusage: hostlore-db init SERVER"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(file)) << run.err;
  }
  EXPECT_NE(RunDbTool({"frob", server}).err.find("unknown command \"frob\""), std::string::npos);

  const ProgramResult help = RunDbTool({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: hostlore-db ")) << help.out;
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(RunDbTool({"--version"}).out, "hostlore-db " + std::string(ProgramVersion()) + "\n");
}

TEST(DbToolProcessTest, FilesAreNamedWithTheReason) {
  TempFolder folder;
  const std::filesystem::path missing = folder.path() / "missing.db";
  const ProgramResult show = RunDbTool({"show", "sqlite:" + missing.string(), "PC042"});
  EXPECT_EQ(show.exit_status, 1);
  EXPECT_NE(show.err.find(missing.string() + ": No such file (hostlore-db init"), std::string::npos)
      << show.err;
  EXPECT_FALSE(std::filesystem::exists(missing));

  const std::string unreachable = (folder.path() / "no-folder" / "x.db").string();
  const ProgramResult init = RunDbTool({"init", "sqlite:" + unreachable});
  EXPECT_EQ(init.exit_status, 1);
  EXPECT_NE(init.err.find(unreachable + ": unable to open database file (No such file or directory)"),
            std::string::npos)
      << init.err;
}

}  // namespace
}  // namespace hostlore::test

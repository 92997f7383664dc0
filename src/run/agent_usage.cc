#include "run/agent_usage.h"

namespace hostlore {

namespace {
constexpr char kSynopsis[] = "hostlore PROGRESS_FD,TARGET,SERVER,[-u],CALLER_INDEX";
}  // namespace

std::string AgentHelp() {
  return std::string("Usage: ") + kSynopsis +
         "\n"
         "Examines one Windows computer over the network and stores its inventory and\n"
         "the history of its changes in a SQL database. hostlore-fleet runs it for many.\n"
         "\n"
         "The command line is one text of five comma-separated fields, taken exactly\n"
         "(no blanks trimmed, no quotes):\n"
         "  PROGRESS_FD    descriptor for the progress lines: 1 standard output, 0 none\n"
         "  TARGET         host name or dotted IPv4 address, at most 64 characters\n"
         "  SERVER         sqlite:PATH, postgresql://HOST[:PORT]/DB, odbc:CONNECTION-STRING,\n"
         "                 or a SQL Server name (database BrindleAsset, Kerberos login)\n"
         "  -u             refresh only the logged-on user and the time of contact;\n"
         "                 empty for a full run\n"
         "  CALLER_INDEX   -32768 to 32767, repeated at the end of every progress line\n"
         "\n"
         "Example: hostlore 1,PC042,sqlite:/var/lib/hostlore/inventory.db,,7\n"
         "\n"
         "Options (alone on the command line):\n"
         "  --help         show this text\n"
         "  --version      show the version\n"
         "\n"
         "Environment:\n"
         "  Temp, TEMP, TMP, TMPDIR\n"
         "                 the first one set names the folder of the error log\n"
         "                 Kelvarn.log (none: /tmp)\n"
         "  KRB5CCNAME     the Kerberos ticket cache for the target and the database\n"
         "  HOSTLORE_AUTH_FILE\n"
         "                 an smbclient -A file (username, password, domain) for NTLM;\n"
         "                 it must not be readable by group or others\n"
         "  HOSTLORE_LAB   a folder of simulated computers to scan instead of the network\n"
         "\n"
         "Exit status: 0 the run reached its end, 1 a failure was logged, 2 the command\n"
         "line could not be read.\n";
}

std::string AgentUsageLine(const std::string& log_path) {
  return std::string("usage: ") + kSynopsis + " (hostlore --help explains; why: " + log_path +
         ")\n";
}

}  // namespace hostlore

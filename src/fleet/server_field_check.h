// The database server field, looked at before a sweep: a mistyped field
// would otherwise be taken for a SQL Server name by every agent.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore::fleet {

// The accepted forms, as the messages below list them.
inline constexpr char kServerForms[] =
    "sqlite:PATH, postgresql://HOST[:PORT]/DB, odbc:CONNECTION-STRING or a SQL Server name";

// Refuses a field that no agent could use as meant: an empty one, sqlite: or
// odbc: with nothing after it, an unknown "kind:" prefix or "scheme://" (a
// misspelt one is answered with the field as it was probably meant), and
// anything that looks like a file path (a SQL Server name holds no "/", and
// does not end in .db). An IPv6 address, or a name and ":PORT", is a SQL
// Server name. The message is
// one line that names the field and lists the accepted forms.
Status CheckServerField(const std::string& field);

}  // namespace hostlore::fleet

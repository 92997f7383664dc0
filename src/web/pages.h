// The pages of the web view. Each takes the request's query parameters,
// checks them, asks the fleet questions and renders the answer as HTML, CSV
// or JSON (the "format" parameter): the same view is a page and an API.
#pragma once

#include <map>
#include <string>

#include "web/web_reply.h"

namespace hostlore {

using QueryParams = std::multimap<std::string, std::string>;

// /           counts by system, domain and contact outcome; stale and new computers; newest changes
WebReply ServeFleet(const QueryParams& params, PageContext& context);
// /computers  the computers, filtered, sorted, a page at a time
WebReply ServeComputers(const QueryParams& params, PageContext& context);
// /computer   everything stored for one computer (?name=)
WebReply ServeComputer(const QueryParams& params, PageContext& context);
// /software   programs by name, with their versions and counts
WebReply ServeSoftware(const QueryParams& params, PageContext& context);
// /software/computers   the computers that have a program (and version)
WebReply ServeInstallations(const QueryParams& params, PageContext& context);
// /changes    the fleet's history records, newest first
WebReply ServeChanges(const QueryParams& params, PageContext& context);

// The computer page's address for `name`.
std::string ComputerHref(const std::string& name);
// A computer's name linked to its page, marked when stale.
std::string ComputerCell(const std::string& name, bool stale);
// A stored time, or a dash.
std::string TimeCell(const std::optional<std::string>& time);

}  // namespace hostlore

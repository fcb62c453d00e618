// The report for people, in the users' words: one table of every database
// read, the biggest gain first, then each server that could not be read
// and why.
#pragma once

#include "cli/Style.h"
#include "report/LogReport.h"

#include <string>
#include <vector>

namespace cli {

std::string reportTable(const std::vector<report::ServerReport>& servers, const Style& style);

// Why the job would leave the log where it does: the window's reason
// (db::texts) where it stays above the target.
std::string reasonText(const report::DatabaseReport& database);

} // namespace cli

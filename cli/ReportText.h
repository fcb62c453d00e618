// The report for people: one table of every database read, the biggest
// gain first, then what could not be read and why.
#pragma once

#include "cli/Style.h"
#include "report/LogReport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

std::string reportTable(const std::vector<report::ServerReport>& servers, const Style& style);

// Why the job would leave the log where it does, in a few words.
std::string reasonText(const report::DatabaseReport& database);

// "12.5" megabytes, one decimal.
std::string megabytes(std::int64_t bytes);

} // namespace cli

// The report for programs: JSON of a documented, versioned shape (README.md,
// "The report as JSON"). A change that could break a reader raises Version.
#pragma once

#include "report/LogReport.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cli {

inline constexpr const char* JsonFormat = "sqllogclean-report";
inline constexpr int JsonVersion = 1;

nlohmann::ordered_json reportJson(const std::vector<report::ServerReport>& servers, const std::string& tool);

} // namespace cli

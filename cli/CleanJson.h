// clean for programs: JSON of the report's documented shape (README.md,
// "clean as JSON"): the same envelope and server fields, each database's
// jobs in place of what the report reads.
#pragma once

#include "cli/CleanPlan.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cli {

inline constexpr const char* CleanJsonFormat = "sqllogclean-clean";
inline constexpr int CleanJsonVersion = 1;

nlohmann::ordered_json cleanJson(const std::vector<ServerClean>& servers, const std::string& tool, bool cancelled);

} // namespace cli

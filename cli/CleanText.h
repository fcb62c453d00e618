// clean for people, in the users' words: what it is about to do, shown with
// its question, and what each job did, in the window's sentences.
#pragma once

#include "cli/CleanPlan.h"

#include <string>
#include <vector>

namespace cli {

// The plan as a table, what cannot be done and why, then the question.
std::string planText(const std::vector<ServerClean>& servers);

// What one server, database or job came to (CleanRun::Said), as a block of
// its own: a heading, then the window's words, then a blank line.
std::string outcomeText(const ServerClean& server, const DatabaseClean* database, const FileJob* job);

// Whether the answer typed is a yes: y or yes in any case, or 是.
bool saysYes(const std::string& answer);

} // namespace cli

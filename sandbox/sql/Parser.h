// Recognizes the T-SQL statements the sandbox answers. A batch is parsed
// whole before any of it runs, so that a syntax error runs none of it.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Lexer.h"
#include "sandbox/sql/Statements.h"

#include <string_view>
#include <vector>

namespace sandbox::sql {

// Throws SyntaxError with SQL Server's message (105, 113, 137, 155, 156, 170,
// 191). The generation says which statements still exist (TRUNCATE_ONLY).
std::vector<Statement> parseBatch(std::u16string_view batch, Generation generation = Generation::Sql2000);

} // namespace sandbox::sql

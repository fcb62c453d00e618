// What the JSON of both commands share: the envelope, a server's fields and
// the names given to reasons and failures (README.md, "The report as JSON").
#pragma once

#include "db/ConnectFailure.h"
#include "db/LogOutcome.h"
#include "db/ServerGeneration.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace cli::json {

using Json = nlohmann::ordered_json;

Json text(std::u16string_view s);

template <class T, class Convert>
Json orNull(const std::optional<T>& value, Convert convert)
{
    return value ? Json(convert(*value)) : Json(nullptr);
}

// "none", "vlf_boundary", "held", ...
const char* shortfallName(db::Shortfall why);
// "login_refused", "unreachable", ...
const char* failureName(db::ConnectFailure failure);

// format, version, tool and target_bytes: a document's first fields.
Json envelope(const char* format, int version, const std::string& tool);

// server, address, ok, version, generation, error and failure; `error`
// empty: the server was reached.
Json serverFields(std::u16string_view server, std::u16string_view address,
                  const std::optional<db::ServerVersion>& version, std::u16string_view error,
                  db::ConnectFailure failure);

} // namespace cli::json

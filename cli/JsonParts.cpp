#include "cli/JsonParts.h"

#include "db/SqlText.h"
#include "db/Text.h"
#include "report/LogReport.h"

#include <cstdio>

namespace cli::json {

Json text(std::u16string_view s) { return db::toUtf8(s); }

const char* shortfallName(db::Shortfall why)
{
    switch (why) {
    case db::Shortfall::None: return "none";
    case db::Shortfall::DataFile: return "data_file";
    case db::Shortfall::VlfBoundary: return "vlf_boundary";
    case db::Shortfall::Held: return "held";
    case db::Shortfall::ActiveAtEnd: return "active_at_end";
    case db::Shortfall::TwoVlfFloor: return "two_vlf_floor";
    case db::Shortfall::ShrinkMessage: return "shrink_message";
    }
    return "none";
}

const char* failureName(db::ConnectFailure failure)
{
    switch (failure) {
    case db::ConnectFailure::LoginRefused: return "login_refused";
    case db::ConnectFailure::Unreachable: return "unreachable";
    case db::ConnectFailure::Encryption: return "encryption";
    case db::ConnectFailure::MissingDriver: return "missing_driver";
    case db::ConnectFailure::Other: break;
    }
    return "other";
}

Json envelope(const char* format, int version, const std::string& tool)
{
    return {{"format", format},
            {"version", version},
            {"tool", tool},
            {"target_bytes", db::sql::ShrinkTargetBytes}};
}

Json serverFields(std::u16string_view server, std::u16string_view address,
                  const std::optional<db::ServerVersion>& version, std::u16string_view error,
                  db::ConnectFailure failure)
{
    const bool failed = !error.empty();
    return {{"server", text(server)},
            {"address", text(address)},
            {"ok", !failed},
            {"version", orNull(version, [](const db::ServerVersion& v) {
                 char out[24];
                 std::snprintf(out, sizeof out, "%d.%02d.%d", v.major, v.minor, v.build);
                 return std::string(out);
             })},
            {"generation", orNull(version, [](const db::ServerVersion& v) { return text(report::generationName(v)); })},
            {"error", failed ? text(error) : Json(nullptr)},
            {"failure", failed ? Json(failureName(failure)) : Json(nullptr)}};
}

} // namespace cli::json

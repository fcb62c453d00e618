// The server's version, as the driver read it from the login
// acknowledgement, and which texts a version gets: the one place that knows
// what changed between SQL Server generations.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace db {

struct ServerVersion {
    int major = 8;
    int minor = 0;
    int build = 0;

    // "15.00.4355", as ODBC's SQL_DBMS_VER has it; what cannot be read
    // counts as SQL Server 2000.
    static ServerVersion parse(std::u16string_view text);
    // The same, or nothing when the text is no version of a TDS 7 server:
    // for choices that must not guess.
    static std::optional<ServerVersion> tryParse(std::u16string_view text);
    friend bool operator==(const ServerVersion&, const ServerVersion&) = default;
};

enum class RecoveryModel { Full, BulkLogged, Simple };

// FULL, BULK_LOGGED or SIMPLE, as DATABASEPROPERTYEX names them.
std::optional<RecoveryModel> recoveryModelNamed(std::u16string_view name);
const char16_t* recoveryModelName(RecoveryModel model);

class Dialect {
public:
    explicit Dialect(ServerVersion version) : version_(version) {}

    // 2000 and 2005 still have sp_dboption and BACKUP LOG ... WITH
    // TRUNCATE_ONLY; from 2008 the job goes through the recovery model.
    bool truncatesWithBackupLog() const { return version_.major <= 9; }
    // 2005 on: sys.databases, with log_reuse_wait_desc.
    bool hasCatalogViews() const { return version_.major >= 9; }
    // 2012 on: sys.dm_db_log_space_usage, which Learn names instead of
    // DBCC SQLPERF(LOGSPACE) from then.
    bool hasLogSpaceView() const { return version_.major >= 11; }

private:
    ServerVersion version_;
};

} // namespace db

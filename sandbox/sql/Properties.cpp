// SERVERPROPERTY and DATABASEPROPERTYEX: what administrators' scripts ask a
// server about itself and its databases. A property the generation does not
// have, or a database that does not exist, gives NULL.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

namespace sandbox::sql {

namespace {

Value text(const char16_t* s) { return std::u16string(s); }
Value flag(bool on) { return std::int64_t{on ? 1 : 0}; }

} // namespace

Value Executor::serverProperty(const std::u16string& property) const
{
    const GenerationInfo& g = generationInfo(generation());
    const bool modern = hasMajorVersionProperty(generation());
    const auto is = [&property](std::u16string_view name) { return equalsIgnoreCase(property, name); };
    if (is(u"ProductVersion")) return text(g.productVersion);
    if (is(u"ProductLevel")) return text(g.productLevel);
    if (is(u"Edition")) return text(g.edition);
    if (is(u"EngineEdition")) return std::int64_t{2};  // Standard
    if (is(u"ProductMajorVersion")) return modern ? Value{toU16(g.major)} : Value{Null{}};
    if (is(u"ProductMinorVersion")) return modern ? Value{toU16(g.minor)} : Value{Null{}};
    if (is(u"ProductBuild")) return modern ? Value{toU16(g.build)} : Value{Null{}};
    if (is(u"ProductUpdateLevel")) return g.updateLevel ? text(g.updateLevel) : Value{Null{}};
    if (is(u"ProductUpdateReference")) return g.updateReference ? text(g.updateReference) : Value{Null{}};
    if (is(u"Collation")) return catalog_.collation;
    if (is(u"ServerName") || is(u"MachineName")) return serverName_;
    if (is(u"IsClustered")) return flag(false);
    if (is(u"IsHadrEnabled")) {
        if (!modern)
            return Null{};
        bool any = false;
        for (const Database& d : catalog_.databases)
            any = any || d.availabilityGroup;
        return flag(any);
    }
    return Null{};  // InstanceName of a default instance, and anything unknown
}

Value Executor::databaseProperty(const std::u16string& name, const std::u16string& property) const
{
    const Database* db = catalog_.find(name);
    if (!db)
        return Null{};
    const auto is = [&property](std::u16string_view n) { return equalsIgnoreCase(property, n); };
    if (is(u"Recovery")) return text(recoveryName(db->recovery()));
    if (is(u"Status")) return text(stateName(db->state));
    if (is(u"Collation")) return catalog_.collationOf(*db);
    if (is(u"Updateability")) return text((db->status & 1024) != 0 ? u"READ_ONLY" : u"READ_WRITE");
    if (is(u"UserAccess")) return text(db->singleUser() ? u"SINGLE_USER" : u"MULTI_USER");
    if (is(u"IsAutoShrink")) return flag((db->status & 4194304) != 0);
    if (is(u"IsTornPageDetectionEnabled")) return flag((db->status & 16) != 0);
    if (is(u"Version")) return std::int64_t{db->version != 0 ? db->version : generationInfo(generation()).databaseVersion};
    return Null{};
}

} // namespace sandbox::sql

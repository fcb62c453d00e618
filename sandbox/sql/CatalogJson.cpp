// The JSON form of a catalog (see sandbox/catalogs/demo.json):
//   {"version", "collation", "language",
//    "databases":[{"name", "dbid", "truncLogOnChkpt", "recovery", "offline", "state", "userAccess",
//                  "status", "collation", "logReuseWait", "availabilityGroup", "logChain", "firstSequence",
//                  "selectIntoBulkCopy",
//                  "backups":[{"type", "start", "finish"}],
//                  "files":[{"fileid", "groupid", "name", "filename", "size", "maxsize", "growth", "status",
//                            "usedPages", "created", "growths", "logStart", "activePages", "inactivePages",
//                            "vlfs":[{"pages", "status", "sequence"}]}]}]}
// Only "name" is required. The file lists exactly the databases it holds:
// master, tempdb, model and msdb are not added.
#include "sandbox/sql/Catalog.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace sandbox {

namespace {

constexpr const char16_t* DefaultDataDir = u"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\";

std::string utf8(const std::u16string& s) { return QString::fromStdU16String(s).toStdString(); }

[[noreturn]] void bad(const std::string& where, const std::string& what)
{
    throw std::runtime_error("catalog: " + where + ": " + what);
}

template <class Int>
Int integer(const QJsonObject& o, const char* key, Int fallback, const std::string& where,
            std::int64_t min = std::numeric_limits<Int>::min())
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return fallback;
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || std::isnan(d) || d != std::floor(d))
        bad(where, std::string("\"") + key + "\" must be an integer");
    if (d < static_cast<double>(min) || d > static_cast<double>(std::numeric_limits<Int>::max()))
        bad(where, std::string("\"") + key + "\" is out of range");
    return static_cast<Int>(d);
}

bool boolean(const QJsonObject& o, const char* key, bool fallback, const std::string& where)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return fallback;
    if (!v.isBool())
        bad(where, std::string("\"") + key + "\" must be true or false");
    return v.toBool();
}

std::optional<std::u16string> text(const QJsonObject& o, const char* key, const std::string& where)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isString())
        bad(where, std::string("\"") + key + "\" must be a string");
    return v.toString().toStdU16String();
}

bool endsWithIgnoreCase(const std::u16string& s, const char16_t* suffix)
{
    return QString::fromStdU16String(s).endsWith(QString::fromUtf16(suffix), Qt::CaseInsensitive);
}

std::vector<std::int32_t> pageList(const QJsonObject& o, const char* key, const std::string& where)
{
    std::vector<std::int32_t> pages;
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return pages;
    if (!v.isArray())
        bad(where, std::string("\"") + key + "\" must be an array of page counts");
    for (const QJsonValue& item : v.toArray())
        pages.push_back(integer<std::int32_t>(QJsonObject{{QLatin1String(key), item}}, key, 0, where, 1));
    return pages;
}

// A log's VLFs as listed: each {"pages", "status": active|inactive|reusable, "sequence"}.
void readVlfs(const QJsonValue& list, DbFile& f, const std::string& where)
{
    if (!list.isArray() || list.toArray().isEmpty())
        bad(where, "\"vlfs\" must be a non-empty array");
    std::int32_t at = 1;
    std::int32_t sequence = 40;
    for (const QJsonValue& item : list.toArray()) {
        const std::string here = where + ", VLF " + std::to_string(f.vlfs.size() + 1);
        if (!item.isObject())
            bad(here, "must be an object");
        const QJsonObject o = item.toObject();
        Vlf v;
        v.start = at;
        v.pages = integer<std::int32_t>(o, "pages", 0, here, 1);
        if (v.pages <= 0 || at > INT32_MAX - v.pages)
            bad(here, "needs \"pages\" (and the file at most 2^31 pages)");
        const std::u16string state = text(o, "status", here).value_or(u"reusable");
        if (equalsIgnoreCase(state, u"active")) v.state = VlfState::Active;
        else if (equalsIgnoreCase(state, u"inactive")) v.state = VlfState::Inactive;
        else if (!equalsIgnoreCase(state, u"reusable")) bad(here, "\"status\" must be active, inactive or reusable");
        v.sequence = integer<std::int32_t>(o, "sequence", v.state == VlfState::Reusable ? 0 : sequence, here, 0);
        sequence = std::max(sequence, v.sequence + 1);
        v.parity = v.sequence != 0 ? 64 : 0;
        at += v.pages;
        f.vlfs.push_back(v);
    }
    f.size = at;
    f.created = f.size;
    f.minimumSize = f.size;
}

// A log: its VLFs listed, or how it came to be and where its records lie.
void readLog(const QJsonObject& o, DbFile& f, const std::string& where)
{
    if (o.contains(QLatin1String("usedPages")))
        bad(where, "\"usedPages\" is for data files; a log has activePages and inactivePages");
    if (o.contains(QLatin1String("vlfs"))) {
        for (const char* key : {"created", "growths", "logStart", "activePages", "inactivePages"})
            if (o.contains(QLatin1String(key)))
                bad(where, std::string("\"vlfs\" says it all: no \"") + key + "\" beside it");
        readVlfs(o.value(QLatin1String("vlfs")), f, where);
        if (integer<std::int32_t>(o, "size", f.size, where) != f.size)
            bad(where, "\"size\" is not the pages of the VLFs and the file header");
        return;
    }
    f.activePages = integer<std::int32_t>(o, "activePages", 64, where, 0);
    f.inactivePages = integer<std::int32_t>(o, "inactivePages", 0, where, 0);
    f.growths = pageList(o, "growths", where);
    std::int64_t grown = 0;
    for (const std::int32_t g : f.growths)
        grown += g;
    const std::int32_t fallback = std::max(128, f.activePages + f.inactivePages);
    f.created = integer<std::int32_t>(o, "created", 0, where, 2);
    f.size = integer<std::int32_t>(o, "size", f.created > 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(
                                                                  f.created + grown, INT32_MAX))
                                                            : fallback,
                                   where, 1);
    if (f.created == 0 && !f.growths.empty())
        f.created = static_cast<std::int32_t>(std::max<std::int64_t>(f.size - grown, 0));
    if (!f.growths.empty() && (f.created < 2 || f.created + grown != f.size))
        bad(where, "\"created\" and \"growths\" must add up to \"size\"");
    if (f.created > 0 && f.growths.empty() && f.created != f.size)
        bad(where, "\"created\" must be \"size\" when the log never grew");
    if (static_cast<std::int64_t>(f.activePages) + f.inactivePages > f.size)
        bad(where, "activePages + inactivePages exceed size");
    f.logStart = integer<std::int32_t>(o, "logStart", 1, where, 1);
    if (f.logStart >= std::max(f.size, 2))
        bad(where, "\"logStart\" must be a page of the file after its header");
}

DbFile readFile(const QJsonValue& value, const Database& db, std::size_t index, const std::string& dbWhere)
{
    const std::string where = dbWhere + ", file " + std::to_string(index + 1);
    if (!value.isObject())
        bad(where, "must be an object");
    const QJsonObject o = value.toObject();
    DbFile f;
    f.fileId = integer<std::int16_t>(o, "fileid", static_cast<std::int16_t>(index + 1), where, 1);
    const auto fileName = text(o, "filename", where);

    // Whether it is a log: its status says so, else its group (0), else an .ldf name, else being file 2.
    bool log = f.fileId == 2;
    if (o.contains(QLatin1String("status")))
        log = (integer<std::int32_t>(o, "status", 0, where) & 0x40) != 0;
    else if (o.contains(QLatin1String("groupid")))
        log = integer<std::int16_t>(o, "groupid", 1, where) == 0;
    else if (fileName)
        log = endsWithIgnoreCase(*fileName, u".ldf");

    f.groupId = integer<std::int16_t>(o, "groupid", log ? 0 : 1, where, 0);
    f.growth = integer<std::int32_t>(o, "growth", 10, where, 0);
    f.status = integer<std::int32_t>(o, "status", (log ? 0x42 : 0x2) | 0x100000, where);
    f.maxSize = integer<std::int32_t>(o, "maxsize", -1, where, -1);
    f.name = text(o, "name", where).value_or(db.name + (log ? u"_Log" : u"_Data"));
    if (f.name.empty())
        bad(where, "\"name\" must not be empty");
    f.fileName = fileName.value_or(std::u16string(DefaultDataDir) + f.name + (log ? u".LDF" : u".MDF"));
    if (f.isLog()) {
        readLog(o, f, where);
    } else {
        f.usedPages = integer<std::int32_t>(o, "usedPages", -1, where, 0);
        f.size = integer<std::int32_t>(o, "size", std::max(128, f.usedPages), where, 1);
        if (f.usedPages < 0)
            f.usedPages = f.size / 2;
        if (f.usedPages > f.size)
            bad(where, "usedPages exceed size");
        for (const char* key : {"activePages", "inactivePages", "created", "growths", "logStart", "vlfs"})
            if (o.contains(QLatin1String(key)))
                bad(where, std::string("\"") + key + "\" is for log files");
    }
    return f;
}

// NOTHING, CHECKPOINT and LOG_BACKUP: what the last checkpoint found
// (otherwise worked out from the log); the others hold the log.
void readReuseWait(const QJsonObject& o, Database& db, Generation g, const std::string& where)
{
    const auto wait = text(o, "logReuseWait", where);
    if (!wait)
        return;
    const auto value = reuseWaitNamed(*wait, g);
    if (!value)
        bad(where, "\"logReuseWait\" is not a log_reuse_wait_desc of this version");
    if (*value <= 2)
        db.reuseWait = *value;
    else
        db.hold = static_cast<LogHold>(*value);
}

// "backups": [{"type": "D" | "I" | "L", "start", "finish"}], the database's
// rows in msdb..backupset, oldest first.
void readBackups(const QJsonObject& o, Database& db, Catalog& catalog, const std::string& where)
{
    const QJsonValue list = o.value(QLatin1String("backups"));
    if (list.isUndefined() || list.isNull())
        return;
    if (!list.isArray())
        bad(where, "\"backups\" must be an array");
    std::int32_t step = 0;
    for (const QJsonValue& item : list.toArray()) {
        const std::string at = where + ", backup " + std::to_string(++step);
        if (!item.isObject())
            bad(at, "must be an object");
        const QJsonObject b = item.toObject();
        const std::u16string type = text(b, "type", at).value_or(u"");
        if (type != u"D" && type != u"I" && type != u"L")
            bad(at, "\"type\" must be D, I or L");
        DateTime when[2];
        for (int k = 0; k < 2; ++k) {
            const char* key = k == 0 ? "start" : "finish";
            const QDateTime t = QDateTime::fromString(QString::fromStdU16String(text(b, key, at).value_or(u"")),
                                                      Qt::ISODate);
            if (!t.isValid())
                bad(at, std::string("\"") + key + "\" must be a date and time, as 2026-11-30T02:00:00");
            when[k] = dateTimeFromMs(QDate(1970, 1, 1).daysTo(t.date()) * 86'400'000LL + t.time().msecsSinceStartOfDay());
        }
        BackupSet& set = catalog.recordBackup(db, type[0], when[0], when[1]);
        // Made up, a little behind the log's first sequence number.
        const std::int32_t sequence = std::max(db.firstSequence - 30, 1) + std::min(step, 1000);
        set.firstLsn = decimalLsn(sequence, 16, 1);
        set.lastLsn = decimalLsn(sequence + 1, 16, 1);
        if (type == u"D")
            set.databaseBackupLsn = set.firstLsn;
        if (type == u"L")
            db.nextLogBackupLsn = set.lastLsn;
    }
}

// "state" (ONLINE, RESTORING, SUSPECT, OFFLINE; "offline": true is OFFLINE)
// and "userAccess" (SINGLE_USER or MULTI_USER, the status bit 4096).
void readAvailability(const QJsonObject& o, Database& db, const std::string& where)
{
    const bool offline = boolean(o, "offline", false, where);
    db.state = offline ? DatabaseState::Offline : DatabaseState::Online;
    if (const auto state = text(o, "state", where)) {
        const auto named = stateNamed(*state);
        if (!named)
            bad(where, "\"state\" must be ONLINE, RESTORING, SUSPECT or OFFLINE");
        if (o.contains(QLatin1String("offline")) && offline != (*named == DatabaseState::Offline))
            bad(where, "\"offline\" and \"state\" disagree");
        db.state = *named;
    }
    if (const auto access = text(o, "userAccess", where)) {
        if (equalsIgnoreCase(*access, u"SINGLE_USER"))
            db.status |= Database::SingleUser;
        else if (equalsIgnoreCase(*access, u"MULTI_USER"))
            db.status &= ~Database::SingleUser;
        else
            bad(where, "\"userAccess\" must be SINGLE_USER or MULTI_USER");
    }
}

// "selectIntoBulkCopy", sp_dboption's 'select into/bulkcopy' (status bit 4):
// BULK_LOGGED unless 'trunc. log on chkpt.' makes the database SIMPLE.
void readBulkCopy(const QJsonObject& o, Database& db, const std::string& where)
{
    if (!o.contains(QLatin1String("selectIntoBulkCopy")))
        return;
    const bool on = boolean(o, "selectIntoBulkCopy", false, where);
    if (o.contains(QLatin1String("recovery")) && db.recovery() != RecoveryModel::Simple &&
        on != (db.recovery() == RecoveryModel::BulkLogged))
        bad(where, "\"selectIntoBulkCopy\" and \"recovery\" disagree");
    if (on)
        db.status |= Database::SelectIntoBulkCopy;
    else
        db.status &= ~Database::SelectIntoBulkCopy;
}

std::int16_t systemDbId(const std::u16string& name)
{
    static const std::u16string System[] = {u"master", u"tempdb", u"model", u"msdb"};
    for (std::size_t i = 0; i < 4; ++i)
        if (sameName(name, System[i]))
            return static_cast<std::int16_t>(i + 1);
    return 0;
}

} // namespace

Catalog Catalog::fromJson(const std::string& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (doc.isNull())
        throw std::runtime_error("catalog: not valid JSON: " + error.errorString().toStdString() + " at offset "
                                 + std::to_string(error.offset));
    if (!doc.isObject() || !doc.object().value(QLatin1String("databases")).isArray())
        throw std::runtime_error("catalog: expected an object with a \"databases\" array");

    Catalog catalog;
    const QJsonObject top = doc.object();
    if (const auto version = text(top, "version", "the catalog")) {
        const auto generation = generationNamed(utf8(*version));
        if (!generation)
            bad("the catalog", "\"version\" must be one of " + generationNames());
        catalog.generation = *generation;
    }
    if (const auto collation = text(top, "collation", "the catalog"))
        catalog.collation = *collation;
    if (const auto language = text(top, "language", "the catalog")) {
        const auto named = languageNamed(*language);
        if (!named)
            bad("the catalog", "\"language\" must be one of " + languageNames());
        catalog.language = *named;
    }
    std::int16_t lastId = 4;
    std::set<std::int16_t> ids;
    const QJsonArray list = doc.object().value(QLatin1String("databases")).toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        std::string where = "database " + std::to_string(i + 1);
        if (!list[i].isObject())
            bad(where, "must be an object");
        const QJsonObject o = list[i].toObject();
        Database db;
        const auto name = text(o, "name", where);
        if (!name || name->empty())
            bad(where, "needs a non-empty \"name\"");
        db.name = *name;
        where += " ('" + utf8(db.name) + "')";
        if (catalog.find(db.name))
            bad(where, "the name is already used (trailing blanks ignored; case too, unless the collation is "
                       "case-sensitive)");

        const std::int16_t fallbackId = systemDbId(db.name) ? systemDbId(db.name) : static_cast<std::int16_t>(lastId + 1);
        db.dbId = integer<std::int16_t>(o, "dbid", fallbackId, where, 1);
        if (!ids.insert(db.dbId).second)
            bad(where, "dbid " + std::to_string(db.dbId) + " is already used");
        lastId = std::max(lastId, db.dbId);

        db.status = integer<std::int32_t>(o, "status", 16, where);
        if (o.contains(QLatin1String("truncLogOnChkpt"))) {
            if (boolean(o, "truncLogOnChkpt", false, where))
                db.status |= Database::TruncLogOnChkpt;
            else
                db.status &= ~Database::TruncLogOnChkpt;
        }
        readAvailability(o, db, where);
        if (const auto recovery = text(o, "recovery", where)) {
            const auto model = recoveryNamed(*recovery);
            if (!model)
                bad(where, "\"recovery\" must be SIMPLE, FULL or BULK_LOGGED");
            if (o.contains(QLatin1String("truncLogOnChkpt")) && db.truncLogOnCheckpoint() != (*model == RecoveryModel::Simple))
                bad(where, "\"truncLogOnChkpt\" and \"recovery\" disagree");
            db.setRecovery(*model);
        }
        readBulkCopy(o, db, where);
        readReuseWait(o, db, catalog.generation, where);
        db.availabilityGroup = boolean(o, "availabilityGroup", false, where);
        db.logChain = boolean(o, "logChain", true, where);
        db.firstSequence = integer<std::int32_t>(o, "firstSequence", db.firstSequence, where, 1);
        readBackups(o, db, catalog, where);
        db.collation = text(o, "collation", where);

        const QJsonValue files = o.value(QLatin1String("files"));
        if (files.isUndefined() || files.isNull()) {
            // A database always has a data and a log file.
            db.files.push_back(readFile(QJsonObject{}, db, 0, where));
            db.files.push_back(readFile(QJsonObject{}, db, 1, where));
        } else if (!files.isArray()) {
            bad(where, "\"files\" must be an array");
        } else {
            std::set<std::int16_t> fileIds;
            const QJsonArray fileList = files.toArray();
            for (qsizetype k = 0; k < fileList.size(); ++k) {
                DbFile f = readFile(fileList[k], db, static_cast<std::size_t>(k), where);
                if (!fileIds.insert(f.fileId).second)
                    bad(where, "fileid " + std::to_string(f.fileId) + " is used twice");
                for (const DbFile& other : db.files)
                    if (sameName(other.name, f.name))
                        bad(where, "file name '" + utf8(f.name) + "' is used twice");
                db.files.push_back(std::move(f));
            }
        }
        catalog.databases.push_back(std::move(db));
    }
    return catalog;
}

Catalog Catalog::fromJsonFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("catalog: cannot read '" + path + "': " + file.errorString().toStdString());
    const QByteArray bytes = file.readAll();
    try {
        return fromJson(bytes.toStdString());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

} // namespace sandbox

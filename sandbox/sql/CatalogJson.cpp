// The JSON form of a catalog (see sandbox/catalogs/demo.json):
//   {"version", "collation",
//    "databases":[{"name", "dbid", "truncLogOnChkpt", "recovery", "offline", "state", "userAccess",
//                  "status", "collation", "logReuseWait", "availabilityGroup",
//                  "files":[{"fileid", "groupid", "name", "filename", "size", "maxsize",
//                            "growth", "status", "activePages", "inactivePages", "usedPages"}]}]}
// Only "name" is required. The file lists exactly the databases it holds:
// master, tempdb, model and msdb are not added.
#include "sandbox/sql/Catalog.h"

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
        f.activePages = integer<std::int32_t>(o, "activePages", 64, where, 0);
        f.inactivePages = integer<std::int32_t>(o, "inactivePages", 0, where, 0);
        f.size = integer<std::int32_t>(o, "size", std::max(128, f.activePages + f.inactivePages), where, 1);
        if (static_cast<std::int64_t>(f.activePages) + f.inactivePages > f.size)
            bad(where, "activePages + inactivePages exceed size");
        if (o.contains(QLatin1String("usedPages")))
            bad(where, "\"usedPages\" is for data files; a log has activePages and inactivePages");
    } else {
        f.usedPages = integer<std::int32_t>(o, "usedPages", -1, where, 0);
        f.size = integer<std::int32_t>(o, "size", std::max(128, f.usedPages), where, 1);
        if (f.usedPages < 0)
            f.usedPages = f.size / 2;
        if (f.usedPages > f.size)
            bad(where, "usedPages exceed size");
        if (o.contains(QLatin1String("activePages")) || o.contains(QLatin1String("inactivePages")))
            bad(where, "activePages/inactivePages are for log files");
    }
    return f;
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
        if (const auto wait = text(o, "logReuseWait", where)) {
            // NOTHING, CHECKPOINT and LOG_BACKUP follow from the log and the model.
            const auto hold = holdNamed(*wait);
            const bool derived = equalsIgnoreCase(*wait, u"CHECKPOINT") || equalsIgnoreCase(*wait, u"LOG_BACKUP");
            if (!hold && !derived)
                bad(where, "\"logReuseWait\" is not one of NOTHING, CHECKPOINT, LOG_BACKUP, ACTIVE_TRANSACTION, "
                           "REPLICATION, AVAILABILITY_REPLICA, DATABASE_MIRRORING, ACTIVE_BACKUP_OR_RESTORE");
            db.hold = hold.value_or(LogHold::None);
        }
        db.availabilityGroup = boolean(o, "availabilityGroup", false, where);
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

// A small server for the window tests: names of every shape, one offline
// database, a database with two secondary files.
#pragma once

#include "sandbox/sql/Catalog.h"

namespace guitest {

inline sandbox::DbFile file(std::int16_t id, std::u16string name, std::u16string path, std::int32_t size,
                            bool log)
{
    sandbox::DbFile f;
    f.fileId = id;
    f.groupId = log ? 0 : 1;
    f.size = size;
    f.status = log ? 0x42 : 0x2;
    f.name = std::move(name);
    f.fileName = std::move(path);
    if (log) {
        // Created at 10 MB and grown by hand, so that a VLF boundary lies at
        // 10 MB; the log has wrapped round: its 320 active pages at the
        // file's start, the rest of the file not yet truncated.
        if (size > 1280) {
            f.created = 1280;
            f.growths = {size - 1280};
        }
        f.logStart = 321;
        f.activePages = 320;
        f.inactivePages = size - 321;
    } else {
        f.usedPages = size / 2;
    }
    return f;
}

inline sandbox::Database database(std::int16_t id, std::u16string name, std::vector<sandbox::DbFile> files)
{
    sandbox::Database d;
    d.dbId = id;
    d.name = std::move(name);
    d.files = std::move(files);
    return d;
}

inline sandbox::Catalog browseCatalog()
{
    sandbox::Catalog c;
    c.databases.push_back(database(1, u"master", {file(1, u"master", u"C:\\data\\master.mdf", 1536, false),
                                                  file(2, u"mastlog", u"C:\\data\\mastlog.ldf", 512, true)}));
    c.databases.push_back(database(5, u"Shop", {file(1, u"Shop_Data", u"C:\\data\\Shop.mdf", 6400, false),
                                                file(2, u"Shop_Log", u"C:\\data\\Shop_Log.ldf", 262144, true)}));
    c.databases.push_back(database(6, u"Stock", {file(1, u"Stock_Data", u"C:\\data\\Stock.mdf", 640, false),
                                                 file(2, u"Stock_Log", u"C:\\data\\Stock_Log.ldf", 2560, true),
                                                 file(3, u"Stock_Extra", u"D:\\more\\Stock_Extra.ndf", 1280, false)}));
    c.databases.push_back(database(7, u"My Shop's [DB]; 游戏",
                                   {file(1, u"weird data", u"C:\\data\\weird.mdf", 640, false),
                                    file(2, u"log ]; 's 日志", u"C:\\数据\\weird log.ldf", 4096, true)}));
    sandbox::Database offline = database(8, u"Archive", {file(1, u"Archive_Data", u"C:\\data\\Archive.mdf", 640, false),
                                                         file(2, u"Archive_Log", u"C:\\data\\Archive.ldf", 640, true)});
    offline.state = sandbox::DatabaseState::Offline;
    c.databases.push_back(offline);
    return c;
}

} // namespace guitest

// What the job would leave of a log, forecast from its VLFs: the truncation,
// then the shrink to 10 MB and why it stops where it does.
#include "db/LogForecast.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int64_t Kb = 1024;
constexpr std::int64_t Mb = 1024 * Kb;
constexpr std::int64_t Header = 8 * Kb;
constexpr std::int64_t Target = 10 * Mb;

// A VLF of file 2 as DBCC LOGINFO gives it: sequence 0 is never used.
struct Vlf {
    std::int64_t size;
    bool inUse;
    std::int64_t sequence;
};

// The VLFs one after another from the file header on.
std::vector<db::LoggedVlf> laidOut(const std::vector<Vlf>& vlfs, int fileId = 2)
{
    std::vector<db::LoggedVlf> log;
    std::int64_t at = Header;
    for (const Vlf& v : vlfs) {
        log.push_back({db::VirtualLogFile{fileId, at, v.size, v.inUse}, v.sequence});
        at += v.size;
    }
    return log;
}

std::int64_t end(const std::vector<db::LoggedVlf>& log)
{
    return log.back().vlf.startOffset + log.back().vlf.size;
}

// Four VLFs of 2.5 MB made with the log, then a growth of four of 16 MB.
std::vector<Vlf> grown(std::int64_t endSequence, int endAt)
{
    std::vector<Vlf> vlfs;
    for (int i = 0; i < 8; ++i)
        vlfs.push_back({i < 4 ? 2 * Mb + 512 * Kb : 16 * Mb, true, 30 + i});
    vlfs[static_cast<std::size_t>(endAt)].sequence = endSequence;
    return vlfs;
}

TEST(LogForecast, TheShrinkStopsWhereTheLayoutSays)
{
    struct Case {
        const char* what;
        std::vector<Vlf> vlfs;
        bool held;
        std::int64_t otherFiles;
        std::int64_t size;
        db::LogShortfall stop;
    };
    const Case cases[] = {
        {"everything but the log's end is freed, and the shrink stops at the boundary above 10 MB",
         grown(50, 1), false, 0, Header + 4 * (2 * Mb + 512 * Kb), db::LogShortfall::VlfBoundary},
        {"held, the log not yet truncated stays at the end", grown(50, 1), true, 0, Header + 4 * (2 * Mb + 512 * Kb) + 64 * Mb,
         db::LogShortfall::ActiveAtEnd},
        {"the log ends in the last VLF", grown(50, 7), false, 0, Header + 4 * (2 * Mb + 512 * Kb) + 64 * Mb,
         db::LogShortfall::ActiveAtEnd},
        {"a boundary on the target itself reaches it",
         {{Target / 2 - Header, false, 0}, {Target / 2, true, 41}, {Target, false, 0}, {Target, false, 0}}, false, 0,
         Target, db::LogShortfall::None},
        {"a log of two VLFs keeps them", {{128 * Mb, true, 41}, {128 * Mb, false, 0}}, false, 0, Header + 256 * Mb,
         db::LogShortfall::TwoVlfFloor},
        {"the log's other files take the whole target: down to two VLFs", grown(50, 0), false, 10 * Mb,
         Header + 5 * Mb, db::LogShortfall::TwoVlfFloor},
        {"already below the target", {{Mb, true, 41}, {Mb, false, 0}, {Mb, false, 0}}, false, 0, Header + 3 * Mb,
         db::LogShortfall::None},
    };
    for (const Case& c : cases) {
        const std::vector<db::LoggedVlf> log = laidOut(c.vlfs);
        const db::ShrinkForecast f =
            db::forecastShrink(db::afterTruncation(log, c.held), 2, end(log), c.otherFiles, Target);
        EXPECT_EQ(f.sizeBytes, c.size) << c.what;
        EXPECT_EQ(f.stop, c.stop) << c.what;
    }
}

TEST(LogForecast, TheLogsOtherFilesCountTowardsTheFloorAndTheEnd)
{
    // The log ends in file 3: file 2 is all freed and shrinks to its first
    // boundary above its share of the target (10 MB less file 3's 8 MB).
    std::vector<db::LoggedVlf> log = laidOut({{16 * Mb, true, 40}, {16 * Mb, true, 41}});
    log.push_back({db::VirtualLogFile{3, Header, 8 * Mb, true}, 42});
    const db::ShrinkForecast f = db::forecastShrink(db::afterTruncation(log, false), 2, Header + 32 * Mb, 8 * Mb, Target);
    EXPECT_EQ(f.sizeBytes, Header + 16 * Mb);
    EXPECT_EQ(f.stop, db::LogShortfall::VlfBoundary);
    const std::vector<db::VirtualLogFile> held = db::afterTruncation(log, true);
    EXPECT_TRUE(held[0].active && held[1].active && held[2].active);

    // Down to two VLFs, one in each file: the floor names both, in the log's order.
    std::vector<db::LoggedVlf> two{{db::VirtualLogFile{3, Header, 12 * Mb, true}, 42}};
    for (const db::LoggedVlf& v : laidOut({{4 * Mb, false, 0}, {4 * Mb, false, 0}}))
        two.push_back(v);
    const db::ShrinkForecast floor = db::forecastShrink(db::afterTruncation(two, false), 2, Header + 8 * Mb, 12 * Mb, Target);
    EXPECT_EQ(floor.sizeBytes, Header + 4 * Mb);
    EXPECT_EQ(floor.stop, db::LogShortfall::TwoVlfFloor);
    EXPECT_EQ(floor.floorVlfBytes, (std::vector<std::int64_t>{12 * Mb, 4 * Mb}));
}

} // namespace

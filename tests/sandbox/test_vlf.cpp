// The virtual-log-file model: how each generation cuts a log into VLFs, where
// a described log's records lie, and what DBCC SHRINKFILE may remove.
#include "sandbox/sql/VirtualLog.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace sandbox;

namespace {

constexpr Generation Before2014 = Generation::Sql2012;
constexpr Generation From2014 = Generation::Sql2019;
constexpr Generation From2022 = Generation::Sql2022;

std::vector<VlfState> states(const std::vector<Vlf>& vlfs)
{
    std::vector<VlfState> s;
    for (const Vlf& v : vlfs)
        s.push_back(v.state);
    return s;
}

constexpr auto R = VlfState::Reusable;
constexpr auto I = VlfState::Inactive;
constexpr auto A = VlfState::Active;

TEST(VlfCount, EachGenerationCutsAGrowthByItsRules)
{
    struct Case {
        const char* what;
        std::int32_t growth, current;  // pages; current 0 is the file's creation
        std::size_t before2014, from2014, from2022;
    };
    const Case cases[] = {
        {"created at 8 MB", 1024, 0, 4, 4, 4},
        {"created at 64 MB", 8192, 0, 4, 4, 4},
        {"created at 1 GB", 131072, 0, 8, 8, 8},
        {"created at 2 GB", 262144, 0, 16, 16, 16},
        {"10 MB onto 160 MB: under 1/8", 1280, 20480, 4, 1, 1},
        {"1023 pages onto 64 MB: just under 1/8", 1023, 8192, 4, 1, 1},
        {"1024 pages onto 64 MB: exactly 1/8", 1024, 8192, 4, 4, 1},
        {"40 MB onto 10 MB", 5120, 1280, 4, 4, 1},
        {"64 MB onto 64 MB", 8192, 8192, 4, 4, 1},
        {"a page over 64 MB", 8193, 8192, 8, 8, 8},
        {"1 GB onto 1 GB", 131072, 131072, 8, 8, 8},
        {"a page over 1 GB", 131073, 131072, 16, 16, 16},
    };
    for (const Case& c : cases) {
        const std::pair<Generation, std::size_t> expected[] = {
            {Generation::Sql2000, c.before2014}, {Before2014, c.before2014}, {From2014, c.from2014}, {From2022, c.from2022}};
        for (const auto& [g, count] : expected) {
            const std::vector<std::int32_t> sizes = vlfSizes(c.growth, c.current, g);
            EXPECT_EQ(sizes.size(), count) << c.what << " on " << generationInfo(g).name;
            // Every page of the growth is in a VLF, but for the header of a new file.
            EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0), c.growth - (c.current == 0 ? 1 : 0)) << c.what;
        }
    }
}

TEST(VlfCount, SizesFollowTheLayoutsServersShow)
{
    // SQL Server 2022, a new database's 8 MB log (Microsoft's bobsql demo):
    // offsets 8192, 2039808, 4071424, 6103040.
    EXPECT_EQ(vlfSizes(1024, 0, From2022), (std::vector<std::int32_t>{248, 248, 248, 279}));
    // SQL Server 2012, a 130-page log: 262144 bytes three times, then 270336.
    EXPECT_EQ(vlfSizes(130, 0, Before2014), (std::vector<std::int32_t>{32, 32, 32, 33}));
    const std::vector<Vlf> vlfs = layOutLog(1024, {}, From2022);
    ASSERT_EQ(vlfs.size(), 4u);
    EXPECT_EQ(vlfs[1].start * 8192, 2039808);
    EXPECT_EQ(vlfs[3].start * 8192, 6103040);
    EXPECT_EQ(vlfs[3].end(), 1024);
}

TEST(PlaceLog, RecordsLieWhereTheDescriptionSays)
{
    struct Case {
        const char* what;
        std::int32_t start, inactive, active;
        std::vector<VlfState> states;
        std::vector<std::int32_t> sequences;
        std::vector<std::uint8_t> parities;
    };
    // Four VLFs: [1,249) [249,497) [497,745) [745,1024).
    const Case cases[] = {
        {"from page 300", 300, 300, 100, {R, I, A, R}, {40, 41, 42, 0}, {64, 64, 64, 0}},
        {"wrapped round", 900, 200, 200, {A, A, R, I}, {42, 43, 40, 41}, {128, 128, 64, 64}},
        {"active only, from the start", 1, 0, 64, {A, R, R, R}, {40, 0, 0, 0}, {64, 0, 0, 0}},
        {"nothing written", 1, 0, 0, {R, R, R, R}, {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<Vlf> vlfs = layOutLog(1024, {}, Generation::Sql2000);
        std::int32_t next = 40;
        placeLog(vlfs, c.start, c.inactive, c.active, next);
        EXPECT_EQ(states(vlfs), c.states) << c.what;
        for (std::size_t i = 0; i < vlfs.size(); ++i) {
            EXPECT_EQ(vlfs[i].sequence, c.sequences[i]) << c.what << ", VLF " << i;
            EXPECT_EQ(vlfs[i].parity, c.parities[i]) << c.what << ", VLF " << i;
        }
    }
}

TEST(ShrinkLog, RemovesReusableVlfsFromTheEndDownToABoundaryAtOrAboveTheTarget)
{
    // Created at 10 MB, grown by 40 MB: [1,313) [313,625) [625,937) [937,1280)
    // [1280,2560) [2560,3840) [3840,5120) [5120,6400).
    using Stop = ShrinkResult::Stop;
    struct Case {
        const char* what;
        std::vector<VlfState> states;
        std::int32_t target;
        std::size_t otherVlfs;
        std::int32_t size;
        Stop stop;
    };
    const std::vector<VlfState> first = {A, R, R, R, R, R, R, R};
    const Case cases[] = {
        {"to 10 MB exactly", first, 1280, 0, 1280, Stop::Reached},
        {"a page above 10 MB: never below the target", first, 1281, 0, 2560, Stop::Reached},
        {"to nothing: two VLFs stay", first, 0, 0, 625, Stop::TooFew},
        {"two VLFs of the whole log", first, 0, 1, 313, Stop::TooFew},
        {"the VLF at the end is active", {A, R, R, R, R, R, R, A}, 1280, 0, 6400, Stop::InUse},
        {"log not yet truncated in the middle", {A, R, R, R, R, I, R, R}, 1280, 0, 3840, Stop::InUse},
        {"the target inside the last VLF", first, 6000, 0, 6400, Stop::InsideLast},
        {"a target above the file", first, 8000, 0, 6400, Stop::Reached},
    };
    for (const Case& c : cases) {
        std::vector<Vlf> vlfs = layOutLog(1280, {5120}, Generation::Sql2005);
        ASSERT_EQ(vlfs.size(), c.states.size());
        for (std::size_t i = 0; i < vlfs.size(); ++i)
            vlfs[i].state = c.states[i];
        const ShrinkResult r = shrinkLog(vlfs, 6400, c.target, c.otherVlfs, false);
        EXPECT_EQ(r.size, c.size) << c.what;
        EXPECT_EQ(r.stop, c.stop) << c.what;
        EXPECT_EQ(vlfs.back().end(), r.size) << c.what;
    }
}

TEST(ShrinkLog, SqlServer2000MovesTheLogsEndAwaySoThatANextRoundFreesIt)
{
    // KB 907511: 2000 fills the VLF with dummy records and goes on in the
    // first free one; a truncation and a second shrink then free the end.
    std::vector<Vlf> vlfs = layOutLog(1280, {5120}, Generation::Sql2000);
    std::int32_t next = 40;
    placeLog(vlfs, 6300, 0, 50, next);
    ASSERT_EQ(states(vlfs), (std::vector<VlfState>{R, R, R, R, R, R, R, A}));
    ShrinkResult r = shrinkLog(vlfs, 6400, 1280, 0, true);
    EXPECT_EQ(r.stop, ShrinkResult::Stop::InUse);
    EXPECT_EQ(r.size, 6400);
    EXPECT_EQ(states(vlfs), (std::vector<VlfState>{A, R, R, R, R, R, R, I}));
    EXPECT_GT(vlfs.front().sequence, vlfs.back().sequence);
    truncateLog(vlfs);
    r = shrinkLog(vlfs, r.size, 1280, 0, true);
    EXPECT_EQ(r.stop, ShrinkResult::Stop::Reached);
    EXPECT_EQ(r.size, 1280);

    // Later generations leave it where it is.
    vlfs = layOutLog(1280, {5120}, Generation::Sql2005);
    next = 40;
    placeLog(vlfs, 6300, 0, 50, next);
    shrinkLog(vlfs, 6400, 1280, 0, false);
    truncateLog(vlfs);
    EXPECT_EQ(shrinkLog(vlfs, 6400, 1280, 0, false).size, 6400);
}

TEST(Lsn, DecimalAndTextFormsAgree)
{
    EXPECT_EQ(decimalLsn(43, 16, 1), 43000000001600001);
    EXPECT_EQ(textLsn(decimalLsn(43, 16, 1)), u"0000002B:00000010:0001");
    EXPECT_EQ(textLsn(0), u"00000000:00000000:0000");
}

} // namespace

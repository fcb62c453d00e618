// The sentences any program built on db/ says after a job: sizes as the
// window has always shown them, patterns filled in one pass, and a failed
// job's paragraphs from the outcome's fields.
#include "db/Errors.h"
#include "db/texts/Report.h"
#include "db/Text.h"

#include <gtest/gtest.h>

namespace {

std::string u8(const std::u16string& text) { return db::toUtf8(text); }

} // namespace

TEST(ReportTexts, MegabytesAreWholeOrToOneDecimalRoundedHalfUp)
{
    const struct {
        std::int64_t pages;
        const char* shown;
    } cases[] = {
        {0, "0"}, {128, "1"}, {1280, "10"}, {1344, "10.5"},
        {32, "0.3"},      // 0.25 MB: a tie goes up, never to the even digit
        {160, "1.3"},     // 1.25 MB
        {127, "1"},       // 0.99 MB rounds to a whole one, shown without ".0"
        {1, "0"},
        {5121, "40"},
        {32742, "255.8"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(u8(db::texts::megabytes(c.pages)), c.shown) << c.pages;
}

TEST(ReportTexts, PatternsAreFilledInOnePass)
{
    using db::texts::fill;
    EXPECT_EQ(u8(fill(u"%2 then %1", {u"a", u"b"})), "b then a");
    EXPECT_EQ(u8(fill(u"%1 and %2", {u"%2"})), "%2 and %2");  // a value is never read as a pattern
    EXPECT_EQ(u8(fill(u"100%", {u"x"})), "100%");
}

TEST(ReportTexts, AFailedJobSaysWhyAndHowToPutTheModelBack)
{
    db::LogJobOutcome o;
    o.modelNotRestored = true;
    o.wanted = db::RecoveryModel::BulkLogged;
    o.modelNow = db::RecoveryModel::Simple;
    o.putBack = u"ALTER DATABASE Shop SET RECOVERY BULK_LOGGED";
    EXPECT_EQ(u8(db::texts::jobFailed(db::EDatabaseError(u"Operation canceled", std::string(db::CancelledState)), o,
                                      u"Shop")),
              "数据库清理失败!\n\n已取消。\n\n数据库 Shop 现为 SIMPLE 恢复模式，未能恢复为 BULK_LOGGED。"
              "请执行：ALTER DATABASE Shop SET RECOVERY BULK_LOGGED");
    o.modelNow.reset();
    o.chainBroken = true;
    EXPECT_EQ(u8(db::texts::jobFailed(db::EDatabaseError(u"Lost"), o, u"Shop")),
              "数据库清理失败!\n\nLost\n\n数据库 Shop 的恢复模式未能恢复为 BULK_LOGGED，现在的恢复模式无法读取。"
              "请执行：ALTER DATABASE Shop SET RECOVERY BULK_LOGGED\n\n"
              "日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");
}

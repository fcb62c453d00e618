// What the job tells the user once it has run, on the generations where the
// reasons are read differently: the size the file reached, why not smaller,
// and whether the log backup chain is broken, for each of the sandbox's demo
// cases, chosen and run by keys.
#include "ByKeys.h"
#include "GuiSupport.h"
#include "ui/JobReport.h"

#include <QPushButton>
#include <QTest>

#include <memory>

using sandbox::Generation;

Q_DECLARE_METATYPE(Generation)

namespace {

const QString Succeeded = QStringLiteral("数据库清理成功!");
const QString ChainBroken = QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");
const QString TwoVlfs = QStringLiteral("日志至少要保留两个虚拟日志文件（VLF），此日志的 VLF %1，本工具无法使其更小。");
// Never "after the next log backup": the job has just truncated the log
// without one, so log backups wait for a database backup (4214).
const QString ActiveAtEnd = QStringLiteral("日志的活动部分位于文件末尾。请在下一个检查点之后再运行一次。");

} // namespace

class ReportTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

private slots:
    void cleanup() { session.reset(); }

    void theMessageSaysWhatTheFileReachedAndWhy_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("shown");
        const struct {
            const char* name;
            Generation g;
        } generations[] = {{"2000", Generation::Sql2000}, {"2005", Generation::Sql2005}, {"2019", Generation::Sql2019},
                           {"2022", Generation::Sql2022}};
        for (const auto& g : generations) {
            const bool views = g.g >= Generation::Sql2005;
            // These three have a chain only as 2005 and later know it (a
            // database backup); 2000 knows a chain only from msdb's history.
            const QString chain = views ? "\n\n" + ChainBroken : QString();
            const auto row = [&g](const char* what, const char* database, const char* file, const QString& shown) {
                QTest::addRow("%s, %s", g.name, what) << g.g << QString(database) << QString(file) << shown;
            };
            row("a log keeps two VLFs", "BigVlf", "BigVlf_Log",
                Succeeded + "\n\n日志文件现为 255.9 MB，未能缩小到 10 MB：" + TwoVlfs.arg("每个 127.9 MB") + chain);
            row("the active log at the end", "LogAtEnd", "LogAtEnd_Log",
                Succeeded + "\n\n日志文件现为 128 MB，未能缩小到 10 MB：" + ActiveAtEnd);
            row("the active log at the end, FULL", "Merge", "Pivot",
                Succeeded + "\n\n日志文件现为 74.6 MB，未能缩小到 10 MB：" + ActiveAtEnd + chain);
            row("a boundary a little above 10 MB", "NearTarget", "NearTarget_Log",
                Succeeded + "\n\n日志文件现为 10.5 MB：日志只能按整个虚拟日志文件（VLF）收缩，这是 10 MB 之上最近的边界。" +
                    chain);
            row("an open transaction holds the log", "Held", "Held_Log",
                Succeeded + "\n\n日志文件现为 88.8 MB，未能缩小到 10 MB：" + (views ? QString("有未结束的事务。") : ActiveAtEnd) + chain);
            row("a data file", "Archive", "Archive_Data2",
                Succeeded + "\n\n文件现为 100 MB，未能缩小到 10 MB：文件中的数据占用着这些空间。");
            row("tempdb", "tempdb", "templog", Succeeded + "\n\n日志文件现为 0.5 MB。");
            row("master", "master", "mastlog", Succeeded + "\n\n日志文件现为 1 MB。");
            // Created at 20 MB in four VLFs, the second ending just below 10 MB.
            const QString atBoundary =
                Succeeded + "\n\n日志文件现为 14.8 MB：日志只能按整个虚拟日志文件（VLF）收缩，这是 10 MB 之上最近的边界。";
            row("a SIMPLE database", "Archive", "Archive_Log", atBoundary);
            row("a log backup taken earlier", "Backed", "Backed_Log", atBoundary + "\n\n" + ChainBroken);
            row("never backed up", "NeverBacked", "NeverBacked_Log", atBoundary);
            // Nothing holds these logs: a checkpoint that freed nothing, and a
            // value that is never a hold, leave what the VLFs say.
            row("a log of a server up for years", "LongLived", "LongLived_Log",
                Succeeded + "\n\n日志文件现为 328 MB，未能缩小到 10 MB：" + ActiveAtEnd + "\n\n" + ChainBroken);
            row("OTHER_TRANSIENT", "Transient", "Transient_Log", Succeeded + "\n\n日志文件现为 128 MB，未能缩小到 10 MB：" + ActiveAtEnd);
        }
    }

    void theMessageSaysWhatTheFileReachedAndWhy()
    {
        QFETCH(Generation, generation);
        QFETCH(QString, database);
        QFETCH(QString, file);
        QFETCH(QString, shown);
        sandbox::Catalog catalog = sandbox::Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
        catalog.generation = generation;
        sandbox::Database transient = *catalog.find(u"LogAtEnd");
        transient.dbId = 60;
        transient.name = u"Transient";
        transient.files[1].name = u"Transient_Log";
        // OTHER_TRANSIENT is 14 from 2012, 9 before.
        transient.hold = generation >= Generation::Sql2012 ? sandbox::LogHold::OtherTransient
                                                           : sandbox::LogHold::AvailabilityReplica;
        catalog.databases.push_back(transient);
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        QVERIFY(guitest::chooseDatabaseByKeys(session->w(), database));
        QVERIFY(guitest::chooseFileByKeys(session->w(), file));
        QVERIFY(guitest::pressWithAlt(&session->w(), session->w().BtnOk, Qt::Key_O));
        QCOMPARE(session->boxes().texts(), QStringList({shown}));
    }

    // The two VLFs a log keeps may differ in size (in two files, say).
    void theTwoVlfsAreNamedByTheirSizes()
    {
        db::LogJobOutcome o;
        o.sizePages = 1 + 15 * 128 + 25 * 128;
        o.shortfall = db::Shortfall::TwoVlfFloor;
        o.vlfPages = {15 * 128, 25 * 128};
        QCOMPARE(ui::jobSucceeded(o),
                 Succeeded + "\n\n日志文件现为 40 MB，未能缩小到 10 MB：" + TwoVlfs.arg("分别为 15 MB 和 25 MB"));
    }
};

QTEST_MAIN(ReportTest)
#include "test_report.moc"

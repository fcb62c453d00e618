// The button that does the tool's job, through the real window against the
// sandbox: the texts sent and their order, the outcome shown, the details.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <optional>

using guitest::BoxAnswerer;

namespace {

const QString ChainBroken = QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");

sandbox::Catalog shrinkCatalog()
{
    sandbox::Catalog c = guitest::browseCatalog();
    c.databases.push_back(guitest::database(9, u"Lonely", {guitest::file(1, u"Lonely_Data", u"C:\\data\\Lonely.mdf", 640, false)}));
    // A log whose active part alone is larger than 10 MB.
    sandbox::Database busy = guitest::database(10, u"Busy", {guitest::file(1, u"Busy_Data", u"C:\\data\\Busy.mdf", 640, false),
                                                            guitest::file(2, u"Busy_Log", u"C:\\data\\Busy.ldf", 40960, true)});
    busy.files[1].activePages = 4000;
    busy.files[1].inactivePages = 30000;
    c.databases.push_back(busy);
    return c;
}

const sandbox::DbFile* findFile(const sandbox::Catalog& catalog, const std::u16string& db, const std::u16string& file)
{
    const sandbox::Database* d = catalog.find(db);
    if (!d)
        return nullptr;
    for (const auto& f : d->files) {
        if (sandbox::sameName(f.name, file))
            return &f;
    }
    return nullptr;
}

} // namespace

class ShrinkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

    TFrmMain& w() { return session->w(); }
    testsupport::TestSandbox* sandbox() { return &session->sandbox(); }
    BoxAnswerer* boxes() { return &session->boxes(); }
    QStringList sent() const { return session->sent(); }

    [[nodiscard]] bool browseTo(const QString& database)
    {
        session->typeLogin();
        if (!session->chooseDatabase(database))
            return false;
        GUITEST_CHECK(boxes()->texts().isEmpty(), qPrintable(boxes()->texts().join('\n')));
        session->clearSent();
        return true;
    }

    void press() { QTest::mouseClick(w().BtnOk, Qt::LeftButton); }

    // The first line of each box shown, as it always was.
    QStringList headlines() const
    {
        QStringList lines;
        for (const QString& text : session->boxes().texts())
            lines << text.section(QStringLiteral("\n\n"), 0, 0);
        return lines;
    }

    // The transcript holds these texts, in this order (others may stand between).
    [[nodiscard]] bool expectInOrder(const QStringList& expected)
    {
        const QStringList texts = sent();
        qsizetype at = 0;
        for (const QString& text : expected) {
            const qsizetype found = texts.indexOf(text, at);
            GUITEST_CHECK(found >= 0, qPrintable("missing or out of order: " + text + "\nsent: " + texts.join("\n")));
            at = found + 1;
        }
        return true;
    }

private slots:
    void initTestCase() { guitest::setApplicationTitle(); }

    void init() { session = std::make_unique<guitest::Session>(shrinkCatalog()); }
    void cleanup() { session.reset(); }

    void truncatesAndShrinksTheLogSettingTheOption_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::newRow("checked") << true;
        QTest::newRow("unchecked") << false;
    }

    void truncatesAndShrinksTheLogSettingTheOption()
    {
        QFETCH(bool, checked);
        {
            // Start from the opposite state, so the command visibly changes it.
            sandbox::Catalog c = sandbox()->engine().catalog();
            c.find(u"Shop")->status = checked ? 0 : sandbox::Database::TruncLogOnChkpt;
            sandbox()->engine().setCatalog(c);
        }
        QVERIFY(browseTo("Shop"));
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
        if (checked)
            QTest::mouseClick(w().Chk, Qt::LeftButton);
        QCOMPARE(w().Chk->isChecked(), checked);

        press();
        // Back in FULL after a truncation without backup, the backup chain is broken.
        QCOMPARE(boxes()->texts(), QStringList({checked ? "数据库清理成功!"
                                                        : "数据库清理成功!\n\n" + ChainBroken}));
        QCOMPARE(boxes()->boxes().first().caption, QString("提示"));
        QCOMPARE(boxes()->boxes().first().icon, QMessageBox::Information);
        const QString option = checked ? "'True'" : "'False'";
        QVERIFY(expectInOrder({"exec sp_dboption 'Shop', 'trunc. log on chkpt.', " + option,
                               "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)", "Use Shop",
                               "select * from sysfiles where [name]='Shop_Log'"}));
        QVERIFY(!sent().contains("BEGIN TRANSACTION"));

        const sandbox::Catalog after = sandbox()->engine().catalog();
        QCOMPARE(after.find(u"Shop")->truncLogOnCheckpoint(), checked);
        QCOMPARE(findFile(after, u"Shop", u"Shop_Log")->size, 1280);
        QCOMPARE(w().EdtLogSize->text(), QString("1280"));
        QVERIFY(!SqlConnection()->InTransaction());
    }

    void aLogWithMoreActiveThanTheTargetShowsWhatTheServerReports()
    {
        QVERIFY(browseTo("Busy"));
        press();
        // 9008 is only information: the job still succeeded as far as it could,
        // and says why the log stayed as large as it is.
        QCOMPARE(boxes()->texts(),
                 QStringList({"数据库清理成功!\n\n日志文件未能缩小到 10 MB（现为 32 MB）：Cannot shrink log file 2 "
                              "(Busy_Log) because all logical log files are in use\n\n" + ChainBroken}));
        const std::int32_t size = findFile(sandbox()->engine().catalog(), u"Busy", u"Busy_Log")->size;
        QVERIFY(size > 1280);
        QVERIFY(size < 40960);
        QCOMPARE(w().EdtLogSize->text(), QString::number(size));
    }

    void aShrinkThatFailsRollsBackAndKeepsTheOption()
    {
        QVERIFY(browseTo("Shop"));
        {
            // Someone renamed the log meanwhile: the chosen name is gone.
            sandbox::Catalog c = sandbox()->engine().catalog();
            c.find(u"Shop")->files[1].name = u"Shop_Log_Renamed";
            sandbox()->engine().setCatalog(c);
        }
        QTest::mouseClick(w().Chk, Qt::LeftButton);
        press();
        QCOMPARE(boxes()->texts(), QStringList({"数据库清理失败!\n\nCould not locate file 'Shop_Log' in sysfiles"}));
        QVERIFY(expectInOrder({"exec sp_dboption 'Shop', 'trunc. log on chkpt.', 'True'",
                               "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)", "Use Shop",
                               "select * from sysfiles where [name]='Shop_Log'"}));
        QVERIFY(sandbox()->engine().catalog().find(u"Shop")->truncLogOnCheckpoint());
        QVERIFY(!SqlConnection()->InTransaction());
        // No row for the old name: the details keep what they showed.
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
    }

    void anOptionCommandThatFailsGoesToTheDefaultReport()
    {
        QVERIFY(browseTo("Shop"));
        {
            sandbox::Catalog c = sandbox()->engine().catalog();
            std::erase_if(c.databases, [](const sandbox::Database& d) { return d.name == u"Shop"; });
            sandbox()->engine().setCatalog(c);
        }
        press();
        QCOMPARE(boxes()->boxes().size(), 1);
        QCOMPARE(boxes()->boxes().first().caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(boxes()->boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(boxes()->texts().first(),
                 QString("The database 'Shop' does not exist. Use sp_helpdb to show available databases."));
        QCOMPARE(sent(), QStringList({"exec sp_dboption 'Shop', 'trunc. log on chkpt.', 'False'"}));
        QVERIFY(!SqlConnection()->InTransaction());
    }

    void aBatchRunningPastTheCommandTimeOutIsCancelledAndRolledBack()
    {
        QVERIFY(browseTo("Shop"));
        SqlConnection()->SetCommandTimeout(1);
        sandbox::Fault slow;
        slow.action = sandbox::Fault::Action::Delay;
        slow.pattern = "SHRINKFILE";
        slow.delay = std::chrono::minutes(5);  // the client's cancel ends it long before
        sandbox()->engine().addFault(slow);

        press();
        QCOMPARE(boxes()->texts(), QStringList({"数据库清理失败!\n\nTimeout expired"}));
        QVERIFY(!SqlConnection()->InTransaction());
        QVERIFY(SqlConnection()->Connected());
        QCOMPARE(sent().last(), QString("select * from sysfiles where [name]='Shop_Log'"));
    }

    void aConnectionDroppedMidBatchFailsTheRollBackTooAndTheWindowRecovers()
    {
        QVERIFY(browseTo("Shop"));
        sandbox::Fault drop;
        drop.action = sandbox::Fault::Action::Drop;
        drop.pattern = "^BACKUP LOG";
        sandbox()->engine().addFault(drop);

        press();
        // The roll-back's own error reaches the default report; no message of the handler.
        QCOMPARE(boxes()->boxes().size(), 1);
        QCOMPARE(boxes()->boxes().first().caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(boxes()->boxes().first().icon, QMessageBox::Critical);
        QVERIFY(!boxes()->texts().contains("数据库清理失败!"));
        QVERIFY(!SqlConnection()->Connected());

        sandbox()->engine().clearFaults();
        boxes()->clear();
        guitest::openList(w().CmbDb);
        QVERIFY(boxes()->texts().isEmpty());
        QVERIFY(w().CmbDb->count() > 0);
        guitest::closeList(w().CmbDb);
    }

    // Implicit mode that cannot be switched off after the commit or the
    // roll-back: the handler still ends with its own message, never the
    // default report, and no transaction is left counted.
    void aModeThatWillNotSwitchOffStillEndsWithTheHandlersMessage_data()
    {
        QTest::addColumn<bool>("shrinkFails");
        QTest::addColumn<QString>("shown");
        QTest::newRow("after the commit") << false << "数据库清理成功!";
        QTest::newRow("after the roll-back") << true << "数据库清理失败!";
    }

    void aModeThatWillNotSwitchOffStillEndsWithTheHandlersMessage()
    {
        QFETCH(bool, shrinkFails);
        QFETCH(QString, shown);
        QVERIFY(browseTo("Shop"));
        sandbox::Fault refuse;
        refuse.action = sandbox::Fault::Action::Error;
        refuse.pattern = "IMPLICIT_TRANSACTIONS OFF";
        refuse.error = sandbox::Message{50000, 1, 16, u"Mode change refused", {}, 1};
        sandbox()->engine().addFault(refuse);
        if (shrinkFails) {
            sandbox::Fault fail = refuse;
            fail.pattern = "^BACKUP LOG";
            sandbox()->engine().addFault(fail);
        }

        press();
        QCOMPARE(headlines(), QStringList({shown}));
        QVERIFY(!SqlConnection()->InTransaction());
    }

    void notConnectedSaysSoAndSendsNothing()
    {
        press();
        QCOMPARE(boxes()->texts(), QStringList({"数据库连接失败!"}));
        QVERIFY(sent().isEmpty());
    }

    void anEmptyFileNameStillSendsTheBatch()
    {
        QVERIFY(browseTo("Lonely"));
        QCOMPARE(w().CmbLog->count(), 0);
        press();
        QVERIFY(sent().contains("BACKUP LOG Lonely WITH TRUNCATE_ONLY DBCC SHRINKFILE (, 10)"));
        // The server calls it a syntax error, so the job failed.
        QCOMPARE(boxes()->texts(), QStringList({"数据库清理失败!\n\nLine 1: Incorrect syntax near ','"}));
        QVERIFY(!SqlConnection()->InTransaction());
    }
};

QTEST_MAIN(ShrinkTest)
#include "test_shrink.moc"

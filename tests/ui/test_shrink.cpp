// The button that does the tool's job, through the real window against the
// sandbox: the texts sent and their order, the outcome shown, the details.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <memory>
#include <optional>


namespace {

sandbox::Catalog shrinkCatalog()
{
    sandbox::Catalog c = guitest::browseCatalog();
    c.databases.push_back(guitest::database(9, u"Lonely", {guitest::file(1, u"Lonely_Data", u"C:\\data\\Lonely.mdf", 640, false)}));
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
    guitest::BoxRecorder* boxes() { return &session->boxes(); }
    QStringList sent() const { return session->sent(); }

    [[nodiscard]] bool browseTo(const QString& database)
    {
        session->typeLogin();
        if (!session->chooseDatabase(database) || !boxes()->texts().isEmpty())
            return false;
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

    void init() { session = std::make_unique<guitest::Session>(shrinkCatalog()); }
    void cleanup() { session.reset(); }

    void truncatesAndShrinksTheLogSettingTheOption_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::newRow("checked") << true;
        QTest::newRow("unchecked") << false;
    }

    // The user changes the box from what the database is: the option goes
    // the way the box says, then the log is truncated and shrunk.
    void truncatesAndShrinksTheLogSettingTheOption()
    {
        QFETCH(bool, checked);
        {
            sandbox::Catalog c = sandbox()->engine().catalog();
            c.find(u"Shop")->status = checked ? 0 : sandbox::Database::TruncLogOnChkpt;
            sandbox()->engine().setCatalog(c);
        }
        QVERIFY(browseTo("Shop"));
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
        QCOMPARE(w().Chk->isChecked(), !checked);
        QTest::mouseClick(w().Chk, Qt::LeftButton);

        press();
        QCOMPARE(boxes()->texts(), QStringList({"数据库清理成功!\n\n日志文件现为 10 MB。"}));
        QCOMPARE(boxes()->boxes().first().caption, QString("提示"));
        QCOMPARE(boxes()->boxes().first().icon, ui::Box::Icon::Information);
        const QString option = checked ? "'True'" : "'False'";
        QVERIFY(expectInOrder({"exec sp_dboption 'Shop', 'trunc. log on chkpt.', " + option,
                               "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)", "Use Shop",
                               "select * from sysfiles where [name]='Shop_Log'"}));

        const sandbox::Catalog after = sandbox()->engine().catalog();
        QCOMPARE(after.find(u"Shop")->truncLogOnCheckpoint(), checked);
        QCOMPARE(findFile(after, u"Shop", u"Shop_Log")->size, 1280);
        QCOMPARE(w().EdtLogSize->text(), QString("1280"));
    }

    void aShrinkThatFailsKeepsTheOption()
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
        QCOMPARE(boxes()->boxes().first().icon, ui::Box::Icon::Critical);
        QCOMPARE(boxes()->texts().first(),
                 QString("The database 'Shop' does not exist. Use sp_helpdb to show available databases."));
        // Nothing after the option: no batch, no details.
        QCOMPARE(sent().last(), QString("exec sp_dboption 'Shop', 'trunc. log on chkpt.', 'False'"));
    }

    // A checkpoint or a shrink may take minutes on a real server: the job
    // runs without the command time-out that browsing keeps.
    void theJobHasNoCommandTimeOut()
    {
        QVERIFY(browseTo("Shop"));
        session->connection().SetCommandTimeout(1);
        sandbox::Fault slow;
        slow.action = sandbox::Fault::Action::Delay;
        slow.pattern = "SHRINKFILE";
        slow.delay = std::chrono::seconds(3);
        sandbox()->engine().addFault(slow);

        press();
        QCOMPARE(headlines(), QStringList({"数据库清理成功!"}));
        QCOMPARE(session->connection().CommandTimeout(), 1);
    }

    // The link drops in the middle of the batch: the handler says the job
    // failed, and the next statements reconnect to the same database.
    void aConnectionDroppedMidBatchFailsTheJobAndTheWindowRecovers()
    {
        QVERIFY(browseTo("Shop"));
        sandbox::Fault drop;
        drop.action = sandbox::Fault::Action::Drop;
        drop.pattern = "^BACKUP LOG";
        sandbox()->engine().addFault(drop);

        press();
        QCOMPARE(boxes()->boxes().size(), 1);
        QCOMPARE(boxes()->boxes().first().caption, QString("提示"));
        QCOMPARE(headlines(), QStringList({"数据库清理失败!"}));
        QCOMPARE(sent().last(), QString("select * from sysfiles where [name]='Shop_Log'"));
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
        QCOMPARE(QString::fromStdU16String(session->connection().CurrentDatabase()), QString("Shop"));
    }

    void notConnectedSaysSoAndSendsNothing()
    {
        press();
        QCOMPARE(boxes()->texts(), QStringList({"数据库连接失败!"}));
        QVERIFY(sent().isEmpty());
    }

    // With no file to shrink, nothing is sent: the option alone would change
    // the database for a job that cannot run.
    void aDatabaseWithoutSecondaryFilesSendsNothing()
    {
        QVERIFY(browseTo("Lonely"));
        QCOMPARE(w().CmbLog->count(), 0);
        press();
        QCOMPARE(boxes()->texts(), QStringList({"请先选择数据库和文件。"}));
        QVERIFY(sent().isEmpty());
    }
};

QTEST_MAIN(ShrinkTest)
#include "test_shrink.moc"

// The tool's job on each SQL Server generation, through the real window and
// driver, whatever happens to the shrink: what goes on the wire (never a
// transaction), the recovery model the database ends in (always the one the
// user chose), and what the user is told. Each against a server installed in
// English and one installed in Chinese: the same, the server's own sentences
// aside.
#include "BrowseCatalog.h"
#include "ByKeys.h"
#include "GuiSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <memory>

using sandbox::Generation;
using sandbox::Language;
using sandbox::RecoveryModel;

namespace {

enum class Event { Nothing, StatementError, BatchAbort, Cancel, Drop };
enum class Box { AsTheDatabaseIs, ChangedByTheUser };

const QString Succeeded = QStringLiteral("数据库清理成功!");
const QString Failed = QStringLiteral("数据库清理失败!");
const QString ActiveAtEnd = QStringLiteral("日志的活动部分位于文件末尾。请在下一个检查点之后再运行一次。");

const struct {
    const char* name;
    Language language;
} Languages[] = {{"English", Language::English}, {"Chinese", Language::SimplifiedChinese}};
const QString Deadlock = QStringLiteral(
    "Transaction (Process ID 51) was deadlocked on lock resources with another process and has been chosen as the "
    "deadlock victim. Rerun the transaction");

sandbox::Fault faultFor(Event event)
{
    sandbox::Fault f;
    f.pattern = "SHRINKFILE";
    switch (event) {
    case Event::StatementError:
        f.action = sandbox::Fault::Action::Error;
        f.error = sandbox::Message{50000, 1, 16, u"The shrink failed", {}, 1};
        break;
    case Event::BatchAbort:
        f.action = sandbox::Fault::Action::Abort;
        f.error = sandbox::Message{1205, 45, 13, Deadlock.toStdU16String() + u".", {}, 1};
        break;
    case Event::Cancel:
        f.action = sandbox::Fault::Action::Delay;
        f.delay = std::chrono::minutes(10);  // only the user's cancel ends it
        break;
    case Event::Drop:
        f.action = sandbox::Fault::Action::Drop;
        break;
    case Event::Nothing:
        break;
    }
    return f;
}

const char* modelName(RecoveryModel m)
{
    return m == RecoveryModel::Full ? "FULL" : m == RecoveryModel::BulkLogged ? "BULK_LOGGED" : "SIMPLE";
}

// What the job sends that changes something, in order.
QStringList jobStatements(Generation g, RecoveryModel before, bool checked)
{
    if (g <= Generation::Sql2005)
        return {QStringLiteral("exec sp_dboption 'Shop', 'trunc. log on chkpt.', '%1'").arg(checked ? "True" : "False"),
                "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)"};
    const QString alter = QStringLiteral("ALTER DATABASE Shop SET RECOVERY %1");
    const QString shrink = "CHECKPOINT DBCC SHRINKFILE (Shop_Log, 10)";
    if (checked)
        return before == RecoveryModel::Simple ? QStringList{shrink} : QStringList{alter.arg("SIMPLE"), shrink};
    const RecoveryModel kept = before == RecoveryModel::Simple ? RecoveryModel::Full : before;
    QStringList texts;
    if (before == RecoveryModel::Simple)
        texts << alter.arg("FULL");
    return texts << alter.arg("SIMPLE") << shrink << alter.arg(modelName(kept));
}

} // namespace

Q_DECLARE_METATYPE(Generation)
Q_DECLARE_METATYPE(Language)
Q_DECLARE_METATYPE(RecoveryModel)
Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(Box)

class GenerationsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

    TFrmMain& w() { return session->w(); }
    sandbox::Engine& engine() { return session->sandbox().engine(); }
    RecoveryModel model(const std::u16string& db) { return engine().catalog().find(db)->recovery(); }

    // The window logged in to this generation, Shop and its log chosen.
    [[nodiscard]] bool loggedInWithShopChosen(Generation generation)
    {
        sandbox::Catalog catalog = guitest::browseCatalog();
        catalog.generation = generation;
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        return session->chooseDatabase("Shop");
    }

    // F4 on the database list, as the keyboard opens it; false when it stays
    // closed without a box to say why.
    [[nodiscard]] bool openByKey()
    {
        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_F4);
        return guitest::listIsOpen(w().CmbDb) || !session->boxes().boxes().isEmpty();
    }

    // A pause longer than the search's interval first, as between a user's
    // choices: the keys then start a new search.
    [[nodiscard]] bool chooseByKeys(const QString& database)
    {
        QTest::qWait(QApplication::keyboardInputInterval() + 1);
        return guitest::chooseDatabaseByKeys(w(), database);
    }

    // The window on the demo catalog as this generation; the database list
    // opened with F4, the database found by typing its name and chosen with
    // Enter, as a user does it.
    [[nodiscard]] bool onTheDemoWithChosenByKeys(Generation generation, const QString& database)
    {
        sandbox::Catalog catalog = sandbox::Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
        catalog.generation = generation;
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        return guitest::chooseDatabaseByKeys(w(), database) && w().CmbLog->currentIndex() >= 0;
    }

private slots:

    // 2000's options map to models: 'trunc. log on chkpt.' is SIMPLE whatever
    // 'select into/bulkcopy' says; cleared, the database is BULK_LOGGED with
    // 'select into/bulkcopy' and FULL without (SQL Server 2000 Books Online,
    // "Selecting a Recovery Model"). The job expects what the server does.
    void clearingTheBoxWithSelectIntoBulkCopyGivesBulkLogged_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::newRow("2000") << Generation::Sql2000;
        QTest::newRow("2005") << Generation::Sql2005;
    }

    void clearingTheBoxWithSelectIntoBulkCopyGivesBulkLogged()
    {
        QFETCH(Generation, generation);
        QVERIFY(onTheDemoWithChosenByKeys(generation, "BulkCopy"));
        QVERIFY(w().Chk->isChecked());
        w().Chk->setFocus();
        QTest::keyClick(w().Chk, Qt::Key_Space);
        QVERIFY(!w().Chk->isChecked());
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        const QStringList texts = session->boxes().texts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(Succeeded) && !texts.first().contains("未能恢复"), qPrintable(texts.first()));
        QCOMPARE(session->boxes().boxes().first().caption, QString("提示"));
        QCOMPARE(model(u"BulkCopy"), RecoveryModel::BulkLogged);
    }
    void cleanup() { session.reset(); }

    void theModelAlwaysComesBack_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<Language>("language");
        QTest::addColumn<Box>("box");
        QTest::addColumn<RecoveryModel>("before");
        QTest::addColumn<Event>("event");
        const struct {
            const char* name;
            Generation g;
        } generations[] = {{"2000", Generation::Sql2000}, {"2005", Generation::Sql2005}, {"2008", Generation::Sql2008},
                           {"2012", Generation::Sql2012}, {"2019", Generation::Sql2019}, {"2022", Generation::Sql2022}};
        const struct {
            const char* name;
            Event e;
        } events[] = {{"nothing", Event::Nothing}, {"statement error", Event::StatementError},
                      {"batch abort", Event::BatchAbort}, {"cancel", Event::Cancel}, {"dropped link", Event::Drop}};
        for (const auto& g : generations)
            for (const auto& l : Languages)
                for (const Box box : {Box::AsTheDatabaseIs, Box::ChangedByTheUser})
                    for (const RecoveryModel before : {RecoveryModel::Full, RecoveryModel::BulkLogged, RecoveryModel::Simple})
                        for (const auto& e : events)
                            QTest::addRow("%s, %s, %s, %s, %s", g.name, l.name,
                                          box == Box::AsTheDatabaseIs ? "box as is" : "box changed", modelName(before), e.name)
                                << g.g << l.language << box << before << e.e;
    }

    void theModelAlwaysComesBack()
    {
        QFETCH(Generation, generation);
        QFETCH(Language, language);
        QFETCH(Box, box);
        QFETCH(RecoveryModel, before);
        QFETCH(Event, event);
        sandbox::Catalog catalog = guitest::browseCatalog();
        catalog.generation = generation;
        catalog.language = language;
        catalog.find(u"Shop")->setRecovery(before);
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        QVERIFY(session->chooseDatabase("Shop"));
        QCOMPARE(w().Chk->isChecked(), before == RecoveryModel::Simple);
        if (box == Box::ChangedByTheUser)
            QTest::mouseClick(w().Chk, Qt::LeftButton);
        const bool checked = w().Chk->isChecked();
        if (event != Event::Nothing)
            engine().addFault(faultFor(event));
        session->clearSent();

        const guitest::CancelWhenBusy user(w());
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);

        for (const QString& text : session->sent())
            QVERIFY2(!text.contains("IMPLICIT_TRANSACTIONS") && !text.contains("TRAN") && !text.contains("COMMIT"),
                     qPrintable(text));
        QCOMPARE(session->changing(), jobStatements(generation, before, checked));
        const RecoveryModel chosen = checked ? RecoveryModel::Simple
                                     : before == RecoveryModel::Simple ? RecoveryModel::Full : before;
        QCOMPARE(model(u"Shop"), chosen);

        const QStringList shown = session->boxes().texts();
        QCOMPARE(shown.size(), 1);
        const QStringList parts = shown.first().split("\n\n");
        QCOMPARE(parts.first(), event == Event::Nothing ? Succeeded : Failed);
        QVERIFY2(!shown.first().contains("恢复模式"), qPrintable(shown.first()));  // nothing to put back by hand
        const QString reason = parts.value(1);
        switch (event) {
        case Event::StatementError: QCOMPARE(reason, QString("The shrink failed")); break;
        case Event::BatchAbort: QCOMPARE(reason, Deadlock); break;
        case Event::Cancel: QCOMPARE(reason, QString("已取消。")); break;
        case Event::Drop: QVERIFY(!reason.isEmpty()); break;
        case Event::Nothing: QVERIFY(reason.startsWith("日志文件现为")); break;
        }
    }

    // A put-back the server refuses: the message says so plainly, names the
    // model the database is in and what puts it back.
    void aModelThatCannotBePutBackIsSaidPlainly()
    {
        QVERIFY(loggedInWithShopChosen(Generation::Sql2019));
        sandbox::Fault refuse;
        refuse.pattern = "RECOVERY FULL";
        refuse.error = sandbox::Message{5069, 1, 16, u"ALTER DATABASE statement failed.", {}, 1};
        engine().addFault(refuse);
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        QCOMPARE(session->boxes().texts(),
                 QStringList({Failed + "\n\nALTER DATABASE statement failed\n\n"
                                       "数据库 Shop 现为 SIMPLE 恢复模式，未能恢复为 FULL。请执行：ALTER DATABASE Shop SET RECOVERY FULL"
                                       "\n\n日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。"}));
        QCOMPARE(model(u"Shop"), RecoveryModel::Simple);
    }

    // The server switched to SIMPLE but its answer was lost with the link:
    // the model is put back all the same.
    void aSwitchWhoseAnswerWasLostIsPutBack()
    {
        QVERIFY(loggedInWithShopChosen(Generation::Sql2019));
        sandbox::Fault lost;
        lost.action = sandbox::Fault::Action::DropAfter;
        lost.pattern = "RECOVERY SIMPLE";
        engine().addFault(lost);
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        QCOMPARE(model(u"Shop"), RecoveryModel::Full);
        const QStringList texts = session->boxes().texts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(Failed) && !texts.first().contains("恢复模式"), qPrintable(texts.first()));
    }

    // The demo's Merge (reserved from 2008) and its log Pivot (from 2005)
    // go out bracketed, and the job works end to end.
    void namesReservedSince2000WorkEndToEnd()
    {
        sandbox::Catalog catalog = sandbox::Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
        catalog.generation = Generation::Sql2019;
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        QVERIFY(session->chooseDatabase("Merge"));
        QCOMPARE(w().CmbLog->currentText(), QString("Pivot"));
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        QCOMPARE(session->boxes().texts().size(), 1);
        QVERIFY2(session->boxes().texts().first().startsWith(Succeeded), qPrintable(session->boxes().texts().first()));
        const QStringList sent = session->sent();
        for (const char* text : {"Use [Merge]", "ALTER DATABASE [Merge] SET RECOVERY SIMPLE",
                                 "CHECKPOINT DBCC SHRINKFILE ([Pivot], 10)", "ALTER DATABASE [Merge] SET RECOVERY FULL"})
            QVERIFY2(sent.contains(QString::fromUtf8(text)), text);
        QCOMPARE(model(u"Merge"), RecoveryModel::Full);
    }

    // What the server says reaches the user, and the model comes back: a log
    // held by replication, a refused switch to SIMPLE, a file renamed behind
    // the window's back, and a case-sensitive server.
    void theServersReasonsReachTheUser_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<Language>("language");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("shown");  // the message's first two paragraphs
        for (const auto& l : Languages) {
            const bool chinese = l.language == Language::SimplifiedChinese;
            QTest::addRow("replication holds the log (2005), %s", l.name)
                << Generation::Sql2005 << l.language << "Chinese_PRC_CI_AS" << "Replicated"
                << Succeeded + "\n\n日志文件现为 2048 MB，未能缩小到 10 MB：复制尚未读取日志。";
            QTest::addRow("an availability group refuses SIMPLE, %s", l.name)
                << Generation::Sql2019 << l.language << "Chinese_PRC_CI_AS" << "Replica"
                << Failed + "\n\n"
                       + (chinese ? QStringLiteral("无法对数据库 \"Replica\" 执行该操作，因为它正参与数据库镜像会话或可用性组。"
                                                   "对于参与数据库镜像会话或可用性组的数据库，不允许执行某些操作。")
                                  : QStringLiteral("The operation cannot be performed on database \"Replica\" because it is "
                                                   "involved in a database mirroring session or an availability group. Some "
                                                   "operations are not allowed on a database that is participating in a "
                                                   "database mirroring session or in an availability group"));
            QTest::addRow("the file was renamed meanwhile, %s", l.name)
                << Generation::Sql2019 << l.language << "Chinese_PRC_CI_AS" << "Renamed"
                << Failed + "\n\n"
                       + (chinese ? QStringLiteral("在 sys.database_files 中找不到数据库 'Shop' 的文件 'Shop_Log'。该文件不存在或者已被删除。")
                                  : QStringLiteral("Could not locate file 'Shop_Log' for database 'Shop' in sys.database_files. "
                                                   "The file either does not exist, or was dropped"));
            QTest::addRow("a case-sensitive server, %s", l.name)
                << Generation::Sql2019 << l.language << "Chinese_PRC_BIN" << "Shop" << Succeeded + "\n\n日志文件现为 10 MB。";
        }
    }

    void theServersReasonsReachTheUser()
    {
        QFETCH(Generation, generation);
        QFETCH(Language, language);
        QFETCH(QString, collation);
        QFETCH(QString, database);
        QFETCH(QString, shown);
        sandbox::Catalog catalog = guitest::browseCatalog();
        catalog.generation = generation;
        catalog.language = language;
        catalog.collation = collation.toStdU16String();
        const auto copyOfShop = [&catalog](std::int16_t id, std::u16string name) {
            sandbox::Database d = *catalog.find(u"Shop");
            d.dbId = id;
            d.name = name;
            d.files[1].name = name + u"_Log";
            return d;
        };
        sandbox::Database replicated = copyOfShop(21, u"Replicated");
        replicated.hold = sandbox::LogHold::Replication;
        sandbox::Database replica = copyOfShop(22, u"Replica");
        replica.availabilityGroup = true;
        catalog.databases.push_back(replicated);
        catalog.databases.push_back(replica);
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        const bool renamed = database == "Renamed";
        const std::u16string name = renamed ? u"Shop" : database.toStdU16String();
        QVERIFY(session->chooseDatabase(QString::fromStdU16String(name)));
        const RecoveryModel before = model(name);
        if (renamed) {
            sandbox::Catalog c = engine().catalog();
            c.find(u"Shop")->files[1].name = u"Renamed_Log";
            engine().setCatalog(c);
        }
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        const QStringList texts = session->boxes().texts();
        QCOMPARE(texts.size(), 1);
        QCOMPARE(texts.first().split("\n\n").mid(0, 2).join("\n\n"), shown);
        QCOMPARE(model(name), before);
    }

    // Driven by keys: the list opened with F4, the database found by typing
    // its name and chosen with Enter, the job started with Alt+O. tempdb and master are truncated
    // by a checkpoint, their model untouched; model and msdb get the job of
    // any database. None ends in the default error report.
    void systemDatabases_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<Language>("language");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QStringList>("job");  // what changes something, in order
        const struct {
            const char* name;
            Generation g;
        } generations[] = {{"2000", Generation::Sql2000}, {"2005", Generation::Sql2005}, {"2019", Generation::Sql2019}};
        for (const auto& g : generations) {
            for (const auto& l : Languages) {
                const bool classic = g.g <= Generation::Sql2005;
                const auto row = [&](const char* database, const QStringList& job) {
                    QTest::addRow("%s, %s, %s", g.name, l.name, database) << g.g << l.language << QString(database) << job;
                };
                row("tempdb", {"CHECKPOINT DBCC SHRINKFILE (templog, 10)"});
                row("master", {"CHECKPOINT DBCC SHRINKFILE (mastlog, 10)"});
                row("msdb", classic ? QStringList{"exec sp_dboption 'msdb', 'trunc. log on chkpt.', 'True'",
                                                  "BACKUP LOG msdb WITH TRUNCATE_ONLY DBCC SHRINKFILE (MSDBLog, 10)"}
                                    : QStringList{"CHECKPOINT DBCC SHRINKFILE (MSDBLog, 10)"});
                row("model", classic ? QStringList{"exec sp_dboption 'model', 'trunc. log on chkpt.', 'False'",
                                                   "BACKUP LOG model WITH TRUNCATE_ONLY DBCC SHRINKFILE (modellog, 10)"}
                                     : QStringList{"ALTER DATABASE model SET RECOVERY SIMPLE",
                                                   "CHECKPOINT DBCC SHRINKFILE (modellog, 10)",
                                                   "ALTER DATABASE model SET RECOVERY FULL"});
            }
        }
    }

    void systemDatabases()
    {
        QFETCH(Generation, generation);
        QFETCH(Language, language);
        QFETCH(QString, database);
        QFETCH(QStringList, job);
        sandbox::Catalog catalog = sandbox::Catalog::defaults();
        catalog.generation = generation;
        catalog.language = language;
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_F4);
        QVERIFY(guitest::listIsOpen(w().CmbDb));
        QTest::keyClicks(w().CmbDb->view(), database);  // the open list's own search
        QTest::keyClick(w().CmbDb->view(), Qt::Key_Return);
        QCOMPARE(w().CmbDb->currentText(), database);
        QVERIFY(w().CmbLog->currentIndex() >= 0);
        const RecoveryModel before = model(database.toStdU16String());
        session->clearSent();
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));

        QCOMPARE(session->changing(), job);
        QCOMPARE(model(database.toStdU16String()), before);
        QCOMPARE(session->boxes().boxes().size(), 1);
        QCOMPARE(session->boxes().boxes().first().caption, QString("提示"));
        QVERIFY2(session->boxes().texts().first().startsWith(Succeeded), qPrintable(session->boxes().texts().first()));
    }

    // A server installed in Chinese, driven by keys as its DBA would: the
    // server's reasons come in Chinese, the tool's words are those an English
    // server gets (test_report has the same LogAtEnd text for one).
    void aChineseServerDrivenByKeys_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::newRow("2000") << Generation::Sql2000;
        QTest::newRow("2005") << Generation::Sql2005;
        QTest::newRow("2019") << Generation::Sql2019;
    }

    void aChineseServerDrivenByKeys()
    {
        QFETCH(Generation, generation);
        sandbox::Catalog catalog = sandbox::Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
        catalog.generation = generation;
        catalog.language = Language::SimplifiedChinese;
        session = std::make_unique<guitest::Session>(catalog);
        QTest::keyClicks(w().CmbServer, session->serverName());
        QTest::keyClicks(w().EdtPwd, "wrong");
        QVERIFY(openByKey());
        QCOMPARE(session->boxes().texts(),
                 QStringList({"数据库连接失败!\n\n用户 'sa' 登录失败。\n\n请检查 sa 的密码。"}));

        session->boxes().clear();
        QTest::keyClick(w().EdtPwd, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(w().EdtPwd, "sandbox");
        QVERIFY(chooseByKeys("GameDB"));
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QCOMPARE(session->boxes().texts().size(), 1);
        QVERIFY2(session->boxes().texts().first().startsWith(Succeeded + "\n\n"),
                 qPrintable(session->boxes().texts().first()));

        session->boxes().clear();
        QVERIFY(chooseByKeys("LogAtEnd"));
        QVERIFY(w().CmbLog->currentText().startsWith("LogAtEnd_Log"));
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QCOMPARE(session->boxes().texts(),
                 QStringList({Succeeded + "\n\n日志文件现为 128 MB，未能缩小到 10 MB：" + ActiveAtEnd}));

        session->boxes().clear();
        QVERIFY(chooseByKeys("Restoring"));
        QCOMPARE(session->boxes().boxes().size(), 1);
        QCOMPARE(session->boxes().boxes().first().caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(session->boxes().texts().first(), QString("无法打开数据库 'Restoring'。该数据库正处于还原过程中。."));
    }
};

QTEST_MAIN(GenerationsTest)
#include "test_generations.moc"

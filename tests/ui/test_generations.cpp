// The tool's whole job on each SQL Server generation, through the real
// window and driver: what goes on the wire, what the database ends in, and
// what the user is told, also when the log cannot shrink or the job fails.
#include "BrowseCatalog.h"
#include "GuiSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <memory>

using sandbox::Generation;
using sandbox::RecoveryModel;

Q_DECLARE_METATYPE(sandbox::Generation)
Q_DECLARE_METATYPE(sandbox::RecoveryModel)

namespace {

const QString Succeeded = QStringLiteral("数据库清理成功!");
const QString Failed = QStringLiteral("数据库清理失败!");
const QString ChainBroken = QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");

// Shop, Held (an open transaction holds its log), Replicated (so does the
// log reader) and Replica (in an availability group), all FULL.
sandbox::Catalog catalogFor(Generation g, std::u16string collation = u"Chinese_PRC_CI_AS")
{
    sandbox::Catalog c = guitest::browseCatalog();
    c.generation = g;
    c.collation = std::move(collation);
    const auto copyOfShop = [&c](std::int16_t id, std::u16string name) {
        sandbox::Database d = *c.find(u"Shop");
        d.dbId = id;
        d.name = name;
        d.files[1].name = name + u"_Log";
        return d;
    };
    sandbox::Database held = copyOfShop(20, u"Held");
    held.hold = sandbox::LogHold::ActiveTransaction;
    sandbox::Database replicated = copyOfShop(21, u"Replicated");
    replicated.hold = sandbox::LogHold::Replication;
    sandbox::Database replica = copyOfShop(22, u"Replica");
    replica.availabilityGroup = true;
    for (auto& d : {held, replicated, replica})
        c.databases.push_back(d);
    return c;
}

} // namespace

class GenerationsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

    TFrmMain& w() { return session->w(); }
    sandbox::Engine& engine() { return session->sandbox().engine(); }

    void start(const sandbox::Catalog& catalog) { session = std::make_unique<guitest::Session>(catalog); }

    // Browses to the database, sets the check box, presses the button.
    [[nodiscard]] bool runJob(const QString& database, bool checked)
    {
        session->typeLogin();
        if (!session->chooseDatabase(database))
            return false;
        GUITEST_CHECK(session->boxes().texts().isEmpty(), qPrintable(session->boxes().texts().join('\n')));
        session->clearSent();
        if (w().Chk->isChecked() != checked)
            QTest::mouseClick(w().Chk, Qt::LeftButton);
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        return true;
    }

    sandbox::Database db(const std::u16string& name) { return *engine().catalog().find(name); }

private slots:
    void initTestCase() { guitest::setApplicationTitle(); }
    void cleanup() { session.reset(); }

    void theJobWorksOnEveryGeneration_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<RecoveryModel>("before");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QStringList>("texts");  // what the job sends, in order
        QTest::addColumn<RecoveryModel>("after");
        const struct {
            const char* name;
            Generation generation;
        } generations[] = {{"2000", Generation::Sql2000}, {"2005", Generation::Sql2005}, {"2008", Generation::Sql2008},
                           {"2012", Generation::Sql2012}, {"2019", Generation::Sql2019}, {"2022", Generation::Sql2022}};
        const QString readModel = "select convert(nvarchar(60), databasepropertyex('Shop', 'Recovery')) as recovery_model";
        for (const auto& g : generations) {
            const bool classic = g.generation <= Generation::Sql2005;
            QTest::addRow("%s, FULL, checked", g.name)
                << g.generation << RecoveryModel::Full << true
                << (classic ? QStringList{"exec sp_dboption 'Shop', 'trunc. log on chkpt.', 'True'",
                                          "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)"}
                            : QStringList{"ALTER DATABASE Shop SET RECOVERY SIMPLE", "CHECKPOINT DBCC SHRINKFILE (Shop_Log, 10)"})
                << RecoveryModel::Simple;
            QTest::addRow("%s, SIMPLE, unchecked", g.name)
                << g.generation << RecoveryModel::Simple << false
                << (classic ? QStringList{"exec sp_dboption 'Shop', 'trunc. log on chkpt.', 'False'",
                                          "BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)"}
                            : QStringList{readModel, "ALTER DATABASE Shop SET RECOVERY FULL",
                                          "ALTER DATABASE Shop SET RECOVERY SIMPLE CHECKPOINT DBCC SHRINKFILE (Shop_Log, 10) "
                                          "ALTER DATABASE Shop SET RECOVERY FULL"})
                << RecoveryModel::Full;
        }
    }

    void theJobWorksOnEveryGeneration()
    {
        QFETCH(Generation, generation);
        QFETCH(RecoveryModel, before);
        QFETCH(bool, checked);
        QFETCH(QStringList, texts);
        QFETCH(RecoveryModel, after);
        sandbox::Catalog catalog = catalogFor(generation);
        catalog.find(u"Shop")->setRecovery(before);
        start(catalog);

        QVERIFY(runJob("Shop", checked));
        // The option outside the transaction, the batch inside it.
        texts.insert(texts.size() - 1, "SET IMPLICIT_TRANSACTIONS ON");
        texts << "IF @@TRANCOUNT > 0 COMMIT TRAN" << "SET IMPLICIT_TRANSACTIONS OFF";
        QCOMPARE(session->sent().mid(0, texts.size()), texts);
        for (const QString& text : session->sent())
            QVERIFY2(generation <= Generation::Sql2005 || (!text.contains("sp_dboption") && !text.contains("TRUNCATE_ONLY")),
                     qPrintable(text));
        QCOMPARE(db(u"Shop").recovery(), after);
        QCOMPARE(db(u"Shop").files[1].size, 1280);
        QCOMPARE(w().EdtLogSize->text(), QString("1280"));
        QCOMPARE(session->boxes().texts(), QStringList({after == RecoveryModel::Simple ? Succeeded
                                                                                       : Succeeded + "\n\n" + ChainBroken}));
    }

    void theUserLearnsWhyTheJobFellShort_data()
    {
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("shown");
        const QString stayed = QStringLiteral("日志文件未能缩小到 10 MB（现为 2048 MB）：");
        QTest::newRow("an open transaction holds the log")
            << Generation::Sql2019 << "Held" << Succeeded + "\n\n" + stayed + "有未结束的事务\n\n" + ChainBroken;
        QTest::newRow("replication holds the log (2005, classic texts)")
            << Generation::Sql2005 << "Replicated" << Succeeded + "\n\n" + stayed + "复制尚未读取日志\n\n" + ChainBroken;
        QTest::newRow("an availability group refuses SIMPLE")
            << Generation::Sql2019 << "Replica"
            << Failed + "\n\nThe operation cannot be performed on database \"Replica\" because it is involved in a "
                        "database mirroring session or an availability group. Some operations are not allowed on a "
                        "database that is participating in a database mirroring session or in an availability group";
    }

    void theUserLearnsWhyTheJobFellShort()
    {
        QFETCH(Generation, generation);
        QFETCH(QString, database);
        QFETCH(QString, shown);
        start(catalogFor(generation));
        QVERIFY(runJob(database, false));
        QCOMPARE(session->boxes().texts(), QStringList({shown}));
        // Whatever happened, the database is back in the model it had.
        QCOMPARE(db(database.toStdU16String()).recovery(), RecoveryModel::Full);
    }

    void aFileThatIsGoneFailsWithTheServersReason()
    {
        start(catalogFor(Generation::Sql2019));
        session->typeLogin();
        QVERIFY(session->chooseDatabase("Shop"));
        sandbox::Catalog c = engine().catalog();
        c.find(u"Shop")->files[1].name = u"Renamed_Log";
        engine().setCatalog(c);
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);
        QCOMPARE(session->boxes().texts(),
                 QStringList({Failed + "\n\nCould not locate file 'Shop_Log' for database 'Shop' in "
                                       "sys.database_files. The file either does not exist, or was dropped"}));
        QCOMPARE(db(u"Shop").recovery(), RecoveryModel::Full);
    }

    void aCaseSensitiveServerIsBrowsedAndCleaned()
    {
        start(catalogFor(Generation::Sql2019, u"Chinese_PRC_BIN"));
        QVERIFY(runJob("Shop", true));
        QCOMPARE(session->boxes().texts(), QStringList({Succeeded}));
        QCOMPARE(w().EdtLogSize->text(), QString("1280"));
    }
};

QTEST_MAIN(GenerationsTest)
#include "test_generations.moc"

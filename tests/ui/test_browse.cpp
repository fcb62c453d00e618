// Browsing a server's databases and files through the real window, against
// the sandbox: what the user sees and exactly what reaches the server.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <optional>

using guitest::items;

namespace {

const QString LoginRefused =
    QStringLiteral("数据库连接失败!\n\nLogin failed for user 'sa'\n\n请检查 sa 的密码。");

// File names as sysfiles pads them to nchar(128), the padding taken off.
QStringList fileNames(const QComboBox* box)
{
    QStringList names;
    for (const QString& item : items(box))
        names << item.trimmed();
    return names;
}

} // namespace

class BrowseTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

    TFrmMain& w() { return session->w(); }
    testsupport::TestSandbox* sandbox() { return &session->sandbox(); }
    guitest::BoxRecorder* boxes() { return &session->boxes(); }
    QString server() const { return session->serverName(); }
    QStringList sent() const { return session->sent(); }
    void typeLogin(const QString& password = "sandbox") { session->typeLogin(password); }
    [[nodiscard]] bool chooseDatabase(const QString& name) { return session->chooseDatabase(name); }

private slots:

    void init() { session = std::make_unique<guitest::Session>(guitest::browseCatalog()); }
    void cleanup() { session.reset(); }

    void openingTheListConnectsAndListsTheDatabases()
    {
        typeLogin();
        guitest::openList(w().CmbDb);
        QVERIFY(boxes()->texts().isEmpty());
        QVERIFY(guitest::listIsOpen(w().CmbDb));
        QCOMPARE(items(w().CmbDb), QStringList({"master", "Shop", "Stock", "My Shop's [DB]; 游戏", "Archive"}));
        QCOMPARE(w().CmbDb->currentIndex(), 0);
        // Selecting the first entry from code ran nothing.
        QCOMPARE(w().CmbLog->count(), 0);
        QCOMPARE(sent(), QStringList({"Select * From sysdatabases order by [dbid]"}));
    }

    void choosingADatabaseListsItsSecondaryFilesAndShowsTheFirst()
    {
        typeLogin();
        QVERIFY(chooseDatabase("Stock"));
        QVERIFY(!guitest::listIsOpen(w().CmbDb));
        QCOMPARE(w().CmbDb->currentText(), QString("Stock"));
        QCOMPARE(fileNames(w().CmbLog), QStringList({"Stock_Log", "Stock_Extra"}));
        QCOMPARE(w().CmbLog->currentIndex(), 0);
        // Listed as the server sends them, padded; the details are trimmed.
        QCOMPARE(w().CmbLog->itemText(0).size(), 128);
        QCOMPARE(w().EdtLogPath->text(), QString("C:\\data\\Stock_Log.ldf"));
        QCOMPARE(w().EdtLogSize->text(), QString("2560"));
        QCOMPARE(sent(), QStringList({"Select * From sysdatabases order by [dbid]", "Use Stock",
                                      "select * from sysfiles where fileid>1 order By fileid",
                                      "select convert(nvarchar(60), databasepropertyex('Stock', 'Recovery')) as recovery_model",
                                      "Use Stock", "select * from sysfiles where [name]='Stock_Log'"}));
        QVERIFY(boxes()->texts().isEmpty());
    }

    // The box shows whether the chosen database truncates its log at every
    // checkpoint now, so that the job left as it is keeps its recovery model;
    // tempdb and master always do, and their box cannot be changed.
    void theCheckBoxShowsTheChosenDatabase()
    {
        sandbox::Catalog c = guitest::browseCatalog();
        c.find(u"Stock")->setRecovery(sandbox::RecoveryModel::Simple);
        c.find(u"master")->setRecovery(sandbox::RecoveryModel::Full);
        session.reset();  // one window at a time: they share the connection
        session = std::make_unique<guitest::Session>(c);
        typeLogin();
        QVERIFY(!w().Chk->isChecked());
        const struct {
            const char* database;
            bool checked, enabled;
        } rows[] = {{"Stock", true, true}, {"Shop", false, true}, {"master", true, false}};
        for (const auto& row : rows) {
            QVERIFY(chooseDatabase(row.database));
            QCOMPARE(w().Chk->isChecked(), row.checked);
            QCOMPARE(w().Chk->isEnabled(), row.enabled);
        }
        // Nothing chosen: unchecked again.
        w().EdtPwd->clear();
        guitest::openList(w().CmbDb);
        QVERIFY(!w().Chk->isChecked());
        QVERIFY(w().Chk->isEnabled());
    }

    void aDatabaseWithOnlyItsLogShowsThatFileAtOnce()
    {
        typeLogin();
        QVERIFY(chooseDatabase("Shop"));
        QCOMPARE(fileNames(w().CmbLog), QStringList({"Shop_Log"}));
        QCOMPARE(w().CmbLog->currentText().trimmed(), QString("Shop_Log"));
        QCOMPARE(w().EdtLogPath->text(), QString("C:\\data\\Shop_Log.ldf"));
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
    }

    // A long path shows from its start, the drive and the folders, as a
    // Windows edit box given a text shows it; its end is what runs off.
    void aLongPathShowsItsStart()
    {
        const QString path = "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\Shop_Log.LDF";
        sandbox::Catalog c = guitest::browseCatalog();
        c.find(u"Shop")->files.at(1).fileName = path.toStdU16String();
        session.reset();  // one window at a time: they share the connection
        session = std::make_unique<guitest::Session>(c);
        typeLogin();
        QVERIFY(chooseDatabase("Shop"));

        QLineEdit* field = w().EdtLogPath;
        QCOMPARE(field->text(), path);
        QVERIFY(field->fontMetrics().horizontalAdvance(path) > field->width());  // it cannot show it all
        (void)field->grab();  // drawn: where it scrolls to is settled as it paints
        const QRect inside = field->contentsRect();
        QCOMPARE(field->cursorPositionAt(QPoint(inside.left() + 1, inside.center().y())), 0);
        QVERIFY(field->cursorPositionAt(QPoint(inside.right() - 1, inside.center().y())) < path.size());
    }

    void aWrongPasswordSaysSoOnceAndEmptiesEverything()
    {
        typeLogin();
        QVERIFY(chooseDatabase("Stock"));
        QVERIFY(!w().EdtLogPath->text().isEmpty());

        w().EdtPwd->clear();
        QTest::keyClicks(w().EdtPwd, "wrong");
        guitest::openList(w().CmbDb);
        QCOMPARE(boxes()->texts(), QStringList({LoginRefused}));
        const ui::Box& box = boxes()->boxes().first();
        QCOMPARE(box.caption, QString("提示"));
        QCOMPARE(box.icon, ui::Box::Icon::Information);
        QCOMPARE(box.owner, static_cast<QWidget*>(&w()));
        QVERIFY(!guitest::listIsOpen(w().CmbDb));
        QCOMPARE(w().CmbDb->count(), 0);
        QCOMPARE(w().CmbDb->currentIndex(), -1);
        QCOMPARE(w().CmbLog->count(), 0);
        QCOMPARE(w().CmbLog->currentIndex(), -1);
        QVERIFY(w().EdtLogPath->text().isEmpty());
        QVERIFY(w().EdtLogSize->text().isEmpty());
        QVERIFY(!session->connection().Connected());
    }

    void aRefusingServerSaysTheSame()
    {
        sandbox()->server().setRefuseLogins(true);
        typeLogin();
        guitest::openList(w().CmbDb);
        QCOMPARE(boxes()->texts(), QStringList({LoginRefused}));
    }

    void theKeyboardOpensTheListThroughTheSameHandler_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("F4") << int(Qt::Key_F4) << int(Qt::NoModifier);
        QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier);
    }

    void theKeyboardOpensTheListThroughTheSameHandler()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        typeLogin();
        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY(guitest::listIsOpen(w().CmbDb));
        QCOMPARE(w().CmbDb->count(), 5);
        QCOMPARE(sent().count("Select * From sysdatabases order by [dbid]"), 1);
    }

    void choosingAServerEntryForgetsEverything()
    {
        w().CmbServer->addItem(server());
        w().CmbServer->addItem("other.example");
        w().CmbServer->setCurrentIndex(0);
        QTest::keyClicks(w().EdtPwd, "sandbox");
        QVERIFY(chooseDatabase("Stock"));
        QVERIFY(session->connection().Connected());

        guitest::chooseFromList(w().CmbServer, 1);
        QCOMPARE(w().CmbServer->currentText(), QString("other.example"));
        QVERIFY(w().EdtPwd->text().isEmpty());
        QCOMPARE(w().CmbDb->count(), 0);
        QCOMPARE(w().CmbLog->count(), 0);
        QVERIFY(w().EdtLogPath->text().isEmpty());
        QVERIFY(w().EdtLogSize->text().isEmpty());
        QVERIFY(!session->connection().Connected());
        QTRY_COMPARE(sandbox()->server().activeSessions(), 0);
    }

    void typingAPrefixOfAnotherServerCompletesItAndForgetsEverything()
    {
        w().CmbServer->addItem(server());
        w().CmbServer->addItem("Localhost,1");
        w().CmbServer->setCurrentIndex(0);
        QTest::keyClicks(w().EdtPwd, "sandbox");
        QVERIFY(chooseDatabase("Stock"));

        w().CmbServer->lineEdit()->clear();
        QTest::keyClicks(w().CmbServer, "loc");
        QCOMPARE(w().CmbServer->currentText(), QString("Localhost,1"));
        QCOMPARE(w().CmbServer->currentIndex(), 1);
        QCOMPARE(w().CmbServer->lineEdit()->selectedText(), QString("alhost,1"));
        QVERIFY(w().EdtPwd->text().isEmpty());
        QCOMPARE(w().CmbDb->count(), 0);
        QVERIFY(w().EdtLogPath->text().isEmpty());
        QVERIFY(!session->connection().Connected());
    }

    // Typing runs nothing, but the job no longer acts on the server it was
    // connected to: the window is not connected until the list opens again.
    void typingAnUnlistedNameRunsNothingUntilTheListOpens()
    {
        w().CmbServer->addItem(server());
        w().CmbServer->setCurrentIndex(0);
        QTest::keyClicks(w().EdtPwd, "sandbox");
        QVERIFY(chooseDatabase("Stock"));

        w().CmbServer->lineEdit()->clear();
        QTest::keyClicks(w().CmbServer, "127.0.0.1,1");  // nobody listens there
        QCOMPARE(w().EdtPwd->text(), QString("sandbox"));
        QCOMPARE(w().CmbLog->count(), 2);
        sandbox()->server().clearTranscript();
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QCOMPARE(boxes()->texts(), QStringList({"数据库连接失败!"}));
        QVERIFY(sent().isEmpty());

        boxes()->clear();
        guitest::openList(w().CmbDb);
        QCOMPARE(boxes()->texts().size(), 1);
        QVERIFY(boxes()->texts().first().startsWith("数据库连接失败!\n\nUnable to connect"));
        QCOMPARE(w().CmbLog->count(), 0);
    }

    void arrowsAndTypeAheadRunTheHandlerOncePerChange()
    {
        qint64 now = 100000;
        w().CmbDb->setSearchClock([&now] { return now; });
        w().CmbLog->setSearchClock([&now] { return now; });
        typeLogin();
        QVERIFY(chooseDatabase("master"));
        QCOMPARE(w().CmbLog->currentText().trimmed(), QString("mastlog"));
        sandbox()->server().clearTranscript();

        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_Down);  // Shop
        QTest::keyClick(w().CmbDb, Qt::Key_Down);  // Stock
        QCOMPARE(w().CmbDb->currentText(), QString("Stock"));
        QCOMPARE(sent().count("Use Shop"), 2);
        QCOMPARE(sent().count("Use Stock"), 2);
        QCOMPARE(w().EdtLogPath->text(), QString("C:\\data\\Stock_Log.ldf"));

        sandbox()->server().clearTranscript();
        now += 1000;
        QTest::keyClicks(w().CmbDb, "sh");  // "s" finds Shop; "sh" stays on it
        QCOMPARE(w().CmbDb->currentText(), QString("Shop"));
        QCOMPARE(sent().count("select * from sysfiles where fileid>1 order By fileid"), 1);

        // Within the pause the keys build one search text; after it a new one starts.
        sandbox()->server().clearTranscript();
        now += 1000;
        QTest::keyClicks(w().CmbDb, "ST");
        QCOMPARE(w().CmbDb->currentText(), QString("Stock"));
        now += ui::TDropDownList::SearchPauseMs;
        QTest::keyClicks(w().CmbDb, "m");
        QCOMPARE(w().CmbDb->currentText(), QString("master"));
        QCOMPARE(sent().count("select * from sysfiles where fileid>1 order By fileid"), 2);

        // The file list: arrows, type-ahead and Backspace each run the change handler.
        QVERIFY(chooseDatabase("Stock"));
        sandbox()->server().clearTranscript();
        w().CmbLog->setFocus();
        QTest::keyClick(w().CmbLog, Qt::Key_Down);
        QCOMPARE(w().CmbLog->currentText().trimmed(), QString("Stock_Extra"));
        QCOMPARE(w().EdtLogPath->text(), QString("D:\\more\\Stock_Extra.ndf"));
        QCOMPARE(w().EdtLogSize->text(), QString("1280"));
        now += 1000;
        QTest::keyClicks(w().CmbLog, "stock_l");
        QCOMPARE(w().CmbLog->currentText().trimmed(), QString("Stock_Log"));
        QTest::keyClick(w().CmbLog, Qt::Key_Backspace);
        QCOMPARE(sent().count("select * from sysfiles where [name]='Stock_Extra'"), 1);
        QCOMPARE(sent().count("select * from sysfiles where [name]='Stock_Log'"), 2);
        // An arrow past the end changes nothing and runs nothing.
        sandbox()->server().clearTranscript();
        QTest::keyClick(w().CmbLog, Qt::Key_Up);
        QVERIFY(sent().isEmpty());
    }

    // The list shows master again, in which the new session is: the files of
    // the database chosen before go, so that the job cannot act on them in
    // master. Escape keeps it so.
    void reopeningTheListReconnectsAndForgetsTheFilesOfAnotherDatabase()
    {
        typeLogin();
        QVERIFY(chooseDatabase("Stock"));
        sandbox()->server().clearTranscript();

        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_F4);
        QVERIFY(guitest::listIsOpen(w().CmbDb));
        QCOMPARE(sent(), QStringList({"Select * From sysdatabases order by [dbid]"}));
        QCOMPARE(w().CmbDb->currentIndex(), 0);
        QCOMPARE(w().CmbDb->currentText(), QString("master"));
        QTest::keyClick(w().CmbDb->view(), Qt::Key_Escape);
        QVERIFY(!guitest::listIsOpen(w().CmbDb));
        QCOMPARE(w().CmbLog->count(), 0);
        QVERIFY(w().EdtLogPath->text().isEmpty());
        QVERIFY(w().EdtLogSize->text().isEmpty());

        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QCOMPARE(boxes()->texts(), QStringList({"请先选择数据库和文件。"}));
        QCOMPARE(sent(), QStringList({"Select * From sysdatabases order by [dbid]"}));
    }

    void aDatabaseThatCannotBeOpenedReachesTheDefaultReport()
    {
        typeLogin();
        QVERIFY(chooseDatabase("Shop"));
        w().CmbDb->setFocus();
        QTest::keyClicks(w().CmbDb, "Ar");  // type-ahead chooses Archive
        QCOMPARE(w().CmbDb->currentText(), QString("Archive"));
        QCOMPARE(boxes()->boxes().size(), 1);
        QCOMPARE(boxes()->boxes().first().caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(boxes()->boxes().first().icon, ui::Box::Icon::Critical);
        QCOMPARE(boxes()->texts().first(), QString("Database 'Archive' cannot be opened because it is offline."));
        // Nothing of Shop stays for the job to act on.
        QCOMPARE(w().CmbLog->count(), 0);
        QVERIFY(w().EdtLogPath->text().isEmpty());

        // The window carries on.
        boxes()->clear();
        QVERIFY(chooseDatabase("Shop"));
        QVERIFY(boxes()->texts().isEmpty());
        QCOMPARE(w().EdtLogSize->text(), QString("262144"));
    }

    void namesOfEveryShapeReachTheServerAsThemselves()
    {
        typeLogin();
        QVERIFY(chooseDatabase("My Shop's [DB]; 游戏"));
        QVERIFY(boxes()->texts().isEmpty());
        QCOMPARE(fileNames(w().CmbLog), QStringList({"log ]; 's 日志"}));
        QCOMPARE(w().EdtLogPath->text(), QString("C:\\数据\\weird log.ldf"));
        QCOMPARE(w().EdtLogSize->text(), QString("4096"));
        const QStringList texts = sent();
        QVERIFY(texts.contains("Use [My Shop's [DB]]; 游戏]"));
        QVERIFY(texts.contains("select * from sysfiles where [name]=N'log ]; ''s 日志'"));
    }
};

QTEST_MAIN(BrowseTest)
#include "test_browse.moc"

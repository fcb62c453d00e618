// The window's structure, initial state, life cycle and default error report.
#include "GuiSupport.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "ui/ErrorReport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <stdexcept>

using guitest::BoxAnswerer;
using guitest::Window;

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { guitest::setApplicationTitle(); }

    void hasEveryControlUnderItsName()
    {
        Window w;
        const QStringList combos{"CmbServer", "CmbDb", "CmbLog"};
        const QStringList edits{"EdtUid", "EdtPwd", "EdtLogPath", "EdtLogSize"};
        const QStringList labels{"Label1", "Label2", "Label13", "Label3", "Label4", "Label5",
                                 "Label6", "Label7", "Label8", "Label9"};
        for (const QString& name : combos)
            QVERIFY2(w->findChild<QComboBox*>(name), qPrintable(name));
        for (const QString& name : edits)
            QVERIFY2(w->findChild<QLineEdit*>(name), qPrintable(name));
        for (const QString& name : labels)
            QVERIFY2(w->findChild<QLabel*>(name), qPrintable(name));
        QVERIFY(w->findChild<QCheckBox*>("Chk"));
        QVERIFY(w->findChild<QPushButton*>("BtnOk"));
        QVERIFY(w->findChild<QPushButton*>("BtnExit"));
        QVERIFY(w->findChild<QFrame*>("Panel1"));
        QVERIFY(w->findChild<QFrame*>("Panel2"));
        QVERIFY(w->findChild<QGroupBox*>("GroupBox1"));
        // The members are the very widgets the names find.
        QCOMPARE(w->findChild<QComboBox*>("CmbDb"), w->CmbDb);
        QCOMPARE(w->findChild<QLineEdit*>("EdtPwd"), w->EdtPwd);
    }

    void startsInItsInitialState()
    {
        Window w;
        QVERIFY(w->CmbServer->isEditable());
        QCOMPARE(w->CmbServer->count(), 0);
        QVERIFY(!w->EdtUid->isEnabled());
        QCOMPARE(w->EdtUid->text(), QString("sa"));
        QVERIFY(w->EdtPwd->text().isEmpty());
        QCOMPARE(w->EdtPwd->echoMode(), QLineEdit::Password);
        for (QComboBox* list : {static_cast<QComboBox*>(w->CmbDb), static_cast<QComboBox*>(w->CmbLog)}) {
            QVERIFY(!list->isEditable());
            QCOMPARE(list->count(), 0);
            QCOMPARE(list->currentIndex(), -1);
        }
        QVERIFY(w->EdtLogPath->isReadOnly());
        QVERIFY(w->EdtLogSize->isReadOnly());
        QVERIFY(w->EdtLogPath->text().isEmpty());
        QVERIFY(w->EdtLogSize->text().isEmpty());
        QVERIFY(!w->Chk->isChecked());
        QVERIFY(w->BtnOk->isEnabled());
        QVERIFY(w->BtnExit->isEnabled());
        QCOMPARE(w->BtnOk->text(), QString("压缩(&O)"));
        QCOMPARE(w->BtnExit->text(), QString("退出(&E)"));
        QCOMPARE(QApplication::focusWidget(), w->CmbServer);
    }

    void createsOneClosedConnectionAndFreesItOnDestroy()
    {
        {
            Window w;
            QVERIFY(SqlConnection() != nullptr);
            QVERIFY(!SqlConnection()->Connected());
        }
        QVERIFY(SqlConnection() == nullptr);
    }

    // Without a connection (FormCreate could not make one) every handler acts
    // as when not connected, and none touches the missing connection.
    void handlersWithoutAConnectionActAsNotConnected()
    {
        BoxAnswerer boxes;
        const ConnectionMaker normal = SetConnectionMaker([]() -> std::unique_ptr<db::TADOConnection> {
            throw db::EDatabaseError(std::u16string(db::MissingComponentsMessage));
        });
        Window w;
        SetConnectionMaker(normal);
        QCOMPARE(boxes.texts(), QStringList({QString::fromStdU16String(std::u16string(db::MissingComponentsMessage)) + "."}));
        QVERIFY(SqlConnection() == nullptr);

        struct Step {
            const char* name;
            std::function<void()> act;
            QStringList shown;
            bool selectionKept;
        };
        const QString refused = "数据库连接失败!";
        const Step steps[] = {
            {"choose a server", [&] { QTest::keyClick(w->CmbServer, 'h'); }, {}, false},
            {"open the database list", [&] { guitest::openList(w->CmbDb); }, {refused}, false},
            {"choose a database", [&] { QTest::keyClick(w->CmbDb, 'd'); }, {}, false},
            {"choose a file", [&] { QTest::keyClick(w->CmbLog, 'l'); }, {}, false},
            {"press the button", [&] { QTest::mouseClick(w->BtnOk, Qt::LeftButton); }, {refused}, true},
        };
        for (const Step& step : steps) {
            // As a browse would have left the window.
            w->CmbServer->clear();
            w->CmbServer->addItem("HOST");
            w->CmbServer->setCurrentIndex(-1);
            w->CmbDb->clear();
            w->CmbDb->addItem("Db");
            w->CmbDb->setCurrentIndex(-1);
            w->CmbLog->clear();
            w->CmbLog->addItem("Log");
            w->CmbLog->setCurrentIndex(-1);
            w->EdtLogPath->setText("C:\\Db.ldf");
            boxes.clear();

            step.act();
            QVERIFY2(boxes.texts() == step.shown, step.name);
            QVERIFY2((w->CmbLog->count() == 1) == step.selectionKept, step.name);
            QVERIFY2(w->EdtLogPath->text().isEmpty() != step.selectionKept, step.name);
            guitest::closeList(w->CmbDb);
        }
    }

    void destroyingClosesAnOpenConnection()
    {
        testsupport::TestSandbox sandbox;
        {
            Window w;
            w->CmbServer->setEditText(QString::fromStdU16String(sandbox.serverName()));
            w->EdtPwd->setText("sandbox");
            BoxAnswerer boxes;
            guitest::openList(w->CmbDb);
            QVERIFY(boxes.texts().isEmpty());
            QVERIFY(SqlConnection()->Connected());
            QTRY_COMPARE(sandbox.server().activeSessions(), 1);
        }
        QTRY_COMPARE(sandbox.server().activeSessions(), 0);
    }

    void exitButtonAndCloseBoxEndTheLoopWithExitCodeZero_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("exit button") << true;
        QTest::newRow("close box") << false;
    }

    void exitButtonAndCloseBoxEndTheLoopWithExitCodeZero()
    {
        QFETCH(bool, byButton);
        Window w;
        QTimer::singleShot(0, w.form.get(), [&w, byButton] {
            if (byButton)
                QTest::mouseClick(w->BtnExit, Qt::LeftButton);
            else
                w->close();  // what the frame's close box and Alt+F4 ask for
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!w->isVisible());
    }

    void reportTextGetsAFullStopOnlyAfterCharactersAboveIt()
    {
        QCOMPARE(ui::errorReportText("Login failed for user sa"), QString("Login failed for user sa."));
        QCOMPARE(ui::errorReportText("Invalid object name 'x'"), QString("Invalid object name 'x'"));
        QCOMPARE(ui::errorReportText("ends in a digit 9"), QString("ends in a digit 9."));
        QCOMPARE(ui::errorReportText("数据库"), QString("数据库."));
        QCOMPARE(ui::errorReportText("done."), QString("done."));
        QCOMPARE(ui::errorReportText("stop!"), QString("stop!"));
        QCOMPARE(ui::errorReportText("(nested)"), QString("(nested)"));
        QCOMPARE(ui::errorReportText("trailing blank "), QString("trailing blank "));
        QCOMPARE(ui::errorReportText(""), QString(""));
    }

    void guardShowsErrorsAsTheDefaultReportAndSwallowsSilentAborts()
    {
        BoxAnswerer boxes;
        // A handler is run where it is: nothing (copying it into a wrapper,
        // say) can throw before the guard is up.
        struct CopyFails {
            bool* ran;
            explicit CopyFails(bool* r) : ran(r) {}
            CopyFails(const CopyFails&) { throw std::runtime_error("copied"); }
            CopyFails& operator=(const CopyFails&) = delete;
            void operator()() const { *ran = true; }
        };
        bool ran = false;
        const CopyFails uncopyable(&ran);
        ui::guarded(uncopyable);
        QVERIFY(ran);
        ui::guarded([] { throw db::EDatabaseError(u"Could not locate file 'x' in sysfiles"); });
        ui::guarded([] { throw std::runtime_error("plain failure"); });
        ui::guarded([] { throw db::EAbort(); });
        QCOMPARE(boxes.boxes().size(), 2);
        const guitest::ShownBox& first = boxes.boxes().at(0);
        QCOMPARE(first.text, QString("Could not locate file 'x' in sysfiles."));
        QCOMPARE(first.caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(first.icon, QMessageBox::Critical);
        QCOMPARE(first.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(first.applicationModal);
        QCOMPARE(boxes.boxes().at(1).text, QString("plain failure."));
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"

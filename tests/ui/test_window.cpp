// The window's structure, initial state, life cycle and default error report.
#include "GuiSupport.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "ui/Dialogs.h"
#include "ui/ErrorReport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <stdexcept>

using guitest::Window;

class WindowTest : public QObject {
    Q_OBJECT
private slots:

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

    // FormCreate makes the one connection, through the maker the window was
    // given, and leaves it closed.
    void createsOneClosedConnection()
    {
        int made = 0;
        Window w(db::ServerBrowser::loopback({}), [&made] {
            ++made;
            return std::make_unique<db::TADOConnection>();
        });
        QCOMPARE(made, 1);
        QVERIFY(w.connection != nullptr);
        QVERIFY(!w.connection->Connected());
    }

    // Without a connection (FormCreate could not make one) every handler acts
    // as when not connected, and none touches the missing connection.
    void handlersWithoutAConnectionActAsNotConnected()
    {
        Window w(db::ServerBrowser::loopback({}), []() -> std::unique_ptr<db::TADOConnection> {
            throw db::EDatabaseError(std::u16string(db::MissingComponentsMessage));
        });
        guitest::BoxRecorder& boxes = w.boxes;
        QCOMPARE(boxes.texts(), QStringList({QString::fromStdU16String(std::u16string(db::MissingComponentsMessage)) + "."}));
        QVERIFY(w.connection == nullptr);

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
            guitest::openList(w->CmbDb);
            QVERIFY(w.boxes.texts().isEmpty());
            QVERIFY(w.connection->Connected());
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
        guitest::BoxRecorder boxes;
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
        ui::guarded(boxes, uncopyable);
        QVERIFY(ran);
        ui::guarded(boxes, [] { throw db::EDatabaseError(u"Could not locate file 'x' in sysfiles"); });
        ui::guarded(boxes, [] { throw std::runtime_error("plain failure"); });
        ui::guarded(boxes, [] { throw db::EAbort(); });
        QCOMPARE(boxes.boxes().size(), 2);
        const ui::Box& first = boxes.boxes().at(0);
        QCOMPARE(first.text, QString("Could not locate file 'x' in sysfiles."));
        QCOMPARE(first.caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(first.icon, ui::Box::Icon::Critical);
        QCOMPARE(first.owner, nullptr);  // modal for the whole application
        QCOMPARE(boxes.boxes().at(1).text, QString("plain failure."));
    }

    // The program's own boxes, as a user meets them: the handler's owned by
    // the window and modal for it, captioned "提示" with the information icon;
    // the default error report modal for the whole application, captioned
    // with the application title, with the error icon; each with one OK.
    void theProgramsBoxesAreRealMessageBoxes()
    {
        struct Seen {
            QString caption, text;
            QMessageBox::Icon icon;
            QWidget* owner;
            Qt::WindowModality modality;
            QMessageBox::StandardButtons buttons;
        };
        QList<Seen> seen;
        // Read and answered from the box's own event loop, as a user would.
        QTimer reader;
        connect(&reader, &QTimer::timeout, this, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            seen << Seen{box->windowTitle(), box->text(),           box->icon(),
                         box->parentWidget(), box->windowModality(), box->standardButtons()};
            box->button(QMessageBox::Ok)->click();
        });
        reader.start(10);
        ui::MessageBoxes real;
        TFrmMain window(db::ServerBrowser::loopback({}), [] { return std::make_unique<db::TADOConnection>(); }, real);
        window.show();
        QTest::mouseClick(window.BtnOk, Qt::LeftButton);  // not connected
        ui::guarded(real, [] { throw std::runtime_error("plain failure"); });

        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].caption, QString("提示"));
        QCOMPARE(seen[0].text, QString("数据库连接失败!"));
        QCOMPARE(seen[0].icon, QMessageBox::Information);
        QCOMPARE(seen[0].owner, &window);
        QCOMPARE(seen[0].modality, Qt::WindowModal);
        QCOMPARE(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(seen[1].caption, QString("SQL SERVER日志清理工具"));
        QCOMPARE(seen[1].text, QString("plain failure."));
        QCOMPARE(seen[1].icon, QMessageBox::Critical);
        QCOMPARE(seen[1].owner, nullptr);
        QCOMPARE(seen[1].modality, Qt::ApplicationModal);
        QCOMPARE(seen[1].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"

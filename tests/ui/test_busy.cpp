// The window while it waits for the server: it keeps painting, shows that it
// is busy, starts no other command (keys typed meanwhile run theirs
// afterwards), and the job can be cancelled, after which the recovery model
// is what it was.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "ui/Busy.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

using guitest::WhileBusy;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }
    ~PaintCounter() override { widget_->removeEventFilter(this); }
    PaintCounter(const PaintCounter&) = delete;
    PaintCounter& operator=(const PaintCounter&) = delete;
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* widget_;
};

sandbox::Fault delayOn(const char* pattern, std::chrono::milliseconds delay)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Delay;
    f.pattern = pattern;
    f.delay = delay;
    return f;
}

// Holds the statement until the test lets it go (or the link goes).
sandbox::Fault holdOn(const char* pattern)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Hold;
    f.pattern = pattern;
    f.times = 1;
    return f;
}

} // namespace

class BusyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;
    TFrmMain& w() { return session->w(); }

private slots:
    void cleanup() { session.reset(); }

    void aLongJobKeepsTheWindowAliveAndCanBeCancelled()
    {
        sandbox::Catalog c = guitest::browseCatalog();
        c.generation = sandbox::Generation::Sql2019;
        session = std::make_unique<guitest::Session>(c);
        session->typeLogin();
        QVERIFY(session->chooseDatabase("Shop"));
        QVERIFY(!w().Chk->isChecked());  // FULL
        // Only the cancel ends it: the job has no command time-out.
        session->sandbox().engine().addFault(delayOn("SHRINKFILE", std::chrono::minutes(10)));

        const PaintCounter counter(&w());
        bool busyCursor = false;
        int paintsBefore = -1;
        const WhileBusy user(w(), [&](QWidget* box) {
            if (paintsBefore < 0) {
                busyCursor = QApplication::overrideCursor() != nullptr &&
                             QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                QTest::mouseClick(w().BtnExit, Qt::LeftButton);  // nothing else starts meanwhile
                paintsBefore = counter.paints;
                w().update();
                return false;
            }
            if (counter.paints == paintsBefore)
                return false;  // not painted yet
            auto* cancel = box->findChild<QPushButton*>(QLatin1String(ui::BusyCancelName));
            if (cancel != nullptr)
                QTest::mouseClick(cancel, Qt::LeftButton);
            return cancel != nullptr;
        });
        QTest::mouseClick(w().BtnOk, Qt::LeftButton);

        QVERIFY(user.done());
        QVERIFY(busyCursor);
        QVERIFY(counter.paints > paintsBefore);
        QVERIFY(w().isVisible());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // The switch to SIMPLE before the shrink broke the backup chain.
        QCOMPARE(session->boxes().texts(),
                 QStringList({"数据库清理失败!\n\n已取消。\n\n日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。"}));
        const QStringList sent = session->sent();
        const qsizetype shrink = sent.indexOf("CHECKPOINT DBCC SHRINKFILE (Shop_Log, 10)");
        QVERIFY(shrink > 0);
        QCOMPARE(sent.indexOf("ALTER DATABASE Shop SET RECOVERY FULL", shrink), shrink + 1);
        QCOMPARE(session->sandbox().engine().catalog().find(u"Shop")->recovery(), sandbox::RecoveryModel::Full);
    }

    // Listing takes a while: the box shows without a cancel button and
    // without taking the focus, and the list opens when the names are there.
    void aSlowListShowsTheBusyBoxAndThenOpens()
    {
        session = std::make_unique<guitest::Session>(guitest::browseCatalog());
        session->typeLogin();
        // Well beyond the box's delay, so that it shows.
        session->sandbox().engine().addFault(delayOn("sysdatabases", std::chrono::milliseconds(10 * ui::BusyBoxDelayMs)));
        bool cancelOffered = true;
        bool tookFocus = true;
        const WhileBusy look(w(), [&](QWidget* box) {
            cancelOffered = box->findChild<QPushButton*>() != nullptr;
            tookFocus = QApplication::focusWidget() != w().CmbDb;
            return true;
        });
        w().CmbDb->setFocus();
        guitest::openList(w().CmbDb);
        QVERIFY(look.done());
        QVERIFY(!cancelOffered);
        QVERIFY(!tookFocus);
        QVERIFY(guitest::listIsOpen(w().CmbDb));
        QCOMPARE(w().CmbDb->count(), 5);
        guitest::closeList(w().CmbDb);
    }

    // The link drops while a database's files are read, after a while of
    // silence: meanwhile the window paints and shows that it waits, like
    // the job; then the default report says why, and the window carries on.
    void aLinkDroppedWhileChoosingADatabaseLeavesTheWindowPainting()
    {
        session = std::make_unique<guitest::Session>(guitest::browseCatalog());
        session->typeLogin();
        QVERIFY(session->chooseDatabase("master"));
        session->sandbox().engine().addFault(holdOn("^Use Shop$"));

        const PaintCounter counter(&w());
        bool busyCursor = false;
        int paintsBefore = -1;
        const WhileBusy user(w(), [&](QWidget*) {
            if (paintsBefore < 0) {
                busyCursor = QApplication::overrideCursor() != nullptr &&
                             QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                paintsBefore = counter.paints;
                w().update();
                return false;
            }
            if (counter.paints == paintsBefore)
                return false;  // not painted yet
            session->sandbox().server().stop();  // the held statement's link goes with it
            return true;
        });
        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_Down);  // Shop

        QVERIFY(user.done());
        QVERIFY(busyCursor);
        QVERIFY(counter.paints > paintsBefore);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        const QList<ui::Box>& boxes = session->boxes().boxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, ui::Box::Icon::Critical);
        QVERIFY(!boxes.first().text.isEmpty());
        QCOMPARE(w().CmbLog->count(), 0);
        QVERIFY(w().isVisible());
        QVERIFY(w().isEnabled());
    }

    // Arrow keys pressed while a database's files come slowly are kept, not
    // lost: once the handler has returned, each runs its own, in order, as
    // in a Windows window that was blocked meanwhile.
    void arrowKeysPressedDuringASlowChoiceEachRunTheHandlerAfterwardsInOrder()
    {
        session = std::make_unique<guitest::Session>(guitest::browseCatalog());
        session->typeLogin();
        QVERIFY(session->chooseDatabase("master"));
        session->sandbox().engine().addFault(holdOn("^Use Shop$"));
        session->clearSent();

        QString meanwhile;
        const WhileBusy user(w(), [&](QWidget*) {
            QTest::keyClick(w().CmbDb, Qt::Key_Down);  // Stock
            QTest::keyClick(w().CmbDb, Qt::Key_Down);  // My Shop's [DB]; 游戏
            meanwhile = w().CmbDb->currentText();
            session->sandbox().engine().releaseHeld();
            return true;
        });
        w().CmbDb->setFocus();
        QTest::keyClick(w().CmbDb, Qt::Key_Down);  // Shop, slowly
        QVERIFY(user.done());
        QCOMPARE(meanwhile, QString("Shop"));

        QTRY_COMPARE(w().CmbDb->currentText(), QString("My Shop's [DB]; 游戏"));
        QTRY_COMPARE(w().EdtLogPath->text(), QString("C:\\数据\\weird log.ldf"));
        QStringList uses;
        for (const QString& text : session->sent())
            if (text.startsWith("Use "))
                uses << text;
        // Each choice: its files, then the chosen file's details.
        QCOMPARE(uses, QStringList({"Use Shop", "Use Shop", "Use Stock", "Use Stock", "Use [My Shop's [DB]]; 游戏]",
                                    "Use [My Shop's [DB]]; 游戏]"}));
        QVERIFY(session->boxes().boxes().isEmpty());
    }
};

QTEST_MAIN(BusyTest)
#include "test_busy.moc"

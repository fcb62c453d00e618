// The window while it waits for the server: it keeps painting, shows that it
// is busy, takes no other command, and the job can be cancelled, after which
// the recovery model is what it was.
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
        const WhileBusy user([&](QWidget* box) {
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
        const WhileBusy look([&](QWidget* box) {
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
};

QTEST_MAIN(BusyTest)
#include "test_busy.moc"

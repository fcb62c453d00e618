// The job under a cancel, at each moment one can come: before a statement
// (nothing more is sent), during one, just after one answered, in the middle
// of a batch, in the option step, and while the model is put back (which no
// cancel stops). A statement a cancel reached proves nothing: the report
// says "已取消。" and what the server says afterwards. The window's thread
// never sends the attention itself.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "ui/Busy.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sql.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using sandbox::Generation;
using sandbox::RecoveryModel;

// Every SQLCancel the program makes, by the thread that makes it; handed on
// to the driver manager's.
namespace {
std::atomic<std::thread::id> GuiThread;
std::atomic<int> CancelsOnGuiThread{0};
std::atomic<int> CancelsElsewhere{0};
} // namespace

extern "C" SQLRETURN SQL_API SQLCancel(SQLHSTMT statement)
{
    using Function = SQLRETURN(SQL_API*)(SQLHSTMT);
    static const auto real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "SQLCancel"));
    ++(std::this_thread::get_id() == GuiThread.load() ? CancelsOnGuiThread : CancelsElsewhere);
    return real(statement);
}

namespace {

const QString Failed = QStringLiteral("数据库清理失败!");
const QString Cancelled = QStringLiteral("已取消。");
const QString ChainBroken = QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");
const QString Alter = QStringLiteral("ALTER DATABASE Shop SET RECOVERY %1");
const QString Shrink = QStringLiteral("CHECKPOINT DBCC SHRINKFILE (Shop_Log, 10)");
const QString Option = QStringLiteral("exec sp_dboption 'Shop', 'trunc. log on chkpt.', '%1'");
const QString Truncate = QStringLiteral("BACKUP LOG Shop WITH TRUNCATE_ONLY DBCC SHRINKFILE (Shop_Log, 10)");

sandbox::Fault fault(sandbox::Fault::Action action, const char* pattern, std::chrono::milliseconds delay,
                     std::size_t times = 0)
{
    sandbox::Fault f;
    f.action = action;
    f.pattern = pattern;
    f.delay = delay;
    f.times = times;
    return f;
}

} // namespace

Q_DECLARE_METATYPE(Generation)
Q_DECLARE_METATYPE(RecoveryModel)
Q_DECLARE_METATYPE(sandbox::Fault)

class CancelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<guitest::Session> session;

    TFrmMain& w() { return session->w(); }
    sandbox::Engine& engine() { return session->sandbox().engine(); }

    // The window logged in to this generation, Shop (FULL) and its log chosen.
    [[nodiscard]] bool onShop(Generation generation)
    {
        sandbox::Catalog catalog = guitest::browseCatalog();
        catalog.generation = generation;
        session = std::make_unique<guitest::Session>(catalog);
        session->typeLogin();
        GUITEST_CHECK(session->chooseDatabase("Shop"), "Shop is not listed");
        GUITEST_CHECK(!w().Chk->isChecked(), "Shop is not FULL");
        session->clearSent();
        return true;
    }

    // The one message box, the handler's own.
    [[nodiscard]] bool saidOnce(const QString& text)
    {
        const QList<ui::Box>& boxes = session->boxes().boxes();
        GUITEST_CHECK(boxes.size() == 1, qPrintable(session->boxes().texts().join("\n----\n")));
        GUITEST_CHECK(boxes.first().caption == "提示" && boxes.first().icon == ui::Box::Icon::Information,
                      qPrintable(boxes.first().caption));
        GUITEST_CHECK(boxes.first().text == text, qPrintable(boxes.first().text));
        return true;
    }

private slots:
    void initTestCase()
    {
        GuiThread = std::this_thread::get_id();
    }
    void cleanup()
    {
        session.reset();
        QCOMPARE(CancelsOnGuiThread.load(), 0);
    }

    void aCancelAtEachMoment_data()
    {
        using A = sandbox::Fault::Action;
        using std::chrono::milliseconds;
        // Only the cancel ends these; a held read waits for the test instead,
        // which lets it go once Escape has been pressed.
        const milliseconds untilCancelled = std::chrono::minutes(10);
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<sandbox::Fault>("fault");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("sent");  // what changes something, in order
        const QString cancelled = Failed + "\n\n" + Cancelled;
        const QString broke = cancelled + "\n\n" + ChainBroken;
        QTest::newRow("2022, before a statement: nothing is sent")
            << Generation::Sql2022 << false << fault(A::Hold, "databasepropertyex", {}, 1) << cancelled << QStringList{};
        QTest::newRow("2022, during the switch to SIMPLE, which never ran")
            << Generation::Sql2022 << false << fault(A::Delay, "RECOVERY SIMPLE", untilCancelled) << cancelled
            << QStringList{Alter.arg("SIMPLE"), Alter.arg("FULL")};
        QTest::newRow("2022, just after the switch to SIMPLE answered")
            << Generation::Sql2022 << false << fault(A::DelayAfter, "RECOVERY SIMPLE", untilCancelled) << broke
            << QStringList{Alter.arg("SIMPLE"), Alter.arg("FULL")};
        QTest::newRow("2022, a batch cut short after its checkpoint")
            << Generation::Sql2022 << false << fault(A::DelayAfter, "^CHECKPOINT", untilCancelled) << broke
            << QStringList{Alter.arg("SIMPLE"), Shrink, Alter.arg("FULL")};
        QTest::newRow("2022, the option step (box ticked)")
            << Generation::Sql2022 << true << fault(A::Delay, "RECOVERY SIMPLE", untilCancelled) << cancelled
            << QStringList{Alter.arg("SIMPLE")};
        QTest::newRow("2000, before a statement: nothing is sent")
            << Generation::Sql2000 << false << fault(A::Hold, "databasepropertyex", {}, 1) << cancelled
            << QStringList{};
        QTest::newRow("2000, the option step (box ticked)")
            << Generation::Sql2000 << true << fault(A::Delay, "sp_dboption", untilCancelled) << cancelled
            << QStringList{Option.arg("True")};
        QTest::newRow("2000, during the shrink")
            << Generation::Sql2000 << false << fault(A::Delay, "SHRINKFILE", untilCancelled) << cancelled
            << QStringList{Option.arg("False"), Truncate};
        QTest::newRow("2000, a batch cut short after its truncation")
            << Generation::Sql2000 << false << fault(A::DelayAfter, "^BACKUP LOG", untilCancelled) << cancelled
            << QStringList{Option.arg("False"), Truncate};
    }

    void aCancelAtEachMoment()
    {
        QFETCH(Generation, generation);
        QFETCH(bool, tick);
        QFETCH(sandbox::Fault, fault);
        QFETCH(QString, shown);
        QFETCH(QStringList, sent);
        QVERIFY(onShop(generation));
        if (tick) {
            w().Chk->setFocus();
            QTest::keyClick(w().Chk, Qt::Key_Space);
        }
        engine().addFault(fault);
        const int elsewhere = CancelsElsewhere;
        const QRegularExpression waitingFor(QString::fromStdString(fault.pattern), QRegularExpression::CaseInsensitiveOption);
        // Escape as soon as the statement the fault holds up is the last one sent.
        const guitest::WhileBusy user(w(), [&](QWidget*) {
            const QStringList all = session->sent();
            if (all.isEmpty() || !all.last().contains(waitingFor))
                return false;
            QTest::keyClick(&w(), Qt::Key_Escape);
            engine().releaseHeld();
            return true;
        });
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QVERIFY(user.done());
        QVERIFY(saidOnce(shown));
        QCOMPARE(session->changing(), sent);
        QCOMPARE(engine().catalog().find(u"Shop")->recovery(), RecoveryModel::Full);
        // An attention went out, from a thread not the window's, to the job's
        // statement the fault held up in the server; none to a read.
        if (fault.action == sandbox::Fault::Action::Hold)
            QCOMPARE(CancelsElsewhere.load(), elsewhere);
        else
            QVERIFY(CancelsElsewhere > elsewhere);
    }

    // The switch back to FULL takes its time: the panel names it, Escape
    // and the window's close do not stop it, and the job ends as it would.
    void aPutBackThatWaitsIsNamedAndRunsToItsEnd()
    {
        QVERIFY(onShop(Generation::Sql2022));
        engine().addFault(fault(sandbox::Fault::Action::Delay, "RECOVERY FULL", std::chrono::seconds(10)));
        QString panel;
        const guitest::WhileBusy user(w(), [&](QWidget* box) {
            const auto* label = box->findChild<QLabel*>();
            if (label == nullptr || !label->text().contains(Alter.arg("FULL")))
                return false;
            panel = label->text();
            w().close();
            QTest::keyClick(&w(), Qt::Key_Escape);
            return true;
        });
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QVERIFY(user.done());
        QVERIFY2(panel.contains("正在恢复原来的恢复模式"), qPrintable(panel));
        QVERIFY(w().isVisible());
        QVERIFY(saidOnce("数据库清理成功!\n\n日志文件现为 10 MB。\n\n" + ChainBroken));
        QCOMPARE(session->changing(), (QStringList{Alter.arg("SIMPLE"), Shrink, Alter.arg("FULL")}));
        QCOMPARE(engine().catalog().find(u"Shop")->recovery(), RecoveryModel::Full);
    }

    // The link drops as the model is put back: the job reconnects and puts
    // it back on its second attempt.
    void aLinkLostDuringThePutBackIsReopenedForASecondAttempt()
    {
        QVERIFY(onShop(Generation::Sql2022));
        engine().addFault(fault(sandbox::Fault::Action::Drop, "RECOVERY FULL", {}, 1));
        QVERIFY(guitest::pressWithAlt(&w(), w().BtnOk, Qt::Key_O));
        QVERIFY(saidOnce("数据库清理成功!\n\n日志文件现为 10 MB。\n\n" + ChainBroken));
        QCOMPARE(session->changing(), (QStringList{Alter.arg("SIMPLE"), Shrink, Alter.arg("FULL"), Alter.arg("FULL")}));
        QCOMPARE(engine().catalog().find(u"Shop")->recovery(), RecoveryModel::Full);
    }
};

QTEST_MAIN(CancelTest)
#include "test_cancel.moc"

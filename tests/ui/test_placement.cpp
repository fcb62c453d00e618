// Where the window opens: centred on the screen it opens on, wherever that
// screen sits on the virtual desktop. The offscreen platform is given two
// screens, the second left of and above the primary one, so the desktop's
// origin is not (0, 0).
#include "GuiSupport.h"
#include "ui/WindowLook.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>

namespace {

const QRect Primary(0, 0, 1024, 768);
const QRect LeftAbove(-1280, -300, 1280, 1024);

QScreen* screenWithGeometry(const QRect& geometry)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry() == geometry)
            return screen;
    }
    return nullptr;
}

} // namespace

class PlacementTest : public QObject {
    Q_OBJECT
public:
    // Runs before QApplication exists, as the platform reads its screens once.
    // Screens are added in the order of their names; the first is the primary.
    static void initMain()
    {
        static QTemporaryFile config;  // read when the application starts
        if (!config.open())
            qFatal("cannot write the screen configuration");
        config.write(R"({"screens": [
            {"name": "1-primary", "x": 0, "y": 0, "width": 1024, "height": 768},
            {"name": "2-left-above", "x": -1280, "y": -300, "width": 1280, "height": 1024}]})");
        config.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), Primary);
        QCOMPARE(QGuiApplication::primaryScreen()->virtualGeometry(), QRect(-1280, -300, 2304, 1068));
    }

    void centredOnScreenAddsTheScreensOrigin_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("primary") << Primary << QSize(383, 350) << QPoint(320, 209);
        QTest::newRow("odd remainders truncate") << Primary << QSize(384, 351) << QPoint(320, 208);
        QTest::newRow("left of and above the primary") << LeftAbove << QSize(383, 350) << QPoint(-832, 37);
        QTest::newRow("right of the primary") << QRect(1024, 0, 1920, 1080) << QSize(383, 350) << QPoint(1792, 365);
        QTest::newRow("work area below a top panel") << QRect(0, 32, 1024, 736) << QSize(384, 352) << QPoint(320, 224);
        // Larger than the screen: the title bar stays on it.
        QTest::newRow("larger than the screen") << QRect(0, 0, 300, 200) << QSize(383, 351) << QPoint(0, 0);
        QTest::newRow("larger, left of and above") << QRect(-300, -200, 300, 200) << QSize(383, 351)
                                                   << QPoint(-300, -200);
    }

    void centredOnScreenAddsTheScreensOrigin()
    {
        QFETCH(QRect, area);
        QFETCH(QSize, frame);
        QFETCH(QPoint, topLeft);
        QCOMPARE(ui::centredOnScreen(area, frame), topLeft);
    }

    void windowIsCentredOnceOnTheScreenItOpensOn_data()
    {
        QTest::addColumn<QRect>("screenGeometry");
        QTest::newRow("primary") << Primary;
        QTest::newRow("left of and above the primary") << LeftAbove;
    }

    void windowIsCentredOnceOnTheScreenItOpensOn()
    {
        QFETCH(QRect, screenGeometry);
        QScreen* screen = screenWithGeometry(screenGeometry);
        QVERIFY(screen);
        guitest::Window w(false);
        // As Qt asks: a window goes to a screen of a virtual desktop by its position too.
        w->setScreen(screen);
        w->move(screenGeometry.topLeft());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));

        QCOMPARE(w->screen(), screen);
        const QRect frame = w->frameGeometry();
        QVERIFY2(screenGeometry.contains(frame), qPrintable(QStringLiteral("frame at %1,%2").arg(frame.x()).arg(frame.y())));
        QVERIFY(qAbs(frame.center().x() - screenGeometry.center().x()) <= 1);
        QVERIFY(qAbs(frame.center().y() - screenGeometry.center().y()) <= 1);

        // Once: where the user puts it, it stays when shown again.
        const QPoint moved = screenGeometry.topLeft() + QPoint(10, 20);
        w->move(moved);
        w->hide();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QCOMPARE(w->pos(), moved);
    }
};

QTEST_MAIN(PlacementTest)
#include "test_placement.moc"

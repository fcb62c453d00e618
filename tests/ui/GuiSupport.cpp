#include "GuiSupport.h"

#include "db/AdoConnection.h"
#include "ui/Busy.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace guitest {

QStringList BoxRecorder::texts() const
{
    QStringList all;
    for (const ui::Box& box : boxes_)
        all << box.text;
    return all;
}

namespace {
std::unique_ptr<db::TADOConnection> ordinaryConnection() { return std::make_unique<db::TADOConnection>(); }
} // namespace

Window::Window(bool show) : Window(db::ServerBrowser::loopback({}), ordinaryConnection, show) {}

Window::Window(const db::ServerBrowser& browser) : Window(browser, ordinaryConnection) {}

Window::Window(const db::ServerBrowser& browser, const ConnectionMaker& make, bool show)
{
    const ConnectionMaker keepIt = [this, &make] {
        std::unique_ptr<db::TADOConnection> made = make();
        connection = made.get();
        return made;
    };
    form = std::make_unique<TFrmMain>(browser, keepIt, boxes);
    if (show) {
        form->show();
        form->activateWindow();
        (void)QTest::qWaitForWindowExposed(form.get());
    }
}

Session::Session(sandbox::Catalog catalog) : sandbox_(std::move(catalog)) {}

QString Session::serverName() const { return QString::fromStdU16String(sandbox_.serverName()); }

QStringList Session::sent() const
{
    QStringList all;
    for (const auto& text : sandbox_.server().transcript())
        all << QString::fromStdU16String(text);
    return all;
}

QStringList Session::changing() const
{
    QStringList texts;
    for (const QString& text : sent())
        for (const char* start : {"exec sp_dboption", "BACKUP", "ALTER", "CHECKPOINT"})
            if (text.startsWith(QLatin1String(start))) {
                texts << text;
                break;
            }
    return texts;
}

void Session::clearSent() { sandbox_.server().clearTranscript(); }

void Session::typeLogin(const QString& password)
{
    QTest::keyClicks(w().CmbServer, serverName());
    QTest::keyClicks(w().EdtPwd, password);
}

bool Session::chooseDatabase(const QString& name)
{
    openList(w().CmbDb);
    const int index = w().CmbDb->findText(name);
    if (index < 0) {
        closeList(w().CmbDb);
        return false;
    }
    chooseInOpenList(w().CmbDb, index);
    return true;
}

void openList(QComboBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton);
}

bool listIsOpen(const QComboBox* box)
{
    return box->view()->isVisible();
}

void chooseInOpenList(QComboBox* box, int index)
{
    // The open list ignores a mouse release that follows its opening too
    // closely (the release of the opening click), so the test moves the
    // highlight there, as the pointer does, and confirms with Enter.
    QAbstractItemView* view = box->view();
    const QModelIndex item = view->model()->index(index, box->modelColumn(), view->rootIndex());
    view->scrollTo(item);
    view->setCurrentIndex(item);
    QTest::keyClick(view, Qt::Key_Return);
}

void chooseFromList(QComboBox* box, int index)
{
    openList(box);
    chooseInOpenList(box, index);
}

void closeList(QComboBox* box)
{
    box->hidePopup();
}

QStringList items(const QComboBox* box)
{
    QStringList all;
    for (int i = 0; i < box->count(); ++i)
        all << box->itemText(i);
    return all;
}

QWidget* busyBox(const QWidget& window)
{
    auto* box = window.findChild<QWidget*>(QLatin1String(ui::BusyBoxName));
    return box != nullptr && box->isVisible() ? box : nullptr;
}

WhileBusy::WhileBusy(const QWidget& window, std::function<bool(QWidget* box)> step)
    : window_(window), step_(std::move(step))
{
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (QWidget* box = busyBox(window_); box != nullptr && !done_)
            done_ = step_(box);
    });
    timer_.start(20);
}

CancelWhenBusy::CancelWhenBusy(const QWidget& window)
    : WhileBusy(window, [](QWidget* box) {
        auto* cancel = box->findChild<QPushButton*>(QLatin1String(ui::BusyCancelName));
        if (cancel != nullptr)
            QTest::mouseClick(cancel, Qt::LeftButton);
        return cancel != nullptr;
    })
{
}

bool pressWithAlt(QWidget* window, QAbstractButton* button, Qt::Key key)
{
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    // The offscreen platform can leave the activation with no widget once a
    // popup has closed (a list chosen from by keys, say): its window counts
    // as active, so asking again changes nothing, and a mnemonic matches
    // only in the active window: make it active as a window manager would.
    if (QApplication::activeWindow() != window) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(window);
        QT_WARNING_POP
    }
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window;
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    QTest::keyClick(target, key, Qt::AltModifier);
    // A mnemonic animates the click: the handler runs a moment later.
    return !clicks.isEmpty() || clicks.wait(5000);
}

} // namespace guitest

// Driving the real window as a user would, and reading its message boxes.
#pragma once

#include "db/discovery/ServerBrowser.h"
#include "sandbox/sql/Catalog.h"
#include "tests/support/TestSandbox.h"
#include "ui/Dialogs.h"
#include "ui/UntMain.h"

#include <QAbstractButton>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// QVERIFY2 for a helper that returns bool: records the failure where it
// happened and returns false, so that the caller's QVERIFY(helper(...)) stops
// the test (a plain QVERIFY would only leave the helper).
#define GUITEST_CHECK(condition, message)                                                   \
    do {                                                                                    \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, (message), __FILE__, __LINE__)) \
            return false;                                                                   \
    } while (false)

namespace guitest {

// Stands in for the message boxes: keeps what each box would have said, and
// returns as a user pressing OK at once would.
class BoxRecorder : public ui::Dialogs {
public:
    const QList<ui::Box>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }

protected:
    void show(const ui::Box& box) override { boxes_ << box; }

private:
    QList<ui::Box> boxes_;
};

// The window and its controls, its boxes recorded; by default it looks for
// servers nowhere and makes an ordinary connection.
struct Window {
    BoxRecorder boxes;
    // What the window's maker returned: the window's one connection, until
    // the window is gone; null when the maker made none.
    db::TADOConnection* connection = nullptr;
    std::unique_ptr<TFrmMain> form;

    explicit Window(bool show = true);
    explicit Window(const db::ServerBrowser& browser);
    Window(const db::ServerBrowser& browser, const ConnectionMaker& make, bool show = true);
    TFrmMain& operator*() { return *form; }
    TFrmMain* operator->() { return form.get(); }
};

// One test's world: a sandbox server and a fresh window. Destroyed in
// reverse: window, server.
class Session {
public:
    explicit Session(sandbox::Catalog catalog);

    testsupport::TestSandbox& sandbox() { return sandbox_; }
    TFrmMain& w() { return *window_.form; }
    BoxRecorder& boxes() { return window_.boxes; }
    db::TADOConnection& connection() { return *window_.connection; }

    QString serverName() const;
    // Every batch the server received, in order.
    QStringList sent() const;
    // Those of them that change a database: options, backups, checkpoints.
    QStringList changing() const;
    void clearSent();

    // The user types the server name and the password.
    void typeLogin(const QString& password = "sandbox");
    // The user opens the database list and picks this database; false
    // when it is not listed.
    [[nodiscard]] bool chooseDatabase(const QString& name);

private:
    testsupport::TestSandbox sandbox_;
    Window window_;
};

// User actions.
void openList(QComboBox* box);             // a click on the closed box
void chooseInOpenList(QComboBox* box, int index);  // a click on an entry of the open list
void chooseFromList(QComboBox* box, int index);    // open, then choose
bool listIsOpen(const QComboBox* box);
void closeList(QComboBox* box);
QStringList items(const QComboBox* box);
// The window's busy panel while it shows (ui/Busy.h), else null.
QWidget* busyBox(const QWidget& window);

// Runs `step` every 20 ms while the window's busy panel shows, until it returns true:
// what a user does while the window waits.
class WhileBusy : public QObject {
public:
    WhileBusy(const QWidget& window, std::function<bool(QWidget* box)> step);
    bool done() const { return done_; }

private:
    const QWidget& window_;
    std::function<bool(QWidget*)> step_;
    QTimer timer_;
    bool done_ = false;
};

// Presses the busy panel's cancel button as soon as it shows.
class CancelWhenBusy : public WhileBusy {
public:
    explicit CancelWhenBusy(const QWidget& window);
};

// Alt with the button's letter, from the focused control of the active
// window, as a user presses it; true once the button was clicked (and its
// handler has run).
[[nodiscard]] bool pressWithAlt(QWidget* window, QAbstractButton* button, Qt::Key key);

} // namespace guitest

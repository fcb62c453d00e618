// Driving the real window as a user would, and answering its message boxes.
#pragma once

#include "db/discovery/ServerBrowser.h"
#include "sandbox/sql/Catalog.h"
#include "tests/support/TestSandbox.h"
#include "ui/UntMain.h"

#include <QAbstractButton>
#include <QMessageBox>
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

// What a message box said before the test dismissed it.
struct ShownBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* owner = nullptr;
    bool applicationModal = false;
    QMessageBox::StandardButtons buttons;
};

// Presses OK on every message box as soon as it shows, and keeps what it said.
class BoxAnswerer : public QObject {
    Q_OBJECT
public:
    BoxAnswerer();
    ~BoxAnswerer() override;

    const QList<ShownBox>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<ShownBox> boxes_;
};

// The application title, as main() sets it.
void setApplicationTitle();

// The window and its controls; by default it looks for servers nowhere.
struct Window {
    std::unique_ptr<TFrmMain> form;
    explicit Window(bool show = true);
    explicit Window(const db::ServerBrowser& browser, bool show = true);
    TFrmMain& operator*() { return *form; }
    TFrmMain* operator->() { return form.get(); }
};

// One test's world: a sandbox server, a fresh window, and every message box
// answered. Destroyed in reverse: boxes, window, server.
class Session {
public:
    explicit Session(sandbox::Catalog catalog);

    testsupport::TestSandbox& sandbox() { return sandbox_; }
    TFrmMain& w() { return *window_.form; }
    BoxAnswerer& boxes() { return boxes_; }

    QString serverName() const;
    // Every batch the server received, in order.
    QStringList sent() const;
    void clearSent();

    // The user types the server name and the password.
    void typeLogin(const QString& password = "sandbox");
    // The user opens the database list and picks this database; false
    // when it is not listed.
    [[nodiscard]] bool chooseDatabase(const QString& name);

private:
    testsupport::TestSandbox sandbox_;
    Window window_;
    BoxAnswerer boxes_;
};

// User actions.
void openList(QComboBox* box);             // a click on the closed box
void chooseInOpenList(QComboBox* box, int index);  // a click on an entry of the open list
void chooseFromList(QComboBox* box, int index);    // open, then choose
bool listIsOpen(const QComboBox* box);
void closeList(QComboBox* box);
QStringList items(const QComboBox* box);
// The window's busy panel while it shows (ui/Busy.h), else null.
QWidget* busyBox();

// Runs `step` every 20 ms while a busy panel shows, until it returns true:
// what a user does while the window waits.
class WhileBusy : public QObject {
public:
    explicit WhileBusy(std::function<bool(QWidget* box)> step);
    bool done() const { return done_; }

private:
    std::function<bool(QWidget*)> step_;
    QTimer timer_;
    bool done_ = false;
};

// Presses the busy panel's cancel button as soon as it shows.
class CancelWhenBusy : public WhileBusy {
public:
    CancelWhenBusy();
};

// Alt with the button's letter, from the focused control of the active
// window, as a user presses it; true once the button was clicked (and its
// handler has run).
[[nodiscard]] bool pressWithAlt(QWidget* window, QAbstractButton* button, Qt::Key key);

} // namespace guitest

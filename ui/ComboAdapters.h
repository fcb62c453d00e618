// Combo boxes that raise the events the main window's handlers are written
// for: only user actions raise them, never changes made by code.
#pragma once

#include <QComboBox>
#include <QString>

#include <functional>

namespace ui {

// Rows an open list shows before it scrolls, the form's lists and the server list alike.
inline constexpr int ListVisibleRows = 8;

// A drop-down list (no typing): the drop-down event runs before the list
// opens, choices raise click then change, and typed keys search the entries.
class TDropDownList : public QComboBox {
    Q_OBJECT
public:
    explicit TDropDownList(QWidget* parent = nullptr);

    // Milliseconds on a monotonic clock; tests replace it to step time.
    using Clock = std::function<qint64()>;
    void setSearchClock(Clock clock);

    // A pause this long starts a new type-ahead search.
    static constexpr qint64 SearchPauseMs = 500;

    void showPopup() override;
    // A message box is showing: it takes the focus, so a list whose
    // drop-down event showed it stays closed.
    void boxShown();

signals:
    void dropDown();
    void click();
    void change();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void chooseByUser(int index);

    Clock clock_;
    QString search_;
    qint64 lastKeyAt_ = 0;
    bool boxShown_ = false;
};

// A combo box with an editable text: a choice from the list raises click,
// and typing completes to a listed name, raising click when that changes
// the selected entry.
class TEditCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TEditCombo(QWidget* parent = nullptr);

signals:
    void click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void completeTypedText(const QString& typed);

    bool completing_ = false;
};

} // namespace ui

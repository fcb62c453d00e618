#include "ComboAdapters.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>

#include <utility>

namespace ui {

namespace {

int findByPrefix(const QComboBox& box, const QString& prefix)
{
    for (int i = 0; i < box.count(); ++i) {
        if (box.itemText(i).startsWith(prefix, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

qint64 monotonicMs()
{
    static QElapsedTimer timer = [] { QElapsedTimer t; t.start(); return t; }();
    return timer.elapsed();
}

bool isTypedText(const QKeyEvent& event)
{
    const auto mods = event.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    return mods == Qt::NoModifier && !event.text().isEmpty() && event.text().at(0).isPrint();
}

} // namespace

// ---- TDropDownList -------------------------------------------------------

TDropDownList::TDropDownList(QWidget* parent)
    : QComboBox(parent), clock_(monotonicMs)
{
    setEditable(false);
    setMaxVisibleItems(ListVisibleRows);
    // Qt reports both mouse choices in the list and arrow keys on the closed
    // box as activation; code changes never are.
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) {
        emit click();
        emit change();
    });
}

void TDropDownList::setSearchClock(Clock clock) { clock_ = std::move(clock); }

void TDropDownList::showPopup()
{
    boxShown_ = false;
    emit dropDown();
    if (!std::exchange(boxShown_, false))
        QComboBox::showPopup();
}

void TDropDownList::boxShown() { boxShown_ = true; }

void TDropDownList::chooseByUser(int index)
{
    setCurrentIndex(index);
    emit click();
    emit change();
}

void TDropDownList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier) {
        search_.chop(1);
        lastKeyAt_ = clock_();
        emit change();
        return;
    }
    if (!isTypedText(*event)) {
        QComboBox::keyPressEvent(event);
        return;
    }
    const qint64 now = clock_();
    if (now - lastKeyAt_ >= SearchPauseMs)
        search_.clear();
    lastKeyAt_ = now;
    search_ += event->text();
    const int match = findByPrefix(*this, search_);
    if (match >= 0 && match != currentIndex())
        chooseByUser(match);
    event->accept();
}

// ---- TEditCombo ----------------------------------------------------------

TEditCombo::TEditCombo(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(ListVisibleRows);
    setCompleter(nullptr);  // completion is ours: it must know when the entry changes
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) { emit click(); });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& typed) {
        if (completing_)
            completeTypedText(typed);
    });
}

void TEditCombo::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter does not choose here; it belongs to the window (buttons).
        event->ignore();
        return;
    }
    // Only typed characters complete; deleting never does.
    completing_ = isTypedText(*event);
    QComboBox::keyPressEvent(event);
    completing_ = false;
}

void TEditCombo::completeTypedText(const QString& typed)
{
    const int match = typed.isEmpty() ? -1 : findByPrefix(*this, typed);
    if (match < 0)
        return;
    const bool changed = match != currentIndex();
    const QString full = itemText(match);
    if (changed)
        setCurrentIndex(match);
    lineEdit()->setText(full);
    lineEdit()->setSelection(int(typed.size()), int(full.size() - typed.size()));
    if (changed)
        emit click();
}

} // namespace ui

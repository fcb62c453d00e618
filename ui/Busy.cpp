#include "Busy.h"

#include "Messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

namespace ui {

namespace {

// ---- keys typed while the window waits -------------------------------------

struct HeldKey {
    QPointer<QObject> receiver;  // where it went when typed
    std::unique_ptr<QEvent> event;
};

std::deque<HeldKey>& heldKeys()
{
    static std::deque<HeldKey> keys;
    return keys;
}

// Waits under way: keys are handed on only when there are none.
int waits = 0;

// A held key goes where the keyboard focus is when it is handed on, as a
// Windows window blocked in a call takes the keys queued meanwhile (so keys
// typed after a Tab reach the next control); a shortcut goes to its owner,
// as Qt found it when the key was pressed.
QObject* takerOf(const HeldKey& held)
{
    if (held.event->type() != QEvent::Shortcut) {
        if (QWidget* popup = QApplication::activePopupWidget())
            return popup->focusWidget() != nullptr ? popup->focusWidget() : popup;
        if (QWidget* focus = QApplication::focusWidget())
            return focus;
    }
    return held.receiver;
}

// One key at a time, each handled to its end: a key whose handler waits in
// turn holds the keys typed during that wait behind the ones still here.
void handOnHeldKeys()
{
    while (waits == 0 && !heldKeys().empty()) {
        HeldKey held = std::move(heldKeys().front());
        heldKeys().pop_front();
        if (QObject* taker = takerOf(held))
            QCoreApplication::sendEvent(taker, held.event.get());
    }
}

// While a wait is under way the handler that waits owns the connection, so
// nothing else may start: the user's mouse reaches only the panel and the
// window cannot close; keys are held and handed on afterwards, in order.
// Escape asks to cancel, where the panel offers it.
class InputHold : public QObject {
public:
    InputHold(QWidget* panel, std::function<void()> onEscape) : panel_(panel), onEscape_(std::move(onEscape))
    {
        ++waits;
        qApp->installEventFilter(this);
    }
    ~InputHold() override
    {
        qApp->removeEventFilter(this);
        --waits;
        if (waits == 0 && !heldKeys().empty())
            QTimer::singleShot(0, qApp, handOnHeldKeys);
    }
    InputHold(const InputHold&) = delete;
    InputHold& operator=(const InputHold&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (onEscape_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                if (event->type() == QEvent::KeyPress)
                    onEscape_();
                return true;
            }
            return hold(watched, *event);
        case QEvent::Shortcut:
            return hold(watched, *event);
        case QEvent::ShortcutOverride:  // a shortcut comes as an event of its own, held too
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            if (!insidePanel(watched)) {
                event->ignore();
                return true;
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static bool hold(QObject* watched, QEvent& event)
    {
        heldKeys().push_back({watched, std::unique_ptr<QEvent>(event.clone())});
        event.accept();  // taken: not offered to the parents
        return true;
    }

    bool insidePanel(QObject* object) const
    {
        for (; object != nullptr; object = object->parent())
            if (object == panel_)
                return true;
        return false;
    }

    QWidget* panel_;
    std::function<void()> onEscape_;
};

// ---- what the user sees ----------------------------------------------------

class OverrideCursor {
public:
    OverrideCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
};

// A panel inside the window rather than a window of its own: it takes
// neither the activation nor the focus, so the control the user is in keeps
// them, and the keys typed meanwhile. Hidden until the wait has lasted
// BusyBoxDelayMs.
class BusyPanel {
public:
    BusyPanel(QWidget* owner, const QString& what, bool cancellable) : owner_(owner), what_(what), frame_(owner)
    {
        frame_.setObjectName(QString::fromLatin1(BusyBoxName));
        frame_.setFrameStyle(QFrame::Panel | QFrame::Raised);
        frame_.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&frame_);
        label_ = new QLabel(what, &frame_);
        label_->setAlignment(Qt::AlignCenter);
        layout->addWidget(label_);
        if (cancellable) {
            cancel_ = new QPushButton(text::Cancel, &frame_);
            cancel_->setObjectName(QString::fromLatin1(BusyCancelName));
            cancel_->setFocusPolicy(Qt::NoFocus);
            layout->addWidget(cancel_, 0, Qt::AlignHCenter);
        }
        frame_.hide();
    }

    QWidget* frame() { return &frame_; }
    QPushButton* cancelButton() const { return cancel_; }

    // What is going on (when not empty) and the seconds so far.
    void update(qint64 elapsedMs, const QString& doing)
    {
        const QString seconds = text::Elapsed.arg(elapsedMs / 1000);
        label_->setText(what_ + u'\n' + (doing.isEmpty() ? seconds : doing + u'\n' + seconds));
        if (elapsedMs < BusyBoxDelayMs || frame_.isVisible())
            return;
        frame_.adjustSize();
        frame_.resize(std::max(frame_.width(), owner_->width() * 2 / 3), frame_.height());
        frame_.move((owner_->width() - frame_.width()) / 2, (owner_->height() - frame_.height()) / 2);
        frame_.raise();
        frame_.show();
    }

private:
    QWidget* owner_;
    QString what_;
    QFrame frame_;
    QLabel* label_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs `work` on a thread of its own while this one goes on with its
// events; rethrows here whatever `work` threw.
void runOnWorker(const std::function<void()>& work)
{
    QEventLoop loop;
    std::exception_ptr failure;
    // Joined before anything it uses goes, however this function is left.
    std::jthread worker([&work, &failure, &loop] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

void whileBusy(QWidget* owner, const QString& what, const std::function<void()>& work,
               const std::function<void()>& cancel, const std::function<QString()>& status)
{
    BusyPanel panel(owner, what, static_cast<bool>(cancel));
    QElapsedTimer elapsed;
    elapsed.start();
    bool cancelled = false;
    const auto askToCancel = [&] {
        if (std::exchange(cancelled, true))
            return;
        if (panel.cancelButton() != nullptr)
            panel.cancelButton()->setEnabled(false);
        try {
            cancel();
        } catch (...) {
            // Nothing to add: the work goes on and ends as it will.
        }
    };
    if (panel.cancelButton() != nullptr)
        QObject::connect(panel.cancelButton(), &QPushButton::clicked, panel.frame(), askToCancel);

    const OverrideCursor cursor;
    const InputHold hold(panel.frame(), cancel ? std::function<void()>(askToCancel) : std::function<void()>());
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const QString now = status ? status() : QString();
        panel.update(elapsed.elapsed(), !now.isEmpty() ? now : cancelled ? text::Cancelling : QString());
    });
    tick.start(BusyBoxDelayMs / 3);
    runOnWorker(work);
}

} // namespace ui

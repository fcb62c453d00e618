#include "Busy.h"

#include "Messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <thread>

namespace ui {

namespace {

// Drops the user's input everywhere but in the busy box, and closing the
// window: the handler that is waiting owns the connection until it returns.
// Escape asks to cancel, where the box offers it.
class InputBlocker : public QObject {
public:
    InputBlocker(QWidget* box, std::function<void()> onEscape) : box_(box), onEscape_(std::move(onEscape))
    {
        qApp->installEventFilter(this);
    }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && onEscape_ &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            onEscape_();
            return true;
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            if (!insideBox(watched)) {
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
    bool insideBox(QObject* object) const
    {
        for (; object != nullptr; object = object->parent())
            if (object == box_)
                return true;
        return false;
    }

    QWidget* box_;
    std::function<void()> onEscape_;
};

class OverrideCursor {
public:
    OverrideCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
};

} // namespace

void whileBusy(QWidget* owner, const QString& what, const std::function<void()>& work,
               const std::function<void()>& cancel, const std::function<QString()>& status)
{
    // A panel inside the window rather than a window of its own: it takes
    // neither the activation nor the focus, so a list about to open stays
    // the focused control.
    QFrame box(owner);
    box.setObjectName(QString::fromLatin1(BusyBoxName));
    box.setFrameStyle(QFrame::Panel | QFrame::Raised);
    box.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(what, &box);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    QPushButton* cancelButton = nullptr;
    if (cancel) {
        cancelButton = new QPushButton(text::Cancel, &box);
        cancelButton->setObjectName(QString::fromLatin1(BusyCancelName));
        cancelButton->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(cancelButton, 0, Qt::AlignHCenter);
    }
    box.hide();

    QElapsedTimer elapsed;
    elapsed.start();
    qint64 cancelledAt = -1;
    const auto askToCancel = [&] {
        if (cancelledAt >= 0)
            return;
        if (cancelButton != nullptr)
            cancelButton->setEnabled(false);
        cancelledAt = elapsed.elapsed();
        try {
            cancel();
        } catch (...) {
            // Nothing to add: the work goes on and ends as it will.
        }
    };
    if (cancelButton != nullptr)
        QObject::connect(cancelButton, &QPushButton::clicked, &box, askToCancel);

    const OverrideCursor cursor;
    const InputBlocker blocker(&box, cancel ? std::function<void()>(askToCancel) : std::function<void()>());
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

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &box, [&] {
        const QString now = status ? status() : QString();
        const QString doing = !now.isEmpty() ? now : cancelledAt >= 0 ? text::Cancelling : QString();
        const QString seconds = text::Elapsed.arg(elapsed.elapsed() / 1000);
        label->setText(what + u'\n' + (doing.isEmpty() ? seconds : doing + u'\n' + seconds));
        if (elapsed.elapsed() >= BusyBoxDelayMs && !box.isVisible()) {
            box.adjustSize();
            box.resize(std::max(box.width(), owner->width() * 2 / 3), box.height());
            box.move((owner->width() - box.width()) / 2, (owner->height() - box.height()) / 2);
            box.raise();
            box.show();
        }
    });
    tick.start(BusyBoxDelayMs / 3);
    loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace ui

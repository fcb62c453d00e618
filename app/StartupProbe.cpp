#include "app/StartupProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>

namespace app {

namespace {

// Watches the whole application, because the window's native handle exists
// only once show() has run.
class FirstExposeProbe : public QObject {
public:
    explicit FirstExposeProbe(QWidget& window) : QObject(&window), window_(window)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QWindow* handle = window_.windowHandle();
        if (event->type() == QEvent::Expose && watched == handle && handle->isExposed()) {
            QCoreApplication::instance()->removeEventFilter(this);
            // Queued behind the expose, so the first frame is painted and flushed.
            QTimer::singleShot(0, this, [] {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf("first-shown %lld\n",
                            static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    QWidget& window_;
};

} // namespace

void reportFirstShowIfAsked(QWidget& window)
{
    if (qEnvironmentVariableIsSet("SQLLOGCLEAN_STARTUP_PROBE"))
        new FirstExposeProbe(window);
}

} // namespace app

#include "cli/Interrupts.h"

#include <atomic>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <thread>
#endif

namespace cli {

namespace {

#ifdef _WIN32

// The system calls the handler on a thread it makes for each event; the
// lock makes the calls one at a time and lets the watch go only between them.
std::mutex handlerMutex;
std::function<void()>* handler = nullptr;

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;  // a closed console or a log-off ends the process as it would
    const std::lock_guard lock(handlerMutex);
    if (handler != nullptr)
        (*handler)();
    return TRUE;
}

class Watch {
public:
    explicit Watch(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt))
    {
        {
            const std::lock_guard lock(handlerMutex);
            handler = &onInterrupt_;
        }
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    ~Watch()
    {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        const std::lock_guard lock(handlerMutex);
        handler = nullptr;
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    std::function<void()> onInterrupt_;
};

#else

// SIGINT is blocked in the calling thread, and so in every thread started
// from it while the watch lives (the job's cancel thread among them); one
// thread of the watch's own takes each with sigwait, where any function may
// be called, unlike in a signal handler.
class Watch {
public:
    explicit Watch(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt))
    {
        sigemptyset(&interrupt_);
        sigaddset(&interrupt_, SIGINT);
        pthread_sigmask(SIG_BLOCK, &interrupt_, &saved_);
        thread_ = std::thread([this] { watch(); });
    }
    // A Ctrl+C that comes as the watch goes is dropped, not left pending to
    // end the process once SIGINT is unblocked.
    ~Watch()
    {
        stop_ = true;
        pthread_kill(thread_.native_handle(), SIGINT);
        thread_.join();
        const timespec none{};
        while (sigtimedwait(&interrupt_, nullptr, &none) == SIGINT) {
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    void watch()
    {
        for (;;) {
            int signal = 0;
            if (sigwait(&interrupt_, &signal) != 0)
                continue;
            if (stop_)
                return;
            onInterrupt_();
        }
    }

    std::function<void()> onInterrupt_;
    sigset_t interrupt_{};
    sigset_t saved_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

#endif

} // namespace

std::shared_ptr<void> catchProcessInterrupts(std::function<void()> onInterrupt)
{
    return std::make_shared<Watch>(std::move(onInterrupt));
}

} // namespace cli

// Waiting for the server without freezing the window: the blocking call runs
// on a worker thread while the window keeps painting, shows a busy cursor
// and, when it takes a while, a small panel over the window with the elapsed
// time and (for the job) a cancel button, which Escape also presses. Nothing
// else can be started meanwhile: clicks outside the panel and closing the
// window go nowhere, and keys typed meanwhile are held and handed on in
// order once no call is waiting, to the control that has the focus then, as
// a Windows window blocked in a call takes the keys queued for it.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ui {

// How long a call may take before the panel appears, so quick ones do not flash it.
inline constexpr int BusyBoxDelayMs = 300;
// Object names of the panel and its button, for tests that look for them.
inline constexpr const char* BusyBoxName = "BusyBox";
inline constexpr const char* BusyCancelName = "BusyCancel";

// Runs `work` on a worker thread and waits for it in a local event loop;
// rethrows on this thread whatever `work` threw. `work` must not touch
// widgets. With `cancel`, the panel offers a cancel button that calls it on
// this thread, once; `cancel` must return at once and be safe to call at any
// time, also once there is nothing left to cancel. With `status`, the panel
// shows what it returns (when not empty) under `what`, asked on this thread
// as the panel is drawn; it must return at once too.
void whileBusy(QWidget* owner, const QString& what, const std::function<void()>& work,
               const std::function<void()>& cancel = {}, const std::function<QString()>& status = {});

} // namespace ui

// The one place where errors leaving an event handler are caught and shown.
#pragma once

#include <QString>

#include <exception>
#include <utility>

namespace ui {

class Dialogs;

// The message as the default error report shows it: a "." is appended unless
// the text is empty or already ends in a character at or below '.'.
QString errorReportText(const QString& message);

// What an error says: the data layer's message, or what() of anything else.
QString errorMessage(const std::exception& error);

// Reports the exception being handled, as guarded() does; never throws.
// Only for use inside a catch block.
void reportCurrentException(Dialogs& dialogs) noexcept;

// Runs a handler; any exception leaving it goes to the default error report
// (a silent abort does not) and no further, so none ever unwinds through Qt.
// The handler is called as given: nothing is copied or wrapped outside the guard.
template <typename Handler>
void guarded(Dialogs& dialogs, Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        reportCurrentException(dialogs);
    }
}

} // namespace ui

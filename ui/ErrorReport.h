// The one place where errors leaving an event handler are caught and shown,
// and the message boxes the handlers use.
#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace ui {

// The message as the default error report shows it: a "." is appended unless
// the text is empty or already ends in a character at or below '.'.
QString errorReportText(const QString& message);

// What an error says: the data layer's message, or what() of anything else.
QString errorMessage(const std::exception& error);

// Modal for the whole application, captioned with the application title.
void showErrorReport(const QString& message);

// Reports the exception being handled, as guarded() does; never throws.
// Only for use inside a catch block.
void reportCurrentException() noexcept;

// Runs a handler; any exception leaving it is reported (a silent abort is
// not) and goes no further, so none ever unwinds through Qt. The handler is
// called as given: nothing is copied or wrapped outside the guard.
template <typename Handler>
void guarded(Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        reportCurrentException();
    }
}

// The handlers' own message box: caption "提示", information icon, OK.
void showInformation(QWidget* owner, const QString& text);

} // namespace ui

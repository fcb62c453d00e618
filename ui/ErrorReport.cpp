#include "ErrorReport.h"

#include "Dialogs.h"
#include "Messages.h"
#include "db/Errors.h"

namespace ui {

QString errorReportText(const QString& message)
{
    if (message.isEmpty() || message.back().unicode() <= u'.')
        return message;
    return message + u'.';
}

QString errorMessage(const std::exception& error)
{
    if (const auto* database = dynamic_cast<const db::EDatabaseError*>(&error))
        return QString::fromStdU16String(database->Message());
    return QString::fromUtf8(error.what());
}

void reportCurrentException(Dialogs& dialogs) noexcept
{
    try {
        try {
            throw;
        } catch (const db::EAbort&) {
            // The silent kind: the handler only wanted to stop.
        } catch (const std::exception& error) {
            dialogs.errorReport(errorReportText(errorMessage(error)));
        } catch (...) {
            dialogs.errorReport(errorReportText(text::UnknownError));
        }
    } catch (...) {
        // Showing the report failed (no memory, no display): nothing more
        // can be done, and Qt must not see the exception.
    }
}

} // namespace ui

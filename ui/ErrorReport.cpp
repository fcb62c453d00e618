#include "ErrorReport.h"

#include "Messages.h"
#include "db/Errors.h"

#include <QMessageBox>

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

void showErrorReport(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, text::ApplicationTitle, errorReportText(message), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void reportCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const db::EAbort&) {
            // The silent kind: the handler only wanted to stop.
        } catch (const std::exception& error) {
            showErrorReport(errorMessage(error));
        } catch (...) {
            showErrorReport(text::UnknownError);
        }
    } catch (...) {
        // Showing the report failed (no memory, no display): nothing more
        // can be done, and Qt must not see the exception.
    }
}

void showInformation(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Information, text::Notice, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace ui

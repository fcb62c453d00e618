#include "Dialogs.h"

#include "Messages.h"

#include <QMessageBox>

namespace ui {

void Dialogs::information(QWidget& owner, const QString& text)
{
    emit showing();
    show({text::Notice, text, Box::Icon::Information, &owner});
}

void Dialogs::errorReport(const QString& text)
{
    emit showing();
    // The title itself: the application's display name is set on Linux only.
    show({text::ApplicationTitle, text, Box::Icon::Critical, nullptr});
}

void MessageBoxes::show(const Box& box)
{
    QMessageBox shown(box.icon == Box::Icon::Critical ? QMessageBox::Critical : QMessageBox::Information,
                      box.caption, box.text, QMessageBox::Ok, box.owner);
    shown.setWindowModality(box.owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    shown.exec();
}

} // namespace ui

// Start-up: the application and its title, the window, the message loop.
// The program reads no command line. Nothing in it uses COM (ODBC and
// Winsock do not), so it initialises none.
#include "app/StartupProbe.h"
#include "db/AdoConnection.h"
#include "db/discovery/ServerBrowser.h"
#include "ui/Dialogs.h"
#include "ui/Messages.h"
#include "ui/UntMain.h"
#include "ui/WindowLook.h"

#include <QApplication>

#include <memory>

int main(int, char** argv)
{
    int qtArgc = 1;  // Qt sees the program name only
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    ui::setUpApplicationLook();
#ifndef _WIN32
    // Linux desktops name the program after each caption, as Qt adds the
    // display name there. Windows captions stand alone, as the tool's always
    // did: the boxes say "提示", the title bar and the taskbar the window's caption.
    QApplication::setApplicationDisplayName(ui::text::ApplicationTitle);
#endif
    // Names the installed desktop entry, so desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.sqllogclean"));

    ui::MessageBoxes Dialogs;
    TFrmMain FrmMain(db::ServerBrowser::network(), [] { return std::make_unique<db::TADOConnection>(); }, Dialogs);
    app::reportFirstShowIfAsked(FrmMain);
    FrmMain.show();
    return application.exec();
}

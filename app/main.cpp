// Start-up: COM (Windows only), the application and its title, the window,
// the message loop. The program reads no command line.
#include "app/StartupProbe.h"
#include "db/discovery/ServerBrowser.h"
#include "ui/Messages.h"
#include "ui/UntMain.h"
#include "ui/WindowLook.h"

#include <QApplication>

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int, char** argv)
{
#ifdef _WIN32
    // The data access and the server browser expect a single-threaded apartment.
    const bool comReady = SUCCEEDED(CoInitialize(nullptr));
#endif
    int rc = 0;
    {
        int qtArgc = 1;  // Qt sees the program name only
        char* qtArgv[] = {argv[0], nullptr};
        QApplication application(qtArgc, qtArgv);
        ui::setUpApplicationLook();
        QApplication::setApplicationDisplayName(ui::text::ApplicationTitle);
        // Names the installed desktop entry, so desktops match the window to its menu entry and icon.
        QGuiApplication::setDesktopFileName(QStringLiteral("org.example.sqllogclean"));

        TFrmMain FrmMain(db::ServerBrowser::network());
        app::reportFirstShowIfAsked(FrmMain);
        FrmMain.show();
        rc = application.exec();
    }
#ifdef _WIN32
    // After the window and what it owns are gone.
    if (comReady)
        CoUninitialize();
#endif
    return rc;
}

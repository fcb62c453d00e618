// The yardstick for bench_startup: the tool's form, built from the same
// UntMain.ui with the same controls, and nothing else: no handlers, no look,
// no data layer, no discovery.
#include "app/StartupProbe.h"
#include "ui_UntMain.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    Ui::TFrmMain form;
    form.setupUi(&window);
    app::reportFirstShowIfAsked(window);
    window.show();
    return QApplication::exec();
}

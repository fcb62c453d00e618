// The tool's one window: its controls (from UntMain.ui) and its handlers.
#pragma once

#include "ui_UntMain.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace db {
class ServerBrowser;
class TADOConnection;
} // namespace db

namespace ui {
class Dialogs;
}

// How FormCreate makes the window's one connection.
using ConnectionMaker = std::function<std::unique_ptr<db::TADOConnection>()>;

class TFrmMain : public QWidget, public Ui::TFrmMain {
    Q_OBJECT
public:
    // The window is given what it uses: where FormCreate looks for servers
    // (the network for the program, loopback ports of their own for tests),
    // how it makes its connection, and the boxes it shows, which must
    // outlive it.
    TFrmMain(const db::ServerBrowser& Browser, const ConnectionMaker& MakeConnection, ui::Dialogs& Dialogs,
             QWidget* parent = nullptr);
    ~TFrmMain() override;

private:
    void FormCreate(const db::ServerBrowser& Browser, const ConnectionMaker& MakeConnection);
    void FormDestroy();
    void BtnExitClick();
    void CmbServerClick();
    void CmbDbDropDown();
    void CmbDbClick();
    void CmbLogChange();
    void BtnOkClick();
    bool ConnSql(db::TADOConnection& Conn, const QString& Server, const QString& DataBase,
                 const QString& Uid, const QString& Pwd);
};

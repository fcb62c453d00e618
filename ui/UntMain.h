// The tool's one window: its controls (from UntMain.ui) and its handlers.
#pragma once

#include "ui_UntMain.h"

#include <QString>
#include <QWidget>

namespace db {
class ServerBrowser;
class TADOConnection;
} // namespace db

class TFrmMain : public QWidget, public Ui::TFrmMain {
    Q_OBJECT
public:
    // The browser says where FormCreate looks for servers: the network for the
    // program, loopback ports of their own for tests.
    explicit TFrmMain(const db::ServerBrowser& Browser, QWidget* parent = nullptr);
    ~TFrmMain() override;

private:
    void FormCreate(const db::ServerBrowser& Browser);
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

// The window's shared connection, for tests that check or tune it.
db::TADOConnection* SqlConnection();

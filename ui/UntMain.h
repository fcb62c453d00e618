// The tool's one window: its controls (from UntMain.ui) and its handlers.
#pragma once

#include "ui_UntMain.h"

#include <QString>
#include <QWidget>

#include <memory>

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

// The window's shared connection, for tests that check or tune it; null when
// FormCreate could not make it (every handler then acts as not connected).
db::TADOConnection* SqlConnection();

// How FormCreate makes that connection, for tests that make it fail.
// Returns the maker it replaces.
using ConnectionMaker = std::unique_ptr<db::TADOConnection> (*)();
ConnectionMaker SetConnectionMaker(ConnectionMaker maker);

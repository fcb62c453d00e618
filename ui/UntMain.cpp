#include "UntMain.h"

#include "Busy.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "JobReport.h"
#include "Messages.h"
#include "WindowLook.h"
#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/LogJob.h"
#include "db/discovery/ServerBrowser.h"
#include "db/SqlText.h"
#include "db/Text.h"

#include <QLineEdit>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace {

// The one connection every handler works on; FormCreate makes it, FormDestroy frees it.
std::unique_ptr<db::TADOConnection> SqlConn;
// The boxes the window shows, as it was given them.
ui::Dialogs* Boxes = nullptr;
// What the connection and the file list belong to, so that nothing acts on a
// choice the window no longer shows: the server name shown when the
// connection was opened, and the database whose files the list holds.
QString ConnectedServer;
QString FilesOf;

std::u16string u16(const QString& text) { return text.toStdU16String(); }
QString qstr(std::u16string_view text) { return QStringView(text).toString(); }

// Open, and for the server the window shows. No connection at all (FormCreate
// failed to make one) counts as not connected.
bool Connected(const Ui::TFrmMain& form)
{
    return SqlConn && SqlConn->Connected() && form.CmbServer->currentText() == ConnectedServer;
}

// The file list shows files of the database shown, and the connection is in it.
bool ShowsItsFiles(const Ui::TFrmMain& form)
{
    return form.CmbLog->currentIndex() >= 0 && form.CmbDb->currentText() == FilesOf &&
           qstr(SqlConn->CurrentDatabase()) == FilesOf;
}

// Forgets the chosen database's files: the list, both details and the check
// box, which shows the chosen database.
void ResetFiles(Ui::TFrmMain& form)
{
    form.CmbLog->clear();
    form.CmbLog->setCurrentIndex(-1);
    form.EdtLogPath->setText(QString());
    form.EdtLogSize->setText(QString());
    form.Chk->setChecked(false);
    form.Chk->setEnabled(true);
    FilesOf.clear();
}

// Forgets the browse: both lists and both file details.
void ResetSelection(Ui::TFrmMain& form)
{
    form.CmbDb->clear();
    form.CmbDb->setCurrentIndex(-1);
    ResetFiles(form);
}

// A listed server carries where discovery heard it and the version its
// answer announced.
constexpr int AddressRole = Qt::UserRole;
constexpr int AnnouncedVersionRole = Qt::UserRole + 1;

// What the listed server shown in the box carries in that role; nothing for
// a typed name.
QVariant Listed(const QComboBox& box, int role)
{
    const int i = box.currentIndex();
    if (i >= 0 && box.itemText(i) == box.currentText())
        return box.itemData(i, role);
    return {};
}

// The list shows names; a listed server is reached where discovery heard it,
// a typed name as typed.
QString ServerToConnect(const QComboBox& box)
{
    const QVariant address = Listed(box, AddressRole);
    return address.isValid() ? address.toString() : box.currentText();
}

// As a Windows edit box shows a text it is given: from its start, so that a
// long path shows its drive and folders.
void ShowText(QLineEdit& edit, const QString& text)
{
    edit.setText(text);
    edit.home(false);
}

QString FieldText(const db::TADODataSet& query, const std::u16string& name)
{
    return qstr(db::VarToStr(query.FieldValue(name)));
}

QString TrimmedFieldText(const db::TADODataSet& query, const std::u16string& name)
{
    return qstr(db::Trim(db::VarToStr(query.FieldValue(name))));
}

} // namespace

TFrmMain::TFrmMain(const db::ServerBrowser& Browser, const ConnectionMaker& MakeConnection, ui::Dialogs& Dialogs,
                   QWidget* parent)
    : QWidget(parent)
{
    Boxes = &Dialogs;
    setupUi(this);
    ui::applyLook(*this);

    // Every handler runs through the one guard, where Qt dispatches the event.
    const auto handler = [this](void (TFrmMain::*method)()) {
        return [this, method] { ui::guarded(*Boxes, [this, method] { (this->*method)(); }); };
    };
    connect(CmbServer, &ui::TEditCombo::click, this, handler(&TFrmMain::CmbServerClick));
    connect(CmbDb, &ui::TDropDownList::dropDown, this, handler(&TFrmMain::CmbDbDropDown));
    connect(CmbDb, &ui::TDropDownList::click, this, handler(&TFrmMain::CmbDbClick));
    connect(CmbLog, &ui::TDropDownList::change, this, handler(&TFrmMain::CmbLogChange));
    connect(BtnOk, &QPushButton::clicked, this, handler(&TFrmMain::BtnOkClick));
    connect(BtnExit, &QPushButton::clicked, this, handler(&TFrmMain::BtnExitClick));
    connect(&Dialogs, &ui::Dialogs::showing, CmbDb, &ui::TDropDownList::boxShown);

    CmbServer->setFocus();
    ui::guarded(*Boxes, [this, &Browser, &MakeConnection] { FormCreate(Browser, MakeConnection); });
}

TFrmMain::~TFrmMain()
{
    ui::guarded(*Boxes, [this] { FormDestroy(); });
    Boxes = nullptr;
}

void TFrmMain::FormCreate(const db::ServerBrowser& Browser, const ConnectionMaker& MakeConnection)
{
    SqlConn = MakeConnection();

    // The server list is a convenience: whatever goes wrong, the window opens
    // and the user types a name.
    try {
        const db::TSqlServerLocator Locator(Browser);
        const db::TNameList Names = Locator.ListAvailableSQLServers();
        for (int i = 1; i <= Names.Count(); ++i) {
            CmbServer->addItem(qstr(Names.Item(i)), qstr(Names.Address(i)));
            CmbServer->setItemData(CmbServer->count() - 1, qstr(Names.Version(i)), AnnouncedVersionRole);
        }
        if (CmbServer->count() > 0)
            CmbServer->setCurrentIndex(0);
    } catch (const std::exception&) {
    }
}

void TFrmMain::FormDestroy()
{
    ConnectedServer.clear();
    FilesOf.clear();
    if (!SqlConn)
        return;
    SqlConn->Close();
    SqlConn.reset();
}

void TFrmMain::BtnExitClick()
{
    close();
}

bool TFrmMain::ConnSql(db::TADOConnection& Conn, const QString& Server, const QString& DataBase,
                       const QString& Uid, const QString& Pwd)
{
    if (Conn.Connected())
        Conn.Close();
    Conn.SetConnectionString(db::connectionText(u16(Server), u16(DataBase), u16(Uid), u16(Pwd)));
    try {
        ui::whileBusy(this, ui::text::Connecting, [&Conn] { Conn.Open(); });
    } catch (const std::exception&) {
        // A wrong server, login or password: the caller tells the user why.
    }
    return Conn.Connected();
}

void TFrmMain::CmbServerClick()
{
    EdtPwd->setText(QString());
    ResetSelection(*this);
    ConnectedServer.clear();
    if (SqlConn)
        SqlConn->Close();
}

void TFrmMain::CmbDbDropDown()
{
    CmbDb->clear();
    ConnectedServer.clear();
    if (SqlConn)
        SqlConn->SetAnnouncedVersion(u16(Listed(*CmbServer, AnnouncedVersionRole).toString()));
    if (SqlConn && ConnSql(*SqlConn, ServerToConnect(*CmbServer), qstr(db::fixed::BrowseDatabase),
                           EdtUid->text(), EdtPwd->text())) {
        ConnectedServer = CmbServer->currentText();
        db::TADODataSet Query;
        Query.SetConnection(SqlConn.get());
        Query.SetCursorLocation(db::TCursorLocation::clUseClient);
        Query.SetCommandText(db::sql::selectDatabases());
        ui::whileBusy(this, ui::text::ListingDatabases, [&Query] { Query.Open(); });
        // Into the list in one go: a server may have thousands of databases.
        QStringList Names;
        const int n = Query.RecordCount();
        for (int i = 0; i < n; ++i) {
            Names << FieldText(Query, u"name");
            Query.Next();
        }
        CmbDb->addItems(Names);
        if (CmbDb->count() > 0)
            CmbDb->setCurrentIndex(0);
        // The new session is in master: files of another database, or of
        // one no longer shown, must not stay for the job to act on.
        if (!ShowsItsFiles(*this))
            ResetFiles(*this);
    } else {
        Boxes->information(*this, ui::connectFailed(SqlConn ? SqlConn->Errors() : std::vector<db::ServerMessage>{}));
        ResetSelection(*this);
    }
}

void TFrmMain::CmbDbClick()
{
    if (!Connected(*this)) {
        ResetSelection(*this);
        return;
    }
    // First, so that a database that cannot be opened leaves no files of the last one.
    ResetFiles(*this);
    const std::u16string Database = u16(CmbDb->currentText());
    {
        db::TADODataSet Query;
        Query.SetConnection(SqlConn.get());
        Query.SetCommandText(db::sql::selectSecondaryFiles());
        ui::whileBusy(this, ui::text::ListingFiles, [&Query, &Database] {
            SqlConn->Execute(db::sql::useDatabase(Database));
            Query.Open();
        });
        CmbLog->clear();
        CmbLog->setCurrentIndex(-1);
        const int n = Query.RecordCount();
        for (int i = 0; i < n; ++i) {
            CmbLog->addItem(FieldText(Query, u"Name"));
            Query.Next();
        }
        if (CmbLog->count() > 0)
            CmbLog->setCurrentIndex(0);
    }
    FilesOf = CmbDb->currentText();
    bool Truncates = false;
    ui::whileBusy(this, ui::text::ListingFiles,
                  [&Truncates, &Database] { Truncates = db::TruncatesLogOnCheckpoint(*SqlConn, Database); });
    Chk->setChecked(Truncates);
    Chk->setEnabled(!db::TruncatesAtEveryCheckpoint(Database));
    CmbLogChange();
}

void TFrmMain::CmbLogChange()
{
    if (!Connected(*this)) {
        ResetSelection(*this);
        return;
    }
    const std::u16string Database = u16(CmbDb->currentText());
    db::TADODataSet Query;
    Query.SetConnection(SqlConn.get());
    Query.SetCommandText(db::sql::selectFileByName(u16(CmbLog->currentText())));
    ui::whileBusy(this, ui::text::ReadingFileDetails, [&Query, &Database] {
        SqlConn->Execute(db::sql::useDatabase(Database));
        Query.Open();
    });
    if (Query.RecordCount() != 0) {
        ShowText(*EdtLogPath, TrimmedFieldText(Query, u"FileName"));
        ShowText(*EdtLogSize, TrimmedFieldText(Query, u"Size"));
    }
}

void TFrmMain::BtnOkClick()
{
    if (!Connected(*this)) {
        Boxes->information(*this, ui::text::ConnectFailed);
        return;
    }
    if (!ShowsItsFiles(*this)) {
        Boxes->information(*this, ui::text::ChooseDatabaseAndFile);
        return;
    }
    db::TLogJob Job(*SqlConn, u16(CmbDb->currentText()), u16(CmbLog->currentText()));
    const bool TruncateLogOnCheckpoint = Chk->isChecked();
    const auto Work = [&] {
        Job.SetTruncateLogOnCheckpoint(TruncateLogOnCheckpoint);
        Job.TruncateAndShrink();
    };
    try {
        ui::whileBusy(this, ui::text::Cleaning, Work, [&Job] { Job.Cancel(); }, [&Job] { return ui::jobProgress(Job); });
        Boxes->information(*this, ui::jobSucceeded(Job.Outcome()));
    } catch (const db::EOptionFailed&) {
        throw;  // the option itself failed: the server's error, for the default error report
    } catch (const db::EDatabaseError& Error) {
        Boxes->information(*this, ui::jobFailed(Error, Job.Outcome(), CmbDb->currentText()));
    }
    CmbLogChange();
}

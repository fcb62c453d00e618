// TADOConnection's transactions through the real FreeTDS driver against the
// sandbox server: implicit transactions, and how they end.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"

#include <utility>

using db::EDatabaseError;
using db::TADOConnection;
using db::TADODataSet;
using dbtest::errorOf;
using dbtest::fault;
using dbtest::Sandbox;
using dbtest::scalar;
using dbtest::transcriptHas;

TEST(Transactions, BackupLogFailsInAnExplicitTransaction)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    const EDatabaseError e =
        errorOf([&] { conn.Execute(u"BEGIN TRAN BACKUP LOG GameDB WITH TRUNCATE_ONLY"); });
    EXPECT_EQ(e.NativeError(), 3021);
    conn.Execute(u"ROLLBACK");
}

TEST(Transactions, BackupLogRunsInsideBeginTrans)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    conn.Execute(u"Use GameDB");
    EXPECT_EQ(conn.BeginTrans(), 1);
    EXPECT_EQ(conn.TransactionCount(), 1);
    EXPECT_TRUE(conn.InTransaction());
    EXPECT_NO_THROW(conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY DBCC SHRINKFILE (GameDB_Log, 10)"));
    conn.CommitTrans();
    EXPECT_EQ(conn.TransactionCount(), 0);
    EXPECT_FALSE(transcriptHas(sandbox, u"BEGIN TRAN"));
    EXPECT_TRUE(transcriptHas(sandbox, u"SET IMPLICIT_TRANSACTIONS ON"));
    EXPECT_EQ(scalar(conn, u"select @@TRANCOUNT as v"), 0);
    // The shrink was committed: the log is down to 10 MB.
    TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(u"select * from sysfiles where [name]='GameDB_Log'");
    ds.Open();
    EXPECT_EQ(ds.FieldValue(u"size").AsInteger(), 1280);
}

TEST(Transactions, ImplicitTransactionOpensAtASelectAndRollsBack)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.BeginTrans();
    TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(u"Select * From sysdatabases order by [DbId]");
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 6);
    EXPECT_EQ(scalar(conn, u"select @@TRANCOUNT as v"), 1);
    // ...and now BACKUP LOG is refused, as SQL Server's driver would have it.
    EXPECT_EQ(errorOf([&] { conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"); }).NativeError(), 3021);
    conn.RollbackTrans();
    EXPECT_EQ(conn.TransactionCount(), 0);
    EXPECT_EQ(scalar(conn, u"select @@TRANCOUNT as v"), 0);
    EXPECT_NO_THROW(conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"));
}

TEST(Transactions, CountChangesOnlyOnSuccess)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    EXPECT_THROW(conn.CommitTrans(), EDatabaseError);
    EXPECT_THROW(conn.RollbackTrans(), EDatabaseError);
    conn.BeginTrans();
    EXPECT_THROW(conn.BeginTrans(), EDatabaseError);  // no nesting, as sqloledb
    EXPECT_EQ(conn.TransactionCount(), 1);
    sandbox::Fault f = fault(sandbox::Fault::Action::Error, "COMMIT");
    f.error = sandbox::Message{50000, 1, 16, u"Commit refused", {}, 1};
    sandbox.engine().addFault(f);
    EXPECT_THROW(conn.CommitTrans(), EDatabaseError);
    EXPECT_EQ(conn.TransactionCount(), 1);
    conn.RollbackTrans();
    EXPECT_EQ(conn.TransactionCount(), 0);
}

// Ending a transaction must leave implicit mode too: a session left in it
// opens a transaction at its next SELECT that nothing commits, and BACKUP LOG
// then fails with 3021. When the mode cannot be switched off, the count and
// the mode still agree: the session is let go and the next statement
// connects afresh.
TEST(Transactions, ImplicitModeEndsWithTheTransactionEvenWhenSwitchingItOffFails)
{
    const std::pair<const char*, void (TADOConnection::*)()> ends[] = {
        {"commit", &TADOConnection::CommitTrans},
        {"roll back", &TADOConnection::RollbackTrans},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        Sandbox sandbox;
        TADOConnection conn;
        conn.SetConnectionString(sandbox.connectionString(u"GameDB"));
        const auto selectThenCount = [&conn] {
            scalar(conn, u"select fileid as v from sysfiles where fileid=1");
            return scalar(conn, u"select @@TRANCOUNT as v");
        };
        conn.BeginTrans();
        EXPECT_EQ(selectThenCount(), 1);
        sandbox::Fault refuse = fault(sandbox::Fault::Action::Error, "IMPLICIT_TRANSACTIONS OFF");
        refuse.error = sandbox::Message{50000, 1, 16, u"Mode change refused", {}, 1};
        sandbox.engine().addFault(refuse);

        EXPECT_NO_THROW((conn.*end)());
        EXPECT_EQ(conn.TransactionCount(), 0);
        EXPECT_EQ(selectThenCount(), 0);
        EXPECT_NO_THROW(conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"));
        EXPECT_TRUE(conn.Connected());
    }
}

TEST(Transactions, CloseRollsBackAnOpenTransaction)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.BeginTrans();
    conn.Close();
    EXPECT_EQ(conn.TransactionCount(), 0);
    EXPECT_FALSE(conn.Connected());
    EXPECT_TRUE(transcriptHas(sandbox, u"ROLLBACK"));
}

TEST(Transactions, LostLinkInATransaction)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.BeginTrans();
    sandbox.engine().addFault(fault(sandbox::Fault::Action::Drop, "BACKUP"));
    EXPECT_THROW(conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"), EDatabaseError);
    sandbox.engine().clearFaults();
    // No silent reconnect while the caller believes a transaction is open...
    EXPECT_THROW(conn.Execute(u"Use GameDB"), EDatabaseError);
    EXPECT_THROW(conn.CommitTrans(), EDatabaseError);
    // ...and rolling back fails too: the caller must learn the link is gone.
    EXPECT_THROW(conn.RollbackTrans(), EDatabaseError);
    EXPECT_EQ(conn.TransactionCount(), 1);
    EXPECT_FALSE(conn.Connected());
    // Closing lets go of the dead link; opening again starts afresh.
    conn.Close();
    EXPECT_EQ(conn.TransactionCount(), 0);
    conn.Open();
    EXPECT_TRUE(conn.Connected());
    EXPECT_NO_THROW(conn.Execute(u"Use GameDB"));
}

// The roll-back of a destroyed connection loses its link: the destructor
// still ends quietly (an exception would end the program) and lets the
// session go.

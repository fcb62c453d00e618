// TADODataSet through the real driver against the sandbox server.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"

using db::EDatabaseError;
using db::TADOConnection;
using db::TADODataSet;
using db::Variant;
using db::VarType;
using dbtest::errorOf;
using dbtest::Sandbox;
using dbtest::u8;

namespace {

class DataSetTest : public ::testing::Test {
protected:
    explicit DataSetTest(sandbox::Catalog catalog = sandbox::Catalog::defaults(), std::u16string_view database = u"master")
        : sandbox_(std::move(catalog))
    {
        conn_.SetConnectionString(sandbox_.connectionString(database));
        ds_.SetConnection(&conn_);
    }

    void open(const std::u16string& sql)
    {
        ds_.Close();
        ds_.SetCommandText(sql);
        ds_.Open();
    }

    Sandbox sandbox_;
    TADOConnection conn_;
    TADODataSet ds_;
};

sandbox::Catalog catalogFrom(const std::string& json) { return sandbox::Catalog::fromJson(json); }

} // namespace

TEST_F(DataSetTest, FetchesEveryRowAndWalksThem)
{
    open(u"Select * From sysdatabases order by [DbId]");
    EXPECT_TRUE(ds_.Active());
    ASSERT_EQ(ds_.RecordCount(), 6);
    std::vector<std::string> names;
    for (int i = 0; i < ds_.RecordCount(); ++i) {
        EXPECT_FALSE(ds_.Eof());
        names.push_back(u8(db::VarToStr(ds_.FieldValue(u"name"))));
        EXPECT_EQ(ds_.FieldValue(u"dbid").AsInteger(), i + 1);
        ds_.Next();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"master", "tempdb", "model", "msdb", "GameDB", "AccountDB"}));
    // Next on the last row stays there.
    EXPECT_TRUE(ds_.Eof());
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"name"))), "AccountDB");
    ds_.Next();
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"name"))), "AccountDB");
    ds_.Close();
    EXPECT_FALSE(ds_.Active());
    ds_.Close();  // inactive: nothing
}

TEST_F(DataSetTest, OpensItsConnectionWhenClosed)
{
    EXPECT_FALSE(conn_.Connected());
    open(u"select 1 as one");
    EXPECT_TRUE(conn_.Connected());
    EXPECT_EQ(ds_.RecordCount(), 1);
}

TEST_F(DataSetTest, ColumnsAreFoundCaseInsensitivelyInColumnOrder)
{
    open(u"select 1 as Size, 2 as SIZE, 3 as other");
    EXPECT_EQ(ds_.FieldValue(u"size").AsInteger(), 1);
    EXPECT_EQ(ds_.FieldValue(u"SIZE").AsInteger(), 1);
    EXPECT_EQ(ds_.FieldValue(u"OTHER").AsInteger(), 3);
    EXPECT_EQ(u8(errorOf([&] { ds_.FieldValue(u"missing"); }).Message()), "Field 'missing' not found");
    EXPECT_EQ(u8(errorOf([&] { ds_.FieldValue(u"Size "); }).Message()), "Field 'Size ' not found");
}

TEST_F(DataSetTest, ValuesAndTheirTypes)
{
    conn_.Execute(u"Use GameDB");
    open(u"select * from sysfiles where fileid>1 order By fileid");
    ASSERT_EQ(ds_.RecordCount(), 1);
    EXPECT_EQ(ds_.FieldValue(u"fileid").Type(), VarType::Integer);
    EXPECT_EQ(ds_.FieldValue(u"size").AsInteger(), 262144);
    // nchar(128): blank-padded, handed on untrimmed.
    const std::u16string name = db::VarToStr(ds_.FieldValue(u"name"));
    EXPECT_EQ(name.size(), 128u);
    EXPECT_EQ(u8(db::Trim(name)), "GameDB_Log");
    EXPECT_EQ(u8(db::Trim(db::VarToStr(ds_.FieldValue(u"filename")))),
              "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\GameDB_Log.LDF");

    open(u"Select * From master..sysdatabases order by [DbId]");
    EXPECT_EQ(ds_.FieldValue(u"sid").Type(), VarType::Bytes);
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"sid"))), "0x01");
    EXPECT_EQ(ds_.FieldValue(u"crdate").Type(), VarType::DateTime);
    EXPECT_EQ(ds_.FieldValue(u"crdate").AsDateTime().year >= 1900, true);
    EXPECT_EQ(ds_.FieldValue(u"cmptlevel").AsInteger(), 80);
}

TEST_F(DataSetTest, ResultsWithoutColumnsArePassedOver)
{
    open(u"Use GameDB select * from sysfiles where fileid=1");
    ASSERT_EQ(ds_.RecordCount(), 1);
    EXPECT_EQ(u8(db::Trim(db::VarToStr(ds_.FieldValue(u"name")))), "GameDB_Data");
}

// A result set with no rows is a result set: RecordCount 0 and no error.
TEST_F(DataSetTest, EmptyResultSetIsNoError)
{
    open(u"select * from sysfiles where [name]='NoSuchFile'");
    EXPECT_EQ(ds_.RecordCount(), 0);
    EXPECT_TRUE(ds_.Eof());
    EXPECT_FALSE(ds_.FieldNames().empty());
    EXPECT_TRUE(ds_.FieldValue(u"name").IsNull());
    EXPECT_EQ(u8(errorOf([&] { ds_.FieldValue(u"nope"); }).Message()), "Field 'nope' not found");
}

TEST_F(DataSetTest, TheFirstResultSetCountsEvenWhenEmpty)
{
    open(u"select * from sysfiles where [name]='NoSuchFile' select * from sysfiles");
    EXPECT_EQ(ds_.RecordCount(), 0);
}

TEST_F(DataSetTest, NoResultSetAtAllFails)
{
    ds_.SetCommandText(u"Use GameDB");
    EXPECT_EQ(u8(errorOf([&] { ds_.Open(); }).Message()), "CommandText does not return a result set");
    EXPECT_FALSE(ds_.Active());
    // The batch ran all the same.
    open(u"select db_name() as d");
    EXPECT_EQ(u8(ds_.FieldValue(u"d").AsText()), "GameDB");
}

TEST_F(DataSetTest, ServerErrorsAnywhereInTheBatchAreRaised)
{
    ds_.SetCommandText(u"select * from nosuchtable");
    EXPECT_EQ(errorOf([&] { ds_.Open(); }).NativeError(), 208);
    ds_.SetCommandText(u"Select * From sysdatabases order by [DbId] Use NoSuchDb");
    EXPECT_EQ(errorOf([&] { ds_.Open(); }).NativeError(), 911);
    EXPECT_FALSE(ds_.Active());
    ds_.SetCommandText(u"Use NoSuchDb Select * From sysdatabases order by [DbId]");
    EXPECT_EQ(errorOf([&] { ds_.Open(); }).NativeError(), 911);
}

TEST_F(DataSetTest, LongTextArrivesWhole)
{
    // Longer than one piece of SQLGetData, and not ASCII.
    std::u16string text;
    for (int i = 0; i < 3000; ++i)
        text += (i % 7 == 0) ? u'数' : static_cast<char16_t>(u'a' + i % 26);
    open(u"select N'" + text + u"' as t");
    EXPECT_EQ(u8(ds_.FieldValue(u"t").AsText()), u8(text));
}

// numeric(25,0) wider than 64 bits, as DBCC LOGINFO's CreateLSN is on a log
// past sequence number 9223: its digits, whole, and no integer.
TEST(DataSetNumeric, AWideNumericArrivesAsItsDigits)
{
    Sandbox server(catalogFrom(R"({"databases":[
        {"name":"master","dbid":1},
        {"name":"Old","dbid":5,"firstSequence":123456,"files":[
            {"fileid":1,"name":"Old_Data","filename":"C:\\o.mdf","usedPages":10},
            {"fileid":2,"name":"Old_Log","filename":"C:\\o.ldf","created":1024,"growths":[8192]}]}]})"));
    TADOConnection conn;
    conn.SetConnectionString(server.connectionString(u"Old"));
    TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(u"DBCC LOGINFO");
    ds.Open();
    ASSERT_GT(ds.RecordCount(), 1);
    EXPECT_EQ(db::ExactInteger(ds.FieldValue(u"CreateLSN")), 0);  // made with the file
    while (!ds.Eof() && db::ExactInteger(ds.FieldValue(u"CreateLSN")) == 0)
        ds.Next();
    EXPECT_EQ(u8(db::VarToStr(ds.FieldValue(u"CreateLSN"))), "123436000000001600001");
    EXPECT_EQ(db::ExactInteger(ds.FieldValue(u"CreateLSN")), std::nullopt);
}

TEST_F(DataSetTest, NeedsAConnection)
{
    TADODataSet lonely;
    lonely.SetCommandText(u"select 1 as x");
    EXPECT_THROW(lonely.Open(), EDatabaseError);
    EXPECT_THROW(lonely.RecordCount(), EDatabaseError);
    EXPECT_TRUE(lonely.Eof());
}

namespace {
class UnusualCatalog : public DataSetTest {
protected:
    UnusualCatalog()
        : DataSetTest(catalogFrom(R"({"databases":[
            {"name":"master","dbid":1,"files":[{"fileid":1,"name":"master","filename":"C:\\m.mdf","usedPages":10},
                                               {"fileid":2,"name":"mastlog","filename":"C:\\m.ldf"}]},
            {"name":"游戏 数据","dbid":5,"files":[{"fileid":1,"name":"数据文件","filename":"D:\\游戏\\数据.mdf","usedPages":10},
                                               {"fileid":2,"name":"日志","filename":"D:\\游戏\\日志.ldf"}]},
            {"name":"NoPrimary","dbid":6,"files":[{"fileid":2,"name":"OnlyLog","filename":"C:\\o.ldf"}]}
          ]})"))
    {
    }
};
} // namespace

TEST_F(UnusualCatalog, UnicodeSurvivesAndNullsAreNull)
{
    open(u"Select * From sysdatabases order by [DbId]");
    ASSERT_EQ(ds_.RecordCount(), 3);
    ds_.Next();
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"name"))), "游戏 数据");
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"filename"))), "D:\\游戏\\数据.mdf");
    ds_.Next();
    EXPECT_EQ(u8(db::VarToStr(ds_.FieldValue(u"name"))), "NoPrimary");
    const Variant missing = ds_.FieldValue(u"filename");
    EXPECT_TRUE(missing.IsNull());
    EXPECT_EQ(u8(errorOf([&] { db::VarToStr(missing); }).Message()),
              "Could not convert variant of type (Null) into type (String)");
}

TEST(DataSetEmptyCatalog, NoDatabasesIsAnEmptyResultSet)
{
    // Only the login database is there, and it has no secondary files.
    Sandbox sandbox(sandbox::Catalog::fromJson(
        R"({"databases":[{"name":"master","dbid":1,"files":[{"fileid":1,"name":"m","filename":"C:\\m.mdf","usedPages":1}]}]})"));
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(u"select * from sysfiles where fileid>1 order By fileid");
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_TRUE(ds.Eof());
}

// A server may send any number of rows and values of any length: past the
// limits the dataset stops with an error, the rest of the batch is dropped,
// and the connection goes on.
TEST_F(DataSetTest, TooMuchFromTheServerFailsAndTheConnectionGoesOn)
{
    struct Case {
        const char* what;
        std::size_t rows;
        std::size_t chars;
        std::string message;
    };
    const Case cases[] = {
        {"too many rows", TADODataSet::MaxRows + 1, 1, "The result has more than 100000 rows"},
        {"a value too long (ntext)", 1, TADODataSet::MaxValueBytes / 2 + 1,
         "The value of column 'v' is longer than 65536 bytes"},
        {"at the limits: nvarchar of 4000 characters", 3, 4000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sandbox_.engine().clearFaults();
        sandbox::Fault flood;
        flood.action = sandbox::Fault::Action::Flood;
        flood.pattern = "select 'flood'";
        flood.floodRows = c.rows;
        flood.floodChars = c.chars;
        sandbox_.engine().addFault(flood);
        ds_.Close();
        ds_.SetCommandText(u"select 'flood'");
        if (c.message.empty()) {
            // At the limits (nvarchar holds at most 4000 characters): all of it arrives.
            ds_.Open();
            EXPECT_EQ(ds_.RecordCount(), 3);
            EXPECT_EQ(ds_.FieldValue(u"v").AsText().size(), 4000u);
            continue;
        }
        EXPECT_EQ(u8(errorOf([&] { ds_.Open(); }).Message()), c.message);
        EXPECT_FALSE(ds_.Active());
        EXPECT_TRUE(conn_.Connected());
        open(u"select 5 as five");
        EXPECT_EQ(ds_.FieldValue(u"five").AsInteger(), 5);
    }
}

// One connection through the real FreeTDS ODBC driver, asked one batch at a
// time: the first value of the last result's first row, or "error N" for the
// first error the batch raised, or the whole reply. For the sandbox's
// table-driven tests.
#pragma once

#include "sandbox/sql/Generation.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Every generation, and the TDS versions a FreeTDS client logs in with
// (7.1, as to 2000, and 7.4), for the tables of tests.
inline constexpr sandbox::Generation AllGenerations[] = {
    sandbox::Generation::Sql2000, sandbox::Generation::Sql2005, sandbox::Generation::Sql2008,
    sandbox::Generation::Sql2008R2, sandbox::Generation::Sql2012, sandbox::Generation::Sql2014,
    sandbox::Generation::Sql2016, sandbox::Generation::Sql2017, sandbox::Generation::Sql2019,
    sandbox::Generation::Sql2022};
inline constexpr const char* TdsVersions[] = {"7.1", "7.4"};

// What a batch gave back: the last result set (values as text, NULL as
// "NULL"), and the number of every message, information or error, in order.
struct Reply {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    std::vector<long> numbers;
    std::vector<std::string> texts;

    std::string value() const { return rows.empty() || rows[0].empty() ? "(none)" : rows[0][0]; }
    bool has(long number) const { return std::find(numbers.begin(), numbers.end(), number) != numbers.end(); }
    std::string text(long number) const
    {
        const auto at = std::find(numbers.begin(), numbers.end(), number);
        return at == numbers.end() ? "" : texts[static_cast<std::size_t>(at - numbers.begin())];
    }
};

class Odbc {
public:
    // `more`: keywords added to the connection string, as ";Language=".
    Odbc(std::uint16_t port, const char* tdsVersion, const std::string& database = "master",
         const std::string& more = {})
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        std::string text = "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port)
                           + ";UID=sa;PWD=sandbox;ClientCharset=UTF-8;TDS_Version=" + tdsVersion
                           + ";Database=" + database + more;
        const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, bytes(text), SQL_NTS, nullptr, 0, nullptr,
                                              SQL_DRIVER_NOPROMPT);
        connected_ = SQL_SUCCEEDED(rc);
        if (!connected_)
            loginErrors_ = nativeErrors(SQL_HANDLE_DBC, dbc_);
    }
    ~Odbc()
    {
        if (connected_)
            SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    Odbc(const Odbc&) = delete;
    Odbc& operator=(const Odbc&) = delete;

    bool connected() const { return connected_; }
    // The server's message numbers of a failed login, in order.
    const std::vector<long>& loginErrors() const { return loginErrors_; }

    std::string dbmsVersion()
    {
        char version[64] = {};
        SQLSMALLINT length = 0;
        SQLGetInfo(dbc_, SQL_DBMS_VER, version, sizeof version, &length);
        return version;
    }

    // Every error the batch raised, as the driver ranks them.
    std::vector<long> errorsOf(const std::string& sql)
    {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
        std::vector<long> all;
        for (SQLRETURN rc = SQLExecDirect(stmt, bytes(sql), SQL_NTS); rc != SQL_NO_DATA; rc = SQLMoreResults(stmt)) {
            if (rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) {
                const std::vector<long> numbers = nativeErrors(SQL_HANDLE_STMT, stmt);
                all.insert(all.end(), numbers.begin(), numbers.end());
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return all;
    }

    std::string answer(const std::string& sql)
    {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
        std::string value, error;
        SQLRETURN rc = SQLExecDirect(stmt, bytes(sql), SQL_NTS);
        while (rc != SQL_NO_DATA) {
            if (rc == SQL_ERROR && error.empty()) {
                const std::vector<long> numbers = nativeErrors(SQL_HANDLE_STMT, stmt);
                error = "error " + std::to_string(numbers.empty() ? 0 : numbers.front());
            }
            SQLSMALLINT columns = 0;
            if (rc != SQL_ERROR && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0) {
                if (SQL_SUCCEEDED(SQLFetch(stmt))) {
                    char cell[2048] = {};
                    SQLLEN indicator = 0;
                    SQLGetData(stmt, 1, SQL_C_CHAR, cell, sizeof cell, &indicator);
                    value = indicator == SQL_NULL_DATA ? "NULL" : cell;
                }
            }
            rc = SQLMoreResults(stmt);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return error.empty() ? value : error;
    }

    Reply run(std::string sql)
    {
        Reply reply;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
        // Messages may come with any call, also the one that finds no more results.
        for (SQLRETURN rc = SQLExecDirect(stmt, bytes(sql), SQL_NTS);; rc = SQLMoreResults(stmt)) {
            messages(stmt, reply);
            if (rc == SQL_NO_DATA)
                break;
            SQLSMALLINT columns = 0;
            if (rc != SQL_ERROR && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0)
                results(stmt, columns, reply);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return reply;
    }

private:
    static SQLCHAR* bytes(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }
    static SQLCHAR* bytes(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.data())); }

    // The native numbers of the errors (not the warnings, class 01) on a handle.
    static std::vector<long> nativeErrors(SQLSMALLINT type, SQLHANDLE handle)
    {
        std::vector<long> numbers;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLCHAR text[1024];
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length)))
                return numbers;
            if (std::string(reinterpret_cast<char*>(state), 2) != "01")
                numbers.push_back(native);
        }
    }

    static void messages(SQLHSTMT stmt, Reply& reply)
    {
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLCHAR text[1024] = {};
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, state, &native, text, sizeof text, &length)))
                return;
            reply.numbers.push_back(native);
            reply.texts.emplace_back(reinterpret_cast<char*>(text));
        }
    }

    static void results(SQLHSTMT stmt, SQLSMALLINT columns, Reply& reply)
    {
        reply.columns.clear();
        reply.rows.clear();
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeCol(stmt, c, name, sizeof name, &length, &type, &size, &digits, &nullable);
            reply.columns.emplace_back(reinterpret_cast<char*>(name));
        }
        for (SQLRETURN rc = SQLFetch(stmt);; rc = SQLFetch(stmt)) {
            messages(stmt, reply);  // what came with, or after, the row
            if (!SQL_SUCCEEDED(rc))
                return;
            std::vector<std::string> row;
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                char cell[512] = {};
                SQLLEN indicator = 0;
                SQLGetData(stmt, c, SQL_C_CHAR, cell, sizeof cell, &indicator);
                row.emplace_back(indicator == SQL_NULL_DATA ? "NULL" : cell);
            }
            reply.rows.push_back(std::move(row));
        }
    }

    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::vector<long> loginErrors_;
};

} // namespace testsupport

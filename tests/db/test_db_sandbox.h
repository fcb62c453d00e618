// A sandbox server for the data-layer tests (any password, unlike
// testsupport::TestSandbox), helpers for checks on UTF-16 text (compared as
// UTF-8, failures print readably), and the few steps the tests share.
#pragma once

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "sandbox/net/Server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace dbtest {

inline constexpr std::u16string_view Password = u"sandbox";

class Sandbox {
public:
    explicit Sandbox(sandbox::Catalog catalog = sandbox::Catalog::defaults(), std::u16string password = u"sandbox")
        : server_(options(std::move(catalog), std::move(password)))
    {
        server_.start();
    }

    sandbox::Server& server() { return server_; }
    sandbox::Engine& engine() { return server_.engine(); }
    std::uint16_t port() const { return server_.port(); }
    std::u16string serverName() const { return u"127.0.0.1," + db::fromUtf8(std::to_string(port())); }

    std::u16string connectionString(std::u16string_view database = u"master",
                                    std::u16string_view password = Password) const
    {
        return u"provider=sqloledb;Server=" + serverName() + u";DataBase=" + std::u16string(database) +
               u";Uid=sa;Pwd=" + std::u16string(password);
    }

private:
    static sandbox::ServerOptions options(sandbox::Catalog catalog, std::u16string password)
    {
        sandbox::ServerOptions o;
        o.bindAddress = "127.0.0.1";
        o.port = 0;
        o.password = std::move(password);
        o.catalog = std::move(catalog);
        return o;
    }

    sandbox::Server server_;
};

inline std::string u8(std::u16string_view text) { return db::toUtf8(text); }

// The error a call raises (a failure when it raises none).
template <typename F>
db::EDatabaseError errorOf(F&& f)
{
    try {
        f();
    } catch (const db::EDatabaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no EDatabaseError raised";
    return db::EDatabaseError(u"");
}

// The integer column "v" of the text's first row.
inline std::int64_t scalar(db::TADOConnection& conn, const std::u16string& sql)
{
    db::TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(sql);
    ds.Open();
    return ds.FieldValue(u"v").AsInteger();
}

// Whether the server received a batch holding the text.
inline bool transcriptHas(Sandbox& sandbox, std::u16string_view text)
{
    const auto t = sandbox.server().transcript();
    return std::any_of(t.begin(), t.end(), [&](const std::u16string& batch) {
        return batch.find(text) != std::u16string::npos;
    });
}

inline sandbox::Fault fault(sandbox::Fault::Action action, std::string pattern)
{
    sandbox::Fault f;
    f.action = action;
    f.pattern = std::move(pattern);
    return f;
}

} // namespace dbtest

#include "TestSandbox.h"

#include "db/Text.h"

namespace testsupport {

namespace {
sandbox::ServerOptions optionsFor(sandbox::Catalog catalog)
{
    sandbox::ServerOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.password = std::u16string(TestSandbox::Password);
    options.catalog = std::move(catalog);
    return options;
}
} // namespace

TestSandbox::TestSandbox(sandbox::Catalog catalog)
    : server_(optionsFor(std::move(catalog)))
{
    server_.start();
}

std::u16string TestSandbox::serverName() const
{
    return u"127.0.0.1," + utf16(std::to_string(port()));
}

std::u16string TestSandbox::connectionString(std::u16string_view database, std::u16string_view password) const
{
    std::u16string text = u"provider=sqloledb;Server=" + serverName();
    text += u";DataBase=";
    text += database;
    text += u";Uid=sa;Pwd=";
    text += password;
    return text;
}

std::string utf8(std::u16string_view text) { return db::toUtf8(text); }
std::u16string utf16(std::string_view text) { return db::fromUtf8(text); }

} // namespace testsupport

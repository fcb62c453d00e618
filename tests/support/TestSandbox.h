// An in-process sandbox server on an ephemeral loopback port, for one test.
#pragma once

#include "sandbox/net/Server.h"

#include <string>
#include <string_view>

namespace testsupport {

class TestSandbox {
public:
    static constexpr std::u16string_view Password = u"sandbox";

    explicit TestSandbox(sandbox::Catalog catalog = sandbox::Catalog::defaults());

    sandbox::Server& server() { return server_; }
    const sandbox::Server& server() const { return server_; }
    sandbox::Engine& engine() { return server_.engine(); }
    std::uint16_t port() const { return server_.port(); }

    // "127.0.0.1,<port>", as a user would type it.
    std::u16string serverName() const;
    // The connection text the tool composes, for this server.
    std::u16string connectionString(std::u16string_view database = u"master",
                                    std::u16string_view password = Password) const;

private:
    sandbox::Server server_;
};

std::string utf8(std::u16string_view text);
std::u16string utf16(std::string_view text);

} // namespace testsupport

// A typed "host\instance" through the real driver: FreeTDS asks UDP 1434 on
// that host for the instance's TCP port, then logs in there.
#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "sandbox/net/ResolutionResponder.h"
#include "sandbox/net/Server.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// FreeTDS always asks port 1434, which another test or a real browser
// service may hold. A network namespace of the test's own has every port
// free and nothing else in it. Returns an error text, empty on success.
std::string enterOwnNetwork()
{
    // Unprivileged (outside the scripts' namespace): a user namespace of its
    // own first, which needs a single-threaded process, as it is here.
    if (::unshare(CLONE_NEWNET) != 0 && (errno != EPERM || ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0))
        return std::string("unshare: ") + std::strerror(errno);
    // Loopback starts down in a new namespace.
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return std::string("socket: ") + std::strerror(errno);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP),
                     ::ioctl(s, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    ::close(s);
    return up ? std::string() : std::string("bringing lo up: ") + std::strerror(error);
}

} // namespace

TEST(NamedInstance, ConnectsThroughTheResolutionResponder)
{
    const std::string failure = enterOwnNetwork();
    ASSERT_TRUE(failure.empty()) << failure;

    sandbox::ServerOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.password = u"sandbox";
    sandbox::Server server(std::move(options));
    server.start();
    sandbox::ResolutionResponder responder(sandbox::ResponderOptions{
        "127.0.0.1", 1434, {{u"SANDBOX", u"INST", "8.00.194", server.port(), false}}});
    responder.start();

    db::TADOConnection connection;
    connection.SetConnectionString(
        u"provider=sqloledb;Server=127.0.0.1\\INST;DataBase=master;Uid=sa;Pwd=sandbox");
    try {
        connection.Open();
    } catch (const db::EDatabaseError& error) {
        FAIL() << "Open failed: " << error.what();
    }
    EXPECT_TRUE(connection.Connected());
    EXPECT_GE(responder.answered(), 1) << "the driver found the port by asking the responder";
    connection.Close();
}

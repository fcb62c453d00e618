#include "db/discovery/VersionProbe.h"

#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "db/discovery/DiscoverySocket.h"
#include "db/discovery/Prelogin.h"

#include <algorithm>
#include <array>
#include <vector>

namespace db {

namespace {

std::chrono::milliseconds until(net::Deadline deadline)
{
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
                    std::chrono::milliseconds(0));
}

// The host's browser service's record of the instance, from the first
// well-formed answer by that host that names it.
std::optional<ssrp::InstanceRecord> askBrowser(const std::string& host, std::u16string_view instance,
                                               std::uint16_t browserPort, net::Deadline deadline)
{
    const auto request = ssrp::instanceRequest(instance);
    const auto address = net::ipv4AddressOf(host);
    if (!request || !address)
        return std::nullopt;
    const net::Endpoint browser{*address, browserPort};
    net::UdpSocket socket(net::Endpoint{net::AnyAddress, 0}, false);
    if (!socket.sendTo(*request, browser))
        return std::nullopt;
    std::vector<std::uint8_t> datagram(ssrp::ResponseHeaderSize + ssrp::MaxResponseData + 1);
    while (until(deadline).count() > 0) {
        const auto wait = socket.waitReadable(until(deadline));
        if (wait == net::UdpSocket::Wait::Failed)
            break;
        net::Endpoint from;
        const auto size = wait == net::UdpSocket::Wait::Readable ? socket.receive(datagram, &from) : std::nullopt;
        if (!size || from != browser)
            continue;
        for (const ssrp::InstanceRecord& r : ssrp::parseResponse(std::span(datagram.data(), *size)).value_or(
                 std::vector<ssrp::InstanceRecord>{})) {
            if (SameText(r.instanceName, instance))
                return r;
        }
    }
    return std::nullopt;
}

// The VERSION of the server's PRELOGIN answer.
std::optional<ServerVersion> askServer(const std::string& host, std::uint16_t port, net::Deadline deadline)
{
    auto connection = net::TcpConnection::open(host, port, deadline);
    if (!connection || !connection->sendAll(prelogin::request(), deadline))
        return std::nullopt;
    std::vector<std::uint8_t> packet;
    std::array<std::uint8_t, 512> buffer{};
    for (;;) {
        const std::size_t wanted = prelogin::packetLength(packet).value_or(prelogin::PacketHeaderSize);
        if (wanted > prelogin::MaxReplySize)
            return std::nullopt;
        if (packet.size() >= wanted)
            break;
        const std::size_t asked = std::min(wanted - packet.size(), buffer.size());
        const auto received = connection->receive(std::span(buffer.data(), asked), deadline);
        if (!received || *received == 0)
            return std::nullopt;
        packet.insert(packet.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*received));
    }
    return prelogin::serverVersion(packet);
}

} // namespace

std::optional<ServerVersion> versionBeforeLogin(std::u16string_view server, net::Deadline deadline,
                                                std::uint16_t browserPort)
{
    const ServerTarget target = serverTarget(server);
    const std::string host = toUtf8(target.host);
    if (host.empty())
        return std::nullopt;
    std::optional<std::uint16_t> port = target.port;
    if (!port) {
        std::optional<ssrp::InstanceRecord> record;
        try {
            record = askBrowser(host, target.instance, browserPort, deadline);
        } catch (const EDatabaseError&) {
            // No UDP socket to be had: the version stays unknown.
        }
        if (!record)
            return std::nullopt;
        if (const auto announced = ServerVersion::tryParse(record->version))
            return announced;
        port = record->tcpPort;
    }
    if (!port)
        return std::nullopt;
    return askServer(host, *port, deadline);
}

} // namespace db

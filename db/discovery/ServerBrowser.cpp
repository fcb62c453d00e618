#include "db/discovery/ServerBrowser.h"

#include "db/discovery/DiscoverySocket.h"
#include "db/Errors.h"
#include "db/Text.h"

#include <algorithm>

namespace db {

namespace {

struct Request {
    net::Endpoint to;
    std::uint8_t type;
};

// Big enough for the largest answer the size field can describe plus one
// byte, so that a longer datagram shows as longer rather than being cut to fit.
constexpr std::size_t ReceiveBufferSize = ssrp::ResponseHeaderSize + ssrp::MaxResponseData + 1;

void collect(BrowseResult& result, std::span<const std::uint8_t> datagram)
{
    const auto records = ssrp::parseResponse(datagram);
    if (!records) {
        ++result.rejected;
        return;
    }
    ++result.answers;
    for (const auto& record : *records) {
        auto name = record.displayName();
        const bool known = std::any_of(result.servers.begin(), result.servers.end(),
                                       [&](const DiscoveredServer& s) { return SameText(s.name, name); });
        if (!known)
            result.servers.push_back({std::move(name), record});
    }
}

} // namespace

std::vector<std::u16string> BrowseResult::names() const
{
    std::vector<std::u16string> list;
    list.reserve(servers.size());
    for (const auto& server : servers)
        list.push_back(server.name);
    return list;
}

ServerBrowser::ServerBrowser(Scope scope, std::vector<std::uint16_t> ports)
    : scope_(scope), ports_(std::move(ports))
{
}

ServerBrowser ServerBrowser::network()
{
    return ServerBrowser(Scope::Network, {});
}

ServerBrowser ServerBrowser::loopback(std::vector<std::uint16_t> ports)
{
    return ServerBrowser(Scope::Loopback, std::move(ports));
}

ServerBrowser& ServerBrowser::setWindow(std::chrono::milliseconds window)
{
    window_ = std::clamp(window, std::chrono::milliseconds::zero(), MaxWindow);
    return *this;
}

BrowseResult ServerBrowser::browse() const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + window_;

    std::vector<Request> requests;
    if (scope_ == Scope::Network) {
        requests.push_back({{net::LimitedBroadcastAddress, ssrp::BrowserPort}, ssrp::ClntBcastEx});
        for (const auto address : net::interfaceBroadcastAddresses())
            requests.push_back({{address, ssrp::BrowserPort}, ssrp::ClntBcastEx});
        requests.push_back({{net::LoopbackAddress, ssrp::BrowserPort}, ssrp::ClntUcastEx});
    } else {
        for (const auto port : ports_)
            requests.push_back({{net::LoopbackAddress, port}, ssrp::ClntUcastEx});
    }

    BrowseResult result;
    if (requests.empty())
        return result;

    const bool network = scope_ == Scope::Network;
    // Answers to a broadcast come from other hosts, so only the network
    // browser listens beyond loopback.
    net::UdpSocket socket({network ? net::AnyAddress : net::LoopbackAddress, 0}, network);
    for (const auto& request : requests)
        socket.sendTo(ssrp::allInstancesRequest(request.type), request.to);

    std::vector<std::uint8_t> buffer(ReceiveBufferSize);
    for (;;) {
        // Whole milliseconds, rounded down: poll() may wake a little late, so
        // the last fraction is not waited for.
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining <= std::chrono::milliseconds::zero())
            break;
        const auto wait = socket.waitReadable(remaining);
        if (wait == net::UdpSocket::Wait::Failed)
            break;
        if (wait == net::UdpSocket::Wait::TimedOut)
            continue;
        if (const auto size = socket.receive(buffer))
            collect(result, std::span<const std::uint8_t>(buffer.data(), *size));
    }
    return result;
}

std::u16string TNameList::Item(int index) const
{
    if (index < 1 || index > Count())
        throw EDatabaseError(u"List index out of bounds (" + asciiToUtf16(std::to_string(index)) + u")");
    return names_[static_cast<std::size_t>(index - 1)];
}

TNameList TSqlServerLocator::ListAvailableSQLServers() const
{
    return TNameList(browser_.browse().names());
}

} // namespace db
